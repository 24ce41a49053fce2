#include "similarity/gmm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "tests/support/expect_message.h"
#include "tests/support/signals.h"

namespace {

// A model matrix of nComp components of dimension dim with noise means, log
// constants in [-3, -1] and inverse variances in [0.5, 1.5].
HeapMatrix<float> randomModel(unsigned nComp, unsigned dim, uint32_t seed) {
  const std::vector<float> noise = testsignals::noise(nComp * (1 + 2 * dim), seed);
  HeapMatrix<float> model(nComp, 1 + 2 * dim, 0.0f);
  for (unsigned i = 0; i < model.elementCount(); ++i) model.data[i] = noise[i];
  for (unsigned c = 0; c < nComp; ++c) {
    model(c, 0) = -2.0f + model(c, 0);
    for (unsigned j = 0; j < dim; ++j) model(c, 1 + dim + j) = 1.0f + 0.5f * model(c, 1 + dim + j);
  }
  return model;
}

// ln(sum of exp(c_i)) in double, the component densities computed plainly.
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
  // Equal inputs: m + P1(0).
  EXPECT_EQ(logAdd(3.0f, 3.0f), static_cast<float>(3.0f + 0.69314718272150622));
  EXPECT_EQ(logAdd(0.0f, -20.0f), 0.0f);
  EXPECT_EQ(logAdd(-20.0f, 0.0f), 0.0f);
  EXPECT_EQ(logAdd(-5.0e6f, -5.1e6f), -4.5e6f);
  // Over the whole polynomial range the pieces approximate ln(1 + e^d).
  for (double d = 0.0; d >= -15.3; d -= 0.01) {
    const float value = logAdd(1.0f, static_cast<float>(1.0 + d));
    EXPECT_NEAR(value, 1.0 + std::log1p(std::exp(d)), 2e-6) << d;
  }
}

TEST(GmmKernel, StatusChecksInOrderWriteNothing) {
  const float x[2] = {0, 0}, means[2] = {0, 0}, ivar[2] = {1, 1}, lc[1] = {0};
  struct Case {
    const float* x;
    const float* means;
    int nComp, step, dim;
    const float* lc;
    int status;
    const char* text;
  } cases[] = {
      {nullptr, means, 1, 2, 2, lc, -8, "Null pointer error"},
      {x, means, 1, 2, 2, nullptr, -8, "Null pointer error"},
      {x, means, 0, 1, 2, lc, -37, "Stride value is less than the row length"},
      {x, means, 0, 2, 2, lc, -6, "Wrong value of data size"},
      {x, means, 1, 2, 0, lc, -6, "Wrong value of data size"},
      {x, means, 1, 2, 2, lc, 0, "No error, it's OK"},
  };
  for (const Case& c : cases) {
    float result = 99.0f;
    EXPECT_EQ(logGaussMixture(c.x, c.means, ivar, c.nComp, c.step, c.dim, c.lc, &result), c.status);
    EXPECT_STREQ(statusMessage(c.status), c.text);
    EXPECT_EQ(result == 99.0f, c.status != 0);
  }
  EXPECT_EQ(logGaussMixture(x, means, ivar, 1, 2, 2, lc, nullptr), -8);
  EXPECT_STREQ(statusMessage(5), "Unknown Status Code");
}

TEST(GmmKernel, MatchesDoubleReferenceAndOneComponentExactly) {
  for (unsigned nComp : {1u, 3u, 4u, 5u, 32u}) {
    for (unsigned dim : {1u, 3u, 4u, 7u, 20u}) {
      const HeapMatrix<float> model = randomModel(nComp, dim, nComp * 100 + dim);
      GMM gmm;
      gmm.set(model);
      const std::vector<float> x = testsignals::noise(dim, dim + 7);
      float result = 0.0f;
      ASSERT_EQ(logGaussMixture(x.data(), gmm.getMeans(), gmm.getInverseVariances(), nComp, dim, dim,
                                gmm.getLogConstants(), &result),
                0);
      EXPECT_NEAR(result, referenceMixture(model, x.data()), 2e-5 * nComp) << nComp << " x " << dim;
      if (nComp != 1) continue;
      float sum = 0.0f;
      for (unsigned j = 0; j < dim; ++j) sum = sum + (x[j] - model(0, 1 + j)) * (x[j] - model(0, 1 + j)) * model(0, 1 + dim + j);
      EXPECT_EQ(result, 0.5f * (2.0f * model(0, 0) - sum));
    }
  }
}

