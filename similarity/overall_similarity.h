#pragma once
// The similarity method that compares songs by the distance of summary
// vectors of their audio features. Each classifier (OverallClassifierSettings)
// names the features, how their frames are summarised into one vector and the
// metric; adapt makes one vector per classifier and segment row (row 0: the
// whole song), process compares the query's vectors with the references' and
// fills one SimilarityList per classifier.
//
// Every signature it adapts needs the feature "MSE": band energies (at most
// 14 bands, one row per frame but the first two) from which an onset mask
// is made, one entry per frame; a classifier with "pruning" keeps only the
// frames at onsets (every frame when there are none), so its features must
// have the mask's length (MSE rows + 2) in rows. A segment row reads the
// frames of its segments and the same part of the mask.

#include <set>
#include <string>
#include <vector>
#include <xercesc/dom/DOMElement.hpp>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "similarity/overall_classifier_settings.h"
#include "similarity/similarity_method.h"

class CSignDataMulti;

class OverallSimilarity : public SimilarityMethod {
 public:
  // Reads every "classifier" child element that has attributes, with its
  // "version" (0 when absent). A classifier that cannot be read fails the
  // whole method (and leaves the tempo bounds as they were).
  OverallSimilarity(const xercesc::DOMElement& element, EventHandler* handler);
  ~OverallSimilarity() override;

  // Transforms the query's vectors by the session's "LLT" and "NRM" tables
  // once (the query's "F" frame records it; a query stored in the database is
  // changed there too), also when the query is skipped or leaves classifiers
  // out, then compares row 0 of each classifier's vector with the
  // references'. A comparison that fails (different lengths, a distance
  // that is not a number) is reported on the standard output and leaves only
  // that reference out. Without a result count each list is cut to the head
  // that holds a fifth of its summed distances.
  void process(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params) override;
  // Builds everything before it touches out: a failure leaves out as it was.
  void adapt(const CAudioSignMulti& in, CAudioSignMulti& out) override;
  void collectClassifierIds(std::set<std::string>& ids) override;
  // All but the melodic classifiers, whose vectors are as long as each
  // song's melody has notes.
  void collectFixedLengthClassifiers(std::set<std::string>& ids) override;

  // mask becomes mse.rows + 2 entries: true for the frames where the smoothed
  // log energy, summed over the bands, rises above the bands' thresholds.
  // True when no entry is set. More than 14 bands fail.
  bool createOnsetMask(const BaseMatrix<float>& mse, HeapVector<bool>& mask, float decay) const;

  const std::vector<OverallClassifierSettings>& getClassifiers() const { return classifiers; }
  const HeapVector<float>& getOnsetThresholds() const { return onsetThresholds; }
  const HeapVector<float>& getOnsetWindow() const { return onsetWindow; }

 private:
  // Applies the session's "LLT" and "NRM" tables that the query's "F" frame
  // does not record yet to row 0 of each classifier's vector, and records
  // them.
  void transformQuery(CAudioSignMulti& query);
  class RowOnsets;
  // The vector of classifier c for one segment row of a signature.
  HeapVector<float> summarise(const CSignDataMulti& row, const OverallClassifierSettings& c, RowOnsets& onsets) const;

  std::vector<OverallClassifierSettings> classifiers;
  HeapVector<float> onsetThresholds;
  HeapVector<float> onsetWindow;
  MetricScratch scratch;
};
