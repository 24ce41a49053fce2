// How well the shipped configurations find a song again and group songs:
// every audio file under a folder is extracted with the extraction
// configuration into a session made with the similarity configuration; then
//
//   (a) each song is changed in six ways (-20 and -10 dB, +3 dB clipped at
//       full scale, white noise at 20 dB signal-to-noise ratio, a 30 s
//       excerpt from the middle, resampled to 11 025 Hz and back), the copy
//       is extracted the same way and asked for its neighbours among the
//       stored songs: the share of copies that find their own song first and
//       the mean reciprocal rank of that song (0 for a song not listed);
//   (b) when the files lie in subfolders of the folder (one per album, say),
//       each song's nearest other songs are compared with its folder: the
//       share of the 5 and of the 10 nearest that share it (leave one out).
//
// It also prints the extraction speed of the unchanged songs as a multiple of
// real time (the library's time alone, one core).
//
//   similarity_eval [-c CONFIG] [-s SIMCONFIG] [-r RATE] [-v] FOLDER
//
// CONFIG and SIMCONFIG default to config/default.xml and
// config/similarity.xml of the source tree; every file is read at RATE
// (default 44100) Hz. -v names every copy that does not find its song first.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <soxr.h>

#include "api/held.h"
#include "api/kivet.h"
#include "bench/bench_support.h"
#include "examples/audio_file.h"

using namespace vemra_kivet;
namespace fs = std::filesystem;
using bench::Clock;
using bench::secondsSince;

