#pragma once
// The critical-band edges of the loudness modules. An edge value e marks
// input index e * n / 1024 (integer product, shifted right by 10) of an input
// of n values, so the tables fit any spectrum length.

#include <cstdint>

#include "metadata/sources/vmtl/base_vector.h"

// 28 edges (27 bands) ending at the input's end for exactly 48000 Hz; 27
// edges (26 bands), the last at 744/1024 of the input, for any other rate.
const BaseVector<const uint32_t>& bandEdges(int32_t samplingRate);
// The number of bands of bandEdges(samplingRate): its edge count less one.
uint32_t numCriticalBands(int32_t samplingRate);
