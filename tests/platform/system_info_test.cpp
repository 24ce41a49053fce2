#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(SystemInfo, TickCountCountsMilliseconds) {
  const uint32_t before = platform::tickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // Unsigned subtraction is right across a wrap too; Windows' count moves in
  // steps of up to 16 ms.
  const uint32_t elapsed = platform::tickCount() - before;
  EXPECT_GE(elapsed, 180u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(SystemInfo, VersionFromRelease) {
  const struct {
    const char* release;
    unsigned majorVersion, minorVersion;
  } cases[] = {{"6.1.0-18-amd64", 6, 1}, {"4.20.17", 4, 20}, {"10", 10, 0}, {"3.x", 3, 0},
               {"123.4567", 23, 67},     {"v6.1", 0, 0},     {"", 0, 0},    {nullptr, 0, 0}};
  for (const auto& c : cases) {
    const platform::OsVersion version = platform::osVersionFromRelease(c.release);
    EXPECT_EQ(version.majorVersion, c.majorVersion) << (c.release ? c.release : "null");
    EXPECT_EQ(version.minorVersion, c.minorVersion) << (c.release ? c.release : "null");
  }
  // Linux from 3 on, Windows from XP (5) on; two digits each.
  const platform::OsVersion running = platform::osVersion();
  EXPECT_GE(running.majorVersion, 3u);
  EXPECT_LT(running.majorVersion, 100u);
  EXPECT_LT(running.minorVersion, 100u);
}
