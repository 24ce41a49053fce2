#include "com/co_session.h"

#include "api/held.h"
#include "api/vra_kivet_exception.h"
#include "com/bstr_conversion.h"
#include "com/co_result_list.h"
#include "com/co_signature.h"
#include "com/co_song.h"

// A new wrapper is made as `new Wrapper(inner operation)`: the wrapper's
// storage is allocated before the operation runs and freed again when it
// throws, and the constructors cannot throw, so an inner object never goes
// without its wrapper.

namespace vemra_kivet {

namespace {

// The embedded signature of one of this server's signature objects; code 6
// for a null or a host's own ISignature.
vraSignature& ownSignature(ISignature* signature) {
  auto* own = ownObject<coSignature>(signature, IID_coSignature);
  if (own == nullptr) throw vraKivetException(VRA_INVALID_SIGNATURE);
  return own->inner();
}

}  // namespace

HRESULT coSession::GetSessionId(BSTR* sessionId) {
  return comCallOut(sessionId, [&] { *sessionId = textToBstr(session.getSessionId()); });
}

HRESULT coSession::Load(BSTR path) {
  return comCall([&] { session.loadSession(bstrToText(path).c_str()); });
}

HRESULT coSession::Save(BSTR path) {
  return comCall([&] { session.saveSession(bstrToText(path).c_str()); });
}

HRESULT coSession::Reinitialize() {
  return comCall([&] { session.reinitialize(); });
}

HRESULT coSession::AddSignature(ISignature* signature, unsigned int* id) {
  return comCallOut(id, [&] { *id = session.addSignature(&ownSignature(signature)); });
}

HRESULT coSession::ReplaceSignature(unsigned int id, ISignature* signature) {
  return comCall([&] { session.replaceSignature(id, &ownSignature(signature)); });
}

HRESULT coSession::RemoveSongAt(unsigned int index) {
  return comCall([&] { session.removeSongAt(index); });
}

HRESULT coSession::RemoveSong(unsigned int id) {
  return comCall([&] { session.removeSong(id); });
}

HRESULT coSession::GetWeightCount(unsigned int* count) {
  return comCallOut(count, [&] { *count = session.getWeightCount(); });
}

HRESULT coSession::GetWeightKey(unsigned int index, unsigned int* key) {
  return comCallOut(key, [&] { *key = session.getWeightName(index); });
}

HRESULT coSession::SetWeight(unsigned int key, unsigned int value) {
  return comCall([&] { session.setWeight(key, value); });
}

HRESULT coSession::GetWeight(unsigned int key, unsigned int* value) {
  return comCallOut(value, [&] { *value = session.getWeight(key); });
}

HRESULT coSession::QueryBySignature(ISignature* signature, unsigned int count, BOOL add, IResultList** results) {
  return comCallOut(results, [&] {
    *results = new coResultList(session.queryBySignature(&ownSignature(signature), count, add != FALSE));
  });
}

HRESULT coSession::Unimplemented(LONG, LONG, LONG, LONG, LONG) { return S_FALSE; }

HRESULT coSession::QueryById(unsigned int id, unsigned int count, IResultList** results) {
  return comCallOut(results, [&] { *results = new coResultList(session.queryById(id, count)); });
}

HRESULT coSession::GetSongCount(unsigned int* count) {
  return comCallOut(count, [&] { *count = session.getSongCount(); });
}

HRESULT coSession::GetAllIds(IIDList** ids) {
  return comCallOut(ids, [&] { *ids = new coIDList(session.getAllIds()); });
}

// Absence is no error of the library's table: E_FAIL says it.
HRESULT coSession::ContainsId(unsigned int id) {
  bool contains = false;
  const HRESULT result = comCall([&] { contains = session.containsId(id); });
  if (FAILED(result)) return result;
  return contains ? S_OK : E_FAIL;
}

HRESULT coSession::GetSongAt(unsigned int index, ISong** song) {
  return comCallOut(song, [&] { *song = new coSong(session.getSongAt(index)); });
}

HRESULT coSession::GetSong(unsigned int id, ISong** song) {
  return comCallOut(song, [&] { *song = new coSong(session.getSong(id)); });
}

HRESULT coSession::GetSongByFileName(BSTR fileName, ISong** song) {
  const HRESULT result = comCallOut(song, [&] {
    Held<vraISong> found(session.getSongByFileName(bstrToText(fileName).c_str()));
    if (found == nullptr) return;
    *song = new coSong(found.get());
    found.release();
  });
  return result == S_OK && *song == nullptr ? S_FALSE : result;
}

HRESULT coSession::SetCallback(ICallback* host) {
  return comCall([&] {
    std::unique_ptr<vraCallbackCOM> adapter = host != nullptr ? std::make_unique<vraCallbackCOM>(host) : nullptr;
    session.setCallback(adapter.get());
    callback = std::move(adapter);
  });
}

HRESULT coSession::ExportText(BSTR path, LONG fieldMask) {
  return comCall([&] { session.exportText(bstrToText(path).c_str(), static_cast<unsigned>(fieldMask)); });
}

HRESULT coSession::ExportSimilarityRiff(BSTR path, LONG count) {
  return comCall([&] { session.exportSimilarityRiff(bstrToText(path).c_str(), static_cast<unsigned>(count)); });
}

// The reference is taken before the session sees the list: a list refused
// for an id the session does not hold (code 26) stays set, as it does on the
// session itself.
HRESULT coSession::SetWhitelist(IIDList* ids) {
  return comCall([&] {
    coIDList* own = ownObject<coIDList>(ids, IID_coIDList);
    if (ids != nullptr && own == nullptr) throw vraKivetException(VRA_INVALID_OBJECT);
    if (own != nullptr) own->AddRef();
    whitelist.reset(own);
    session.setWhitelist(own != nullptr ? own->inner() : nullptr);
  });
}

HRESULT coSession::ClearWhitelist() {
  return comCall([&] {
    session.clearWhitelist();
    whitelist.reset();
  });
}

}  // namespace vemra_kivet
