#include "metadata/sources/featex/modules/modulation_feature_module.h"

#include <algorithm>
#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/allocation_limit.h"
#include "metadata/sources/vmtl/fft_wrapper.h"
#include "metadata/sources/vmtl/float_cosine.h"
#include "metadata/sources/vmtl/vector_func.h"

namespace {

const ModulationFeatureModuleInfo moduleInfo;
const std::string kSignalSpace;

// The constants of the window and the DCT, in single precision. Their cosines
// come from floatCosine, so that the tables are the same on every platform.
constexpr float kTwoPi = 6.2831855f;
constexpr float kPi = 3.1415927f;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(ModulationFeatureModule, "fex_modulation_feature");

ModulationFeatureModuleInfo::ModulationFeatureModuleInfo() : CFexProjectModuleInfo("computes modulation features") {}

ModulationFeatureModule::ModulationFeatureModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  numDCTcoeffs = local->getLong("numDCTcoeffs", -1);
  band = local->getLong("band", -1);
  const int32_t group = local->getLong("groupFrames", -1);
  overlapFrames = local->getLong("overlapFrames", -1);
  const int32_t bands = local->getLong("numBands", -1);

  if (group < 1) throw simpleException("ModulationFeatureModule: parameter \"groupFrames\" not set!");
  if (overlapFrames >= group) throw simpleException("ModulationFeatureModule: overlap too big!");
  groupFrames = static_cast<uint32_t>(group);
  // An absent (negative) overlap leaves gaps between the groups.
  hop = static_cast<uint64_t>(static_cast<int64_t>(group) - overlapFrames);
  numBands = bands < 1 ? 1u : static_cast<uint32_t>(bands);

  // The window, the history and the G complex values of the transform.
  requireAllocatable(2 * static_cast<uint64_t>(groupFrames), sizeof(float));
  window.resize(groupFrames);
  const float last = static_cast<float>(groupFrames - 1);
  for (uint32_t i = 0; i < groupFrames; ++i)
    window[i] = 0.5f * (1.0f - vmtl::floatCosine(kTwoPi * static_cast<float>(i) / last));
  history.resize(groupFrames);
  std::fill(history.begin(), history.end(), 0.0f);
  spectrum.resize(groupFrames);
  magnitudes.resize(groupFrames / 2);
}

CFexModule* ModulationFeatureModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new ModulationFeatureModule(local, global);
}

const CFexModuleInfo* ModulationFeatureModule::getModuleInfo() { return &moduleInfo; }

const std::string& ModulationFeatureModule::getInputSignalSpace() { return kSignalSpace; }
const std::string& ModulationFeatureModule::getOutputSignalSpace() { return kSignalSpace; }

std::string ModulationFeatureModule::getUsage() {
  return "fex_modulation_feature: numDCTcoeffs=number of DCT coefficients, band=band to calculate modulation "
         "feature, groupFrames=number of frames to group,  overlapFrames=number of overlapping frames";
}

HeapVector<float>& ModulationFeatureModule::emptyOutput() {
  static HeapVector<float> empty;
  return empty;
}

unsigned ModulationFeatureModule::processRR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  ++counter;
  // "band" is 1-based; an absent or zero band starts the slice before the
  // input and is refused by the range check.
  const BaseVector<float> slice = in.subvector(static_cast<uint32_t>(band) - 1u, numBands);
  history[historyNext] = static_cast<float>(mean(slice));
  historyNext = historyNext + 1 == groupFrames ? 0 : historyNext + 1;

  if (counter < groupFrames || (counter - groupFrames) % hop != 0) {
    *output = &emptyOutput();
    return 0;
  }
  emit();
  *output = &out;
  return out.size;
}

void ModulationFeatureModule::emit() {
  // The ring is full: its oldest value sits where the next one will go.
  for (uint32_t i = 0, h = historyNext; i < groupFrames; ++i, h = h + 1 == groupFrames ? 0 : h + 1) {
    spectrum[i] = std::complex<float>(window[i] * history[h], 0.0f);
  }
  forwardFFT(spectrum);
  const uint32_t half = groupFrames / 2;
  for (uint32_t k = 0; k < half; ++k)
    magnitudes[k] = static_cast<float>(
        std::hypot(static_cast<double>(spectrum[k].real()), static_cast<double>(spectrum[k].imag())));
  if (!dctBuilt) buildDct();

  for (uint32_t k = 0; k < dct.cols; ++k) {
    float sum = 0.0f;
    for (uint32_t n = 0; n < half; ++n) sum += magnitudes[n] * dct(n, k);
    out[k] = sum;
  }
}

void ModulationFeatureModule::buildDct() {
  const uint32_t half = groupFrames / 2;
  // An absent coefficient count reads as 2^32 - 1 coefficients, which the
  // 32-bit target could never allocate.
  const uint32_t coefficients = static_cast<uint32_t>(numDCTcoeffs);
  requireAllocatable(static_cast<uint64_t>(half) * coefficients, sizeof(float));
  requireAllocatable(coefficients, sizeof(float));
  dct = HeapMatrix<float>(half, coefficients, 0.0f);
  out.resize(coefficients);
  dctBuilt = true;
  const float l = static_cast<float>(half);
  const float first = 1.0f / std::sqrt(l);
  const float others = std::sqrt(2.0f / l);
  for (uint32_t n = 0; n < half; ++n)
    for (uint32_t k = 0; k < coefficients; ++k)
      dct(n, k) = (k == 0 ? first : others) *
                  vmtl::floatCosine(static_cast<float>(2 * static_cast<uint64_t>(n) + 1) * static_cast<float>(k) * kPi / (2.0f * l));
}
