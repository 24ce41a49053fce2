#pragma once
// Owned BSTRs, interface references and a host's own signature object for
// programs that use the COM server, the tests and the Wine client alike:
// nothing here needs the library. BSTR
// texts are handled as 16-bit units (OLECHAR is wchar_t on Windows, char16_t
// elsewhere).

#include <string>

#include "com/kivet_local.h"

namespace comtest {

// The units of a BSTR, by its length prefix.
inline std::u16string units(BSTR text) {
  return std::u16string(text, text + SysStringLen(text));
}

// An owned BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::u16string& value)
      : text(SysAllocStringLen(nullptr, static_cast<UINT>(value.size()))) {
    for (size_t i = 0; i < value.size(); ++i) text[i] = static_cast<OLECHAR>(value[i]);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(text); }

  BSTR get() const { return text; }
  // For an out argument: frees what is held first.
  BSTR* out() {
    SysFreeString(text);
    text = nullptr;
    return &text;
  }
  std::u16string str() const { return units(text); }
  // Hands the BSTR over to the caller (a host's callback answering a text).
  BSTR release() {
    BSTR given = text;
    text = nullptr;
    return given;
  }

 private:
  BSTR text = nullptr;
};

// One reference to an interface, released at the end of its scope.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  // Takes over the caller's reference.
  explicit ComRef(Interface* taken) : object(taken) {}
  ComRef(ComRef&& other) noexcept : object(other.object) { other.object = nullptr; }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { reset(); }

  Interface* get() const { return object; }
  Interface* operator->() const { return object; }
  Interface** out() {
    reset();
    return &object;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  void reset() {
    if (object) object->Release();
    object = nullptr;
  }

 private:
  Interface* object = nullptr;
};

// A signature object of a host's own making, which a session refuses: it
// answers IUnknown and ISignature, and does nothing.
struct HostSignature : ISignature {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_ISignature) ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Load(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Save(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DownmixStereo(const short*, unsigned, short*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddSamples(const short*, unsigned) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSong(ISong**) override { return E_NOTIMPL; }
};

}  // namespace comtest
