#include "metadata/sources/featex/modules/statistics_matrix_module.h"

#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const StatisticsMatrixModuleInfo moduleInfo;
const std::string kSignalSpace;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(StatisticsMatrixModule, "fex_statistics_matrix");

StatisticsMatrixModuleInfo::StatisticsMatrixModuleInfo() : CFexProjectModuleInfo("mean and variance calculations") {}

StatisticsMatrixModule::StatisticsMatrixModule(SettingsBase* local, SettingsBase* global)
    : CFexModule(local, global, &moduleInfo) {
  calcSqrt = local->getBool("calcSqrt");
  storeOnlyMean = local->getBool("storeOnlyMean");
}

CFexModule* StatisticsMatrixModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new StatisticsMatrixModule(local, global);
}

const CFexModuleInfo* StatisticsMatrixModule::getModuleInfo() { return &moduleInfo; }

HeapVector<float>& StatisticsMatrixModule::emptyOutput() {
  static HeapVector<float> empty;
  return empty;
}

unsigned StatisticsMatrixModule::process(void** output, const void* input) {
  const auto& in = *static_cast<const BaseMatrix<float>*>(input);
  if (in.rows == 0 || in.cols == 0) {
    *output = &emptyOutput();
    return 0;
  }
  const unsigned cols = in.cols;
  // Resized (reallocating only to grow) for each matrix: a wider matrix than
  // the first must not be written past the end of the output.
  out.resize(storeOnlyMean ? cols : 2 * cols);
  const float inverseRows = 1.0f / static_cast<float>(in.rows);
  for (unsigned c = 0; c < cols; ++c) {
    double sum = 0.0;
    double sumOfSquares = 0.0;
    for (unsigned r = 0; r < in.rows; ++r) {
      const float x = in(r, c);
      sum += x;
      sumOfSquares += x * x;
    }
    const float mean = static_cast<float>(sum) * inverseRows;
    out[c] = mean;
    if (storeOnlyMean) continue;
    float variance = static_cast<float>(sumOfSquares) * inverseRows - mean * mean;
    if (calcSqrt) variance = std::sqrt(variance < 0.0f ? 0.0f : variance);
    out[cols + c] = variance;
  }
  *output = &out;
  return out.size;
}

const std::string& StatisticsMatrixModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& StatisticsMatrixModule::getOutputSignalSpace() { return kSignalSpace; }
