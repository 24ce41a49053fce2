#include "similarity/aspect_model.h"

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
  // Means and inverse variances must come in pairs behind the log constant.
  if (mixture.rows == 0 || mixture.cols < 3 || mixture.cols % 2 == 0)
    throw StandardException("AspectModelGMM::set() mixture matrix is not components x (1 + 2 x dimension) in class " +
                            aspectId);
  const unsigned dimension = (mixture.cols - 1) / 2;
  for (unsigned i = 0; i < mixture.rows; ++i) {
    const float* inverseVariances = mixture.getRow(i).data + 1 + dimension;
    for (unsigned j = 0; j < dimension; ++j) {
      if (!(inverseVariances[j] > 0.0f) || !std::isfinite(inverseVariances[j]))
        throw StandardException("AspectModelGMM::set() inverse variances must be positive in class " + aspectId);
    }
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
