// Extraction throughput and memory of the default configuration
// (config/default.xml) on synthetic music-like audio at 44100 Hz, one core:
//  1. songs of 60 s, 600 s and 1800 s through the exported interface
//     (CreateSignature, addSamples, save): the real-time multiple and the
//     peak memory of a process that extracts the one song;
//  2. where the time of a 60 s song goes: each module's frame processing
//     summed over the song, the rest of the frame path (framing, graph walk),
//     and the end of the song (the signature made from the collected rows);
//  3. the mel-cepstrum-only configuration (config/mfcc.xml: Hann window,
//     512-point spectrum, 13 coefficients of 40 mel filters, 441-sample frames)
//     next to aubio's phase vocoder + MFCC (512-point window, hop 441, 40
//     filters, 13 coefficients) on the same audio, as a ratio of times.
//
// Each time is the fastest of several runs. The process is pinned to the core
// it starts on. Songs longer than 60 s repeat the 60 s of audio; the memory of
// a song is measured in a process of its own (this program, started again),
// which holds nothing but the 60 s of audio and the extraction.
//
//   extract_bench [RUNS]        (default 7; the long songs run at most 3 times)

#include <aubio/aubio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "api/vra_extractor.h"
#include "api/vra_signature.h"
#include "bench/bench_support.h"
#include "metadata/sources/featex/module_timer.h"

using namespace vemra_kivet;

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kSeconds = 60;
constexpr unsigned kHop = 441;
constexpr unsigned kWindow = 512;
constexpr unsigned kFilters = 40;
constexpr unsigned kCoefficients = 13;
constexpr unsigned kBlock = 4096;
const unsigned kSongSeconds[] = {60, 600, 1800};
const std::string kDefaultConfig = KIVET_CONFIG_DIR "/default.xml";
const std::string kOutput = "extract_bench.sig";

std::vector<short> musicLikeAudio() { return bench::musicLikeAudio(kRate, kSeconds); }

// Seconds of the fastest of runs calls of work.
double fastest(unsigned runs, const std::function<void()>& work) {
  double best = std::numeric_limits<double>::max();
  for (unsigned r = 0; r < runs; ++r) {
    const auto start = bench::Clock::now();
    work();
    best = std::min(best, bench::secondsSince(start));
  }
  return best;
}

// A song of the given length through the exported interface, finished by
// saving; the audio repeats every 60 s. Returns the signature object, which
// the caller releases.
vraISignature* extractSong(const std::string& config, const std::vector<short>& audio, uint64_t seconds) {
  vraISignature* signature = CreateSignature(config.c_str(), kRate);
  const uint64_t total = seconds * kRate;
  for (uint64_t at = 0; at < total;) {
    const size_t offset = static_cast<size_t>(at % audio.size());
    const auto count = static_cast<unsigned>(std::min<uint64_t>({kBlock, total - at, audio.size() - offset}));
    signature->addSamples(audio.data() + offset, count);
    at += count;
  }
  signature->save(kOutput.c_str());
  return signature;
}

// Resident memory of this process in bytes, now.
uint64_t residentNow() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<uint64_t>(resident) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

uint64_t residentPeak() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

// The child's part of the memory measurement: one song, then on the standard
// output the resident memory before it, the peak, and the bytes of the
// song's features as floats.
int measureMemory(unsigned seconds) {
  const std::vector<short> audio = musicLikeAudio();
  const uint64_t before = residentNow();
  vraISignature* signature = extractSong(kDefaultConfig, audio, seconds);
  uint64_t featureBytes = 0;
  for (const auto& [name, feature] : *static_cast<vraSignature*>(signature)->toMultiSignature()->getSignData()) {
    FeatureDataInfo info;
    feature->getDataInfo(info);
    featureBytes += uint64_t(info.rows) * info.cols * sizeof(float);
  }
  signature->release();
  std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(before),
              static_cast<unsigned long long>(residentPeak()), static_cast<unsigned long long>(featureBytes));
  return 0;
}

struct Memory {
  double before = 0, peak = 0, features = 0;  // MB
};

