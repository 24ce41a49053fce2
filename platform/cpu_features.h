#pragma once
// What the processor offers beyond the instruction set the library is built
// for (SSE2 on both x86 targets), for code that picks a faster form of a
// computation once at run time.

namespace platform {

// True when the processor has AVX2 and FMA and the system saves the 256-bit
// registers across task switches; false on processors and compilers where
// this cannot be asked.
bool cpuHasAvx2Fma();

}  // namespace platform
