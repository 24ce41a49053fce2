#pragma once
// Aspect classifiers: assign a song to the classes ("aspects") of one
// classification scheme, one score per class.
//
// A classifier model file is a signature file. Its feature objects "FTM",
// "FSM" and "FDM" (required) hold the feature adaptation (feature_adaptation.h),
// "FQM" is reserved and unused, and every other feature object is the model of
// one aspect, whose id is the object's name. Aspects follow the objects'
// (name) order.

#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/base_matrix.h"
#include "signature/audio_sign_multi.h"
#include "similarity/aspect_model.h"
#include "similarity/classify_result.h"
#include "similarity/feature_adaptation.h"

class AspectClassifier {
 public:
  enum Kind { kNearestCentroid = 0, kGaussianMixture = 1, kRhythmicPattern = 3 };

  // Loads the model file when file is not empty and a prototype is given,
  // making one aspect per model object with a clone of the prototype (which
  // is deleted at the end); otherwise the classifier has no aspects.
  AspectClassifier(const std::string& name, const std::string& file, int kind, AspectModel* prototype, int version);
  AspectClassifier(const AspectClassifier&) = delete;
  AspectClassifier& operator=(const AspectClassifier&) = delete;
  virtual ~AspectClassifier();

  virtual void classify(const BaseMatrix<float>& input, ClassifyResult& result) = 0;
  // Adapts the signature into the classifier input and classifies that. A
  // classifier without a model file has nothing to adapt with and gives an
  // empty result.
  virtual void classify(const CAudioSignMulti& signature, ClassifyResult& result);

  int getVersion() const { return version; }
  const std::string& getName() const { return name; }
  const std::string& getFile() const { return file; }
  int getKind() const { return kind; }
  const CAudioSignMulti* getModelFile() const { return modelFile.get(); }
  const std::vector<std::unique_ptr<Aspect>>& getAspects() const { return aspects; }
  const FeatureAdaptationSettings& getAdaptationSettings() const { return settings; }

 protected:
  // Reads a model file. A file that cannot be opened fails with origin +
  // "Signature not found " + file, one that does not read as a signature with
  // origin + "Signature invalid " + file.
  static std::unique_ptr<CAudioSignMulti> loadModelFile(const std::string& file, const std::string& origin);

  int version;
  std::string name;
  std::string file;
  int kind;
  std::unique_ptr<CAudioSignMulti> modelFile;
  std::vector<std::unique_ptr<Aspect>> aspects;
  FeatureAdaptationSettings settings;
};

// Nearest centroids: an aspect's score is the share of (frame, centroid)
// pairs within the centroid's reject radius (reject value x reject factor).
class AspectClassifierNN : public AspectClassifier {
 public:
  // The flag argument is not kept: the classifier's flag is always 1.
  AspectClassifierNN(const std::string& name, const std::string& file, int flag, float rejectFactor, int version);

  using AspectClassifier::classify;
  // An input whose column count differs from an aspect's centroids throws the
  // std::string "AspectClassifierNN::classify() dimension of query and
  // centroids don't fit aspect: " + aspect name.
  void classify(const BaseMatrix<float>& input, ClassifyResult& result) override;

  int getFlag() const { return flag; }
  float getRejectFactor() const { return rejectFactor; }

 private:
  int flag;
  float rejectFactor;
};

// One Gaussian mixture per aspect: the scores are the posteriors of the
// aspects' mean per-frame log-likelihoods.
class AspectClassifierGMM : public AspectClassifier {
 public:
  AspectClassifierGMM(const std::string& name, const std::string& file, int version);

  using AspectClassifier::classify;
  void classify(const BaseMatrix<float>& input, ClassifyResult& result) override;
};
