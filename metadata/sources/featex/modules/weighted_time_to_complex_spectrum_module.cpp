#include "metadata/sources/featex/modules/weighted_time_to_complex_spectrum_module.h"

#include <algorithm>

#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/allocation_limit.h"
#include "metadata/sources/vmtl/fft.h"

namespace {

const WeightedTimeToComplexSpectrumModuleInfo moduleInfo;
const std::string kInputSpace = "WeightedTime";
const std::string kOutputSpace = "ComplexSpectrum";

// The bins' real and imaginary parts as one float array, which is how the
// real FFT works on them.
float* floatsOf(HeapVector<std::complex<float>>& v) { return reinterpret_cast<float*>(v.data); }

}  // namespace

KIVET_FEX_BUILTIN_MODULE(WeightedTimeToComplexSpectrumModule, "fex_weighted_time_to_complex_spectrum");

WeightedTimeToComplexSpectrumModuleInfo::WeightedTimeToComplexSpectrumModuleInfo()
    : CFexProjectModuleInfo("converts signal-space 'WeightedTime' to signal-space 'ComplexSpectrum'") {}

WeightedTimeToComplexSpectrumModule::WeightedTimeToComplexSpectrumModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  const int32_t windowSize = global->getLong("windowSize", -1);
  if (windowSize < 1) throw simpleException("windowSize out of range");

  const int32_t localTransformSize = local->getLong("transformSize", -1);
  if (localTransformSize >= 1) {
    transformSize = static_cast<unsigned>(localTransformSize);
  } else {
    // windowSize is below 2^31, so the doubling ends at 2^31 at the latest.
    transformSize = 2;
    while (transformSize < static_cast<unsigned>(windowSize)) transformSize *= 2;
  }
  // transformSize + 2 floats: the packed spectrum plus the unpacked last bin.
  requireAllocatable(static_cast<uint64_t>(transformSize) + 2, sizeof(float));

  if (global->getLong("transformSize", -1) < 1) global->setLong("transformSize", static_cast<int32_t>(transformSize));

  inputBuffer.resize(transformSize);
  std::fill(inputBuffer.begin(), inputBuffer.end(), 0.0f);
  out.resize(transformSize / 2 + 1);
  std::fill(out.begin(), out.end(), std::complex<float>());
  sineTable.reset(createSineTable(static_cast<int>(transformSize)));
  // The length is fixed for the module's life: one trial transform (of
  // zeros, into the output) tells whether the FFT takes it, instead of every
  // frame handing on an untransformed buffer as a spectrum.
  if (fftReal(floatsOf(out), sineTable.get(), static_cast<int>(transformSize), -1) == 0)
    throw simpleException("WeightedTimeToComplexSpectrumModule: transformSize not supported by the FFT");
}

void WeightedTimeToComplexSpectrumModule::SineTableDeleter::operator()(float* table) const { deleteSineTable(table); }

CFexModule* WeightedTimeToComplexSpectrumModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new WeightedTimeToComplexSpectrumModule(local, global);
}

const CFexModuleInfo* WeightedTimeToComplexSpectrumModule::getModuleInfo() { return &moduleInfo; }

unsigned WeightedTimeToComplexSpectrumModule::processRC(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  BaseVector<float> head = inputBuffer.subvector(0, in.size);
  head = in;

  float* x = floatsOf(out);
  std::copy_n(inputBuffer.data, transformSize, x);
  fftReal(x, sineTable.get(), static_cast<int>(transformSize), -1);
  // The packed spectrum keeps X[n/2], which is real, in the imaginary slot of
  // X[0]; it moves to the last bin, and both end bins are real.
  x[transformSize] = x[1];
  x[1] = 0.0f;
  x[transformSize + 1] = 0.0f;

  *output = &out;
  return out.size;
}

const std::string& WeightedTimeToComplexSpectrumModule::getInputSignalSpace() { return kInputSpace; }
const std::string& WeightedTimeToComplexSpectrumModule::getOutputSignalSpace() { return kOutputSpace; }
