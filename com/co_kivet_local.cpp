#include "com/co_kivet_local.h"

#include <string>

#include "api/kivet.h"
#include "api/vra_id_list.h"
#include "com/bstr_conversion.h"
#include "com/co_id_list.h"
#include "com/co_session.h"
#include "com/co_signature.h"

namespace vemra_kivet {

HRESULT coKivetLocal::GetVersion(unsigned int* mainVersion, unsigned int* subVersion) {
  if (!isWritable(mainVersion) || !isWritable(subVersion)) return E_POINTER;
  *mainVersion = GetMainVersion();
  *subVersion = GetSubVersion();
  return S_OK;
}

HRESULT coKivetLocal::GetErrorMessage(HRESULT result, BSTR* message) {
  return comCallOut(message, [&] {
    const int code = codeOfHresult(result);
    if (code < 0 || code >= kVraErrorCodeCount) throw vraKivetException(VRA_INVALID_PARAMETER);
    *message = textToBstr(code == VRA_NO_ERROR ? "No error" : errorMessage(code));
  });
}

HRESULT coKivetLocal::GetEventName(unsigned int index, BSTR* name) {
  return comCallOut(name, [&] { *name = textToBstr(notificationName(index)); });
}

// A null path is no path, as for CreateSession of the programming interface:
// the session reads no configuration and has no similarity methods until it
// loads a session file, which brings its own. An empty path names no file.
HRESULT coKivetLocal::CreateSession(BSTR configPath, LONG metadata, ISession** out) {
  return comCallOut(out, [&] {
    ComHeld<coSession> session(new coSession);
    const std::string path = bstrToText(configPath);
    session->init(configPath != nullptr ? path.c_str() : nullptr, metadata >= 1);
    *out = session.release();
  });
}

HRESULT coKivetLocal::CreateSignature(BSTR configPath, unsigned int samplingRate, ISignature** out) {
  return comCallOut(out, [&] {
    ComHeld<coSignature> signature(new coSignature);
    signature->init(bstrToText(configPath).c_str(), samplingRate);
    *out = signature.release();
  });
}

HRESULT coKivetLocal::CreateIDList(IIDList** ids) {
  return comCallOut(ids, [&] { *ids = new coIDList(new vraIDList); });
}

}  // namespace vemra_kivet
