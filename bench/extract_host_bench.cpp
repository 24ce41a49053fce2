// kivet-extract's work on one file next to the least any host must do, on
// 10 minutes of 16-bit synthetic music at 44100 Hz, mono and stereo, written
// as WAV files to a temporary folder first:
//  - kivet-extract: the example hosts' shared reader and extraction
//    (examples/audio_extraction.h: any format libsndfile reads, resampled
//    when its rate is not 44100 Hz, a second per call), the signature saved;
//  - a minimal host: the whole file read as 16-bit samples with libsndfile
//    (sf_readf_short), CreateSignature with config/default.xml,
//    downmixStereo for stereo, one addSamples, save.
// The runs alternate between the two (and which of them goes first), on the
// core the process starts on. It prints the median seconds of each, as
// multiples of real time, their ratio, and whether both saved the same
// signature bytes.
//
//   extract_host_bench [RUNS]   (default 9)

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/held.h"
#include "api/kivet.h"
#include "bench/bench_support.h"
#include "examples/audio_extraction.h"

using namespace vemra_kivet;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kSongSeconds = 600;
const std::string kConfig = KIVET_CONFIG_DIR "/default.xml";

// The right channel runs a quarter of a second behind the left, so that the
// downmix is not one channel over again.
void writeSong(const std::string& path, int channels) {
  const std::vector<short> minute = bench::musicLikeAudio(kRate, 60);
  const size_t frames = size_t{kRate} * kSongSeconds;
  const size_t lag = kRate / 4;
  std::vector<short> samples(frames * static_cast<size_t>(channels));
  for (size_t i = 0; i < frames; ++i)
    for (size_t c = 0; c < static_cast<size_t>(channels); ++c)
      samples[i * static_cast<size_t>(channels) + c] = minute[(i + minute.size() - c * lag) % minute.size()];
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  const auto written = sf_writef_short(file, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(file);
  if (written != static_cast<sf_count_t>(frames)) throw std::runtime_error(path + ": write failed");
}

void kivetExtract(const AudioExtraction& extraction, const std::string& audio, const std::string& output) {
  ExtractedSong song = extraction.extract(audio);
  extraction.finish("saving " + output, song, [&] { song.signature->save(output.c_str()); });
}

// The file name is set as kivet-extract sets it, so that both signatures
// can be the same bytes (the files have no tags).
void minimalHost(const std::string& audio, const std::string& output) {
  SF_INFO info{};
  SNDFILE* file = sf_open(audio.c_str(), SFM_READ, &info);
  if (!file) throw std::runtime_error(audio + ": " + sf_strerror(nullptr));
  std::vector<short> samples(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const auto frames = static_cast<unsigned>(sf_readf_short(file, samples.data(), info.frames));
  sf_close(file);
  Held<vraISignature> signature(CreateSignature(kConfig.c_str(), kRate));
  {
    Held<vraISong> record(signature->getSong());
    record->setFileName(audio.c_str());
  }
  if (info.channels == 2) {
    std::vector<short> mono(frames);
    signature->downmixStereo(samples.data(), frames * 2, mono.data());
    signature->addSamples(mono.data(), frames);
  } else {
    signature->addSamples(samples.data(), frames);
  }
  signature->save(output.c_str());
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void compare(const AudioExtraction& extraction, const fs::path& folder, int channels, unsigned runs) {
  const std::string audio = (folder / (channels == 2 ? "stereo.wav" : "mono.wav")).string();
  const std::string ours = (folder / "kivet-extract.sig").string();
  const std::string theirs = (folder / "minimal.sig").string();
  writeSong(audio, channels);
  std::vector<double> kivetTimes;
  std::vector<double> minimalTimes;
  for (unsigned r = 0; r < runs; ++r) {
    for (unsigned turn = 0; turn < 2; ++turn) {
      const bool kivet = (r + turn) % 2 == 0;
      const bench::Clock::time_point start = bench::Clock::now();
      if (kivet)
        kivetExtract(extraction, audio, ours);
      else
        minimalHost(audio, theirs);
      (kivet ? kivetTimes : minimalTimes).push_back(bench::secondsSince(start));
    }
  }
  const double kivetTime = bench::median(kivetTimes);
  const double minimalTime = bench::median(minimalTimes);
  std::printf("  %-7s %13.3f s %9.0fx %13.3f s %9.0fx %8.3f  %s\n", channels == 2 ? "stereo" : "mono", kivetTime,
              kSongSeconds / kivetTime, minimalTime, kSongSeconds / minimalTime, kivetTime / minimalTime,
              contents(ours) == contents(theirs) ? "yes" : "NO");
  fs::remove(audio);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned runs = argc > 1 ? static_cast<unsigned>(std::max(1, std::atoi(argv[1]))) : 9;
  const fs::path folder = fs::temp_directory_path() / ("extract_host_bench_" + std::to_string(getpid()));
  int status = 0;
  try {
    bench::pinToCurrentCore();
    fs::create_directories(folder);
    const AudioExtraction extraction(kConfig);
    std::printf("%u s of 16-bit audio at %u Hz, one core, the median of %u alternating runs\n", kSongSeconds, kRate,
                runs);
    std::printf("  %-7s %15s %10s %15s %10s %8s  %s\n", "song", "kivet-extract", "real time", "minimal host",
                "real time", "ratio", "same signature");
    for (const int channels : {1, 2}) compare(extraction, folder, channels, runs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "extract_host_bench: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
