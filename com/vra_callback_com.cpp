#include "com/vra_callback_com.h"

#include "api/vra_kivet_exception.h"
#include "com/bstr_conversion.h"

namespace vemra_kivet {

namespace {

// Runs a call of the host: coded exceptions pass, any other becomes code 17.
template <typename Call>
auto callHost(Call&& call) -> decltype(call()) {
  return withErrorCode(VRA_CALLBACK_INTERFACE_ERROR, call);
}

void checkGetterResult(HRESULT result) {
  if (result == E_NOTIMPL) throw vraKivetException(VRA_CALLBACK_UNKNOWN_ID);
  if (result == E_FAIL) throw vraKivetException(VRA_CALLBACK_HOST_ERROR);
}

template <typename Holder, typename Getter>
const char* askText(Holder& holder, Getter&& getter) {
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

vraCallbackCOM::TextHolder::~TextHolder() { SysFreeString(received); }

const char* vraCallbackCOM::getTitle(unsigned id) {
  return askText(title, [&](BSTR* out) { return host->GetTitle(id, out); });
}

const char* vraCallbackCOM::getArtist(unsigned id) {
  return askText(artist, [&](BSTR* out) { return host->GetArtist(id, out); });
}

const char* vraCallbackCOM::getExtraText(unsigned id) {
  return askText(extraText, [&](BSTR* out) { return host->GetExtraText(id, out); });
}

const char* vraCallbackCOM::getFileName(unsigned id) {
  return askText(fileName, [&](BSTR* out) { return host->GetFileName(id, out); });
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
