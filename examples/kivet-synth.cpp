// kivet-synth: writes the demo's test audio.
//
//   kivet-synth [-r RATE] [-d SECONDS] [-n LEVEL] DIR
//
// Writes a dozen clips into DIR (made when missing, parents and all), each
// SECONDS long (default 4) at RATE Hz (default 44100), 16-bit, with the
// clip's title and its family as the artist (examples/demo_clips.h):
//   tones    tones.wav (rising sine tones), glide.wav (a gliding tone)
//   chords   chord.wav (C major, struck every second), minor-chord.wav
//            (A minor, struck), organ.wav (G major, held)
//   noise    noise.flac (white noise swelling and fading; FLAC), rumble.wav
//   rhythms  clicks.wav (120 beats per minute), drums.wav (kick and hi-hat),
//            shaker.wav
//   mixes    mix.wav (stereo: the chord left, clicks and noise right),
//            band.wav (the minor chord with the drums)
// With -n, white noise of peak LEVEL (0 to 1) is added to every clip: noisy
// copies that should still be found next to their originals.

#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "examples/demo_clips.h"
#include "examples/result_output.h"

namespace {

struct Options {
  int rate = 44100;
  double seconds = 4.0;
  double noise = 0.0;
  std::string dir;
};

bool write(const Options& o, const demo::Clip& clip) {
  const std::string path = o.dir + "/" + clip.file;
  const bool flac = clip.file.size() > 5 && clip.file.compare(clip.file.size() - 5, 5, ".flac") == 0;
  SF_INFO info{};
  info.samplerate = o.rate;
  info.channels = static_cast<int>(clip.channels.size());
  info.format = (flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) {
    std::fprintf(stderr, "kivet-synth: %s: %s\n", path.c_str(), sf_strerror(nullptr));
    return false;
  }
  sf_set_string(file, SF_STR_TITLE, clip.title.c_str());
  sf_set_string(file, SF_STR_ARTIST, clip.family.c_str());
  const std::vector<short> pcm = demo::toPcm(clip);
  const auto frames = static_cast<sf_count_t>(clip.channels.front().size());
  const bool written = sf_writef_short(file, pcm.data(), frames) == frames;
  sf_close(file);
  if (written) {
    std::printf("%s\n", path.c_str());
    flushResults(stdout);
  } else {
    std::fprintf(stderr, "kivet-synth: %s: write failed\n", path.c_str());
  }
  return written;
}

int run(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-r" && i + 1 < argc) {
      o.rate = std::atoi(argv[++i]);
    } else if (arg == "-d" && i + 1 < argc) {
      o.seconds = std::atof(argv[++i]);
    } else if (arg == "-n" && i + 1 < argc) {
      o.noise = std::atof(argv[++i]);
    } else if (o.dir.empty() && !arg.empty() && arg[0] != '-') {
      o.dir = arg;
    } else {
      o.dir.clear();
      break;
    }
  }
  if (o.dir.empty() || o.rate < 1000 || o.rate > 384000 || !(o.seconds > 0.0) || o.seconds > 3600.0 ||
      !(o.noise >= 0.0 && o.noise <= 1.0)) {
    std::fprintf(stderr, "usage: kivet-synth [-r RATE] [-d SECONDS] [-n LEVEL] DIR\n");
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(o.dir, error);
  if (!std::filesystem::is_directory(o.dir)) {
    std::fprintf(stderr, "kivet-synth: cannot make the folder %s: %s\n", o.dir.c_str(),
                 error ? error.message().c_str() : "a file of that name is in the way");
    return 1;
  }
  bool ok = true;
  uint32_t seed = 1;
  for (demo::Clip& clip : demo::clips(o.rate, o.seconds)) {
    if (o.noise > 0.0) demo::addNoise(clip, o.noise, seed++);
    ok &= write(o, clip);
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  openClosedStandardDescriptors();
  return finishResults("kivet-synth", stdout, run(argc, argv));
}
