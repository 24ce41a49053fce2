#include "com/vra_callback_com.h"

#include <string>

#include "api/vra_kivet_exception.h"
#include "com/bstr_conversion.h"

namespace vemra_kivet {

namespace {

// The last text one operation received: the host's BSTR, freed when the next
// one comes, and its 8-bit form, which the library reads.
struct TextHolder {
  BSTR received = nullptr;
  std::string text;

  TextHolder() = default;
  TextHolder(const TextHolder&) = delete;
  TextHolder& operator=(const TextHolder&) = delete;
  ~TextHolder() { SysFreeString(received); }
};

TextHolder titleHolder;
TextHolder artistHolder;
TextHolder extraTextHolder;
TextHolder fileNameHolder;

// Runs a call of the host: coded exceptions pass, any other becomes code 17.
template <typename Call>
auto callHost(Call&& call) -> decltype(call()) {
  return withErrorCode(VRA_CALLBACK_INTERFACE_ERROR, call);
}

void checkGetterResult(HRESULT result) {
  if (result == E_NOTIMPL) throw vraKivetException(VRA_CALLBACK_UNKNOWN_ID);
  if (result == E_FAIL) throw vraKivetException(VRA_CALLBACK_HOST_ERROR);
}

template <typename Getter>
const char* askText(TextHolder& holder, Getter&& getter) {
  return callHost([&] {
    SysFreeString(holder.received);
    holder.received = nullptr;
    checkGetterResult(getter(&holder.received));
    holder.text = bstrToText(holder.received);
    return holder.text.c_str();
  });
}

template <typename Getter>
int askNumber(Getter&& getter) {
  return callHost([&] {
    int value = 0;
    checkGetterResult(getter(&value));
    return value;
  });
}

}  // namespace

const char* vraCallbackCOM::getTitle(unsigned id) {
  return askText(titleHolder, [&](BSTR* out) { return host->GetTitle(id, out); });
}

const char* vraCallbackCOM::getArtist(unsigned id) {
  return askText(artistHolder, [&](BSTR* out) { return host->GetArtist(id, out); });
}

const char* vraCallbackCOM::getExtraText(unsigned id) {
  return askText(extraTextHolder, [&](BSTR* out) { return host->GetExtraText(id, out); });
}

const char* vraCallbackCOM::getFileName(unsigned id) {
  return askText(fileNameHolder, [&](BSTR* out) { return host->GetFileName(id, out); });
}

int vraCallbackCOM::getLength(unsigned id) {
  return askNumber([&](int* out) { return host->GetLength(id, out); });
}

int vraCallbackCOM::getExtraNumber(unsigned id) {
  return askNumber([&](int* out) { return host->GetExtraNumber(id, out); });
}

int vraCallbackCOM::getExtraNumber2(unsigned id) {
  return askNumber([&](int* out) { return host->GetExtraNumber2(id, out); });
}

int vraCallbackCOM::onIdChanged(unsigned oldId, unsigned newId) {
  return callHost([&] { return static_cast<int>(host->OnIdChanged(oldId, newId)); });
}

void vraCallbackCOM::reportProgress(float progress) {
  callHost([&] { host->ReportProgress(progress); });
}

void vraCallbackCOM::notify(int notification) {
  callHost([&] { host->Notify(notification); });
}

}  // namespace vemra_kivet
