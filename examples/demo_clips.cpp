#include "examples/demo_clips.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace demo {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Deterministic noise in [-1, 1).
class Noise {
 public:
  explicit Noise(uint32_t seed) : state(seed) {}
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / (1u << 24) * 2.0 - 1.0;
  }

 private:
  uint32_t state;
};

struct Timeline {
  int rate;
  size_t n;
  double at(size_t i) const { return static_cast<double>(i) / rate; }
};

// Sine tones stepping through frequencies, with 10 ms fades at every step.
Signal steppedTones(const Timeline& t, const std::vector<double>& frequencies) {
  Signal x(t.n);
  const size_t step = std::max<size_t>(1, t.n / frequencies.size());
  double phase = 0.0;
  for (size_t i = 0; i < t.n; ++i) {
    const size_t k = std::min(i / step, frequencies.size() - 1);
    phase += 2 * kPi * frequencies[k] / t.rate;
    const double fade = std::min({1.0, static_cast<double>(i % step) / t.rate / 0.01,
                                  static_cast<double>(step - i % step) / t.rate / 0.01});
    x[i] = 0.5 * fade * std::sin(phase);
  }
  return x;
}

// A tone gliding between 300 and 600 Hz every two seconds, with vibrato.
Signal glide(const Timeline& t) {
  Signal x(t.n);
  double phase = 0.0;
  for (size_t i = 0; i < t.n; ++i) {
    const double s = t.at(i);
    const double f = 450.0 - 150.0 * std::cos(kPi * s) + 6.0 * std::sin(2 * kPi * 5.5 * s);
    phase += 2 * kPi * f / t.rate;
    x[i] = 0.45 * std::sin(phase);
  }
  return x;
}

// Notes with four harmonics, struck every strike seconds and decaying by
// decay per second (0: held).
Signal chord(const Timeline& t, const std::vector<double>& notes, double strike, double decay) {
  Signal x(t.n);
  for (size_t i = 0; i < t.n; ++i) {
    const double s = t.at(i);
    double v = 0.0;
    for (double f : notes)
      for (int h = 1; h <= 4; ++h) v += std::sin(2 * kPi * f * h * s) / (h * h);
    x[i] = 0.18 * v * std::exp(-decay * std::fmod(s, strike));
  }
  return x;
}

// White noise swelling and fading over the clip.
Signal swell(const Timeline& t) {
  Signal x(t.n);
  Noise random(22222);
  for (size_t i = 0; i < t.n; ++i) x[i] = 0.4 * std::sin(kPi * static_cast<double>(i) / t.n) * random.next();
  return x;
}

// Noise through two one-pole low-pass filters: a dark rumble.
Signal rumble(const Timeline& t) {
  Signal x(t.n);
  Noise random(31337);
  double a = 0.0;
  double b = 0.0;
  for (size_t i = 0; i < t.n; ++i) {
    a += 0.05 * (random.next() - a);
    b += 0.05 * (a - b);
    x[i] = 3.0 * b;
  }
  return x;
}

// A 2 kHz click of 5 ms every period seconds.
Signal clicks(const Timeline& t, double period) {
  Signal x(t.n);
  const auto beat = static_cast<size_t>(t.rate * period);
  const auto click = static_cast<size_t>(t.rate / 200);
  for (size_t i = 0; i < t.n; ++i) {
    const size_t at = i % beat;
    if (at >= click) continue;
    x[i] = 0.8 * std::exp(-static_cast<double>(at) / (click / 4.0)) * std::sin(2 * kPi * 2000.0 * t.at(at));
  }
  return x;
}

// A kick drum (a falling low tone) on every beat at bpm and a hi-hat (a short
// burst of bright noise) on every off-beat.
Signal drums(const Timeline& t, double bpm) {
  Signal x(t.n);
  Noise random(4242);
  const double beat = 60.0 / bpm;
  double previous = 0.0;
  for (size_t i = 0; i < t.n; ++i) {
    const double inBeat = std::fmod(t.at(i), beat);
    // 125 Hz falling to 45 Hz: the phase integrates 45 + 80 exp(-30 s).
    const double kickPhase = 2 * kPi * (45.0 * inBeat + 80.0 * (1.0 - std::exp(-30.0 * inBeat)) / 30.0);
    const double kick = 0.7 * std::exp(-inBeat * 18.0) * std::sin(kickPhase);
    const double sinceHat = std::fmod(t.at(i) + beat / 2, beat);
    const double white = random.next();
    const double bright = white - previous;
    previous = white;
    x[i] = kick + 0.25 * std::exp(-sinceHat * 120.0) * bright;
  }
  return x;
}

// Bursts of noise on every sixteenth note at bpm, every fourth accented.
Signal shaker(const Timeline& t, double bpm) {
  Signal x(t.n);
  Noise random(777);
  const double sixteenth = 60.0 / bpm / 4;
  for (size_t i = 0; i < t.n; ++i) {
    const double s = t.at(i);
    const auto count = static_cast<long>(s / sixteenth);
    const double accent = count % 4 == 0 ? 0.5 : 0.25;
    x[i] = accent * std::exp(-std::fmod(s, sixteenth) * 60.0) * random.next();
  }
  return x;
}

Signal sum(const Signal& a, const Signal& b, double gainB) {
  Signal x(a.size());
  for (size_t i = 0; i < a.size(); ++i) x[i] = a[i] + gainB * b[i];
  return x;
}

}  // namespace

std::vector<Clip> clips(int rate, double seconds) {
  const Timeline t{rate, static_cast<size_t>(seconds * rate)};
  const Signal cMajor = chord(t, {261.63, 329.63, 392.00}, 1.0, 3.0);
  const Signal aMinor = chord(t, {220.00, 261.63, 329.63}, 1.0, 3.0);
  const Signal click = clicks(t, 0.5);
  const Signal noise = swell(t);
  const Signal beat = drums(t, 100.0);
  return {
      {"tones.wav", "Rising tones", "tones", {steppedTones(t, {220, 440, 660, 880, 1320, 1760})}},
      {"glide.wav", "Gliding tone", "tones", {glide(t)}},
      {"chord.wav", "C major chord", "chords", {cMajor}},
      {"minor-chord.wav", "A minor chord", "chords", {aMinor}},
      {"organ.wav", "Held G major chord", "chords", {chord(t, {196.00, 246.94, 293.66}, 1e9, 0.0)}},
      {"noise.flac", "Noise swell", "noise", {noise}},
      {"rumble.wav", "Low rumble", "noise", {rumble(t)}},
      {"clicks.wav", "Click track", "rhythms", {click}},
      {"drums.wav", "Kick and hi-hat", "rhythms", {beat}},
      {"shaker.wav", "Shaker", "rhythms", {shaker(t, 140.0)}},
      {"mix.wav", "Chord and clicks", "mixes", {cMajor, sum(click, noise, 0.5)}},
      {"band.wav", "Minor chord with drums", "mixes", {sum(aMinor, beat, 0.8)}},
  };
}

void addNoise(Clip& clip, double level, uint32_t seed) {
  Noise random(seed);
  for (Signal& channel : clip.channels)
    for (double& v : channel) v += level * random.next();
}

std::vector<short> toPcm(const Clip& clip) {
  const size_t channels = clip.channels.size();
  const size_t n = clip.channels.front().size();
  std::vector<short> pcm(n * channels);
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < channels; ++c)
      pcm[i * channels + c] = static_cast<short>(std::lround(std::clamp(clip.channels[c][i], -1.0, 1.0) * 32767.0));
  return pcm;
}

}  // namespace demo
