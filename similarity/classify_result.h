#pragma once
// The class scores of one classification: (score, aspect name) pairs in
// ascending order of score. Several aspects may share a score.

#include <map>
#include <string>

class ClassifyResult {
 public:
  using Scores = std::multimap<float, std::string>;
  using const_iterator = Scores::const_iterator;

  ClassifyResult() = default;
  virtual ~ClassifyResult();

  void insert(float score, const std::string& name) { scores.emplace(score, name); }
  // The score of the first entry, in score order, with exactly that name; 0.0
  // when there is none.
  float get(const std::string& name) const;

  const_iterator begin() const { return scores.begin(); }
  const_iterator end() const { return scores.end(); }
  std::size_t size() const { return scores.size(); }
  bool empty() const { return scores.empty(); }
  void clear() { scores.clear(); }

 private:
  Scores scores;
};
