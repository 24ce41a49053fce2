#include "similarity/overall_classifier_settings.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/distance_kernels.h"
#include "similarity/dom_support.h"
#include "similarity/rhythmic_pattern_classifier.h"

using namespace xercesc;

namespace {

const std::string kOrigin = "OverallClassifierSettings::OverallClassifierSettings()";

// Lags are counted in floats on the way: beyond 2^24 they are no longer exact.
constexpr float kLargestLag = 16777216.0f;

void requireEqualLengths(const BaseVector<float>& a, const BaseVector<float>& b) {
  if (a.size != b.size) vmtl::fail("unequal vector size", vmtl::kVectorOpsHeader, 107);
}

// The query in double, in the scratch's buffer (which grows only).
const double* inDouble(const BaseVector<float>& query, MetricScratch& scratch) {
  scratch.query.assign(query.begin(), query.end());
  return scratch.query.data();
}

// The lag of a tempo in beats per minute, at 100 lags per second.
float lagOf(int32_t bpm) { return std::floor(60.0f / static_cast<float>(bpm) * 100.0f + 0.5f); }

}  // namespace

std::atomic<int32_t> OverallClassifierSettings::lowbpm{-1};
std::atomic<int32_t> OverallClassifierSettings::highbpm{-1};

OverallClassifierSettings::OverallClassifierSettings() : metric(&OverallMetrics::l2norm) {}

OverallClassifierSettings::OverallClassifierSettings(const DOMElement& classifier, unsigned version)
    : version(version), name(requireAttribute(classifier, "name", kOrigin)), metric(&OverallMetrics::l2norm) {
  const auto integer = [&](const std::string& key, const std::string& value) {
    int32_t number = 0;
    if (!readNumber(value, number))
      throw StandardException(kOrigin + " param \"" + key + "\" of classifier " + name +
                              " holds no readable number: \"" + value + "\"");
    return number;
  };
  // Written only once everything has been read, and only those given: a
  // classifier that fails, or carries none, leaves the process-wide bounds
  // as they were, also when another thread's configuration sets them meanwhile.
  std::optional<int32_t> low;
  std::optional<int32_t> high;
  forEachChildElement(classifier, toXmlString("param"), [&](const DOMElement& param) {
    const std::string key = attributeText(param, "key");
    const std::string value = attributeText(param, "value");
    if (key == "feature") {
      features = split(value, ',', true);
    } else if (key == "dropidx") {
      const std::vector<std::string> parts = split(value, ',', true);
      HeapVector<int> indices(static_cast<unsigned>(parts.size()));
      for (unsigned i = 0; i < indices.size; ++i) indices[i] = integer(key, parts[i]);
      dropidx = std::move(indices);
    } else if (key == "concat") {
      concat = integer(key, value);
    } else if (key == "variance") {
      variance = integer(key, value);
    } else if (key == "mean") {
      mean = integer(key, value) != 0;
    } else if (key == "derivative") {
      derivative = integer(key, value);
    } else if (key == "pruning") {
      pruning = integer(key, value) != 0;
    } else if (key == "normalization") {
      normalization = integer(key, value) != 0;
    } else if (key == "clustering") {
      clustering = integer(key, value) != 0;
    } else if (key == "metric") {
      const Metric chosen = OverallMetrics::byName(value);
      if (chosen == nullptr)
        throw StandardException(kOrigin + " unknown metric for classifier: " + name + " metric: " + value);
      metricName = value;
      metric = chosen;
    } else if (key == "lowbpm") {
      low = integer(key, value);
    } else if (key == "highbpm") {
      high = integer(key, value);
    }
  });
  if (low) lowbpm = *low;
  if (high) highbpm = *high;
}

OverallClassifierSettings::~OverallClassifierSettings() = default;

namespace OverallMetrics {

float l2norm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch) {
  requireEqualLengths(reference, query);
  double sum = 0.0;
  distanceKernels().squaredDifferences(reference.data, 1, reference.size, inDouble(query, scratch), &sum);
  return static_cast<float>(std::sqrt(sum));
}

float l1norm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch) {
  requireEqualLengths(reference, query);
  double sum = 0.0;
  distanceKernels().absoluteDifferences(reference.data, 1, reference.size, inDouble(query, scratch), &sum);
  return static_cast<float>(sum);
}

float dotproduct(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch) {
  requireEqualLengths(reference, query);
  // Equal vectors give exactly 1, which rounding might miss.
  if (equalFiniteValues(reference.data, query.data, reference.size)) return 1.0f;
  const DistanceKernels& kernels = distanceKernels();
  double rq = 0.0;
  double rr = 0.0;
  double qq = 0.0;
  kernels.products(reference.data, 1, reference.size, inDouble(query, scratch), &rq);
  kernels.squares(reference.data, 1, reference.size, &rr);
  kernels.squares(query.data, 1, query.size, &qq);
  return cosine(rq, std::sqrt(rr), std::sqrt(qq));
}

float combinednorm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch) {
  const float distance = l2norm(reference, query, scratch);
  return combined(distance, dotproduct(reference, query, scratch));
}

float melodicnorm(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch) {
  const unsigned n = reference.size / 2;
  const unsigned m = query.size / 2;
  const float intervals = scratch.alignment.align(reference.data, n, query.data, m, 2.0f, 2.0f, 2.0f, 0.0f);
  const float lengths = scratch.alignment.align(reference.data + n, n, query.data + m, m, 2.0f, 2.0f, 2.0f, 0.0f);
  return (intervals + lengths) * 0.5f;
}

float acfsimilarity(const BaseVector<float>& reference, const BaseVector<float>& query, MetricScratch& scratch) {
  const float distance = l2norm(reference, query, scratch);
  const float lagLow = lagOf(OverallClassifierSettings::highbpm);
  const float lagHigh = lagOf(OverallClassifierSettings::lowbpm);
  // Unset bounds (-1), a zero tempo or bounds the wrong way round give no lag
  // window to stretch in.
  if (!(lagLow >= 0.0f && lagLow <= lagHigh && lagHigh <= kLargestLag)) return distance;
  // Element k of either vector is lag lagLow + k: the peaks are compared as
  // lags, and the query window, from lag lagLow on, is stretched by their
  // ratio as the rhythm classifier stretches its rows.
  const unsigned start = static_cast<unsigned>(lagLow);
  const float ratio = static_cast<float>(mainPeakLag(reference, start)) / static_cast<float>(mainPeakLag(query, start));
  if (!(ratio >= 0.9f && ratio <= 1.1f)) return distance;
  scratch.stretched.resize(query.size);
  stretchWindow(query, start, ratio, scratch.stretched);
  return std::min(distance, l2norm(reference, scratch.stretched, scratch));
}

bool equalFiniteValues(const float* r, const float* q, unsigned n) {
  // An infinity less itself is NaN, no zero difference.
  for (unsigned i = 0; i < n; ++i)
    if (!(r[i] == q[i] && std::isfinite(r[i]))) return false;
  return true;
}

Metric byName(const std::string& name) {
  static const struct {
    const char* name;
    Metric metric;
  } kMetrics[] = {{"l1norm", &l1norm},           {"l2norm", &l2norm},
                  {"dotproduct", &dotproduct},   {"combinednorm", &combinednorm},
                  {"melodicnorm", &melodicnorm}, {"acfsimilarity", &acfsimilarity}};
  for (const auto& entry : kMetrics)
    if (name == entry.name) return entry.metric;
  return nullptr;
}

}  // namespace OverallMetrics
