#include "similarity/rhythmic_pattern_classifier.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/vector_ops.h"
#include "signature/sign_data_multi.h"

namespace {

const std::string kClassifyOrigin = "RhythmicPatternClassifier::classify() ";
const char kQueryFeature[] = "MSE_ACF_EXC";
// Lags are counted in floats on the way: beyond 2^24 they are no longer exact.
constexpr float kLargestLag = 16777216.0f;

// Comma-separated values, parts trimmed, each read as an integer and kept as
// unsigned (so "-1" is 4294967295).
HeapVector<unsigned int> unsignedList(const std::string& text) {
  const std::vector<std::string> parts = split(text, ',', true);
  HeapVector<unsigned int> values(static_cast<unsigned>(parts.size()));
  for (unsigned i = 0; i < values.size; ++i) values[i] = static_cast<unsigned int>(stringToInt(parts[i]));
  return values;
}

int queryParameter(CFeatureObject<float>& feature, const char* key) {
  int value = 0;
  if (!feature.getParameter(value, key, false))
    throw StandardException(kClassifyOrigin + key + " Parameter missing in MSE_ACF_EXC of query signature");
  return value;
}

}  // namespace

void RhythmicPatternModel::set(const CAudioSignMulti& modelFile, const std::string& aspectId) {
  CFeatureObject<float>* object = aspectObject(modelFile, aspectId);
  if (object == nullptr)
    throw StandardException("RhythmicPatternModel::set() aspect-id not found in class: " + aspectId);
  patterns = object->getMatrix();
  peaks = unsignedList(
      requiredText(*object, "peaks", "RhythmicPatternModel::set() Parameter 'peaks' not found in class: " + aspectId));
  tempi = unsignedList(
      requiredText(*object, "tempi", "RhythmicPatternModel::set() Parameter 'tempi' not found in class: " + aspectId));
  // Classification reads the peak of every pattern.
  if (peaks.size < patterns.rows)
    throw StandardException("RhythmicPatternModel::set() fewer peaks than patterns in class: " + aspectId);
}

RhythmicPatternClassifier::RhythmicPatternClassifier(const std::string& name, const std::string& file, int version)
    : AspectClassifier(name, "", kRhythmicPattern, nullptr, version) {
  const std::unique_ptr<CAudioSignMulti> models =
      loadModelFile(file, "RhythmicPatternClassifier::RhythmicPatternClassifier() ");
  for (const auto& entry : *models->getSignData())
    aspects.push_back(std::make_unique<Aspect>(new RhythmicPatternModel, *models, name, entry.first));
}

void RhythmicPatternClassifier::classify(const BaseMatrix<float>&, ClassifyResult&) {
  throw StandardException(
      "RhythmicPatternClassifier::classify(const BaseMatrix<float>&, ClassifyResult&) Error this method should not be "
      "invoked from anywhere");
}

void RhythmicPatternClassifier::classify(const CAudioSignMulti& query, ClassifyResult& result) {
  const CSignDataMulti* data = query.getSignData();
  CFeatureObject<float>* feature = data != nullptr ? data->getFeature(kQueryFeature) : nullptr;
  if (feature == nullptr)
    throw StandardException(kClassifyOrigin + "could not find MSE_ACF_EXC feature in query signature");
  const int loBPM = queryParameter(*feature, "loBPM");
  const int hiBPM = queryParameter(*feature, "hiBPM");
  const int groupFrames = queryParameter(*feature, "groupFrames");
  const int overlapFrames = queryParameter(*feature, "overlapFrames");

  // Lags per second of the autocorrelation, and the window between the lags
  // of the two tempo bounds.
  const float hop = static_cast<float>((static_cast<int64_t>(groupFrames) - overlapFrames) * 1000);
  const float rate = 1.0f / (feature->getMsPerRow() / hop);
  const float firstLag = std::floor(60.0f / static_cast<float>(hiBPM) * rate);
  const float endLag = std::floor(60.0f / static_cast<float>(loBPM) * rate);
  if (!(firstLag >= 0.0f && firstLag <= endLag && endLag <= kLargestLag))
    throw StandardException(kClassifyOrigin + "tempo bounds of MSE_ACF_EXC give no lag window");
  const unsigned start = static_cast<unsigned>(firstLag);
  const unsigned end = static_cast<unsigned>(endLag);
  const unsigned width = end - start;

  const HeapMatrix<float>& rows = feature->getMatrix();
  if (rows.rows > 0 && rows.cols < width)
    throw StandardException(kClassifyOrigin + "MSE_ACF_EXC rows are shorter than the lag window");
  for (const auto& aspect : aspects) {
    const HeapMatrix<float>& patterns = aspect->model<RhythmicPatternModel>().patterns;
    if (patterns.rows > 0 && patterns.cols < end)
      throw StandardException(kClassifyOrigin + "patterns of " + aspect->getName() + " end before the lag window");
  }

  std::map<std::string, unsigned> votes;
  HeapVector<float> stretched(width);
  for (unsigned r = 0; r < rows.rows; ++r) {
    const BaseVector<float> row = rows.getRow(r);
    const BaseVector<float> window = row.slice(0, width);
    const unsigned peak = mainPeakLag(row, start);
    double best = FLT_MAX;
    const Aspect* winner = nullptr;
    for (const auto& aspect : aspects) {
      const RhythmicPatternModel& model = aspect->model<RhythmicPatternModel>();
      for (unsigned j = 0; j < model.patterns.rows; ++j) {
        const float ratio = static_cast<float>(model.peaks[j]) / static_cast<float>(peak);
        if (!(lowerRatio < ratio && ratio < upperRatio)) continue;
        const BaseVector<float> pattern = model.patterns.getRow(j).slice(start, width);
        const double asIs = euclideanDistance(pattern, window);
        stretchWindow(window, start, ratio, stretched);
        const double asStretched = euclideanDistance(pattern, stretched);
        const double nearest = asStretched < asIs ? asStretched : asIs;
        if (nearest < best) {
          best = nearest;
          winner = aspect.get();
        }
      }
    }
    // A row that no pattern's tempo fits has no aspect to vote for.
    if (winner != nullptr) ++votes[winner->getName()];
  }
  for (const auto& vote : votes)
    result.insert(static_cast<float>(static_cast<double>(vote.second) / rows.rows), vote.first);
}

unsigned mainPeakLag(const BaseVector<float>& row, unsigned start) {
  if (row.size < 3) return start;
  float highest = 0.0f;
  unsigned index = 0;
  for (unsigned k = 1; k + 1 < row.size; ++k) {
    if (row[k] > row[k - 1] && row[k] > row[k + 1] && row[k] > highest) {
      highest = row[k];
      index = k;
    }
  }
  return start + index;
}

void stretchWindow(const BaseVector<float>& window, unsigned start, float ratio, BaseVector<float>& out) {
  const int64_t first = start;
  const int64_t end = first + window.size;
  auto value = [&](float lag) {
    const int64_t l = static_cast<int64_t>(lag);
    return l >= first && l < end ? window[static_cast<unsigned>(l - first)] : 0.0f;
  };
  const float step = 1.0f / ratio;
  float x = static_cast<float>(start) / ratio;
  for (unsigned k = 0; k < out.size; ++k) {
    const float lo = std::floor(x);
    const float hi = std::ceil(x);
    const float f = x - lo;
    out[k] = (1.0f - f) * value(lo) + f * value(hi);
    x += step;
  }
}
