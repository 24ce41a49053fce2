#include "metadata/sources/featex/modules/aggregate_module.h"

#include <algorithm>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const AggregateModuleInfo moduleInfo;
const std::string kSignalSpace;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(AggregateModule, "fex_aggregate");

AggregateModuleInfo::AggregateModuleInfo()
    : CFexProjectModuleInfo("collects vectors and concatenates them to matrices") {}

AggregateModule::AggregateModule(SettingsBase* local, SettingsBase* global) : CFexModule(local, global, &moduleInfo) {
  const int32_t group = local->getLong("groupFrames", -1);
  if (group < 1) throw simpleException("AggregateModule: parameter \"groupFrames\" not set!");
  groupFrames = static_cast<uint32_t>(group);

  overlapFrames = local->getLong("overlapFrames", -1);
  if (overlapFrames >= group) throw simpleException("AggregateModule: overlap too big!");
  // At least 1 and at most 2^32 - 1, so exact in 32 unsigned bits.
  hop = static_cast<uint32_t>(static_cast<int64_t>(group) - overlapFrames);
}

CFexModule* AggregateModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new AggregateModule(local, global);
}

const CFexModuleInfo* AggregateModule::getModuleInfo() { return &moduleInfo; }

HeapMatrix<float>& AggregateModule::emptyOutput() {
  static HeapMatrix<float> empty;
  return empty;
}

unsigned AggregateModule::process(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  *output = &emptyOutput();
  if (in.size == 0) return 0;
  if (recent.cols != 0 && in.size != recent.cols)
    throw simpleException("AggregateModule: frame length differs from the first frame");

  ++counter;
  if (recent.rows < groupFrames) {
    recent.reserveMoreRows(1);
    recent.appendRow(in);
  } else {
    std::copy_n(in.data, in.size, recent.getRow(oldest).data);
    oldest = oldest + 1 == groupFrames ? 0 : oldest + 1;
  }

  if (counter < groupFrames || (counter - groupFrames) % hop != 0) return 0;
  // The ring is full: its rows from the oldest on are the last groupFrames frames.
  out.resize(groupFrames, recent.cols);
  const size_t cols = recent.cols;
  std::copy_n(recent.data + oldest * cols, (groupFrames - oldest) * cols, out.data);
  std::copy_n(recent.data, oldest * cols, out.data + (groupFrames - oldest) * cols);
  *output = &out;
  return out.rows * out.cols;
}

const std::string& AggregateModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& AggregateModule::getOutputSignalSpace() { return kSignalSpace; }
