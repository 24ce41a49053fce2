#include "similarity/aspect_classifier.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <new>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vector_ops.h"
#include "signature/sign_data_multi.h"

namespace {

const std::string kLoadOrigin = "AspectClassifier::AspectClassifierNN() ";

CFeatureObject<float>& requiredObject(const CAudioSignMulti& modelFile, const char* tag, const std::string& file) {
  CFeatureObject<float>* object = aspectObject(modelFile, tag);
  if (object == nullptr)
    throw StandardException(std::string("AspectClassifier::AspectClassifier() ") + tag + " Object missing in Signature " +
                            file);
  return *object;
}

bool isReserved(const std::string& name) { return name == "FQM" || name == "FTM" || name == "FSM" || name == "FDM"; }

}  // namespace

AspectClassifier::AspectClassifier(const std::string& name, const std::string& file, int kind, AspectModel* prototype,
                                   int version)
    : version(version), name(name), file(file), kind(kind) {
  const std::unique_ptr<AspectModel> model(prototype);
  if (file.empty() || model == nullptr) return;
  modelFile = loadModelFile(file, kLoadOrigin);
  CFeatureObject<float>& ftm = requiredObject(*modelFile, "FTM", file);
  CFeatureObject<float>& fsm = requiredObject(*modelFile, "FSM", file);
  CFeatureObject<float>& fdm = requiredObject(*modelFile, "FDM", file);
  settings = FeatureAdaptationSettings(ftm, fsm, fdm, name, nullptr);
  for (const auto& entry : *modelFile->getSignData()) {
    if (isReserved(entry.first)) continue;
    aspects.push_back(std::make_unique<Aspect>(model->clone(), *modelFile, name, entry.first));
  }
}

AspectClassifier::~AspectClassifier() = default;

std::unique_ptr<CAudioSignMulti> AspectClassifier::loadModelFile(const std::string& file, const std::string& origin) {
  std::ifstream in(file.c_str(), std::ios::binary);
  if (!in) throw StandardException(origin + "Signature not found " + file);
  // Whatever the signature layer finds wrong with the file, the classifier
  // reports it as an invalid model file by name.
  auto signature = std::make_unique<CAudioSignMulti>();
  try {
    signature->read(in, nullptr);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    signature->reset();
  } catch (const std::string&) {
    signature->reset();
  } catch (int) {
    signature->reset();
  }
  if (!signature->isInitialized()) throw StandardException(origin + "Signature invalid " + file);
  return signature;
}

void AspectClassifier::classify(const CAudioSignMulti& signature, ClassifyResult& result) {
  if (modelFile == nullptr) return;
  const HeapMatrix<float> input = FeatureAdaptation::adapt(signature, settings);
  classify(input, result);
}

// ---------------------------------------------------------------- nearest centroid

AspectClassifierNN::AspectClassifierNN(const std::string& name, const std::string& file, int, float rejectFactor,
                                       int version)
    : AspectClassifier(name, file, kNearestCentroid, new AspectModelNN, version), flag(1), rejectFactor(rejectFactor) {}

void AspectClassifierNN::classify(const BaseMatrix<float>& input, ClassifyResult& result) {
  std::vector<uint64_t> counts(aspects.size(), 0);
  for (size_t a = 0; a < aspects.size(); ++a) {
    const AspectModelNN& model = aspects[a]->model<AspectModelNN>();
    const HeapMatrix<float>& centroids = model.centroids;
    if (input.cols != centroids.cols)
      throw std::string("AspectClassifierNN::classify() dimension of query and centroids don't fit aspect: ") +
          aspects[a]->getName();
    for (unsigned i = 0; i < input.rows; ++i) {
      const BaseVector<float> frame = input.getRow(i);
      for (unsigned c = 0; c < centroids.rows; ++c) {
        const double distance = euclideanDistance(frame, centroids.getRow(c));
        if (distance <= model.rejectValues[c] * rejectFactor) ++counts[a];
      }
    }
  }
  for (size_t a = 0; a < aspects.size(); ++a) {
    const float score = input.rows == 0 ? 0.0f : static_cast<float>(static_cast<double>(counts[a]) / input.rows);
    result.insert(score, aspects[a]->getName());
  }
}

// ---------------------------------------------------------------- Gaussian mixture

AspectClassifierGMM::AspectClassifierGMM(const std::string& name, const std::string& file, int version)
    : AspectClassifier(name, file, kGaussianMixture, new AspectModelGMM, version) {}

void AspectClassifierGMM::classify(const BaseMatrix<float>& input, ClassifyResult& result) {
  std::vector<double> logLikelihoods(aspects.size());
  for (size_t a = 0; a < aspects.size(); ++a)
    logLikelihoods[a] = aspects[a]->model<AspectModelGMM>().gmm.LogLHPerFrame(input.data, input.rows, input.cols);

  // The posteriors exp(ll[a]) / sum exp(ll), taken relative to the largest
  // log-likelihood: mean log-likelihoods of high-dimensional features lie far
  // below the smallest double whose exp is not 0, and every score would
  // otherwise underflow.
  double top = -std::numeric_limits<double>::infinity();
  for (double ll : logLikelihoods) top = std::max(top, ll);
  if (!std::isfinite(top)) top = 0.0;
  double sum = 0.0;
  for (double ll : logLikelihoods) sum += std::exp(ll - top);
  const double logSum = sum > 0.0 ? top + std::log(sum) : 0.0;
  for (size_t a = 0; a < aspects.size(); ++a)
    result.insert(static_cast<float>(std::exp(logLikelihoods[a] - logSum)), aspects[a]->getName());
}
