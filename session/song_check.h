#pragma once
// What a stored song must be for every query of its session to compare it
// with the others: each classifier of the session's methods holds its vector
// (a row at least), every value is a finite number, and the vector of a
// classifier whose metric compares only vectors of one length is as long as
// the same vector of the session's other songs. A song that falls short
// would be left out of every query, each time with a report, or would end
// every query with a failure; so none is stored, however it comes (added,
// replaced, merged from a file or loaded with one).

#include <map>
#include <set>
#include <string>

class CAudioSignMulti;
class SLManager;

class SongCheck {
 public:
  // The classifiers of the manager's methods; reference is a stored song
  // whose lengths the others must have (null: there is none yet).
  SongCheck(const SLManager& manager, const CAudioSignMulti* reference);

  // Whether song, an adapted signature, can be stored beside the reference.
  bool admits(const CAudioSignMulti& song) const;

 private:
  std::set<std::string> classifiers;
  // The reference's vector length of each fixed-length classifier it holds.
  std::map<std::string, unsigned> lengths;
};
