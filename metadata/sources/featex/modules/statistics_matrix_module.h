#pragma once
// "fex_statistics_matrix": the column means of each incoming matrix, followed
// by the column variances (or standard deviations).

#include <string>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class StatisticsMatrixModuleInfo : public CFexProjectModuleInfo {
 public:
  StatisticsMatrixModuleInfo();
};

class StatisticsMatrixModule : public CFexModule {
 public:
  // Local "calcSqrt" (standard deviations instead of variances) and
  // "storeOnlyMean" (the means alone).
  StatisticsMatrixModule(SettingsBase* local, SettingsBase* global);

  KIVET_EXPORT static CFexModule* newInstance(SettingsBase* local, SettingsBase* global);
  KIVET_EXPORT static const CFexModuleInfo* getModuleInfo();

  // An empty matrix gives the shared empty vector. The variances are the
  // population variances mean(x²) - mean(x)²; with calcSqrt a negative value
  // (rounding) counts as 0 before the square root. The output follows the
  // column count of each matrix.
  unsigned process(void** output, const void* input) override;
  const std::string& getInputSignalSpace() override;
  const std::string& getOutputSignalSpace() override;
  int getInputType() override { return FTI_hmFlt; }
  int getOutputType() override { return FTI_bvFlt; }
  unsigned getOutputSize(unsigned inputSize) override { return 2 * inputSize; }
  std::string getUsage() override { return "fex_statistics_matrix"; }

  // The empty vector that every statistics-matrix module hands on for an
  // empty matrix.
  static HeapVector<float>& emptyOutput();

 private:
  bool calcSqrt;
  bool storeOnlyMean;
  HeapVector<float> out;
};
