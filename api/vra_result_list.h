#pragma once
// The ranked answer of a similarity query as a host sees it: the object
// behind vraIResultList, a list of (song id, score), the best match first.

#include <cstdint>
#include <vector>

#include "api/kivet.h"
#include "api/vra_reference_counted.h"

namespace vemra_kivet {

class vraResultList : public vraReferenceCounted<vraIResultList> {
 public:
  // Empty; the count starts at 1: the creator owns the object it receives.
  vraResultList();
  vraResultList(const vraResultList&) = delete;
  vraResultList& operator=(const vraResultList&) = delete;

  unsigned size() override;
  // A copy of the entry; code 10 for an index not below the size.
  vraResult getResult(unsigned index) override;
  vraResult getResult(unsigned index) const override;
  // Public so that the objects embedding a list can destroy it.
  ~vraResultList() override;

  // Appends {id, score} at the end.
  virtual void append(unsigned id, float score);

  // Swaps the entry of firstId with the entry of id (ids and scores) when the
  // list holds both; otherwise nothing. A session passes the id of entry 0 as
  // firstId to bring the entry of id to the front, the former first entry
  // taking its place and every other entry staying where it is.
  void moveToFront(unsigned firstId, unsigned id);

 private:
  // In rank order.
  std::vector<vraResult> results;
};

}  // namespace vemra_kivet
