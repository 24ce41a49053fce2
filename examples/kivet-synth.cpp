// kivet-synth: writes a few seconds of varied test audio for the demo.
//
//   kivet-synth [-r RATE] [-d SECONDS] DIR
//
// Writes into DIR (which must exist), each SECONDS long (default 4) at RATE Hz
// (default 44100), 16-bit, with title and artist tags:
//   tones.wav    mono: a rising sequence of sine tones (220 to 1760 Hz)
//   chord.wav    mono: a C major chord with harmonics, struck every second
//   noise.flac   mono: white noise swelling and fading (FLAC)
//   clicks.wav   mono: a click track at 120 beats per minute
//   mix.wav      stereo: the chord on the left, clicks and noise on the right

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Options {
  int rate = 44100;
  double seconds = 4.0;
  std::string dir;
};

using Signal = std::vector<double>;

// Deterministic noise in [-1, 1).
class Noise {
 public:
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / (1u << 24) * 2.0 - 1.0;
  }

 private:
  uint32_t state = 22222;
};

Signal tones(const Options& o, size_t n) {
  Signal x(n);
  const double frequencies[] = {220.0, 440.0, 660.0, 880.0, 1320.0, 1760.0};
  const size_t count = sizeof frequencies / sizeof frequencies[0];
  const size_t step = std::max<size_t>(1, n / count);
  double phase = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const size_t k = std::min(i / step, count - 1);
    phase += 2 * kPi * frequencies[k] / o.rate;
    // 10 ms fades at every change keep the steps free of clicks.
    const double inTone = static_cast<double>(i % step) / o.rate;
    const double toEnd = static_cast<double>(step - i % step) / o.rate;
    const double fade = std::min({1.0, inTone / 0.01, toEnd / 0.01});
    x[i] = 0.5 * fade * std::sin(phase);
  }
  return x;
}

Signal chord(const Options& o, size_t n) {
  Signal x(n);
  const double notes[] = {261.63, 329.63, 392.00};
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / o.rate;
    const double sinceStrike = std::fmod(t, 1.0);
    double v = 0.0;
    for (double f : notes)
      for (int h = 1; h <= 4; ++h) v += std::sin(2 * kPi * f * h * t) / (h * h);
    x[i] = 0.18 * v * std::exp(-3.0 * sinceStrike);
  }
  return x;
}

Signal noise(size_t n) {
  Signal x(n);
  Noise random;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / n;
    x[i] = 0.4 * std::sin(kPi * t) * random.next();
  }
  return x;
}

Signal clicks(const Options& o, size_t n) {
  Signal x(n);
  const auto beat = static_cast<size_t>(o.rate / 2);  // 120 beats per minute
  const auto click = static_cast<size_t>(o.rate / 200);  // 5 ms
  for (size_t i = 0; i < n; ++i) {
    const size_t at = i % beat;
    if (at >= click) continue;
    const double decay = std::exp(-static_cast<double>(at) / (click / 4.0));
    x[i] = 0.8 * decay * std::sin(2 * kPi * 2000.0 * static_cast<double>(at) / o.rate);
  }
  return x;
}

std::vector<short> toPcm(const std::vector<const Signal*>& channels) {
  const size_t n = channels.front()->size();
  std::vector<short> pcm(n * channels.size());
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < channels.size(); ++c) {
      const double v = std::clamp((*channels[c])[i], -1.0, 1.0);
      pcm[i * channels.size() + c] = static_cast<short>(std::lround(v * 32767.0));
    }
  return pcm;
}

bool write(const Options& o, const std::string& name, int format, const std::string& title,
           const std::vector<const Signal*>& channels) {
  const std::string path = o.dir + "/" + name;
  SF_INFO info{};
  info.samplerate = o.rate;
  info.channels = static_cast<int>(channels.size());
  info.format = format | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) {
    std::fprintf(stderr, "kivet-synth: %s: %s\n", path.c_str(), sf_strerror(nullptr));
    return false;
  }
  sf_set_string(file, SF_STR_TITLE, title.c_str());
  sf_set_string(file, SF_STR_ARTIST, "kivet-synth");
  const std::vector<short> pcm = toPcm(channels);
  const auto frames = static_cast<sf_count_t>(channels.front()->size());
  const bool written = sf_writef_short(file, pcm.data(), frames) == frames;
  sf_close(file);
  if (written)
    std::printf("%s\n", path.c_str());
  else
    std::fprintf(stderr, "kivet-synth: %s: write failed\n", path.c_str());
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-r" && i + 1 < argc) {
      o.rate = std::atoi(argv[++i]);
    } else if (arg == "-d" && i + 1 < argc) {
      o.seconds = std::atof(argv[++i]);
    } else if (o.dir.empty() && !arg.empty() && arg[0] != '-') {
      o.dir = arg;
    } else {
      o.dir.clear();
      break;
    }
  }
  if (o.dir.empty() || o.rate < 1000 || o.rate > 384000 || !(o.seconds > 0.0) || o.seconds > 3600.0) {
    std::fprintf(stderr, "usage: kivet-synth [-r RATE] [-d SECONDS] DIR\n");
    return 2;
  }
  const auto n = static_cast<size_t>(o.seconds * o.rate);
  const Signal t = tones(o, n), c = chord(o, n), w = noise(n), k = clicks(o, n);
  Signal right(n);
  for (size_t i = 0; i < n; ++i) right[i] = k[i] + 0.5 * w[i];

  bool ok = true;
  ok &= write(o, "tones.wav", SF_FORMAT_WAV, "Rising tones", {&t});
  ok &= write(o, "chord.wav", SF_FORMAT_WAV, "C major chord", {&c});
  ok &= write(o, "noise.flac", SF_FORMAT_FLAC, "Noise swell", {&w});
  ok &= write(o, "clicks.wav", SF_FORMAT_WAV, "Click track", {&k});
  ok &= write(o, "mix.wav", SF_FORMAT_WAV, "Chord and clicks", {&c, &right});
  return ok ? 0 : 1;
}
