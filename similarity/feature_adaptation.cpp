#include "similarity/feature_adaptation.h"

#include <algorithm>
#include <cstdint>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/common/string_util.h"
#include "metadata/sources/vmtl/matrix_func.h"
#include "metadata/sources/vmtl/matrix_ops.h"
#include "metadata/sources/vmtl/vector_func.h"
#include "signature/sign_data_multi.h"

namespace {

const std::string kSettingsOrigin = "FeatureAdaptationSettings::FeatureAdaptationSettings() ";
const std::string kMergeOrigin = "FeatureAdaptation::mergeFeatures() ";
const std::string kAdaptOrigin = "FeatureAdaptation::adapt() ";

int requiredInteger(CFeatureObject<float>& ftm, const char* key) {
  int value = 0;
  if (!ftm.getParameter(value, key, false))
    throw StandardException(kSettingsOrigin + key + " parameter missing in signature");
  return value;
}

// The parts side by side, in order; every part must have rows rows. Joined
// in halves, so that many parts cost n log n copies rather than n squared.
HeapMatrix<float> joinColumns(const std::vector<HeapMatrix<float>>& parts, size_t first, size_t count, unsigned rows) {
  if (count <= 1) {
    const HeapMatrix<float> none(rows, 0, 0.0f);
    return count == 0 ? none : util::appendMatrixCols(none, parts[first]);
  }
  const size_t half = count / 2;
  return util::appendMatrixCols(joinColumns(parts, first, half, rows),
                                joinColumns(parts, first + half, count - half, rows));
}

}  // namespace

FeatureAdaptationSettings::FeatureAdaptationSettings() = default;

FeatureAdaptationSettings::FeatureAdaptationSettings(CFeatureObject<float>& ftm, CFeatureObject<float>& fsm,
                                                     CFeatureObject<float>& fdm, const std::string& classifierName,
                                                     const CFeatureObject<float>* quantizerSource)
    : name(classifierName) {
  std::string names;
  if (!ftm.getParameter(names, "features", false))
    throw StandardException(kSettingsOrigin + "no featurenames in afp specified for: " + name);
  if (names.empty())
    throw StandardException(kSettingsOrigin + "no featurenames for adaptation found for classifier: " + name);
  if (names.find(',') != std::string::npos)
    features = split(names, ',', false);
  else
    features.push_back(names);
  if (quantizerSource != nullptr) quantizer = std::make_unique<QuantizerCharacteristic>(quantizerSource->getMatrix());
  transformation = &ftm.getMatrix();
  statistics = &fsm.getMatrix();
  first = &fdm.getMatrix();
  groupframes = requiredInteger(ftm, "groupframes");
  hopframes = requiredInteger(ftm, "hopframes");
  usevar = requiredInteger(ftm, "usevar");

  // The checks of a model file from outside: each of these would otherwise
  // fail only later, for every signature, or divide by zero.
  if (groupframes < 1 || hopframes < 1)
    throw StandardException(kSettingsOrigin + "groupframes and hopframes must be positive for classifier: " + name);
  const BaseMatrix<float>& stats = *statistics;
  if (stats.rows < 2)
    throw StandardException(kSettingsOrigin + "statistics matrix needs a row of offsets and a row of divisors for " +
                            "classifier: " + name);
  const BaseVector<float> divisors = stats.getRow(1);
  if (std::find(divisors.begin(), divisors.end(), 0.0f) != divisors.end())
    throw StandardException(kSettingsOrigin + "zero divisor in statistics matrix for classifier: " + name);
  if (transformation->rows != stats.cols)
    throw StandardException(kSettingsOrigin + "transformation matrix doesn't fit statistics matrix for classifier: " +
                            name);
  if (first->empty() || (FeatureAdaptation::firstMatrixApplies(*first) && first->cols != stats.cols))
    throw StandardException(kSettingsOrigin + "first matrix doesn't fit statistics matrix for classifier: " + name);
}

