#pragma once
// An ordered list of song ids as a host sees it: the object behind vraIIDList.
// A host builds one as a whitelist; a session hands one out with all its ids.

#include <cstdint>
#include <vector>

#include "api/kivet.h"
#include "api/vra_reference_counted.h"

namespace vemra_kivet {

class vraIDList : public vraReferenceCounted<vraIIDList> {
 public:
  // Empty; the count starts at 1: the creator owns the object it receives.
  vraIDList();
  vraIDList(const vraIDList&) = delete;
  vraIDList& operator=(const vraIDList&) = delete;

  unsigned size() override;
  // Code 10 for an index not below the size.
  unsigned getId(unsigned index) override;
  unsigned getId(unsigned index) const override;
  // Appends id unless the list holds it already.
  void add(unsigned id) override;
  // Removes id, the later ids moving up one place; an absent id changes
  // nothing.
  void remove(unsigned id) override;
  bool contains(unsigned id) override;
  // Public so that the objects embedding a list can destroy it.
  ~vraIDList() override;

  // Appends an id the caller knows the list does not hold, without the
  // search add makes: a session lists all its ids in linear time.
  void appendDistinct(unsigned id) { ids.push_back(id); }

 private:
  // In the order added.
  std::vector<uint32_t> ids;
};

}  // namespace vemra_kivet
