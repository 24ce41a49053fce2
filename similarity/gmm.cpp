#include "similarity/gmm.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KIVET_GMM_SSE2 1
#endif

namespace {

// The raw block's address is kept just below the aligned block. IPP's 32-bit
// layout has four bytes for it; a wider pointer gets as many as it needs.
constexpr std::size_t kAddressBytes = sizeof(void*);
constexpr std::uintptr_t kAlignment = 32;

// Inputs further apart than this differ by more than float precision can
// show after the log-add; the larger one is the result.
constexpr double kLogAddRange = -15.3195879547406;
constexpr float kLogFloor = -4.5e6f;

int argumentStatus(const float* x, const float* means, const float* inverseVariances, int nComp, int step, int dim,
                   const float* logConstants, const float* result) {
  if (x == nullptr || means == nullptr || inverseVariances == nullptr || result == nullptr || logConstants == nullptr)
    return kGmmNullPointerError;
  if (step < dim) return kGmmStrideError;
  if (nComp < 1 || dim < 1) return kGmmSizeError;
  return kGmmNoError;
}

// The text lives in a buffer of the thread: a thrown pointer must stay valid
// after the frame that formatted it is gone, and the catcher, on the same
// thread, must not find it overwritten by another thread's failure.
[[noreturn]] void throwStatus(int status) {
  thread_local char text[96];
  std::snprintf(text, sizeof text, "IPP error %d, %s", status, statusMessage(status));
  throw static_cast<char*>(text);
}

// The log-likelihoods of up to four frames. Each frame's components are
// log-added in component order; the frames' chains are interleaved so that
// one chain's latency hides behind the others'.
void mixtureOfFrames(const float* const* frames, int frameCount, const float* means, const float* inverseVariances,
                     int nComp, int step, int dim, const float* logConstants, float* results) {
  for (int first = 0; first < nComp; first += 4) {
    const int count = std::min(4, nComp - first);
    // A short last pass repeats its last component in the spare lanes.
    int rows[4];
    for (int k = 0; k < 4; ++k) rows[k] = first + std::min(k, count - 1);
    float sums[16];
    gmm_detail::weightedDistancesVector(frames, frameCount, means, inverseVariances, step, dim, rows, sums);
    for (int k = 0; k < count; ++k) {
      const float twice = 2.0f * logConstants[first + k];
      for (int f = 0; f < frameCount; ++f) {
        const float c = 0.5f * (twice - sums[f * 4 + k]);
        results[f] = first + k == 0 ? c : logAdd(results[f], c);
      }
    }
  }
}

#ifdef KIVET_GMM_SSE2

inline __m128 addTerm(__m128 sum, __m128 x, __m128 mean, __m128 inverseVariance) {
  const __m128 d = _mm_sub_ps(x, mean);
  return _mm_add_ps(sum, _mm_mul_ps(_mm_mul_ps(d, d), inverseVariance));
}

// Lane k holds component rows[k]: a 4 x 4 block of means (and of inverse
// variances) is transposed so that each lane still adds its own terms in
// order of j.
template <int Frames>
void weightedDistancesSse2(const float* const* frames, const float* means, const float* inverseVariances, int step,
                           int dim, const int* rows, float* sums) {
  const float* m[4];
  const float* v[4];
  for (int k = 0; k < 4; ++k) {
    m[k] = means + static_cast<std::size_t>(rows[k]) * static_cast<std::size_t>(step);
    v[k] = inverseVariances + static_cast<std::size_t>(rows[k]) * static_cast<std::size_t>(step);
  }
  __m128 acc[Frames];
  for (int f = 0; f < Frames; ++f) acc[f] = _mm_setzero_ps();
  int j = 0;
  for (; j + 4 <= dim; j += 4) {
    __m128 m0 = _mm_loadu_ps(m[0] + j), m1 = _mm_loadu_ps(m[1] + j), m2 = _mm_loadu_ps(m[2] + j),
           m3 = _mm_loadu_ps(m[3] + j);
    _MM_TRANSPOSE4_PS(m0, m1, m2, m3);
    __m128 v0 = _mm_loadu_ps(v[0] + j), v1 = _mm_loadu_ps(v[1] + j), v2 = _mm_loadu_ps(v[2] + j),
           v3 = _mm_loadu_ps(v[3] + j);
    _MM_TRANSPOSE4_PS(v0, v1, v2, v3);
    for (int f = 0; f < Frames; ++f) {
      const __m128 x = _mm_loadu_ps(frames[f] + j);
      __m128 a = acc[f];
      a = addTerm(a, _mm_shuffle_ps(x, x, 0x00), m0, v0);
      a = addTerm(a, _mm_shuffle_ps(x, x, 0x55), m1, v1);
      a = addTerm(a, _mm_shuffle_ps(x, x, 0xAA), m2, v2);
      a = addTerm(a, _mm_shuffle_ps(x, x, 0xFF), m3, v3);
      acc[f] = a;
    }
  }
  for (; j < dim; ++j) {
    const __m128 mj = _mm_setr_ps(m[0][j], m[1][j], m[2][j], m[3][j]);
    const __m128 vj = _mm_setr_ps(v[0][j], v[1][j], v[2][j], v[3][j]);
    for (int f = 0; f < Frames; ++f) acc[f] = addTerm(acc[f], _mm_set1_ps(frames[f][j]), mj, vj);
  }
  for (int f = 0; f < Frames; ++f) _mm_storeu_ps(sums + 4 * f, acc[f]);
}

#endif

}  // namespace

