#include "platform/cpu_features.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

// Linux lists the processor's features, those the kernel supports, in
// /proc/cpuinfo; elsewhere (under Wine too) there is nothing to compare with.
TEST(CpuFeatures, Avx2FmaAsTheSystemReportsThem) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
  }
  if (line.empty()) GTEST_SKIP() << "no /proc/cpuinfo";
  std::istringstream words(line.substr(line.find(':') + 1));
  bool avx2 = false, fma = false;
  for (std::string word; words >> word;) {
    avx2 = avx2 || word == "avx2";
    fma = fma || word == "fma";
  }
  EXPECT_EQ(platform::cpuHasAvx2Fma(), avx2 && fma);
}
