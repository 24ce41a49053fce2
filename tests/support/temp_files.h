#pragma once
// Files of the running test. Each test has a folder of its own under the
// temporary directory (GoogleTest's TempDir()), made when the test first asks
// for a path and removed with everything in it when the test ends, passed or
// failed: GoogleTest ends a test also after a failed assertion or an
// exception. Tests that run side by side never share a folder, nor do two runs
// of the same test at once.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace testfiles {

namespace detail {

// Removes path and what it holds, also what a test took its own write
// permission from: no system enters a folder without it, and Windows deletes
// no read-only file. Links are removed, not followed.
inline void removeAll(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  const fs::file_status status = fs::symlink_status(path, ignored);
  if (fs::is_regular_file(status)) fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ignored);
  if (fs::is_directory(status)) {
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(path, ignored), end; it != end; it.increment(ignored))
      entries.push_back(it->path());
    for (const fs::path& entry : entries) removeAll(entry);
  }
  fs::remove(path, ignored);
}

// Gives the running test its folder and removes it when the test ends. One
// per process, handed to GoogleTest's listeners on first use.
class TestFolders : public ::testing::EmptyTestEventListener {
 public:
  static TestFolders& instance() {
    static TestFolders* const folders = [] {
      auto* made = new TestFolders;
      ::testing::UnitTest::GetInstance()->listeners().Append(made);  // GoogleTest deletes it
      return made;
    }();
    return *folders;
  }

  // Threads of one test share its folder.
  std::filesystem::path current() {
    const std::lock_guard<std::mutex> lock(mutex);
    if (folder.empty()) folder = make();
    return folder;
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    const std::lock_guard<std::mutex> lock(mutex);
    if (folder.empty()) return;
    removeAll(folder);
    if (std::filesystem::exists(folder)) std::cerr << "testfiles: could not remove " << folder.string() << '\n';
    folder.clear();
  }

 private:
  static std::filesystem::path make() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test == nullptr) throw std::logic_error("testfiles: a test's files are asked for outside any test");
    std::string name = std::string(test->test_suite_name()) + "_" + test->name();
    for (char& c : name)
      if (c == '/') c = '_';  // parameterised tests
    // The token keeps two runs of the test apart; a folder that exists
    // already is another's, so the next token is tried.
    auto token = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;; ++token) {
      const std::filesystem::path path = ::testing::TempDir() + "kivet_" + std::to_string(token) + "_" + name;
      if (!std::filesystem::create_directory(path)) continue;
      // Some tests hand files in it to another user, who must reach them.
      std::filesystem::permissions(path, std::filesystem::perms::group_exec | std::filesystem::perms::others_exec,
                                   std::filesystem::perm_options::add);
      return path;
    }
  }

  std::mutex mutex;
  std::filesystem::path folder;
};

}  // namespace detail

inline std::string tempPath(const std::string& name) {
  return (detail::TestFolders::instance().current() / name).string();
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
