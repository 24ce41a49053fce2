#include "metadata/sources/featex/modules/time_to_weighted_time_module.h"

#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/allocation_limit.h"

namespace {

const TimeToWeightedTimeModuleInfo moduleInfo;
const std::string kInputSpace = "TimeMono";
const std::string kOutputSpace = "WeightedTime";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(TimeToWeightedTimeModule, "fex_time_to_weighted_time");

TimeToWeightedTimeModuleInfo::TimeToWeightedTimeModuleInfo()
    : CFexProjectModuleInfo("converts signal-space 'TimeMono' to signal-space 'WeightedTime'.") {}

TimeToWeightedTimeModule::TimeToWeightedTimeModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  // Absent reads as -1. Any other negative size is taken as unsigned, a
  // window of some four billion points, which the allocation check refuses.
  const int32_t size = global->getLong("windowSize", -1);
  if (size == -1) throw simpleException("TimeToWeightedTimeModule: no windowSize param");
  windowSize = static_cast<unsigned>(size);

  const std::string& name = local->getString("window");
  if (name == "Hamming")
    windowType = Hamming;
  else if (name == "Rectangle")
    windowType = Rectangle;
  else if (name == "Hann")
    windowType = Hann;
  else if (name == "Sine")
    windowType = Sine;
  else if (name == "Blackman")
    windowType = Blackman;
  else
    throw simpleException("unsupported window type");

  requireAllocatable(windowSize, sizeof(float));
  switch (windowType) {
    case Hamming:
      window = std::make_unique<HammingWindow>(windowSize, 0.54, false);
      break;
    case Rectangle:
      window = std::make_unique<RectangleWindow>(windowSize, false);
      break;
    case Hann:
      window = std::make_unique<HannWindow>(windowSize, false);
      break;
    case Sine:
      window = std::make_unique<SineWindow>(static_cast<int>(windowSize), false);
      break;
    case Blackman:
      window = std::make_unique<BlackmanWindow>(windowSize, false);
      break;
  }
  out.resize(windowSize);
}

CFexModule* TimeToWeightedTimeModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new TimeToWeightedTimeModule(local, global);
}

const CFexModuleInfo* TimeToWeightedTimeModule::getModuleInfo() { return &moduleInfo; }

unsigned TimeToWeightedTimeModule::processRR(void** output, const void* input) {
  out = *static_cast<const BaseVector<float>*>(input);
  window->apply(out);
  *output = &out;
  return out.size;
}

const std::string& TimeToWeightedTimeModule::getInputSignalSpace() { return kInputSpace; }
const std::string& TimeToWeightedTimeModule::getOutputSignalSpace() { return kOutputSpace; }