TEST(GmmKernel, VectorFormGivesThePlainLoopsBits) {
#if defined(__SSE2__) || defined(_M_X64)
  EXPECT_TRUE(gmm_detail::vectorKernelAvailable());
#endif
  const unsigned step = 25;
  const std::vector<float> means = testsignals::noise(6 * step, 3, 4.0);
  const std::vector<float> ivar = testsignals::noise(6 * step, 4, 2.0);
  const std::vector<float> data = testsignals::noise(4 * step, 5, 4.0);
  const float* frames[4] = {&data[0], &data[step], &data[2 * step], &data[3 * step]};
  const int rows[4] = {5, 0, 3, 3};
  for (int frameCount = 1; frameCount <= 4; ++frameCount) {
    for (int dim = 1; dim <= static_cast<int>(step); ++dim) {
      float plain[16], vector[16];
      gmm_detail::weightedDistancesPlain(frames, frameCount, means.data(), ivar.data(), step, dim, rows, plain);
      gmm_detail::weightedDistancesVector(frames, frameCount, means.data(), ivar.data(), step, dim, rows, vector);
      EXPECT_EQ(std::memcmp(plain, vector, sizeof(float) * 4 * frameCount), 0) << frameCount << " frames, " << dim;
    }
  }
}

TEST(Gmm, LogLikelihoodPerFrame) {
  // Components [log constant, mean, inverse variance]: frames 0 and 2 give -10 and -20.
  HeapMatrix<float> single(1, 3, 0.0f);
  single(0, 0) = -10.0f;
  single(0, 2) = 5.0f;
  GMM gmm;
  gmm.set(single);
  const float two[2] = {0.0f, 2.0f};
  EXPECT_EQ(gmm.LogLHPerFrame(two, 2, 1), -15.0);
  EXPECT_EQ(gmm.LogLHPerFrame(two, 0, 1), 0.0);
  expectThrowMessage<std::string>([&] { gmm.LogLHPerFrame(two, 2, 2); }, "GMM::LogLHPerFrame(): Incompatible feature");

  // Seven frames (a pass of four and one of three) give the frames' kernel results, summed in order.
  const HeapMatrix<float> model = randomModel(6, 5, 9);
  gmm.set(model);
  const GMM copy(gmm);
  const std::vector<float> frames = testsignals::noise(7 * 5, 11);
  double sum = 0.0;
  for (unsigned f = 0; f < 7; ++f) {
    float full = 0.0f;
    logGaussMixture(&frames[f * 5], copy.getMeans(), copy.getInverseVariances(), 6, 5, 5, copy.getLogConstants(), &full);
    sum += full;
  }
  EXPECT_EQ(gmm.LogLHPerFrame(frames.data(), 7, 5), sum / 7);
  EXPECT_EQ(copy.LogLHPerFrame(frames.data(), 7, 5), sum / 7);
  EXPECT_NE(copy.getMeans(), gmm.getMeans());

  // No components, or fewer than three columns: null arrays, reported as -8.
  for (const HeapMatrix<float>& empty : {HeapMatrix<float>(0, 5, 0.0f), HeapMatrix<float>(2, 2, 0.0f)}) {
    GMM none;
    none.set(empty);
    EXPECT_EQ(none.getMeans(), nullptr);
    const unsigned columns = static_cast<unsigned>(none.getDimension());
    try {
      none.LogLHPerFrame(two, 1, columns);
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
