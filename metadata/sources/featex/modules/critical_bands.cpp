#include "metadata/sources/featex/modules/critical_bands.h"

namespace {

const uint32_t kEdges48k[] = {0,  4,  8,   12,  16,  20,  24,  28,  32,  38,  44,  50,  58,  66,
                              76, 88, 102, 118, 138, 162, 192, 230, 278, 342, 426, 542, 684, 1024};
const uint32_t kEdgesOther[] = {0,  4,  8,   12,  16,  20,  24,  28,  34,  40,  46,  52,  58, 66,
                                76, 88, 102, 118, 136, 158, 220, 264, 318, 382, 466, 582, 744};

const WrapVector<const uint32_t> edges48k(kEdges48k, sizeof kEdges48k / sizeof kEdges48k[0]);
const WrapVector<const uint32_t> edgesOther(kEdgesOther, sizeof kEdgesOther / sizeof kEdgesOther[0]);

}  // namespace

const BaseVector<const uint32_t>& bandEdges(int32_t samplingRate) {
  return samplingRate == 48000 ? edges48k : edgesOther;
}

uint32_t numCriticalBands(int32_t samplingRate) { return bandEdges(samplingRate).size - 1; }
