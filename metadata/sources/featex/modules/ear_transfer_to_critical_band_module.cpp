#include "metadata/sources/featex/modules/ear_transfer_to_critical_band_module.h"

#include <algorithm>

#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/critical_bands.h"

namespace {

const earTransferToCriticalBandModuleInfo moduleInfo;
const std::string kInputSpace = "EarTransfer";
const std::string kOutputSpace = "CriticalBands";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(earTransferToCriticalBandModule, "fex_ear_transfer_to_critical_band");

earTransferToCriticalBandModuleInfo::earTransferToCriticalBandModuleInfo()
    : CFexProjectModuleInfo("converts signal-space 'ear-transfer' to signal-space 'critical-band'.") {}

earTransferToCriticalBandModule::earTransferToCriticalBandModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo),
      edges(bandEdges(global->getLong("samplingRate", -1))),
      out(edges.size - 1) {
  std::fill(out.begin(), out.end(), 0.0f);
}

CFexModule* earTransferToCriticalBandModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new earTransferToCriticalBandModule(local, global);
}

const CFexModuleInfo* earTransferToCriticalBandModule::getModuleInfo() { return &moduleInfo; }

unsigned earTransferToCriticalBandModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  // Edges are at most 1024, so every index stays within the input; the
  // product is taken in 64 bits so that no length can wrap it.
  uint64_t lo = 0;
  for (unsigned b = 0; b < out.size; ++b) {
    const uint64_t hi = (static_cast<uint64_t>(edges[b + 1]) * in.size) >> 10;
    float sum = 0.0f;
    for (uint64_t i = lo; i < hi; ++i) sum += in[static_cast<unsigned>(i)];
    out[b] = sum;
    lo = hi;
  }
  *output = &out;
  return out.size;
}

const std::string& earTransferToCriticalBandModule::getInputSignalSpace() { return kInputSpace; }
const std::string& earTransferToCriticalBandModule::getOutputSignalSpace() { return kOutputSpace; }
