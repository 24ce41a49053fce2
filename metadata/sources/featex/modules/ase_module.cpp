#include "metadata/sources/featex/modules/ase_module.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/modules/allocation_limit.h"
#include "metadata/sources/vmtl/window.h"

namespace {

const CFexAseModuleInfo moduleInfo;

}  // namespace

KIVET_FEX_BUILTIN_MODULE(CFexAseModule, "fex_ase");

template <typename T>
unsigned CSpectrumEnvelopeMP7<T>::setParameters(const SignalFormat& format, const char* params) {
  const uint32_t transformSize = format.transformSize;
  const float df = static_cast<float>(format.samplingRate) / static_cast<float>(transformSize);

  // The spectrum is scaled to the energy of the analysis window.
  requireAllocatable(format.windowSize, sizeof(float));
  const HammingWindow window(format.windowSize, 0.54, false);
  double energy = 0.0;
  for (const float w : window) energy += static_cast<double>(w) * w;
  scale = static_cast<float>(1.0 / (energy * transformSize * 0.5));

  lf = 62.5f;
  readFloatParameter(params, "lf", lf);
  uf = 16000.0f;
  readFloatParameter(params, "uf", uf);
  if (uf <= lf) throw CModuleException("Upper frequency below lower frequency");
  if (static_cast<float>(transformSize / 2 + 1) * df <= uf) throw CModuleException("Upper frequency too large");
  re = -2;
  readIntParameter(params, "re", re);
  const double r = std::pow(2.0, re);

  // The grid steps between lf and uf, plus the band below lf and the rounding
  // at both ends. A grid too fine to be held (a resolution of 0, or lf at 0
  // Hz) fails as its allocation would.
  const double steps = std::log2(static_cast<double>(uf) / lf) / r;
  if (!(steps < static_cast<double>(kLargestAllocationBytes))) throw std::bad_alloc();
  requireAllocatable(static_cast<uint64_t>(steps) + 4, sizeof(Record));

  records.clear();
  records.push_back({0, 1.0f});  // the band below lf
  double k = std::floor(std::log2(lf / 1000.0) / r + 0.5);
  double f = lf;
  while (f <= uf) {
    const double x = f / df;
    const double bin = std::floor(x + 0.5);
    records.push_back({truncToUnsigned(bin), static_cast<float>(bin + 0.5 - x)});
    k += 1.0;
    f = 1000.0 * std::pow(2.0, k * r);
  }
  // An upper edge at the Nyquist frequency leaves no band above it.
  if (uf == format.samplingRate / 2.0) records.pop_back();

  out.resize(static_cast<unsigned>(records.size()));
  std::fill(out.begin(), out.end(), T(0));
  return out.size;
}

template <typename T>
std::string CSpectrumEnvelopeMP7<T>::getParameterName() {
  return "lf" + std::to_string(truncToInt(lf)) + "_uf" + std::to_string(truncToInt(uf)) + "_re" + std::to_string(re);
}

template <typename T>
const BaseVector<T>& CSpectrumEnvelopeMP7<T>::process(const BaseVector<T>& in) {
  const uint64_t n = in.size;
  const size_t bands = records.size();
  for (size_t b = 0; b < bands; ++b) {
    const Record& start = records[b];
    const Record* next = b + 1 < bands ? &records[b + 1] : nullptr;
    double sum = start.bin < n ? static_cast<double>(in[start.bin]) * start.weight : 0.0;
    const uint64_t end = std::min<uint64_t>(next ? next->bin : n, n);
    for (uint64_t k = uint64_t(start.bin) + 1; k < end; ++k) sum += in[static_cast<unsigned>(k)];
    if (next && next->bin < n) sum += (1.0 - next->weight) * in[next->bin];
    out[static_cast<unsigned>(b)] = static_cast<T>(sum * scale);
  }
  return out;
}

template <typename T>
const BaseVector<T>& CSpectrumEnvelopeMP7<T>::processComplex(const BaseVector<std::complex<T>>&) {
  throw CModuleException("ASE not defined for complex vectors");
}

template class CSpectrumEnvelopeMP7<float>;

CFexAseModuleInfo::CFexAseModuleInfo() : CFexProjectModuleInfo(" audio spectrum envelope calculation") {}

CFexAseModule::CFexAseModule(SettingsBase* local, SettingsBase* global)
    : CFexAlgorithmModule(local, global, &moduleInfo, "PowerDensitySpectrum", "AudioSpectrumEnvelope") {
  const auto samplingRate = static_cast<uint32_t>(global->getLong("samplingRate", -1));
  const int32_t windowSize = global->getLong("windowSize", -1);
  const int32_t overlapSize = global->getLong("overlapSize", -1);
  const int32_t transformSize = global->getLong("transformSize", -1);
  if (overlapSize > 0) throw simpleException("overlapSize out of range");
  if (transformSize < 1) throw simpleException("tfTransformSize out of range");

  const auto loedge = static_cast<uint32_t>(local->getLong("loedge", -1));
  auto hiedge = static_cast<uint32_t>(local->getLong("hiedge", -1));
  const int32_t resexp = local->getLong("resexp", -1);

  const float df = static_cast<float>(samplingRate) / static_cast<float>(transformSize);
  const auto half = static_cast<uint32_t>(transformSize) / 2;
  if (static_cast<float>(half + 1) * df <= static_cast<float>(hiedge)) {
    hiedge = truncToUnsigned(static_cast<float>(half) * df);
    global->setLong("auf", static_cast<int32_t>(hiedge));
  }

  std::string params;
  formatString(params, "lf=%f uf=%f re=%d ", static_cast<double>(loedge), static_cast<double>(hiedge), resexp);
  configure({samplingRate, static_cast<uint32_t>(windowSize), static_cast<uint32_t>(overlapSize),
             static_cast<uint32_t>(transformSize), 0},
            params);
}

CFexModule* CFexAseModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new CFexAseModule(local, global);
}

const CFexModuleInfo* CFexAseModule::getModuleInfo() { return &moduleInfo; }
