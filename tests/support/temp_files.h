#pragma once
// Files of the running test in the temporary directory: tests that run side
// by side never share one, nor do two runs of the same test at once (the
// name carries a token of the process).

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

namespace testfiles {

inline std::string tempPath(const std::string& name) {
  static const std::string process = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "kivet_" + process + "_" + test->test_suite_name() + "_" + test->name() + "_" + name;
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