float* alignedAlloc(std::ptrdiff_t n) {
  if (n < 1) return nullptr;
  const std::size_t count = static_cast<std::size_t>(n);
  if (count > (SIZE_MAX - kAlignment - kAddressBytes) / sizeof(float)) return nullptr;
  unsigned char* raw = static_cast<unsigned char*>(std::malloc(count * sizeof(float) + kAlignment + kAddressBytes));
  if (raw == nullptr) return nullptr;
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (address + kAddressBytes + kAlignment - 1) & ~(kAlignment - 1);
  unsigned char* block = raw + (aligned - address);
  std::memcpy(block - kAddressBytes, &raw, kAddressBytes);
  return reinterpret_cast<float*>(block);
}

void alignedFree(float* p) {
  if (p == nullptr) return;
  void* raw;
  std::memcpy(&raw, reinterpret_cast<unsigned char*>(p) - kAddressBytes, kAddressBytes);
  std::free(raw);
}

const char* statusMessage(int status) {
  switch (status) {
    case kGmmNoError:
      return "No error, it's OK";
    case kGmmSizeError:
      return "Wrong value of data size";
    case kGmmNullPointerError:
      return "Null pointer error";
    case kGmmStrideError:
      return "Stride value is less than the row length";
    default:
      return "Unknown Status Code";
  }
}

const double logAddTables[3][12] = {
    {-6.7801037158011036e-07, -8.2771039598335892e-06, -3.1261214564328406e-05, 2.1955075181092877e-05,
     0.00040621089071650972, 6.9100124783347811e-05, -0.0051637374008504039, 1.5878560708463796e-05,
     0.12500281840635399, 0.50000019239816351, 0.69314718272150622, 0.0},
    {-7.0832377023752187e-09, -1.8491608098957698e-07, -2.0946493995218231e-06, -1.2793327302109763e-05,
     -3.4842057389070787e-05, 0.00010764583059022215, 0.0016847989052690858, 0.0095823617747415376,
     0.033592464138937767, 0.072426698186812091, 0.075183230278224988, 0.0},
    {6.5360449621230683e-12, 3.4510675551141127e-10, 8.2303861282806754e-09, 1.183290602139997e-07,
     1.1579083567207759e-06, 8.2576274556742701e-06, 4.4580314143896419e-05, 0.00018342101716467817,
     0.00055494812902653228, 0.0011123966452324845, 0.0011131507706311817, 0.0},
};

float logAdd(float a, float b) {
  const float m = std::max(a, b);
  const float d = std::min(a, b) - m;
  if (!(d >= kLogAddRange)) return std::max(m, kLogFloor);
  // The piece is chosen without a jump: the components of a mixture fall on
  // either side of the piece edges at random, and mispredicted jumps would
  // cost more than the polynomial.
  static const double kPieceShift[3] = {0.0, 2.55, 6.8};
  const int piece = (d <= -2.55) + (d <= -6.8);
  const double* c = logAddTables[piece];
  const double t = d + kPieceShift[piece];
  double p = c[0];
  for (int k = 1; k <= 10; ++k) p = c[k] + t * p;
  return static_cast<float>(m + p);
}

int logGaussMixture(const float* x, const float* means, const float* inverseVariances, int nComp, int step, int dim,
                    const float* logConstants, float* result) {
  const int status = argumentStatus(x, means, inverseVariances, nComp, step, dim, logConstants, result);
  if (status != kGmmNoError) return status;
  mixtureOfFrames(&x, 1, means, inverseVariances, nComp, step, dim, logConstants, result);
  return kGmmNoError;
}

// ---------------------------------------------------------------- GMM

