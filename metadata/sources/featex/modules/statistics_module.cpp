#include "metadata/sources/featex/modules/statistics_module.h"

#include <algorithm>

#include "metadata/sources/featex/feature_extractor.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/allocation_limit.h"

namespace {

const StatisticsModuleInfo moduleInfo;
const std::string kSignalSpace;

// value · factor in the 32-bit long of the original target, wrapping as it did.
int32_t multiply32(int32_t value, uint32_t factor) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) * factor);
}

}  // namespace

KIVET_FEX_BUILTIN_MODULE(StatisticsModule, "fex_statistics");

StatisticsModuleInfo::StatisticsModuleInfo() : CFexProjectModuleInfo("mean and variance calculations") {}

StatisticsModule::StatisticsModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  const int32_t scaleRatio = local->getLong("sr", -1);
  if (scaleRatio < 1) throw simpleException("scale ratio not set (sr=..)");
  sr = static_cast<uint32_t>(scaleRatio);

  storeOnlyMean = local->getBool("storeOnlyMean");
  storeOrigSamples = local->getBool("storeOrigSamples");
  if (storeOnlyMean && storeOrigSamples)
    throw simpleException("StatisticsModule: use storeOnlyMean OR storeOrigSamples!!!");

  if (local->getBool("changeGlobalParams")) {
    for (const char* key : {"windowSize", "overlapSize", "hopSize"})
      global->setLong(key, multiply32(global->getLong(key, 0), sr));
  }
}

CFexModule* StatisticsModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new StatisticsModule(local, global);
}

const CFexModuleInfo* StatisticsModule::getModuleInfo() { return &moduleInfo; }

HeapVector<float>& StatisticsModule::emptyOutput() {
  static HeapVector<float> empty;
  return empty;
}

void StatisticsModule::prepare(unsigned length) {
  const uint64_t blockValues = static_cast<uint64_t>(sr) * length;
  requireAllocatable(blockValues, sizeof(float));
  if (storeOrigSamples) {
    out.resize(static_cast<unsigned>(blockValues));
  } else {
    values = HeapMatrix<float>(sr, length, 0.0f);
    squares = HeapMatrix<float>(sr, length, 0.0f);
    out.resize(storeOnlyMean ? length : 2 * length);
  }
  frameLength = length;
}

unsigned StatisticsModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  *output = &emptyOutput();
  if (in.size == 0) return 0;
  if (frameLength == 0) prepare(in.size);
  if (in.size != frameLength) throw simpleException("StatisticsModule: frame length differs from the first frame");
  const unsigned n = frameLength;

  if (storeOrigSamples) {
    std::copy_n(in.data, n, out.data + static_cast<size_t>(counter) * n);
    if (++counter < sr) throw IBW_Exception();
    counter = 0;
    *output = &out;
    return out.size;
  }

  float* valueRow = values.getRow(counter).data;
  float* squareRow = squares.getRow(counter).data;
  for (unsigned i = 0; i < n; ++i) {
    valueRow[i] = in[i];
    squareRow[i] = in[i] * in[i];
  }
  if (++counter < sr) return 0;

  const float inverseBlock = 1.0f / static_cast<float>(sr);
  for (unsigned c = 0; c < n; ++c) {
    const float mean = static_cast<float>(sumStrided(values.data + c, n, sr)) * inverseBlock;
    out[c] = mean;
    if (!storeOnlyMean)
      out[n + c] = static_cast<float>(sumStrided(squares.data + c, n, sr)) * inverseBlock - mean * mean;
  }
  counter = 0;
  *output = &out;
  return out.size;
}

const std::string& StatisticsModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& StatisticsModule::getOutputSignalSpace() { return kSignalSpace; }