Memory memoryOfSong(unsigned seconds) {
  Memory memory;
  // popen runs a shell, whose /proc/self is the shell: resolve the path first.
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return memory;
  path[length] = '\0';
  FILE* child = popen((std::string("'") + path + "' --memory " + std::to_string(seconds)).c_str(), "r");
  if (!child) return memory;
  unsigned long long before = 0, peak = 0, features = 0;
  if (std::fscanf(child, "%llu %llu %llu", &before, &peak, &features) == 3) {
    memory = {before / 1e6, peak / 1e6, features / 1e6};
  }
  pclose(child);
  return memory;
}

void reportSongs(unsigned runs, const std::vector<short>& audio) {
  std::printf("default configuration, %u Hz, one core (the fastest of the runs)\n", kRate);
  std::printf("  %8s  %8s  %10s  %12s  %12s  %12s\n", "song", "runs", "real time", "peak memory", "extraction",
              "features");
  for (unsigned seconds : kSongSeconds) {
    const unsigned songRuns = seconds == kSeconds ? runs : std::min(runs, 3u);
    const double time =
        fastest(songRuns, [&] { extractSong(kDefaultConfig, audio, seconds)->release(); });
    const Memory memory = memoryOfSong(seconds);
    std::printf("  %6u s  %8u  %9.0fx  %9.1f MB  %9.1f MB  %9.1f MB\n", seconds, songRuns, seconds / time,
                memory.peak, memory.peak - memory.before, memory.features);
  }
  std::printf("  (peak memory: the whole process; extraction: its growth over the song; features: the\n"
              "   song's feature matrices as floats)\n\n");
}

// The frames of a 60 s song as the signature object cuts them, through the
// extraction front end; the seconds they took.
double runFrames(vraExtractor& extractor, const std::vector<short>& audio) {
  HeapVector<float> frame(kHop);
  const auto start = bench::Clock::now();
  for (size_t at = 0; at + kHop <= audio.size(); at += kHop) {
    for (unsigned i = 0; i < kHop; ++i) frame.data[i] = audio[at + i] * 3.0517578e-05f;
    extractor.processFrame(frame);
  }
  return bench::secondsSince(start);
}

// What the timer adds to each interval it measures: the clock read between
// the two ends of an empty interval.
double timerOverhead() {
  CFexModuleTimer timer;
  const unsigned entry = timer.enroll("", "");
  constexpr unsigned kReads = 1000000;
  for (unsigned i = 0; i < kReads; ++i) {
    const CFexModuleTimer::Clock::time_point start = CFexModuleTimer::Clock::now();
    timer.add(entry, CFexModuleTimer::Clock::now() - start);
  }
  return std::chrono::duration<double>(timer.total()).count() / kReads;
}

// Where the time of a 60 s song goes: one untimed run for the frame path as
// it is, one with the module timer for the share of each module (less the
// timer's own cost), and the end of the song: the signature made from the
// collected rows and written as a signature file is written.
void reportModules(unsigned runs, const std::vector<short>& audio) {
  double frameTime = std::numeric_limits<double>::max();
  double endTime = std::numeric_limits<double>::max();
  for (unsigned r = 0; r < runs; ++r) {
    vraExtractor extractor;
    extractor.init(kDefaultConfig.c_str(), kRate);
    frameTime = std::min(frameTime, runFrames(extractor, audio));
    const auto end = bench::Clock::now();
    std::ostringstream file;
    extractor.getSignature().write(file);
    endTime = std::min(endTime, bench::secondsSince(end));
  }

  vraExtractor extractor;
  extractor.init(kDefaultConfig.c_str(), kRate);
  CFexModuleTimer timer;
  extractor.setModuleTimer(&timer);
  runFrames(extractor, audio);
  const double overhead = timerOverhead();
  struct Share {
    std::string instance, type;
    double seconds;
  };
  std::vector<Share> shares;
  double modules = 0.0;
  for (const CFexModuleTimer::Entry& entry : timer.getEntries()) {
    const double seconds =
        std::max(0.0, std::chrono::duration<double>(entry.spent).count() - overhead * static_cast<double>(entry.frames));
    shares.push_back({entry.instance, entry.type, seconds});
    modules += seconds;
  }
  std::sort(shares.begin(), shares.end(), [](const Share& a, const Share& b) { return a.seconds > b.seconds; });

  const double frames = static_cast<double>(audio.size() / kHop);
  const double all = frameTime + endTime;
  std::printf("where the time of a %u s song goes: %.1f ms, of which %.1f ms for the %.0f frames\n", kSeconds,
              all * 1e3, frameTime * 1e3, frames);
  std::printf("  %-24s %-42s %9s %7s %9s\n", "module", "type", "ms", "share", "us/frame");
  const auto line = [&](const std::string& what, const std::string& type, double seconds) {
    std::printf("  %-24s %-42s %9.2f %6.1f%% %9.3f\n", what.c_str(), type.c_str(), seconds * 1e3,
                seconds / all * 100.0, seconds * 1e6 / frames);
  };
  for (const Share& share : shares) line(share.instance, share.type, share.seconds);
  line("(rest of the frame path)", "framing, graph walk", std::max(0.0, frameTime - modules));
  line("(end of the song)", "signature made and written", endTime);
  std::printf("  (each module's time less %.0f ns per frame that the timer itself takes)\n\n", overhead * 1e9);
}