GMM::GMM(const GMM& other) : nComp(other.nComp), dim(other.dim), step(other.step) {
  const std::ptrdiff_t cells = other.means != nullptr ? static_cast<std::ptrdiff_t>(nComp) * step : 0;
  const std::ptrdiff_t components = other.logConstants != nullptr ? nComp : 0;
  means = alignedAlloc(cells);
  inverseVariances = alignedAlloc(cells);
  logConstants = alignedAlloc(components);
  if ((cells > 0 && (means == nullptr || inverseVariances == nullptr)) || (components > 0 && logConstants == nullptr)) {
    release();
    throw std::bad_alloc();
  }
  if (cells > 0) {
    std::memcpy(means, other.means, static_cast<std::size_t>(cells) * sizeof(float));
    std::memcpy(inverseVariances, other.inverseVariances, static_cast<std::size_t>(cells) * sizeof(float));
  }
  if (components > 0) std::memcpy(logConstants, other.logConstants, static_cast<std::size_t>(components) * sizeof(float));
}

GMM::~GMM() { release(); }

void GMM::release() {
  for (float** array : {&reserved, &means, &inverseVariances, &logConstants}) {
    alignedFree(*array);
    *array = nullptr;
  }
}

void GMM::set(const BaseMatrix<float>& model) {
  release();
  nComp = static_cast<int>(model.rows);
  // Signed, so that a matrix without columns has dimension 0.
  dim = step = static_cast<int>((static_cast<int64_t>(model.cols) - 1) / 2);
  if (nComp < 1 || dim < 1) return;
  const std::ptrdiff_t cells = static_cast<std::ptrdiff_t>(nComp) * dim;
  means = alignedAlloc(cells);
  inverseVariances = alignedAlloc(cells);
  logConstants = alignedAlloc(nComp);
  if (means == nullptr || inverseVariances == nullptr || logConstants == nullptr) {
    release();
    throw std::bad_alloc();
  }
  for (int i = 0; i < nComp; ++i) {
    const float* row = model.getRow(static_cast<unsigned>(i)).data;
    logConstants[i] = row[0];
    std::copy_n(row + 1, dim, means + static_cast<std::size_t>(i) * dim);
    std::copy_n(row + 1 + dim, dim, inverseVariances + static_cast<std::size_t>(i) * dim);
  }
}

double GMM::LogLHPerFrame(const float* data, unsigned rows, unsigned columns) const {
  if (static_cast<int64_t>(columns) != dim || static_cast<int64_t>(columns) != step)
    throw std::string("GMM::LogLHPerFrame(): Incompatible feature");
  if (rows == 0) return 0.0;
  float result = 0.0f;
  const int status = argumentStatus(data, means, inverseVariances, nComp, step, dim, logConstants, &result);
  if (status < 0) throwStatus(status);

  double sum = 0.0;
  float results[4];
  const float* frames[4];
  for (unsigned f = 0; f < rows; f += 4) {
    const int count = static_cast<int>(std::min(4u, rows - f));
    for (int k = 0; k < count; ++k) frames[k] = data + static_cast<std::size_t>(f + k) * columns;
    mixtureOfFrames(frames, count, means, inverseVariances, nComp, step, dim, logConstants, results);
    for (int k = 0; k < count; ++k) sum += results[k];
  }
  return sum / rows;
}

// ---------------------------------------------------------------- kernels

namespace gmm_detail {

void weightedDistancesPlain(const float* const* frames, int frameCount, const float* means,
                            const float* inverseVariances, int step, int dim, const int* rows, float* sums) {
  for (int f = 0; f < frameCount; ++f) {
    const float* x = frames[f];
    for (int k = 0; k < 4; ++k) {
      const std::size_t offset = static_cast<std::size_t>(rows[k]) * static_cast<std::size_t>(step);
      const float* m = means + offset;
      const float* v = inverseVariances + offset;
      float sum = 0.0f;
      for (int j = 0; j < dim; ++j) {
        const float d = x[j] - m[j];
        sum = sum + d * d * v[j];
      }
      sums[f * 4 + k] = sum;
    }
  }
}

void weightedDistancesVector(const float* const* frames, int frameCount, const float* means,
                             const float* inverseVariances, int step, int dim, const int* rows, float* sums) {
#ifdef KIVET_GMM_SSE2
  switch (frameCount) {
    case 1:
      return weightedDistancesSse2<1>(frames, means, inverseVariances, step, dim, rows, sums);
    case 2:
      return weightedDistancesSse2<2>(frames, means, inverseVariances, step, dim, rows, sums);
    case 3:
      return weightedDistancesSse2<3>(frames, means, inverseVariances, step, dim, rows, sums);
    default:
      return weightedDistancesSse2<4>(frames, means, inverseVariances, step, dim, rows, sums);
  }
#else
  weightedDistancesPlain(frames, frameCount, means, inverseVariances, step, dim, rows, sums);
#endif
}

bool vectorKernelAvailable() {
#ifdef KIVET_GMM_SSE2
  return true;
#else
  return false;
#endif
}

}  // namespace gmm_detail
