#include "metadata/sources/featex/modules/zerocrossing_module.h"

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const CFexZeroCrossingModuleInfo moduleInfo;
const std::string kInputSpace = "TimeMono";
const std::string kOutputSpace = "ZeroCrossingRate";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(CFexZeroCrossingModule, "fex_zerocrossing");

CFexZeroCrossingModuleInfo::CFexZeroCrossingModuleInfo() : CFexProjectModuleInfo("zero crossing calculation") {}

CFexZeroCrossingModule::CFexZeroCrossingModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo), out(1) {}

CFexModule* CFexZeroCrossingModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new CFexZeroCrossingModule(local, global);
}

const CFexModuleInfo* CFexZeroCrossingModule::getModuleInfo() { return &moduleInfo; }

unsigned CFexZeroCrossingModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  unsigned count = 0;
  for (unsigned i = 0; i + 1 < in.size; ++i)
    if (static_cast<double>(in[i]) * in[i + 1] < 0.0) ++count;
  out[0] = static_cast<float>(count);
  *output = &out;
  return 1;
}

const std::string& CFexZeroCrossingModule::getInputSignalSpace() { return kInputSpace; }
const std::string& CFexZeroCrossingModule::getOutputSignalSpace() { return kOutputSpace; }
