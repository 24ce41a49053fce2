#include "metadata/sources/featex/modules/complex_spectrum_to_psd_module.h"

#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"

namespace {

const ComplexSpectrumToPSDModuleInfo moduleInfo;
const std::string kInputSpace = "ComplexSpectrum";
const std::string kOutputSpace = "PowerDensitySpectrum";

}  // namespace

KIVET_FEX_BUILTIN_MODULE(ComplexSpectrumToPSDModule, "fex_complex_spectrum_to_psd");

ComplexSpectrumToPSDModuleInfo::ComplexSpectrumToPSDModuleInfo()
    : CFexProjectModuleInfo("norm complex spectrum to PSD.") {}

ComplexSpectrumToPSDModule::ComplexSpectrumToPSDModule(SettingsBase* local, SettingsBase* global)
    : CFexModuleOld(local, global, &moduleInfo) {
  considerAngle = local->getLong("considerAngle", 0) != 0;
  calcSqrt = local->getLong("calcSqrt", 0) != 0;
}

CFexModule* ComplexSpectrumToPSDModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new ComplexSpectrumToPSDModule(local, global);
}

const CFexModuleInfo* ComplexSpectrumToPSDModule::getModuleInfo() { return &moduleInfo; }

unsigned ComplexSpectrumToPSDModule::processCR(void** output, const void* input) {
  const auto& in = *static_cast<const BaseVector<std::complex<float>>*>(input);
  const unsigned n = in.size;
  // Sized once for the whole output, so that a steady frame length never
  // reallocates.
  out.resize(considerAngle ? 2 * n : n);
  for (unsigned i = 0; i < n; ++i) {
    const double re = in[i].real();
    const double im = in[i].imag();
    out[i] = static_cast<float>(re * re + im * im);
  }
  if (calcSqrt)
    for (unsigned i = 0; i < n; ++i) out[i] = std::sqrt(out[i]);
  if (considerAngle)
    for (unsigned i = 0; i < n; ++i)
      out[n + i] = static_cast<float>(std::atan(static_cast<double>(in[i].imag()) / in[i].real()));
  *output = &out;
  return out.size;
}

const std::string& ComplexSpectrumToPSDModule::getInputSignalSpace() { return kInputSpace; }
const std::string& ComplexSpectrumToPSDModule::getOutputSignalSpace() { return kOutputSpace; }
