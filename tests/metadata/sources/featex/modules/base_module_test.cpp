#include "metadata/sources/featex/modules/base_module.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(BaseModule, ParameterTextAndTruncation) {
  const char* text = "lf=250 (uf=11025) nb=-3 rs=99999999999 xnb=5 ";
  float value = -1.0f;
  ASSERT_TRUE(readFloatParameter(text, "uf", value));  // found inside "(uf="
  EXPECT_EQ(value, 11025.0f);
  int32_t count = 7;
  ASSERT_TRUE(readIntParameter(text, "nb", count));  // the first occurrence wins
  EXPECT_EQ(count, -3);
  ASSERT_TRUE(readIntParameter(text, "rs", count));
  EXPECT_EQ(count, 2147483647);  // the 32-bit atoi saturates
  EXPECT_FALSE(readIntParameter(text, "ln", count));
  EXPECT_FALSE(readIntParameter(nullptr, "nb", count));
  EXPECT_EQ(count, 2147483647);

  EXPECT_EQ(truncToUnsigned(92.9), 92u);
  EXPECT_EQ(truncToUnsigned(-5.5), 4294967291u);
  EXPECT_EQ(truncToUnsigned(4294967296.0 + 3), 3u);
  EXPECT_EQ(truncToUnsigned(NAN), 0u);
  EXPECT_EQ(truncToInt(4294967295.0), -1);
}

TEST(BaseModule, QuarterOctaveGridAndNyquistAdaptation) {
  EXPECT_EQ(quarterOctaveUpperEdge(8), 1000);
  EXPECT_EQ(quarterOctaveUpperEdge(16), 4000);
  EXPECT_EQ(quarterOctaveUpperEdge(24), 16000);
  // At 22050 Hz, 26 bands lower through 25..22 (11313 is still at or above
  // 11025) to 21 bands ending at 9513 Hz.
  for (int nb = 25; nb >= 22; --nb) EXPECT_GE(quarterOctaveUpperEdge(nb), 11025) << nb;
  Settings global;
  int64_t nb = 26;
  int32_t uf = 0;
  adaptToNyquist(nb, uf, 22050, &global, true);
  EXPECT_EQ(nb, 21);
  EXPECT_EQ(uf, 9513);
  EXPECT_EQ(global.getString("auf"), "9513");
  EXPECT_EQ(global.getString("anb"), "21");

  // Without writeBands only "auf"; an upper edge exactly at the limit is
  // lowered too (16 bands end at 4000 = 8000 / 2).
  Settings onlyEdge;
  nb = 16;
  adaptToNyquist(nb, uf, 8000, &onlyEdge, false);
  EXPECT_EQ(nb, 15);
  EXPECT_EQ(uf, quarterOctaveUpperEdge(15));
  EXPECT_FALSE(onlyEdge.contains("anb"));

  // Below 2 Hz nothing fits under the limit; the lowering still ends.
  nb = 4;
  adaptToNyquist(nb, uf, 1, &onlyEdge, false);
  EXPECT_EQ(uf, 0);
  EXPECT_EQ(quarterOctaveUpperEdge(nb + 1), 1);
}

}  // namespace
