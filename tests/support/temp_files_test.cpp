// The test folders of temp_files.h go with their tests, also with those that
// fail. Two tests here fail on purpose; main runs them all and passes when
// exactly those two failed and no folder that any test saw is left.

#include "tests/support/temp_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The folder each test saw, in the order the tests ran.
std::vector<fs::path> seen;

// Files, a nested folder, a read-only file (on Windows, one with the
// read-only attribute) and a folder without write permission, as a test may
// leave them.
void fill() {
  const fs::path folder = fs::path(testfiles::tempPath("a")).parent_path();
  seen.push_back(folder);
  testfiles::writeFile("a", "bytes");
  fs::permissions(testfiles::tempPath("a"), fs::perms::owner_read);
  fs::create_directories(testfiles::tempPath("b/c"));
  testfiles::writeFile("b/c/d", "more bytes");
  fs::permissions(testfiles::tempPath("b"), fs::perms::owner_read | fs::perms::owner_exec);
}

TEST(TempFiles, EachTestHasAFolderOfItsOwn) {
  fill();
  const fs::path folder = seen.back();
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(fs::path(testfiles::tempPath("b/c/d")), folder / "b/c/d");
  EXPECT_EQ(testfiles::readFile(testfiles::tempPath("b/c/d")), "more bytes");
  EXPECT_EQ(folder.parent_path(), fs::path(::testing::TempDir()).parent_path());
  EXPECT_THAT(folder.filename().string(), ::testing::EndsWith("_TempFiles_EachTestHasAFolderOfItsOwn"));
}

TEST(TempFiles, AnotherTestHasAnother) {
  fill();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_FALSE(fs::exists(seen[0]));
}

TEST(TempFiles, FailsOnPurposeAtAnAssertion) {
  fill();
  FAIL() << "on purpose: the folder goes all the same";
}

TEST(TempFiles, FailsOnPurposeByAnException) {
  fill();
  throw std::runtime_error("on purpose: the folder goes all the same");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const bool failures = RUN_ALL_TESTS() != 0;
  const ::testing::UnitTest& run = *::testing::UnitTest::GetInstance();
  int status = 0;
  if (!failures || run.successful_test_count() != 2 || run.failed_test_count() != 2) {
    std::cerr << "temp_files_test: " << run.successful_test_count() << " tests passed and "
              << run.failed_test_count() << " failed, not 2 and the 2 that fail on purpose\n";
    status = 1;
  }
  for (const fs::path& folder : seen)
    if (fs::exists(folder)) {
      std::cerr << "temp_files_test: left " << folder.string() << '\n';
      status = 1;
    }
  if (seen.size() != 4) {
    std::cerr << "temp_files_test: " << seen.size() << " tests made files, not 4\n";
    status = 1;
  }
  return status;
}
