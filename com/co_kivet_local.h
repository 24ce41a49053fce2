#pragma once
// The root object of the COM server (IKivetLocal), made by the class factory:
// version numbers, the messages of error HRESULTs and notification names, and
// the creation of sessions, signatures and id lists.

#include "com/co_object.h"
#include "com/kivet_local.h"

namespace vemra_kivet {

class coKivetLocal : public coObject<IKivetLocal, IID_IKivetLocal> {
 public:
  coKivetLocal() = default;

  HRESULT STDMETHODCALLTYPE GetVersion(unsigned int* mainVersion, unsigned int* subVersion) override;
  // Code 14 for an HRESULT whose code lies outside 0 to 29.
  HRESULT STDMETHODCALLTYPE GetErrorMessage(HRESULT result, BSTR* message) override;
  // Code 14 for an index of 2 or more.
  HRESULT STDMETHODCALLTYPE GetEventName(unsigned int index, BSTR* name) override;
  // A new session object initialised with the path and the flag (metadata 1
  // or more: on); the failures of vraSession::init (a configuration that
  // cannot be read), and a null out pointer when it fails. A null path reads
  // no configuration.
  HRESULT STDMETHODCALLTYPE CreateSession(BSTR configPath, LONG metadata, ISession** session) override;
  // A new signature object initialised with the path and rate; the codes of
  // vraSignature::init, and a null out pointer when it fails.
  HRESULT STDMETHODCALLTYPE CreateSignature(BSTR configPath, unsigned int samplingRate,
                                            ISignature** signature) override;
  // A new empty id list.
  HRESULT STDMETHODCALLTYPE CreateIDList(IIDList** ids) override;

 private:
  ~coKivetLocal() override = default;
};

}  // namespace vemra_kivet
