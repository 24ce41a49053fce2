#include "similarity/aspect_model.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "metadata/sources/common/string_util.h"
#include "signature/sign_data_multi.h"

namespace {

// Comma-separated floats, each part read as a number (unreadable parts give 0).
HeapVector<float> floatList(const std::string& text) {
  const std::vector<std::string> parts = split(text, ',', false);
  HeapVector<float> values(static_cast<unsigned>(parts.size()));
  for (unsigned i = 0; i < values.size; ++i) values[i] = stringToFloat(parts[i]);
  return values;
}

}  // namespace

std::string requiredText(CFeatureObject<float>& object, const char* key, const std::string& message) {
  std::string text;
  if (!object.getParameter(text, key, false)) throw StandardException(message);
  return text;
}

CFeatureObject<float>* aspectObject(const CAudioSignMulti& modelFile, const std::string& aspectId) {
  const CSignDataMulti* data = modelFile.getSignData();
  return data != nullptr ? data->getFeature(aspectId.c_str()) : nullptr;
}

AspectModel::~AspectModel() = default;

void AspectModelNN::set(const CAudioSignMulti& modelFile, const std::string& aspectId) {
  CFeatureObject<float>* object = aspectObject(modelFile, aspectId);
  if (object == nullptr) throw StandardException("AspectModelNN::set() aspect-id not found in afp: " + aspectId);
  centroids = object->getMatrix();
  rejectValues =
      floatList(requiredText(*object, "rejectvalue", "AspectClassifierNN::set() No reject-values found in class " + aspectId));
  relevances =
      floatList(requiredText(*object, "relevance", "AspectClassifierNN::set() No relevance-values found in class " + aspectId));
  // Classification reads one reject value per centroid.
  if (rejectValues.size < centroids.rows)
    throw StandardException("AspectModelNN::set() fewer reject-values than centroids in class " + aspectId);
}

void AspectModelGMM::set(const CAudioSignMulti& modelFile, const std::string& aspectId) {
  CFeatureObject<float>* object = aspectObject(modelFile, aspectId);
  if (object == nullptr) throw StandardException("AspectModelGMM::set() aspect-id not found in afp: " + aspectId);
  const HeapMatrix<float>& mixture = object->getMatrix();
  // The dimension is (columns - 1) / 2: a last column beyond the pairs of
  // means and inverse variances is not read, but one whole component must be
  // there to evaluate.
  if (mixture.rows == 0 || mixture.cols < 3)
    throw StandardException("AspectModelGMM::set() mixture matrix is not components x (1 + 2 x dimension) in class " +
                            aspectId);
  const unsigned dimension = (mixture.cols - 1) / 2;
  for (unsigned i = 0; i < mixture.rows; ++i) {
    const float* row = mixture.getRow(i).data;
    // A value that is no finite number makes every likelihood one too. An
    // inverse variance of 0 leaves its dimension out of the component; a
    // negative one would reward distance from the mean.
    if (!std::all_of(row, row + 1 + 2 * dimension, [](float v) { return std::isfinite(v); }))
      throw StandardException("AspectModelGMM::set() mixture values must be finite numbers in class " + aspectId);
    if (std::any_of(row + 1 + dimension, row + 1 + 2 * dimension, [](float v) { return v < 0.0f; }))
      throw StandardException("AspectModelGMM::set() inverse variances must not be negative in class " + aspectId);
  }
  gmm.set(mixture);
}

Aspect::Aspect(AspectModel* model, const CAudioSignMulti& modelFile, const std::string& classifierName,
               const std::string& aspectId)
    : heldModel(model) {
  heldModel->set(modelFile, aspectId);
  name = classifierName + "." + aspectId;
}

Aspect::~Aspect() = default;
