#include "platform/cpu_features.h"

namespace platform {

bool cpuHasAvx2Fma() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
  // The compiler's runtime asks CPUID and, for AVX, whether the system
  // enabled the wider register state (XGETBV).
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

}  // namespace platform
