// Extraction time of several builds of the library side by side, for
// bench/finish_side_by_side.sh: every build's shared library is loaded into
// this one process, and the builds take turns extracting a 60 s song of
// synthetic music at 44100 Hz through the exported interface as extract_bench
// extracts its songs (CreateSignature with the build's CONFIG, addSamples in
// blocks of 4096 samples, save to OUT). After a round that is not timed, each
// of ROUNDS rounds times one extraction per build, the build that goes first
// moving on by one each round. Turns of one song's length keep the builds
// under the same conditions where a machine's speed changes from one second to
// the next, as a shared virtual machine's does, which runs of whole processes
// taking turns do not. Times are processor time, so that other work on the
// core counts less.
//
// Prints each round's times, then per build the median time, as a multiple
// of real time, divided by the last build's median, the median of that ratio
// taken round by round, and the fastest time.
//
//   extract_side_by_side ROUNDS OUT NAME LIBRARY CONFIG [NAME LIBRARY CONFIG]...
//
// The builds must have the interface this program was compiled with: their
// versions (GetMainVersion, GetSubVersion) must be the last build's.

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "bench/bench_support.h"

using namespace vemra_kivet;

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kSeconds = 60;
constexpr unsigned kBlock = 4096;

using CreateSignatureFunction = vraISignature* (*)(const char*, unsigned);
using VersionFunction = unsigned (*)();

// One build: its library, loaded apart from the others (RTLD_LOCAL), so that
// each one's calls stay within itself.
struct Build {
  std::string name;
  std::string config;
  CreateSignatureFunction createSignature = nullptr;
  unsigned version[2] = {0, 0};
  std::vector<double> times;
};

// The interface's functions by their C++ names (namespace vemra_kivet).
void* symbol(void* library, const char* mangled, const std::string& file) {
  void* address = dlsym(library, mangled);
  if (!address) throw std::runtime_error(file + ": no " + mangled);
  return address;
}

Build load(const std::string& name, const std::string& file, const std::string& config) {
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) throw std::runtime_error(dlerror());
  Build build;
  build.name = name;
  build.config = config;
  build.createSignature =
      reinterpret_cast<CreateSignatureFunction>(symbol(library, "_ZN11vemra_kivet15CreateSignatureEPKcj", file));
  build.version[0] = reinterpret_cast<VersionFunction>(symbol(library, "_ZN11vemra_kivet14GetMainVersionEv", file))();
  build.version[1] = reinterpret_cast<VersionFunction>(symbol(library, "_ZN11vemra_kivet13GetSubVersionEv", file))();
  return build;
}

double processorSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The processor seconds of one extraction of the song.
double extract(const Build& build, const char* out, const std::vector<short>& audio) {
  const double start = processorSeconds();
  vraISignature* signature = build.createSignature(build.config.c_str(), kRate);
  for (size_t at = 0; at < audio.size(); at += kBlock)
    signature->addSamples(audio.data() + at, static_cast<unsigned>(std::min<size_t>(kBlock, audio.size() - at)));
  signature->save(out);
  signature->release();
  return processorSeconds() - start;
}

void report(const std::vector<Build>& builds) {
  const std::vector<double>& reference = builds.back().times;
  const double referenceMedian = bench::median(reference);
  std::printf("\n%-10s %10s %10s %14s %16s %10s\n", "build", "median", "real time", "time / last", "(round by round)",
              "fastest");
  for (const Build& build : builds) {
    std::vector<double> ratios;
    for (size_t r = 0; r < reference.size(); ++r) ratios.push_back(build.times[r] / reference[r]);
    const double median = bench::median(build.times);
    std::printf("%-10s %8.1fms %9.0fx %14.3f %16.3f %8.1fms\n", build.name.c_str(), median * 1e3, kSeconds / median,
                median / referenceMedian, bench::median(ratios),
                *std::min_element(build.times.begin(), build.times.end()) * 1e3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || (argc - 3) % 3 != 0) {
    std::fprintf(stderr, "usage: extract_side_by_side ROUNDS OUT NAME LIBRARY CONFIG [NAME LIBRARY CONFIG]...\n");
    return 2;
  }
  const unsigned rounds = static_cast<unsigned>(std::max(1, std::atoi(argv[1])));
  const char* out = argv[2];
  try {
    std::vector<Build> builds;
    for (int i = 3; i < argc; i += 3) builds.push_back(load(argv[i], argv[i + 1], argv[i + 2]));
    for (const Build& build : builds) {
      if (build.version[0] != builds.back().version[0] || build.version[1] != builds.back().version[1])
        throw std::runtime_error(build.name + " has interface version " + std::to_string(build.version[0]) + "." +
                                 std::to_string(build.version[1]) + ", not the last build's");
    }
    const std::vector<short> audio = bench::musicLikeAudio(kRate, kSeconds);
    for (const Build& build : builds) extract(build, out, audio);

    std::printf("%-6s", "round");
    for (const Build& build : builds) std::printf(" %10s", build.name.c_str());
    std::printf("\n");
    const size_t count = builds.size();
    for (unsigned r = 0; r < rounds; ++r) {
      for (size_t k = 0; k < count; ++k) {
        Build& build = builds[(r + k) % count];
        build.times.push_back(extract(build, out, audio));
      }
      std::printf("%-6u", r + 1);
      for (const Build& build : builds) std::printf(" %8.1fms", build.times.back() * 1e3);
      std::printf("\n");
    }
    report(builds);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "extract_side_by_side: %s\n", e.what());
    return 1;
  }
  return 0;
}