FeatureAdaptationSettings::FeatureAdaptationSettings(FeatureAdaptationSettings&&) noexcept = default;
FeatureAdaptationSettings& FeatureAdaptationSettings::operator=(FeatureAdaptationSettings&&) noexcept = default;
FeatureAdaptationSettings::~FeatureAdaptationSettings() = default;

namespace FeatureAdaptation {

bool firstMatrixApplies(const BaseMatrix<float>& first) { return mean(diag(first)) != 1.0; }

HeapMatrix<float> mergeFeatures(const CAudioSignMulti& signature, const std::vector<std::string>& names,
                                int variance) {
  // Unwrapping replaces features: it works on copies of the named ones.
  CSignDataMulti work;
  if (const CSignDataMulti* data = signature.getSignData()) {
    for (const std::string& name : names) {
      const CFeatureObjectBase* feature = data->find(name.c_str());
      if (feature != nullptr && work.find(name.c_str()) == nullptr) work.insert(feature->clone(0, 0));
    }
  }
  work.unwrap(names, false);

  int64_t groupSize = 1;
  int64_t overlap = 0;
  unsigned rows = 0;
  std::vector<const HeapMatrix<float>*> matrices;
  for (const std::string& name : names) {
    CFeatureObject<float>* feature = work.getFeature(name.c_str());
    if (feature == nullptr)
      throw StandardException(kMergeOrigin + "signature doesn't contain requested feature " + name);
    const HeapMatrix<float>& matrix = feature->getMatrix();
    if (rows == 0) rows = matrix.rows;
    int value = 0;
    if (feature->getParameter(value, "groupFrames", false)) {
      groupSize = std::max<int64_t>(groupSize, value);
      if (feature->getParameter(value, "overlapFrames", false)) overlap = value;
    }
    if (matrix.rows != rows)
      throw StandardException(kMergeOrigin + "features in signature differ in rows, unwrap first!");
    matrices.push_back(&matrix);
  }
  // A hop of no frames would never move on.
  const int64_t hop = groupSize - overlap;
  if (hop <= 0) throw StandardException(kMergeOrigin + "overlapFrames must be below groupFrames");
  const int64_t outRows = rows >= groupSize ? (rows - overlap) / hop : 1;

  std::vector<HeapMatrix<float>> grouped;
  grouped.reserve(matrices.size());
  for (const HeapMatrix<float>* matrix : matrices)
    grouped.push_back(group(*matrix, static_cast<unsigned>(groupSize), static_cast<unsigned>(hop), variance != 0));
  return joinColumns(grouped, 0, grouped.size(), static_cast<unsigned>(outRows));
}

HeapMatrix<float> adapt(const CAudioSignMulti& signature, const FeatureAdaptationSettings& settings) {
  if (settings.statistics == nullptr || settings.transformation == nullptr || settings.first == nullptr)
    throw StandardException(kAdaptOrigin + "no adaptation matrices for classifier: " + settings.name);
  HeapMatrix<float> m = mergeFeatures(signature, settings.features, 0);
  m = group(m, static_cast<unsigned>(settings.groupframes), static_cast<unsigned>(settings.hopframes),
            settings.usevar != 0);
  if (firstMatrixApplies(*settings.first)) m = m * *settings.first;

  const BaseMatrix<float>& stats = *settings.statistics;
  if (stats.cols != m.cols || stats.rows < 2)
    throw StandardException(kAdaptOrigin + "feature matrix and feature statistic matrix don't fit");
  const float* offsets = stats.getRow(0).data;
  const float* divisors = stats.getRow(1).data;
  for (unsigned i = 0; i < m.rows; ++i) {
    float* row = m.getRow(i).data;
    for (unsigned j = 0; j < m.cols; ++j)
      row[j] = static_cast<float>((static_cast<double>(row[j]) - offsets[j]) / divisors[j]);
  }
  return m * *settings.transformation;
}

}  // namespace FeatureAdaptation
