#include "com/co_kivet_local.h"

#include "api/kivet.h"
#include "com/bstr_conversion.h"
#include "com/co_signature.h"

namespace vemra_kivet {

HRESULT coKivetLocal::GetVersion(unsigned int* mainVersion, unsigned int* subVersion) {
  if (!isWritable(mainVersion) || !isWritable(subVersion)) return E_POINTER;
  *mainVersion = GetMainVersion();
  *subVersion = GetSubVersion();
  return S_OK;
}

HRESULT coKivetLocal::GetErrorMessage(HRESULT result, BSTR* message) {
  if (!isWritable(message)) return E_POINTER;
  *message = nullptr;
  return comCall([&] {
    const int code = codeOfHresult(result);
    if (code < 0 || code >= kVraErrorCodeCount) throw vraKivetException(VRA_INVALID_PARAMETER);
    *message = textToBstr(code == VRA_NO_ERROR ? "No error" : errorMessage(code));
  });
}

HRESULT coKivetLocal::GetEventName(unsigned int index, BSTR* name) {
  if (!isWritable(name)) return E_POINTER;
  *name = nullptr;
  return comCall([&] { *name = textToBstr(notificationName(index)); });
}

HRESULT coKivetLocal::CreateSession(BSTR, LONG, ISession** session) {
  if (!isWritable(session)) return E_POINTER;
  *session = nullptr;
  return E_NOTIMPL;
}

HRESULT coKivetLocal::CreateSignature(BSTR configPath, unsigned int samplingRate, ISignature** out) {
  if (!isWritable(out)) return E_POINTER;
  *out = nullptr;
  return comCall([&] {
    auto* signature = new coSignature;
    try {
      signature->init(bstrToText(configPath).c_str(), samplingRate);
    } catch (...) {
      signature->Release();
      throw;
    }
    *out = signature;
  });
}

HRESULT coKivetLocal::CreateIDList(IIDList** ids) {
  if (!isWritable(ids)) return E_POINTER;
  *ids = nullptr;
  return E_NOTIMPL;
}

}  // namespace vemra_kivet
