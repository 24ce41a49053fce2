#include "metadata/sources/featex/modules/fex_filter_module.h"

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const CFexFilterModuleInfo moduleInfo;
const std::string kSignalSpace = "TimeMono";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(CFexFilterModule, "fex_filter");

CFexFilterModuleInfo::CFexFilterModuleInfo() : CFexProjectModuleInfo("module for filtering the input signal") {}

CFexFilterModule::CFexFilterModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  dcRejection = local->getBool("DcRejection");
  // Both frequencies are unsigned: an absent sampling rate reads as
  // 4294967295 Hz, as on the 32-bit target.
  cutOffFrequency = static_cast<uint32_t>(local->getLong("cutOffFrequency", 10000));
  samplingRate = static_cast<uint32_t>(global->getLong("samplingRate", -1));
  highpass = local->getLong("hpSwitch", -1) != 0;

  designSecondOrderSection(section, cutOffFrequency, samplingRate, kDesignedSectionType, highpass);
  float b[3] = {static_cast<float>(section.b0), static_cast<float>(section.b1), static_cast<float>(section.b2)};
  float a[3] = {static_cast<float>(section.a0), static_cast<float>(section.a1), static_cast<float>(section.a2)};
  filter = std::make_unique<IIRFilter<float>>(BaseVector<float>(a, 3), BaseVector<float>(b, 3));
}

CFexModule* CFexFilterModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new CFexFilterModule(local, global);
}

const CFexModuleInfo* CFexFilterModule::getModuleInfo() { return &moduleInfo; }

unsigned CFexFilterModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  out.resize(in.size);
  if (dcRejection)
    dcBlocker.process(in.data, out.data, in.size);
  else
    filter->filter(in, out);
  *output = &out;
  return out.size;
}

const std::string& CFexFilterModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& CFexFilterModule::getOutputSignalSpace() { return kSignalSpace; }
