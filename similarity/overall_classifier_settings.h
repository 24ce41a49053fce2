#pragma once
// One classifier of the overall similarity: which features it summarises,
// how, and the metric that compares the summaries. Read from a "classifier"
// element of the "overallsimilarity" method:
//
//   <classifier name="timbre" version="3">
//     <param key="feature" value="MFCC, LogLoudness"/>
//     <param key="mean" value="1"/>  <param key="variance" value="1"/>
//     <param key="metric" value="l2norm"/>
//   </classifier>
//
// Keys (integers are read up to the first character that is no part of the
// number; a value without a number fails):
//   feature        comma-separated feature names
//   dropidx        comma-separated column indices left out of every feature
//   concat         stack runs of this many rows into one row first
//   mean           1: the column means are part of the summary
//   variance       1: the column variances; N > 1: the mean of the column
//                  variances of blocks of N rows
//   normalization  1: every column to mean 0 and deviation 1 first
//   pruning        1: only the frames at onsets (see OverallSimilarity)
//   metric         l1norm, l2norm (default), dotproduct, combinednorm,
//                  melodicnorm, acfsimilarity
//   lowbpm, highbpm  the tempo bounds of acfsimilarity (process-wide)
//   derivative, clustering  read and kept; nothing acts on them

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>
#include <xercesc/dom/DOMElement.hpp>

#include "metadata/sources/vmtl/base_vector.h"
#include "similarity/string_alignment.h"

// Working memory of the metrics that need some, reused by every comparison of
// a query so that the scan of the references allocates nothing.
struct MetricScratch {
  StringAlignment<float> alignment;
  HeapVector<float> stretched;
  // The query of one comparison in double, as the distance kernels take it.
  std::vector<double> query;
  // The query of a whole scan (DistanceScan) in double.
  std::vector<double> scanQuery;
};

// A distance (smaller is nearer) of a stored reference vector and the query
// vector.
using Metric = float (*)(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);

class OverallClassifierSettings {
 public:
  OverallClassifierSettings();
  // Fails with a StandardException for a missing "name", a value that holds
  // no number and an unknown metric; nothing is changed then, the tempo
  // bounds included.
  OverallClassifierSettings(const xercesc::DOMElement& classifier, unsigned version);
  virtual ~OverallClassifierSettings();
  OverallClassifierSettings(const OverallClassifierSettings&) = default;
  OverallClassifierSettings& operator=(const OverallClassifierSettings&) = default;

  uint32_t version = 0;
  std::string name;
  std::vector<std::string> features;
  HeapVector<int> dropidx;
  int32_t concat = 0;
  int32_t variance = 0;
  bool mean = false;
  int32_t derivative = 0;
  bool pruning = false;
  bool normalization = false;
  bool clustering = false;
  std::string metricName = "l2norm";
  Metric metric;

  // "melodicnorm" summarises a melody as its notes, however many, and aligns
  // vectors of any two lengths.
  bool isMelodic() const { return metricName == "melodicnorm"; }

  // The tempo bounds (beats per minute) of "acfsimilarity", shared by every
  // classifier of the process: the last settings read that carry them win.
  // -1 until then. Sessions of several threads read and write them at once,
  // each bound on its own: a query may meet one bound of a configuration
  // being read in another thread and the other of the one before.
  static std::atomic<int32_t> lowbpm;
  static std::atomic<int32_t> highbpm;
};

namespace OverallMetrics {

// sqrt(sum (r[i] - q[i])²). Every metric but melodicnorm fails with the
// vector library's "unequal vector size" for vectors of different lengths.
float l2norm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);
// sum |r[i] - q[i]|
float l1norm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);
// 1.0 for equal vectors, else the cosine of their angle. Used as a distance
// like every metric, so larger values rank lower.
float dotproduct(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);
// l2norm x acos(dotproduct) x 0.31831926: the distance weighted by the angle.
float combinednorm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);
// Each vector holds pitch intervals in its first half and note-length ratios
// in its second; the halves are aligned separately and the costs averaged.
float melodicnorm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);
// Autocorrelation vectors over the lags from that of highbpm on: l2norm, or
// the distance to the query stretched so that its main peak meets the
// reference's when that is smaller and the peaks' lags lie within 10 %.
float acfsimilarity(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch);

// The metric of a "metric" value; null for an unknown name.
Metric byName(const std::string& name);

// The parts of dotproduct that a scan computes itself (similarity/
// distance_scan.h): whether n values of r and q are equal and finite (their
// absolute differences sum to 0: the cosine is then exactly 1), and the
// cosine of a product sum and two Euclidean lengths.
bool equalFiniteValues(const float* r, const float* q, unsigned n);
inline float cosine(double product, double referenceLength, double queryLength) {
  return static_cast<float>(product / (referenceLength * queryLength));
}
// combinednorm of the l2norm and the dotproduct of two vectors. Parallel
// vectors can have a cosine a rounding step above 1, whose acos would be NaN
// rather than the angle 0.
inline float combined(float distance, float dot) {
  const float angle = static_cast<float>(std::acos(static_cast<double>(std::clamp(dot, -1.0f, 1.0f))) * 0.31831926);
  return distance * angle;
}

}  // namespace OverallMetrics
