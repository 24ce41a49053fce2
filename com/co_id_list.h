#pragma once
// The COM object of an id list (IIDList): owns a list of the programming
// interface and forwards each method to it. Made empty by
// IKivetLocal::CreateIDList, or holding a session's ids by
// ISession::GetAllIds; a session takes its inner list as a whitelist.

#include "api/kivet.h"
#include "api/held.h"
#include "com/co_object.h"
#include "com/kivet_local.h"

namespace vemra_kivet {

// Answered only by coIDList objects: tells them from a host's own
// implementation of IIDList. {3E2D8B51-7C0A-4F6E-9B14-5A21C6D09E73}
inline constexpr IID IID_coIDList = {0x3E2D8B51, 0x7C0A, 0x4F6E, {0x9B, 0x14, 0x5A, 0x21, 0xC6, 0xD0, 0x9E, 0x73}};

class coIDList : public coObject<IIDList, IID_IIDList, &IID_coIDList> {
 public:
  // Takes over the caller's reference on `ids`.
  explicit coIDList(vraIIDList* ids) : ids(ids) {}

  // The inner list, for a session that borrows it as its whitelist.
  vraIIDList* inner() { return ids.get(); }

  HRESULT STDMETHODCALLTYPE GetCount(unsigned int* count) override;
  // Code 10 for an index not below the count.
  HRESULT STDMETHODCALLTYPE GetAt(unsigned int index, unsigned int* id) override;
  HRESULT STDMETHODCALLTYPE Add(unsigned int id) override;
  HRESULT STDMETHODCALLTYPE Remove(unsigned int id) override;
  HRESULT STDMETHODCALLTYPE Contains(unsigned int id, BOOL* contains) override;

 private:
  ~coIDList() override = default;

  Held<vraIIDList> ids;
};

}  // namespace vemra_kivet
