#pragma once
// The model of one class ("aspect") of an aspect classifier, loaded from the
// feature object of the classifier model file that carries the aspect's id as
// its name, and the aspect that owns it.

#include <memory>
#include <string>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/heap_matrix.h"
#include "signature/audio_sign_multi.h"
#include "similarity/gmm.h"

class AspectModel {
 public:
  virtual ~AspectModel();
  // Loads this class's model from the model file.
  virtual void set(const CAudioSignMulti& modelFile, const std::string& aspectId) = 0;
  // A new model of the same type with copies of all fields.
  virtual AspectModel* clone() const = 0;
};

// Nearest centroids with reject radii. Parameters of the aspect's object:
// "rejectvalue" and "relevance", comma-separated floats; its matrix holds one
// centroid per row. The relevances play no part in classification.
class AspectModelNN : public AspectModel {
 public:
  void set(const CAudioSignMulti& modelFile, const std::string& aspectId) override;
  AspectModel* clone() const override { return new AspectModelNN(*this); }

  HeapVector<float> rejectValues;
  HeapVector<float> relevances;
  HeapMatrix<float> centroids;
};

// One Gaussian mixture; the aspect's matrix is the mixture matrix (gmm.h).
class AspectModelGMM : public AspectModel {
 public:
  void set(const CAudioSignMulti& modelFile, const std::string& aspectId) override;
  AspectModel* clone() const override { return new AspectModelGMM(*this); }

  GMM gmm;
};

class Aspect {
 public:
  // Loads model (owned from here on) for the aspect id; the aspect is named
  // classifier name + "." + aspect id.
  Aspect(AspectModel* model, const CAudioSignMulti& modelFile, const std::string& classifierName,
         const std::string& aspectId);
  Aspect(const Aspect&) = delete;
  Aspect& operator=(const Aspect&) = delete;
  virtual ~Aspect();

  // The model as the requested type; a model of another type fails with
  // "Aspect::model() invalid cast - requested aspect-model not available!".
  template <class Model>
  Model& model() const {
    auto* typed = dynamic_cast<Model*>(heldModel.get());
    if (typed == nullptr) throw StandardException("Aspect::model() invalid cast - requested aspect-model not available!");
    return *typed;
  }
  const std::string& getName() const { return name; }

 private:
  std::unique_ptr<AspectModel> heldModel;
  std::string name;
};

// The float feature object of a model file named by the aspect id; null
// when there is none.
CFeatureObject<float>* aspectObject(const CAudioSignMulti& modelFile, const std::string& aspectId);
// The string parameter key of an aspect's object; a StandardException with
// message when it is absent.
std::string requiredText(CFeatureObject<float>& object, const char* key, const std::string& message);
