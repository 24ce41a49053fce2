#pragma once
// What every fuzz target of a stored-format reader checks besides what the
// sanitizers catch: the reader returns, or throws one of the exception types
// it is documented to throw (each target catches exactly those; anything else
// escapes and ends the run), within a memory budget proportional to its input.
//
// The budget is watched through the allocator's hooks while one input runs:
// no single allocation may exceed kAllocationSlack + kAllocationFactor × input
// size, and the memory held at any moment no more than kPeakSlack +
// kPeakFactor × input size beyond what was held when the input started. A
// count or length taken from stored data that is trusted beyond the bytes
// really there shows up here long before it exhausts the machine.
//
// The readers report some failures on the standard streams; those are
// formatted as usual but discarded, so that the fuzzer's own output stays
// readable.
//
// A reader that takes a path gets its input through a file of the process
// (fileOfThisRun, writeInputFile), reused for every input. The files lie in a
// folder of the process under the temporary directory, removed with all it
// holds when the process ends (libFuzzer ends a run that found nothing with
// exit()).

#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <string>
#include <system_error>

namespace kivet_fuzz {

// Inputs beyond this size are not the targets' business (scripts/fuzz.sh
// passes the same limit as -max_len).
constexpr size_t kMaxInputSize = 65536;

constexpr size_t kAllocationSlack = 64 * 1024;
constexpr size_t kAllocationFactor = 8;
// The largest expansion a well-formed input may cause: a 22-byte polynomial
// entry of a quantizer block builds a quantizer with a 1 KiB lookup table.
constexpr size_t kPeakSlack = 1024 * 1024;
constexpr size_t kPeakFactor = 64;

[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "==kivet-fuzz== FINDING: %s\n", what);
  std::abort();
}

namespace detail {

struct Watch {
  bool active = false;
  size_t inputSize = 0;
  size_t largestAllowed = 0;
  int64_t heldAllowed = 0;
  int64_t held = 0;
};

inline Watch watch;

// Over budget, the run ends inside the allocation, so that the fuzzer's
// report shows who asked for the memory.
inline void overBudget(const char* what, unsigned long long bytes) {
  watch.active = false;
  std::fprintf(stderr, "==kivet-fuzz== %llu bytes %s for an input of %llu bytes\n", bytes, what,
               static_cast<unsigned long long>(watch.inputSize));
  finding("memory out of proportion to the input");
}

inline void onMalloc(const volatile void*, size_t size) {
  if (!watch.active) return;
  if (size > watch.largestAllowed) overBudget("in one allocation", size);
  watch.held += static_cast<int64_t>(size);
  if (watch.held > watch.heldAllowed) overBudget("held at once", static_cast<unsigned long long>(watch.held));
}

inline void onFree(const volatile void* pointer) {
  if (!watch.active || pointer == nullptr) return;
  const void* p = const_cast<const void*>(pointer);
  if (__sanitizer_get_ownership(p)) watch.held -= static_cast<int64_t>(__sanitizer_get_allocated_size(p));
}

class DiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline bool setUp() {
  static DiscardBuffer discard;
  std::cout.rdbuf(&discard);
  std::cerr.rdbuf(&discard);
  std::clog.rdbuf(&discard);
  __sanitizer_install_malloc_and_free_hooks(&onMalloc, &onFree);
  return true;
}

// The folder of fileOfThisRun.
class RunFolder {
 public:
  // Made as mkdtemp makes a folder: a name no one else holds, never one
  // planted at a name a process id would predict.
  explicit RunFolder(const std::string& target) : path(make(target)) {}
  ~RunFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::filesystem::path path;

 private:
  static std::filesystem::path make(const std::string& target) {
    std::string name = (std::filesystem::temp_directory_path() / ("kivet_" + target + "_XXXXXX")).string();
    if (mkdtemp(&name[0]) == nullptr) throw std::system_error(errno, std::generic_category(), "mkdtemp " + name);
    return name;
  }
};

}  // namespace detail

// A file of this process: targets running side by side never share one.
inline std::string fileOfThisRun(const std::string& target, const std::string& what) {
  static const detail::RunFolder folder(target);
  return (folder.path / what).string();
}

inline void writeInputFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out.flush()) finding("cannot write the input file");
}

// Runs one input through reader() under the memory budget. Returns the value
// for LLVMFuzzerTestOneInput: -1 keeps an oversized input out of the corpus.
// fixedCost widens both limits for a reader whose parser takes buffers of a
// fixed size whatever the input (Xerces-C reads through a 160 KiB reader).
template <typename Reader>
int check(size_t size, Reader&& reader, size_t fixedCost = 0) {
  static const bool ready = detail::setUp();
  (void)ready;
  if (size > kMaxInputSize) return -1;
  detail::watch.inputSize = size;
  detail::watch.largestAllowed = fixedCost + kAllocationSlack + kAllocationFactor * size;
  detail::watch.heldAllowed = static_cast<int64_t>(fixedCost + kPeakSlack + kPeakFactor * size);
  detail::watch.held = 0;
  detail::watch.active = true;
  reader();
  detail::watch.active = false;
  return 0;
}

}  // namespace kivet_fuzz
