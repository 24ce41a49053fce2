#pragma once
// Feature adaptation: turns a signature into the input matrix of an aspect
// classifier. The named features are joined column-wise and grouped, then a
// first matrix (unless it is an identity), a per-column normalisation and a
// final transformation matrix are applied. The settings come from the
// reserved feature objects of a classifier model file:
//   "FTM"  final transformation matrix; string parameter "features" (names,
//          comma-separated), integers "groupframes", "hopframes", "usevar"
//   "FSM"  statistics: row 0 column offsets, row 1 column divisors
//   "FDM"  first matrix, applied when the mean of its diagonal is not 1.0
// Every failure is a StandardException.

#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"
#include "signature/quant.h"

class FeatureAdaptationSettings {
 public:
  // No features and no matrices: the settings of a classifier without a model.
  FeatureAdaptationSettings();
  // Reads FTM's parameters and keeps views of the three matrices, which
  // belong to the model file and must outlive the settings. The matrices'
  // shapes are checked against each other here, so that a model that could
  // never adapt a signature is refused when it is loaded.
  FeatureAdaptationSettings(CFeatureObject<float>& ftm, CFeatureObject<float>& fsm, CFeatureObject<float>& fdm,
                            const std::string& classifierName, const CFeatureObject<float>* quantizerSource);
  FeatureAdaptationSettings(FeatureAdaptationSettings&&) noexcept;
  FeatureAdaptationSettings& operator=(FeatureAdaptationSettings&&) noexcept;
  virtual ~FeatureAdaptationSettings();

  std::string name;
  std::vector<std::string> features;
  std::unique_ptr<QuantizerCharacteristic> quantizer;
  const BaseMatrix<float>* transformation = nullptr;
  const BaseMatrix<float>* statistics = nullptr;
  const BaseMatrix<float>* first = nullptr;
  int groupframes = 0;
  int hopframes = 0;
  int usevar = 0;
};

namespace FeatureAdaptation {

// The named features of the signature, unwrapped to a common frame rate,
// grouped by the largest "groupFrames" among them (hop: that size less the
// "overlapFrames" of the last feature that has both) and joined column-wise
// in the order of names. The signature itself is left as it was.
HeapMatrix<float> mergeFeatures(const CAudioSignMulti& signature, const std::vector<std::string>& names,
                                int variance);

// The classifier input: one row per group of merged frames.
HeapMatrix<float> adapt(const CAudioSignMulti& signature, const FeatureAdaptationSettings& settings);

// Whether a first matrix takes part: the mean of its main diagonal is not 1.0.
bool firstMatrixApplies(const BaseMatrix<float>& first);

}  // namespace FeatureAdaptation
