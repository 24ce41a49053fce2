#include "metadata/sources/featex/modules/base_module.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

const char* findParameterValue(const char* params, const char* key) {
  if (!params) return nullptr;
  const std::string needle = std::string(key) + "=";
  const char* at = std::strstr(params, needle.c_str());
  return at ? at + needle.size() : nullptr;
}

bool readFloatParameter(const char* params, const char* key, float& value) {
  const char* text = findParameterValue(params, key);
  if (!text) return false;
  const double read = std::atof(text);
  // Beyond the float range the value becomes infinite rather than undefined.
  value = std::fabs(read) > FLT_MAX ? static_cast<float>(std::copysign(HUGE_VAL, read)) : static_cast<float>(read);
  return true;
}

bool readIntParameter(const char* params, const char* key, int32_t& value) {
  const char* text = findParameterValue(params, key);
  if (!text) return false;
  const long read = std::strtol(text, nullptr, 10);
  constexpr long lowest = std::numeric_limits<int32_t>::min();
  constexpr long highest = std::numeric_limits<int32_t>::max();
  value = static_cast<int32_t>(read < lowest ? lowest : read > highest ? highest : read);
  return true;
}

uint32_t truncToUnsigned(double x) {
  if (!(std::fabs(x) < 9223372036854775808.0)) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(x)));
}

int32_t truncToInt(double x) { return static_cast<int32_t>(truncToUnsigned(x)); }

int32_t quarterOctaveUpperEdge(int64_t nb) {
  return truncToInt(1000.0 * std::pow(2.0, static_cast<double>(nb - 8) / 4.0));
}

void adaptToNyquist(int64_t& nb, int32_t& uf, uint32_t samplingRate, SettingsBase* global, bool writeBands) {
  const uint32_t half = samplingRate / 2;
  do {
    --nb;
    uf = quarterOctaveUpperEdge(nb);
  } while (static_cast<uint32_t>(uf) >= half && uf != 0);
  global->setLong("auf", uf);
  if (writeBands) global->setLong("anb", static_cast<int32_t>(nb));
}