namespace {

struct Options {
  std::string config = KIVET_CONFIG_DIR "/default.xml";
  std::string similarity = KIVET_CONFIG_DIR "/similarity.xml";
  int rate = 44100;
  bool verbose = false;
  std::string folder;
};

// One song: its path below the folder and its label (the first folder of that
// path; empty for a file directly in the folder).
struct Song {
  fs::path path;
  std::string name;
  std::string label;
  unsigned id = 0;
};

// Mono samples at full scale 1.0 (louder ones are clipped when made 16-bit).
using Samples = std::vector<float>;

// The file as a host hands it over (16-bit PCM at the rate), its channels
// averaged.
Samples readMono(const std::string& path, int rate) {
  AudioFile audio(path, rate);
  const auto channels = static_cast<size_t>(audio.channels());
  std::vector<short> block(static_cast<size_t>(rate) * channels);
  Samples x;
  while (const size_t frames = audio.read(block.data(), static_cast<size_t>(rate))) {
    for (size_t f = 0; f < frames; ++f) {
      int32_t sum = 0;
      for (size_t c = 0; c < channels; ++c) sum += block[f * channels + c];
      x.push_back(static_cast<float>(sum) / (32768.0f * static_cast<float>(channels)));
    }
  }
  return x;
}

struct Degradation {
  const char* name;
  Samples (*apply)(const Samples& x, int rate, uint32_t seed);
};

Samples scaled(const Samples& x, double decibels) {
  const auto gain = static_cast<float>(std::pow(10.0, decibels / 20.0));
  Samples y(x.size());
  for (size_t i = 0; i < x.size(); ++i) y[i] = std::clamp(x[i] * gain, -1.0f, 1.0f);
  return y;
}

// White noise whose power is a hundredth of the song's mean power.
Samples withNoise(const Samples& x, uint32_t seed) {
  double power = 0.0;
  for (float v : x) power += static_cast<double>(v) * v;
  power /= std::max<size_t>(1, x.size());
  // Uniform noise in [-a, a] has the power a² / 3.
  const double amplitude = std::sqrt(3.0 * power / 100.0);
  uint32_t state = seed;
  Samples y(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    const double uniform = static_cast<double>(bench::nextRandom(state) >> 8) / (1u << 24) * 2.0 - 1.0;
    y[i] = std::clamp(static_cast<float>(x[i] + amplitude * uniform), -1.0f, 1.0f);
  }
  return y;
}

// The 30 s in the middle of the song (the whole song when it is shorter).
Samples excerpt(const Samples& x, int rate) {
  const size_t length = static_cast<size_t>(rate) * 30;
  if (x.size() <= length) return x;
  const size_t start = (x.size() - length) / 2;
  return Samples(x.begin() + static_cast<std::ptrdiff_t>(start),
                 x.begin() + static_cast<std::ptrdiff_t>(start + length));
}

Samples resampled(const Samples& x, double from, double to) {
  Samples y(static_cast<size_t>(std::ceil(static_cast<double>(x.size()) * to / from)) + 1);
  size_t done = 0;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const soxr_error_t error =
      soxr_oneshot(from, to, 1, x.data(), x.size(), nullptr, y.data(), y.size(), &done, nullptr, &quality, nullptr);
  if (error != nullptr) throw std::runtime_error(std::string("resampling failed: ") + error);
  y.resize(done);
  return y;
}

const Degradation kDegradations[] = {
    {"-20 dB", [](const Samples& x, int, uint32_t) { return scaled(x, -20.0); }},
    {"-10 dB", [](const Samples& x, int, uint32_t) { return scaled(x, -10.0); }},
    {"+3 dB (clipped)", [](const Samples& x, int, uint32_t) { return scaled(x, 3.0); }},
    {"noise, 20 dB SNR", [](const Samples& x, int, uint32_t seed) { return withNoise(x, seed); }},
    {"30 s excerpt", [](const Samples& x, int rate, uint32_t) { return excerpt(x, rate); }},
    {"11 025 Hz and back",
     [](const Samples& x, int rate, uint32_t) { return resampled(resampled(x, rate, 11025.0), 11025.0, rate); }},
};
constexpr size_t kLevelChanges = 3;  // the first three change the level only

// A signature of the samples, made 16-bit.
Held<vraISignature> extract(const Options& o, const Samples& x, double& seconds) {
  std::vector<short> pcm(x.size());
  floatToPcm16(x.data(), x.size(), pcm.data());
  const Clock::time_point start = Clock::now();
  Held<vraISignature> signature(CreateSignature(o.config.c_str(), static_cast<unsigned>(o.rate)));
  signature->addSamples(pcm.data(), static_cast<unsigned>(pcm.size()));
  seconds += secondsSince(start);
  return signature;
}

std::vector<Song> findSongs(const fs::path& folder) {
  std::vector<Song> songs;
  for (const fs::directory_entry& entry :
       fs::recursive_directory_iterator(folder, fs::directory_options::follow_directory_symlink)) {
    if (!entry.is_regular_file()) continue;
    Song song;
    song.path = entry.path();
    const fs::path relative = entry.path().lexically_relative(folder);
    song.name = relative.generic_string();
    if (std::distance(relative.begin(), relative.end()) > 1) song.label = relative.begin()->string();
    songs.push_back(song);
  }
  std::sort(songs.begin(), songs.end(), [](const Song& a, const Song& b) { return a.name < b.name; });
  return songs;
}

// 1-based rank of id in the session's answer to the signature; 0 when absent.
unsigned rankOf(vraISession& session, vraISignature& query, unsigned id) {
  Held<vraIResultList> results(session.queryBySignature(&query, session.getSongCount(), false));
  for (unsigned i = 0; i < results->size(); ++i)
    if (results->getResult(i).id == id) return i + 1;
  return 0;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "-c" || a == "-s" || a == "-r") && i + 1 < argc) {
      const char* value = argv[++i];
      if (a == "-c") o.config = value;
      if (a == "-s") o.similarity = value;
      if (a == "-r") o.rate = std::atoi(value);
    } else if (a == "-v") {
      o.verbose = true;
    } else if (o.folder.empty() && !a.empty() && a[0] != '-') {
      o.folder = a;
    } else {
      return false;
    }
  }
  return !o.folder.empty() && o.rate >= 8000 && o.rate <= 384000;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: similarity_eval [-c CONFIG] [-s SIMCONFIG] [-r RATE] [-v] FOLDER\n");
    return 2;
  }
  try {
    std::vector<Song> songs = findSongs(o.folder);
    Held<vraISession> session(CreateSession(o.similarity.c_str(), false));

    // The songs themselves.
    double audioSeconds = 0.0;
    double librarySeconds = 0.0;
    std::vector<Song> stored;
    for (Song& song : songs) {
      Samples x;
      try {
        x = readMono(song.path.string(), o.rate);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: skipped: %s\n", song.name.c_str(), e.what());
        continue;
      }
      Held<vraISignature> signature = extract(o, x, librarySeconds);
      const Clock::time_point start = Clock::now();
      try {
        song.id = session->addSignature(signature.get());
      } catch (const vraKivetException& e) {
        // A song the configuration cannot compare with the others.
        std::fprintf(stderr, "%s: skipped: %s (code %d)\n", song.name.c_str(), e.what(), e.getCode());
        continue;
      }
      librarySeconds += secondsSince(start);
      audioSeconds += static_cast<double>(x.size()) / o.rate;
      stored.push_back(song);
    }
    std::printf("%zu songs, %.1f h, extraction %.0f x real time\n", stored.size(), audioSeconds / 3600.0,
                audioSeconds / std::max(librarySeconds, 1e-9));

    // (a) the changed copies.
    constexpr size_t kCount = sizeof(kDegradations) / sizeof(kDegradations[0]);
    std::vector<unsigned> first(kCount, 0);
    std::vector<double> reciprocal(kCount, 0.0);
    double ignored = 0.0;
    for (size_t s = 0; s < stored.size(); ++s) {
      const Samples x = readMono(stored[s].path.string(), o.rate);
      for (size_t d = 0; d < kCount; ++d) {
        Held<vraISignature> copy = extract(o, kDegradations[d].apply(x, o.rate, 1234u + static_cast<uint32_t>(s)),
                                           ignored);
        const unsigned rank = rankOf(*session, *copy, stored[s].id);
        first[d] += rank == 1;
        reciprocal[d] += rank == 0 ? 0.0 : 1.0 / rank;
        if (o.verbose && rank != 1)
          std::printf("  %s, %s: rank %u\n", stored[s].name.c_str(), kDegradations[d].name, rank);
      }
    }
    const double n = static_cast<double>(std::max<size_t>(1, stored.size()));
    std::printf("\n| copy | found first | mean reciprocal rank |\n|---|---|---|\n");
    unsigned levelFirst = 0;
    unsigned allFirst = 0;
    double levelReciprocal = 0.0;
    double allReciprocal = 0.0;
    for (size_t d = 0; d < kCount; ++d) {
      std::printf("| %s | %.2f (%u of %zu) | %.3f |\n", kDegradations[d].name, first[d] / n, first[d], stored.size(),
                  reciprocal[d] / n);
      if (d < kLevelChanges) {
        levelFirst += first[d];
        levelReciprocal += reciprocal[d];
      }
      allFirst += first[d];
      allReciprocal += reciprocal[d];
    }
    std::printf("| level changes together | %.2f | %.3f |\n", levelFirst / (n * kLevelChanges),
                levelReciprocal / (n * kLevelChanges));
    std::printf("| all together | %.2f | %.3f |\n", allFirst / (n * kCount), allReciprocal / (n * kCount));

    // (b) the nearest other songs against the labels.
    std::map<unsigned, const Song*> byId;
    for (const Song& song : stored) byId[song.id] = &song;
    const bool labelled = std::any_of(stored.begin(), stored.end(), [](const Song& s) { return !s.label.empty(); });
    if (labelled) {
      double at5 = 0.0;
      double at10 = 0.0;
      for (const Song& song : stored) {
        Held<vraIResultList> results(session->queryById(song.id, 11));
        unsigned others = 0;
        unsigned same = 0;
        for (unsigned i = 0; i < results->size() && others < 10; ++i) {
          const unsigned id = results->getResult(i).id;
          if (id == song.id) continue;
          ++others;
          same += byId.count(id) != 0 && byId[id]->label == song.label;
          if (others == 5) at5 += same / 5.0;
        }
        at10 += same / 10.0;
      }
      std::printf("\nsame-folder precision at 5: %.3f, at 10: %.3f\n", at5 / n, at10 / n);
    }
  } catch (const vraKivetException& e) {
    std::fprintf(stderr, "kivet error %d: %s\n", e.getCode(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
