#include "similarity/distance_scan.h"

#include <cmath>
#include <iostream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "metadata/sources/common/standard_exception.h"

namespace {

// The scan runs inside OverallSimilarity::process and speaks in its name.
const std::string kProcess = "OverallSimilarity::process() ";
constexpr float kInfinity = std::numeric_limits<float>::infinity();

}  // namespace

DistanceScan::DistanceScan(const OverallClassifierSettings& classifier, const BaseVector<float>& query,
                           SimilarityList& list, MetricScratch& scratch)
    : classifier(classifier), query(query), list(list), scratch(scratch), kernels(distanceKernels()) {
  if (classifier.metric == &OverallMetrics::l2norm) sum = Sum::kSquaredDifferences;
  if (classifier.metric == &OverallMetrics::l1norm) sum = Sum::kAbsoluteDifferences;
  if (classifier.metric == &OverallMetrics::dotproduct) sum = Sum::kProducts;
  if (classifier.metric == &OverallMetrics::combinednorm) sum = Sum::kCombined;
  scratch.scanQuery.assign(query.begin(), query.end());
  queryValues = scratch.scanQuery.data();
  if (sum == Sum::kProducts || sum == Sum::kCombined) {
    double squares = 0.0;
    kernels.squares(query.data, 1, query.size, &squares);
    queryLength = std::sqrt(squares);
  }
  follow();
}

void DistanceScan::all(const ReferenceRows& rows) {
  const unsigned size = rows.size();
  unsigned i = 0;
  while (i < size) {
    unsigned end = i;
    while (end < size && end - i < kBlock && fits(rows, end)) ++end;
    if (end > i) {
      block(rows, i, end - i);
      i = end;
    } else {
      if (!rows.isRemoved(i)) single(rows, i);
      ++i;
    }
  }
}

void DistanceScan::one(const ReferenceRows& rows, unsigned i) {
  if (fits(rows, i))
    block(rows, i, 1);
  else
    single(rows, i);
}

bool DistanceScan::fits(const ReferenceRows& rows, unsigned i) const {
  return sum != Sum::kNone && rows.hasFeature(i) && rows.length(i) == query.size;
}

void DistanceScan::block(const ReferenceRows& rows, unsigned first, unsigned count) {
  const unsigned n = query.size;
  const float* values = rows.data(first);
  switch (sum) {
    case Sum::kSquaredDifferences:
      kernels.squaredDifferences(values, count, n, queryValues, sums);
      // A sum above the bound is refused whatever its root: no root taken.
      // A NaN goes on, to be reported.
      for (unsigned k = 0; k < count; ++k)
        if (!(sums[k] > squaredBound)) offer(static_cast<float>(std::sqrt(sums[k])), rows.id(first + k));
      break;
    case Sum::kAbsoluteDifferences:
      kernels.absoluteDifferences(values, count, n, queryValues, sums);
      for (unsigned k = 0; k < count; ++k)
        if (!(sums[k] > bound)) offer(static_cast<float>(sums[k]), rows.id(first + k));
      break;
    case Sum::kProducts:
      kernels.products(values, count, n, queryValues, sums);
      for (unsigned k = 0; k < count; ++k) {
        const unsigned i = first + k;
        const float cosine = OverallMetrics::cosine(sums[k], rows.norm(i), queryLength);
        // Equal vectors count 1 instead: they are compared only when 1 or
        // the cosine could enter the list, or the cosine is no number.
        if (full && cosine >= worst && 1.0f >= worst) continue;
        offer(OverallMetrics::equalFiniteValues(rows.data(i), query.data, n) ? 1.0f : cosine, rows.id(i));
      }
      break;
    case Sum::kCombined:
      kernels.squaredDifferences(values, count, n, queryValues, sums);
      kernels.products(values, count, n, queryValues, products);
      for (unsigned k = 0; k < count; ++k) {
        const unsigned i = first + k;
        // Only vectors whose differences are all 0 can be equal.
        const bool equal = sums[k] == 0.0 && OverallMetrics::equalFiniteValues(rows.data(i), query.data, n);
        const float dot = equal ? 1.0f : OverallMetrics::cosine(products[k], rows.norm(i), queryLength);
        offer(OverallMetrics::combined(static_cast<float>(std::sqrt(sums[k])), dot), rows.id(i));
      }
      break;
    case Sum::kNone:
      break;
  }
}

void DistanceScan::single(const ReferenceRows& rows, unsigned i) {
  if (!rows.hasFeature(i))
    throw StandardException(kProcess + "feature-space not found in reference: " + classifier.name);
  try {
    const float distance = classifier.metric(rows.row(i), query, scratch);
    // A NaN would break the list's order: it is no distance to rank by.
    if (std::isnan(distance)) throw std::domain_error(kProcess + "distance is not a number");
    list.add(distance, rows.id(i), 1.0f, -1);
  } catch (const std::exception& error) {
    report(error.what(), rows.id(i));
  }
  follow();
}

void DistanceScan::offer(float distance, uint64_t id) {
  if (std::isnan(distance)) {
    report((kProcess + "distance is not a number").c_str(), id);
    return;
  }
  if (full && !(distance < worst)) return;
  try {
    list.add(distance, id, 1.0f, -1);
  } catch (const std::exception& error) {
    report(error.what(), id);
  }
  follow();
}

void DistanceScan::report(const char* what, uint64_t id) const {
  std::cout << what << "\n"
            << "Feature: " << classifier.name << " Tuid: " << static_cast<uint32_t>(id) << std::endl;
}

void DistanceScan::follow() {
  // A list of no capacity keeps nothing: every distance is refused.
  full = list.capacity <= 0 || list.size() >= static_cast<size_t>(list.capacity);
  worst = !full ? kInfinity : list.capacity <= 0 ? -kInfinity : std::prev(list.end())->first;
  // A sum above the next float after the worst rounds to that float or
  // above it; a squared sum above its square has such a root. None is below
  // a negative worst.
  bound = std::nextafter(worst, kInfinity);
  squaredBound = worst < 0.0f ? -1.0 : bound * bound;
}