class AubioMfcc {
 public:
  AubioMfcc()
      : pvoc(new_aubio_pvoc(kWindow, kHop)),
        mfcc(new_aubio_mfcc(kWindow, kFilters, kCoefficients, kRate)),
        in(new_fvec(kHop)),
        grain(new_cvec(kWindow)),
        out(new_fvec(kCoefficients)) {}
  AubioMfcc(const AubioMfcc&) = delete;
  AubioMfcc& operator=(const AubioMfcc&) = delete;
  ~AubioMfcc() {
    del_fvec(out);
    del_cvec(grain);
    del_fvec(in);
    del_aubio_mfcc(mfcc);
    del_aubio_pvoc(pvoc);
  }

  // Every whole hop of the audio; returns a checksum of the coefficients.
  double run(const std::vector<float>& audio) {
    double sum = 0.0;
    for (size_t at = 0; at + kHop <= audio.size(); at += kHop) {
      std::copy_n(audio.data() + at, kHop, in->data);
      aubio_pvoc_do(pvoc, in, grain);
      aubio_mfcc_do(mfcc, grain, out);
      sum += out->data[1];
    }
    return sum;
  }

 private:
  aubio_pvoc_t* pvoc;
  aubio_mfcc_t* mfcc;
  fvec_t* in;
  cvec_t* grain;
  fvec_t* out;
};

void reportMelCepstrum(unsigned runs, const std::vector<short>& samples) {
  const double frames = static_cast<double>(samples.size() / kHop);
  const double ours =
      fastest(runs, [&] { extractSong(KIVET_CONFIG_DIR "/mfcc.xml", samples, kSeconds)->release(); });
  std::vector<float> audio(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) audio[i] = samples[i] / 32768.0f;
  AubioMfcc aubio;
  double checksum = 0.0;
  const double theirs = fastest(runs, [&] { checksum += aubio.run(audio); });
  std::printf("mel cepstrum only:     %.1f ms = %.0fx real time (%.2f us per frame)\n", ours * 1e3,
              kSeconds / ours, ours / frames * 1e6);
  std::printf("aubio pvoc + mfcc:     %.1f ms = %.0fx real time (%.2f us per frame; checksum %.3g)\n",
              theirs * 1e3, kSeconds / theirs, theirs / frames * 1e6, checksum);
  std::printf("ratio (ours / aubio):  %.2f\n", ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::strcmp(argv[1], "--memory") == 0) return measureMemory(std::atoi(argv[2]));
    const unsigned runs = argc > 1 ? static_cast<unsigned>(std::max(1, std::atoi(argv[1]))) : 7;
    bench::pinToCurrentCore();
    const std::vector<short> audio = musicLikeAudio();
    reportSongs(runs, audio);
    reportModules(runs, audio);
    reportMelCepstrum(runs, audio);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "extract_bench: %s\n", e.what());
    return 1;
  }
  std::remove(kOutput.c_str());
  return 0;
}
