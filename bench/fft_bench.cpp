// The real and complex FFTs next to FFTW's single-precision transforms of the
// same kind, length and placement (in place), each plan made with FFTW_MEASURE
// before timing starts. After the benchmarks a table gives our time divided by
// FFTW's for every length.
//
// Like FFTW's own benchmark, every iteration transforms the buffer left by the
// previous one: the arithmetic takes the same time whatever the values (the
// values only grow, so no denormal numbers appear).

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/vmtl/fft.h"

namespace {

// Buffers aligned as FFTW likes them, filled with noise.
struct FftwBuffer {
  explicit FftwBuffer(size_t floats) : data(fftwf_alloc_real(floats)), size(floats) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (size_t i = 0; i < size; ++i) data[i] = noise(random);
  }
  ~FftwBuffer() { fftwf_free(data); }
  FftwBuffer(const FftwBuffer&) = delete;
  FftwBuffer& operator=(const FftwBuffer&) = delete;
  float* data;
  size_t size;
};

void kivetReal(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  FftwBuffer x(static_cast<size_t>(n));
  float* table = createSineTable(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(fftReal(x.data, table, n, -1));
    benchmark::ClobberMemory();
  }
  deleteSineTable(table);
}

void fftwReal(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  // In place: n/2 + 1 complex values.
  FftwBuffer x(static_cast<size_t>(n) + 2);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, x.data, reinterpret_cast<fftwf_complex*>(x.data), FFTW_MEASURE);
  FftwBuffer fresh(static_cast<size_t>(n) + 2);  // the plan overwrote x while measuring
  std::copy(fresh.data, fresh.data + fresh.size, x.data);
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
}

void kivetComplex(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  FftwBuffer x(2 * static_cast<size_t>(n));
  for (auto _ : state) {
    benchmark::DoNotOptimize(fftComplex(x.data, n, -1));
    benchmark::ClobberMemory();
  }
}

void fftwComplex(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  FftwBuffer x(2 * static_cast<size_t>(n));
  auto* data = reinterpret_cast<fftwf_complex*>(x.data);
  fftwf_plan plan = fftwf_plan_dft_1d(n, data, data, FFTW_FORWARD, FFTW_MEASURE);
  FftwBuffer fresh(2 * static_cast<size_t>(n));
  std::copy(fresh.data, fresh.data + fresh.size, x.data);
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
}

// Each length runs ours and FFTW's back to back, repeatedly, so that both see
// the same load of a shared machine; the ratio compares the medians.
void registerPair(const std::string& transform, int length, void (*ours)(benchmark::State&),
                  void (*theirs)(benchmark::State&)) {
  const std::string suffix = "/" + std::to_string(length);
  for (auto [name, function] : {std::make_pair("/kivet", ours), std::make_pair("/fftw", theirs)})
    benchmark::RegisterBenchmark((transform + name + suffix).c_str(), function)
        ->Arg(length)
        ->MinTime(0.1)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true);
}

// Keeps the median time per iteration of every benchmark ("fftReal/kivet/512")
// besides printing the aggregates as usual.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
        times[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

void printRatios(const std::map<std::string, double>& times) {
  // (transform, length) -> (ours, FFTW's)
  std::map<std::pair<std::string, int>, std::pair<double, double>> table;
  for (const auto& [name, time] : times) {
    const size_t first = name.find('/');
    const size_t second = name.find('/', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    auto& row = table[{name.substr(0, first), std::stoi(name.substr(second + 1))}];
    (name.compare(first + 1, second - first - 1, "kivet") == 0 ? row.first : row.second) = time;
  }
  std::printf("\n%-12s %8s %12s %12s %8s\n", "transform", "length", "kivet (ns)", "fftw (ns)", "ratio");
  for (const auto& [key, row] : table)
    if (row.first > 0 && row.second > 0)
      std::printf("%-12s %8d %12.1f %12.1f %8.2f\n", key.first.c_str(), key.second, row.first, row.second,
                  row.first / row.second);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (int n : {256, 512, 1024, 2048}) registerPair("fftReal", n, kivetReal, fftwReal);
  for (int n : {441, 512, 882, 1024}) registerPair("fftComplex", n, kivetComplex, fftwComplex);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printRatios(reporter.times);
  return 0;
}
