#pragma once
// Owned BSTRs, interface references and a host's own objects for programs
// that use the COM server, the tests and the Wine client alike: nothing here
// needs the library. BSTR texts are handled as 16-bit units (OLECHAR is
// wchar_t on Windows, char16_t elsewhere).

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

// A BSTR of an ASCII text.
inline Bstr asciiBstr(const std::string& text) { return Bstr(std::u16string(text.begin(), text.end())); }

// A signature and an id list of a host's own making, which a session refuses:
// it answers IUnknown and both interfaces, and does nothing.
struct HostObject : ISignature, IIDList {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_ISignature))
      *object = static_cast<ISignature*>(this);
    else
      *object = IsEqualGUID(iid, IID_IIDList) ? static_cast<IIDList*>(this) : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Load(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Save(BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DownmixStereo(const short*, unsigned, short*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddSamples(const short*, unsigned) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSong(ISong**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCount(unsigned* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetAt(unsigned, unsigned*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(unsigned) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Remove(unsigned) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Contains(unsigned, BOOL*) override { return E_NOTIMPL; }
};

// A host's callback object: song texts and numbers made of the id ("Title 3",
// "Artist 3", "3.wav", no extra text, 1000 ms per id, 10 + id, 20 + id).
// GetExtraText answers E_NOTIMPL for every id once `extraTextNotImplemented`;
// otherwise a getter answers E_NOTIMPL ("unknown id") for the id `unknown`,
// E_FAIL once `failing`, else S_FALSE, which is success too. It logs id
// changes ("2>4 "), progress in whole percent ("50% ") and each time the
// second extra number is asked ("number2? "). Its user keeps it alive, so its
// count means nothing.
class HostCallback : public ICallback {
 public:
  unsigned unknown = 0;
  bool extraTextNotImplemented = false;
  bool failing = false;
  std::string log;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_ICallback) ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTitle(unsigned id, BSTR* out) override { return text(id, "Title " + number(id), out); }
  HRESULT STDMETHODCALLTYPE GetArtist(unsigned id, BSTR* out) override {
    return text(id, "Artist " + number(id), out);
  }
  HRESULT STDMETHODCALLTYPE GetExtraText(unsigned id, BSTR* out) override {
    const HRESULT result = text(id, "", out);
    return extraTextNotImplemented ? E_NOTIMPL : result;
  }
  HRESULT STDMETHODCALLTYPE GetFileName(unsigned id, BSTR* out) override { return text(id, number(id) + ".wav", out); }
  HRESULT STDMETHODCALLTYPE GetLength(unsigned id, int* out) override { return value(id, 1000 * id, out); }
  HRESULT STDMETHODCALLTYPE GetExtraNumber(unsigned id, int* out) override { return value(id, 10 + id, out); }
  HRESULT STDMETHODCALLTYPE GetExtraNumber2(unsigned id, int* out) override {
    log += "number2? ";
    return value(id, 20 + id, out);
  }
  HRESULT STDMETHODCALLTYPE OnIdChanged(unsigned oldId, unsigned newId) override {
    log += number(oldId) + ">" + number(newId) + " ";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReportProgress(float done) override {
    log += number(static_cast<unsigned>(done * 100 + 0.5f)) + "% ";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Notify(int) override { return S_OK; }

 private:
  static std::string number(unsigned n) { return std::to_string(n); }
  HRESULT answer(unsigned id) const { return failing ? E_FAIL : id == unknown ? E_NOTIMPL : S_FALSE; }
  HRESULT text(unsigned id, const std::string& given, BSTR* out) {
    *out = asciiBstr(given).release();
    return answer(id);
  }
  HRESULT value(unsigned id, unsigned given, int* out) {
    *out = static_cast<int>(given);
    return answer(id);
  }
};

}  // namespace comtest
