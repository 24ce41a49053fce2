#pragma once
// The diagonal Gaussian mixture of a Gaussian-mixture aspect, and the
// log-domain mixture kernel that scores one feature vector against it.
//
// The kernel keeps the conventions of the Intel IPP mixture function it stands
// in for: eight arguments, an integer status (0 success, negative error,
// positive warning) and IPP's status texts. Components are combined with a
// log-add built from three fixed polynomials instead of exp and log.
//
// Model matrix of a mixture (one row per component, 1 + 2 x dim columns, dim =
// (columns - 1) / 2, so that a last column of an even count is not read):
//   column 0               log constant of the component
//   columns 1 .. dim       means
//   columns dim+1 .. 2 dim inverse variances (0: the dimension plays no part)

#include <cstddef>

#include "metadata/sources/vmtl/base_matrix.h"

// Float arrays whose first element lies on a 32-byte boundary, for the
// vectorised kernel. n < 1 and a failed allocation give null.
float* alignedAlloc(std::ptrdiff_t n);
void alignedFree(float* p);

// Status codes of the kernel and their IPP texts.
enum GmmStatus { kGmmNoError = 0, kGmmSizeError = -6, kGmmNullPointerError = -8, kGmmStrideError = -37 };
// The IPP text of a status; "Unknown Status Code" for any other value.
const char* statusMessage(int status);

// Coefficients c0 .. c10 of the three pieces of the log-add polynomial
// (and an unused 0.0), P1 first.
extern const double logAddTables[3][12];

// ln(e^a + e^b) from the polynomial pieces; inputs more than 15.32 apart give
// the larger one, but never less than -4.5e6.
float logAdd(float a, float b);

// The log-likelihood of x under the mixture: each component's log density
// c_i = 0.5 x (2 x logconst[i] - sum_j (x[j] - mean[i][j])^2 x ivar[i][j]),
// row i of means and ivar starting at i x step, log-added in component order.
int logGaussMixture(const float* x, const float* means, const float* inverseVariances, int nComp, int step, int dim,
                    const float* logConstants, float* result);

class GMM {
 public:
  GMM() = default;
  // A deep copy of the arrays.
  GMM(const GMM& other);
  GMM& operator=(const GMM&) = delete;
  ~GMM();

  // nComp = rows, dim = step = (columns - 1) / 2, the arrays filled from the
  // model matrix. A model without components or with fewer than three
  // columns leaves the arrays null, which the first evaluation reports.
  void set(const BaseMatrix<float>& model);

  // The mean per-frame log-likelihood of a row-major matrix of frames. A
  // column count other than dim throws the std::string "GMM::LogLHPerFrame():
  // Incompatible feature"; a kernel error throws the C string "IPP error %d,
  // %s". No frames give 0.0.
  double LogLHPerFrame(const float* data, unsigned rows, unsigned columns) const;

  int getComponentCount() const { return nComp; }
  int getDimension() const { return dim; }
  const float* getMeans() const { return means; }
  const float* getInverseVariances() const { return inverseVariances; }
  const float* getLogConstants() const { return logConstants; }

 private:
  void release();

  float* reserved = nullptr;  // never allocated
  float* means = nullptr;
  float* inverseVariances = nullptr;
  float* logConstants = nullptr;
  int nComp = 0;
  int dim = 0;
  int step = 0;
};

namespace gmm_detail {

// The components' weighted squared distances, four components per pass:
// sums[f * 4 + k] = sum over j < dim, from j = 0 up, of
// ((x_f[j] - mean[r_k][j]) * (x_f[j] - mean[r_k][j])) * ivar[r_k][j], in float,
// for the rows r_k = rows[k] and the frames x_f = frames[f], f < frameCount
// (at most 4). The vector form adds each lane's terms in the same order as the
// plain loop, so both give the same bits.
void weightedDistancesPlain(const float* const* frames, int frameCount, const float* means,
                            const float* inverseVariances, int step, int dim, const int* rows, float* sums);
void weightedDistancesVector(const float* const* frames, int frameCount, const float* means,
                             const float* inverseVariances, int step, int dim, const int* rows, float* sums);
// Whether weightedDistancesVector uses vector instructions on this build.
bool vectorKernelAvailable();

}  // namespace gmm_detail
