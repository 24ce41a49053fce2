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
  if (store.data && in.size != store.cols)
    throw simpleException("AggregateModule: frame length differs from the first frame");

  ++counter;
  if (counter % kStoreBlockRows == 0) {
    const unsigned oldRows = store.rows;
    store.addRows(kStoreBlockRows);
    std::fill_n(store.data + static_cast<size_t>(oldRows) * store.cols,
                static_cast<size_t>(kStoreBlockRows) * store.cols, 0.0f);
  }
  if (!store.data) store = HeapMatrix<float>(kStoreBlockRows, in.size, 0.0f);
  std::copy_n(in.data, in.size, store.getRow(counter - 1).data);

  if (counter < groupFrames || (counter - groupFrames) % hop != 0) return 0;
  out = store.getRows(counter - groupFrames, groupFrames);
  *output = &out;
  return out.rows * out.cols;
}

const std::string& AggregateModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& AggregateModule::getOutputSignalSpace() { return kSignalSpace; }
