#include "similarity/gmm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "tests/support/expect_message.h"
#include "tests/support/signals.h"

namespace {

// ln(sum of exp(c_i)), each component's density computed plainly in double.
double referenceMixture(const HeapMatrix<float>& model, const float* x) {
  const unsigned dim = (model.cols - 1) / 2;
  double total = 0.0;
  for (unsigned i = 0; i < model.rows; ++i) {
    double sum = 0.0;
    for (unsigned j = 0; j < dim; ++j) sum += std::pow(x[j] - model(i, 1 + j), 2) * model(i, 1 + dim + j);
    total += std::exp(model(i, 0) - 0.5 * sum);
  }
  return std::log(total);
}

TEST(GmmLogAdd, PiecesFollowLnOnePlusExpAndFloor) {
  EXPECT_EQ(logAdd(3.0f, 3.0f), static_cast<float>(3.0f + 0.69314718272150622));
  EXPECT_EQ(logAdd(0.0f, -20.0f), 0.0f);
  EXPECT_EQ(logAdd(-20.0f, 0.0f), 0.0f);
  EXPECT_EQ(logAdd(-5.0e6f, -5.1e6f), -4.5e6f);
  // Every coefficient of the three pieces shows in this sweep.
  for (double d = 0.0; d >= -15.3; d -= 0.01)
    EXPECT_NEAR(logAdd(1.0f, static_cast<float>(1.0 + d)), 1.0 + std::log1p(std::exp(d)), 2e-6) << d;
}

TEST(GmmKernel, StatusChecksInOrderWriteNothing) {
  const float x[2] = {0, 0}, ivar[2] = {1, 1}, lc[1] = {0};
  float result = 99.0f;
  const struct {
    const float *x, *lc;
    float* result;
    int nComp, step, dim, status;
  } cases[] = {
      {nullptr, lc, &result, 1, 2, 2, -8}, {x, nullptr, &result, 1, 2, 2, -8}, {x, lc, nullptr, 1, 2, 2, -8},
      {x, lc, &result, 0, 1, 2, -37},      {x, lc, &result, 0, 2, 2, -6},      {x, lc, &result, 1, 2, 0, -6},
  };
  for (const auto& c : cases) EXPECT_EQ(logGaussMixture(c.x, x, ivar, c.nComp, c.step, c.dim, c.lc, c.result), c.status);
  EXPECT_EQ(result, 99.0f);
  EXPECT_EQ(logGaussMixture(x, x, ivar, 1, 2, 2, lc, &result), 0);
  EXPECT_EQ(result, 0.0f);
  const std::pair<int, const char*> texts[] = {{0, "No error, it's OK"},
                                               {-6, "Wrong value of data size"},
                                               {-8, "Null pointer error"},
                                               {-37, "Stride value is less than the row length"},
                                               {5, "Unknown Status Code"}};
  for (const auto& [status, text] : texts) EXPECT_STREQ(statusMessage(status), text);
}

TEST(GmmKernel, MatchesReferenceAndPlainLoopsInEveryPass) {
#if defined(__SSE2__) || defined(_M_X64)
  EXPECT_TRUE(gmm_detail::vectorKernelAvailable());
#endif
  for (unsigned nComp : {1u, 3u, 4u, 5u, 32u}) {
    for (unsigned dim : {1u, 2u, 3u, 4u, 7u, 20u}) {
      // Log constants in [-3, -1], noise means, inverse variances in [0.5, 1.5].
      HeapMatrix<float> model(nComp, 1 + 2 * dim, 0.0f);
      const std::vector<float> noise = testsignals::noise(model.elementCount(), nComp * 100 + dim);
      std::copy(noise.begin(), noise.end(), model.data);
      for (unsigned c = 0; c < nComp; ++c) {
        model(c, 0) -= 2.0f;
        for (unsigned j = 0; j < dim; ++j) model(c, 1 + dim + j) = 1.0f + 0.5f * model(c, 1 + dim + j);
      }
      GMM gmm;
      gmm.set(model);
      // Seven frames make a pass of four and one of three.
      const std::vector<float> frames = testsignals::noise(7 * dim, dim + 7, 2.0);
      double sum = 0.0;
      for (unsigned f = 0; f < 7; ++f) {
        const float* x = &frames[f * dim];
        float result = 0.0f;
        ASSERT_EQ(logGaussMixture(x, gmm.getMeans(), gmm.getInverseVariances(), nComp, dim, dim, gmm.getLogConstants(),
                                  &result), 0);
        EXPECT_NEAR(result, referenceMixture(model, x), 2e-5 * nComp) << nComp << " x " << dim;
        sum += result;
        if (nComp != 1) continue;
        float d2 = 0.0f;
        for (unsigned j = 0; j < dim; ++j) d2 = d2 + (x[j] - model(0, 1 + j)) * (x[j] - model(0, 1 + j)) * model(0, 1 + dim + j);
        EXPECT_EQ(result, 0.5f * (2.0f * model(0, 0) - d2));
      }
      EXPECT_EQ(GMM(gmm).LogLHPerFrame(frames.data(), 7, dim), sum / 7);

      // The vector form adds each lane's terms in the plain loop's order.
      const float* x[4] = {&frames[0], &frames[dim], &frames[2 * dim], &frames[3 * dim]};
      const int rows[4] = {static_cast<int>(nComp) - 1, 0, static_cast<int>(nComp) / 2, static_cast<int>(nComp) - 1};
      for (int count = 1; count <= 4; ++count) {
        float plain[16], vector[16];
        gmm_detail::weightedDistancesPlain(x, count, gmm.getMeans(), gmm.getInverseVariances(), dim, dim, rows, plain);
        gmm_detail::weightedDistancesVector(x, count, gmm.getMeans(), gmm.getInverseVariances(), dim, dim, rows, vector);
        EXPECT_EQ(std::memcmp(plain, vector, sizeof(float) * 4 * count), 0) << nComp << " x " << dim << ", " << count;
      }
    }
  }
}

TEST(Gmm, LogLikelihoodPerFrameAndItsFailures) {
  // One component [log constant, mean, inverse variance]: frames 0 and 2 give -10 and -20.
  const float single[3] = {-10.0f, 0.0f, 5.0f}, two[2] = {0.0f, 2.0f};
  GMM gmm;
  gmm.set(BaseMatrix<float>(const_cast<float*>(single), 1, 3));
  EXPECT_EQ(gmm.LogLHPerFrame(two, 2, 1), -15.0);
  EXPECT_EQ(gmm.LogLHPerFrame(two, 0, 1), 0.0);  // no frames: 0, not 0 / 0
  expectThrowMessage<std::string>([&] { gmm.LogLHPerFrame(two, 2, 2); }, "GMM::LogLHPerFrame(): Incompatible feature");
  // No components, or fewer than three columns: null arrays, reported by the first evaluation.
  for (const HeapMatrix<float>& empty : {HeapMatrix<float>(0, 5, 0.0f), HeapMatrix<float>(2, 2, 0.0f)}) {
    GMM none;
    none.set(empty);
    EXPECT_EQ(none.getMeans(), nullptr);
    try {
      none.LogLHPerFrame(two, 1, static_cast<unsigned>(none.getDimension()));
      ADD_FAILURE() << "no error";
    } catch (char* text) {
      EXPECT_STREQ(text, "IPP error -8, Null pointer error");
    }
  }
}

TEST(Gmm, AlignedArrays) {
  EXPECT_EQ(alignedAlloc(0), nullptr);
  EXPECT_EQ(alignedAlloc(-3), nullptr);
  alignedFree(nullptr);
  for (int n = 1; n <= 40; ++n) {
    float* block = alignedAlloc(n);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u);
    std::fill_n(block, n, 1.0f);  // the sanitizer build catches a block that is too short
    alignedFree(block);
  }
}

}  // namespace
