#include "metadata/sources/featex/modules/splitter_module.h"

#include <algorithm>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const SplitterModuleInfo moduleInfo;
const std::string kSignalSpace;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(SplitterModule, "fex_splitter");

SplitterModuleInfo::SplitterModuleInfo() : CFexProjectModuleInfo("splits up vectors") {}

SplitterModule::SplitterModule(SettingsBase* local, SettingsBase* global) : CFexModule(local, global, &moduleInfo) {
  startIndex = std::max<int32_t>(local->getLong("startIndex", -1), 1);
  endIndex = local->getLong("endIndex", -1);
  stepWidth = std::max<int32_t>(local->getLong("stepWidth", -1), 1);
  if (endIndex != 0 && endIndex < startIndex)
    throw simpleException("SplitterModule: endIndex not set or below startIndex");
}

CFexModule* SplitterModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new SplitterModule(local, global);
}

const CFexModuleInfo* SplitterModule::getModuleInfo() { return &moduleInfo; }

HeapVector<float>& SplitterModule::emptyOutput() {
  static HeapVector<float> empty;
  return empty;
}

int64_t SplitterModule::countOf(int64_t start, int64_t end, int64_t step) { return (end - start) / step + 1; }

unsigned SplitterModule::getOutputSize(unsigned inputSize) {
  const int64_t end = endIndex == 0 ? static_cast<int64_t>(inputSize) : endIndex;
  return static_cast<unsigned>(std::max<int64_t>(countOf(startIndex, end, stepWidth), 0));
}

unsigned SplitterModule::process(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  if (in.size == 0) {
    *output = &emptyOutput();
    return 0;
  }
  // Both bounds are held against the vector, so every index read lies in it.
  if (endIndex == 0) endIndex = static_cast<int32_t>(std::min<unsigned>(in.size, INT32_MAX));
  if (static_cast<int64_t>(endIndex) > in.size || endIndex < startIndex)
    throw simpleException("SplitterModule: index range does not fit the input vector");

  const unsigned count = static_cast<unsigned>(countOf(startIndex, endIndex, stepWidth));
  out.resize(count);
  const float* first = in.data + (startIndex - 1);
  for (unsigned k = 0; k < count; ++k) out[k] = first[static_cast<size_t>(k) * stepWidth];
  *output = &out;
  return count;
}

const std::string& SplitterModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& SplitterModule::getOutputSignalSpace() { return kSignalSpace; }
