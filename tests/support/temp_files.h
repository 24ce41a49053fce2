#pragma once
// Files of the running test in the temporary directory: tests that run side
// by side never share one.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

inline std::string tempPath(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "kivet_" + test->test_suite_name() + "_" + test->name() + "_" + name;
}

inline std::string writeFile(const std::string& name, const std::string& bytes) {
  const std::string path = tempPath(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testfiles
