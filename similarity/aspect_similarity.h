#pragma once
// The similarity method that compares songs by their class memberships. Each
// of its aspect classifiers (nearest centroid, Gaussian mixture, rhythmic
// pattern) scores a song against the classes of one scheme; adapt stores the
// scores of the whole song and of each segment label, process ranks the
// references by the histogram intersection of their whole-song scores with
// the query's.
//
// Configuration, the "aspectsimilarity" element:
//
//   <similaritymethod module="aspectsimilarity">
//     <classifier name="genre" type="NN" file="genre.sig" version="2" rejectfactor="1.5"/>
//     <classifier name="mood" type="GMM" file="mood.sig"/>
//     <classifier name="rhythm" type="RYT" file="rhythm.sig"/>
//   </similaritymethod>

#include <memory>
#include <set>
#include <string>
#include <vector>
#include <xercesc/dom/DOMElement.hpp>

#include "similarity/aspect_classifier.h"
#include "similarity/reference_row_cache.h"
#include "similarity/similarity_method.h"

class AspectSimilarity : public SimilarityMethod {
 public:
  // Reads every "classifier" child element that has attributes; "name" and
  // "type" are required, "version" and "rejectfactor" must be numbers when
  // given. Any failure (an unknown type, a model file that cannot be read)
  // fails the whole method.
  AspectSimilarity(const xercesc::DOMElement& element, EventHandler* handler);
  ~AspectSimilarity() override;

  // References without the classifier's scores, or with fewer scores than
  // the query, have nothing to intersect and are passed over.
  void process(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params) override;
  // Builds everything before it touches out: a failure leaves out as it was.
  void adapt(const CAudioSignMulti& in, CAudioSignMulti& out) override;
  void collectClassifierIds(std::set<std::string>& ids) override;

  const std::vector<std::unique_ptr<AspectClassifier>>& getClassifiers() const { return classifiers; }

 private:
  std::vector<std::unique_ptr<AspectClassifier>> classifiers;
};
