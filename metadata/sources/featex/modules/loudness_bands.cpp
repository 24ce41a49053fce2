#include "metadata/sources/featex/modules/loudness_bands.h"

#include <algorithm>

#include "metadata/sources/common/string_util.h"
#include "metadata/sources/featex/modules/critical_bands.h"

template <typename T>
unsigned CLoudnessBands<T>::setParameters(const SignalFormat& format, const char* params) {
  const uint32_t bands = format.numCriticalBands;
  int32_t value = 0;
  if (readIntParameter(params, "lb", value)) {
    lb = static_cast<uint32_t>(value);
    if (lb > bands) throw CModuleException("Lower band value too large");
  }
  if (readIntParameter(params, "ub", value)) {
    ub = static_cast<uint32_t>(value);
    if (ub > bands) throw CModuleException("Upper band value too large");
    if (lb > ub) throw CModuleException("Lower band greater than upper band");
  } else {
    ub = bands;
  }
  if (readIntParameter(params, "nb", value)) {
    nb = static_cast<uint32_t>(value);
    if (nb > bands) throw CModuleException("Number of bands too large");
  }
  out.resize(nb);
  std::fill(out.begin(), out.end(), T(0));
  return nb;
}

template <typename T>
std::string CLoudnessBands<T>::getParameterName() {
  return "lb" + std::to_string(lb) + "_ub" + std::to_string(ub) + "_nb" + std::to_string(nb);
}

template <typename T>
T CLoudnessBands<T>::groupSum(const BaseVector<T>& in, unsigned g) const {
  const uint32_t width = groupWidth();
  const uint32_t first = lb + g * width;
  const uint32_t end = std::min(first + width, in.size);
  T sum = 0;
  for (uint32_t band = first; band < end; ++band) sum += in[band];
  return sum;
}

template class CLoudnessBands<float>;

std::string readLoudnessSettings(SettingsBase* local, SettingsBase* global, bool withDpcm, SignalFormat& format) {
  const int32_t samplingRate = global->getLong("samplingRate", -1);
  const int32_t transformSize = global->getLong("transformSize", -1);
  if (transformSize < 1) throw simpleException("tfTransformSize out of range");

  const int32_t lb = local->getLong("lb", -1);
  const int32_t ub = local->getLong("ub", -1);
  const int32_t nb = local->getLong("nb", -1);
  const bool dpcm = withDpcm && local->getLong("dpcm", -1) != 0;
  if (static_cast<int64_t>(nb) > static_cast<int64_t>(ub) - lb) throw CModuleException("Number of bands too large");
  if (lb < 0) throw simpleException("LogLoudnessModule: 'lb' must be >= 0");
  if (ub > 26) throw simpleException("LogLoudnessModule: 'ub' must be <= 26");

  std::string params;
  formatString(params, "lb=%d ub=%d nb=%d ", lb, ub, nb);
  if (dpcm) params += "DPCM";
  format = {static_cast<uint32_t>(samplingRate), 0, 0, static_cast<uint32_t>(transformSize),
            numCriticalBands(samplingRate)};
  return params;
}
