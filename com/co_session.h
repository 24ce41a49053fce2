#pragma once
// The COM object of a session (ISession): embeds a vraSession and forwards
// each method to it. Signatures and id lists handed in must be this server's
// own objects (code 6 and code 23 otherwise); songs, result lists and id lists
// handed out are new objects that the caller releases.
//
// The host's callback object reaches the session through an adapter that this
// object makes and owns: the session never frees a callback, so the adapter
// of a callback that is replaced goes at once, the last one with this object.
// A whitelist is held by a reference while it is set: the session reads it on
// every query, and a host that releases its list early must not leave the
// session reading freed memory.

#include <memory>

#include "api/vra_session.h"
#include "com/co_id_list.h"
#include "com/co_object.h"
#include "com/kivet_local.h"
#include "com/vra_callback_com.h"

namespace vemra_kivet {

class coSession : public coObject<ISession, IID_ISession> {
 public:
  // Not initialised until init; count 1.
  coSession() = default;

  // Initialises the embedded session (the failures of vraSession::init): a
  // null path reads no configuration.
  void init(const char* configPath, bool metadata) { session.init(configPath, metadata); }

  HRESULT STDMETHODCALLTYPE GetSessionId(BSTR* sessionId) override;
  HRESULT STDMETHODCALLTYPE Load(BSTR path) override;
  HRESULT STDMETHODCALLTYPE Save(BSTR path) override;
  HRESULT STDMETHODCALLTYPE Reinitialize() override;
  HRESULT STDMETHODCALLTYPE AddSignature(ISignature* signature, unsigned int* id) override;
  HRESULT STDMETHODCALLTYPE ReplaceSignature(unsigned int id, ISignature* signature) override;
  HRESULT STDMETHODCALLTYPE RemoveSongAt(unsigned int index) override;
  HRESULT STDMETHODCALLTYPE RemoveSong(unsigned int id) override;
  HRESULT STDMETHODCALLTYPE GetWeightCount(unsigned int* count) override;
  HRESULT STDMETHODCALLTYPE GetWeightKey(unsigned int index, unsigned int* key) override;
  HRESULT STDMETHODCALLTYPE SetWeight(unsigned int key, unsigned int value) override;
  HRESULT STDMETHODCALLTYPE GetWeight(unsigned int key, unsigned int* value) override;
  HRESULT STDMETHODCALLTYPE QueryBySignature(ISignature* signature, unsigned int count, BOOL add,
                                             IResultList** results) override;
  HRESULT STDMETHODCALLTYPE Unimplemented(LONG, LONG, LONG, LONG, LONG) override;
  HRESULT STDMETHODCALLTYPE QueryById(unsigned int id, unsigned int count, IResultList** results) override;
  HRESULT STDMETHODCALLTYPE GetSongCount(unsigned int* count) override;
  HRESULT STDMETHODCALLTYPE GetAllIds(IIDList** ids) override;
  HRESULT STDMETHODCALLTYPE ContainsId(unsigned int id) override;
  HRESULT STDMETHODCALLTYPE GetSongAt(unsigned int index, ISong** song) override;
  HRESULT STDMETHODCALLTYPE GetSong(unsigned int id, ISong** song) override;
  // S_FALSE and a null song when no song has the file name.
  HRESULT STDMETHODCALLTYPE GetSongByFileName(BSTR fileName, ISong** song) override;
  // Null takes the callback away.
  HRESULT STDMETHODCALLTYPE SetCallback(ICallback* callback) override;
  HRESULT STDMETHODCALLTYPE ExportText(BSTR path, LONG fieldMask) override;
  HRESULT STDMETHODCALLTYPE ExportSimilarityRiff(BSTR path, LONG count) override;
  // Null clears the whitelist.
  HRESULT STDMETHODCALLTYPE SetWhitelist(IIDList* whitelist) override;
  HRESULT STDMETHODCALLTYPE ClearWhitelist() override;

 private:
  ~coSession() override = default;

  // Declared before the session, which borrows them, so that they outlive it.
  std::unique_ptr<vraCallbackCOM> callback;
  ComHeld<coIDList> whitelist;
  vraSession session;
};

}  // namespace vemra_kivet
