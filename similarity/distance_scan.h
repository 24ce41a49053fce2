#pragma once
// One classifier's comparison of a query vector with the references' rows
// (ReferenceRows) inside OverallSimilarity::process, each distance offered to
// the classifier's list as the metric gives it, in ascending id order.
//
// For l2norm, l1norm, dotproduct and combinednorm the rows are taken in
// blocks: the
// distance kernels (distance_kernels.h) give the sums of a whole block in
// one call, and the scan holds the list's current worst distance, so that a
// reference the list would refuse costs no call: for l2norm the squared sum
// is compared (the square root is taken only for a distance that may enter,
// which is the same distance), for dotproduct the cosine with the row's own
// length kept in the copy, one pass over the row, and for combinednorm both
// sums, a block's two passes over rows in the cache. Every other metric, and a
// row whose length differs from the query's, goes through the metric
// function one reference at a time. The list receives the same entries, in
// the same order, as from one metric call per reference.
//
// A comparison that fails (a row of another length, a distance that is no
// number) writes its text and the line "Feature: <classifier> Tuid: <id>" to
// the standard output and leaves the reference out; a reference without the
// classifier's feature fails the scan with "OverallSimilarity::process()
// feature-space not found in reference: " + classifier, after the references
// before it.

#include <cstdint>

#include "metadata/sources/vmtl/base_vector.h"
#include "similarity/distance_kernels.h"
#include "similarity/overall_classifier_settings.h"
#include "similarity/reference_row_cache.h"
#include "similarity/similarity_list.h"

class DistanceScan {
 public:
  // query must stay as it is while the scan runs; list is the classifier's
  // target list.
  DistanceScan(const OverallClassifierSettings& classifier, const BaseVector<float>& query, SimilarityList& list,
               MetricScratch& scratch);
  DistanceScan(const DistanceScan&) = delete;
  DistanceScan& operator=(const DistanceScan&) = delete;

  // Every position of rows, gaps passed over.
  void all(const ReferenceRows& rows);
  // Position i alone (not a gap).
  void one(const ReferenceRows& rows, unsigned i);

 private:
  enum class Sum { kNone, kSquaredDifferences, kAbsoluteDifferences, kProducts, kCombined };
  static constexpr unsigned kBlock = 256;

  // Whether position i goes through a kernel.
  bool fits(const ReferenceRows& rows, unsigned i) const;
  // count consecutive positions that fit.
  void block(const ReferenceRows& rows, unsigned first, unsigned count);
  // One position through the metric function.
  void single(const ReferenceRows& rows, unsigned i);
  void offer(float distance, uint64_t id);
  void report(const char* what, uint64_t id) const;
  // Takes the list's state after a change.
  void follow();

  const OverallClassifierSettings& classifier;
  const BaseVector<float> query;
  SimilarityList& list;
  MetricScratch& scratch;
  const DistanceKernels& kernels;
  Sum sum = Sum::kNone;
  // The query in double, and its Euclidean length for dotproduct and
  // combinednorm.
  const double* queryValues = nullptr;
  double queryLength = 0.0;
  // The list takes a distance only when it is not full or the distance is
  // below its worst; bound is a sum, squaredBound a squared sum, above which
  // the distance is certainly not below the worst.
  bool full = false;
  float worst = 0.0f;
  double bound = 0.0;
  double squaredBound = 0.0;
  double sums[kBlock];
  // combinednorm's product sums beside its squared differences in sums.
  double products[kBlock];
};
