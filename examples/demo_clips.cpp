#include "examples/demo_clips.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace demo {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Deterministic noise in [-1, 1).
class Noise {
 public:
  explicit Noise(uint32_t seed) : state(seed) {}
  double next() {
    state = state * kMultiplier + kIncrement;
    return static_cast<double>(state >> 8) / (1u << 24) * 2.0 - 1.0;
  }
  // Goes on as if next had been called steps times: the step composed with
  // itself by squaring, so a channel far into a clip costs no walk there.
  void skip(uint64_t steps) {
    uint32_t multiplier = kMultiplier, increment = kIncrement;
    uint32_t skipMultiplier = 1, skipIncrement = 0;
    for (; steps > 0; steps >>= 1) {
      if (steps & 1) {
        skipMultiplier *= multiplier;
        skipIncrement = skipIncrement * multiplier + increment;
      }
      increment *= multiplier + 1;
      multiplier *= multiplier;
    }
    state = state * skipMultiplier + skipIncrement;
  }

 private:
  static constexpr uint32_t kMultiplier = 1664525u;
  static constexpr uint32_t kIncrement = 1013904223u;
  uint32_t state;
};

struct Timeline {
  int rate;
  size_t n;
  double at(size_t i) const { return static_cast<double>(i) / rate; }
};

// A source whose sample i is worked out from i and what the samples before
// it left behind.
class Indexed : public Source {
 public:
  explicit Indexed(const Timeline& t) : t(t) {}
  double next() final { return sample(i++); }

 protected:
  virtual double sample(size_t i) = 0;
  const Timeline t;

 private:
  size_t i = 0;
};

// Sine tones stepping through frequencies, with 10 ms fades at every step.
class SteppedTones : public Indexed {
 public:
  SteppedTones(const Timeline& t, std::vector<double> frequencies)
      : Indexed(t), frequencies(std::move(frequencies)), step(std::max<size_t>(1, t.n / this->frequencies.size())) {}

 private:
  double sample(size_t i) override {
    const size_t k = std::min(i / step, frequencies.size() - 1);
    phase += 2 * kPi * frequencies[k] / t.rate;
    const double fade = std::min({1.0, static_cast<double>(i % step) / t.rate / 0.01,
                                  static_cast<double>(step - i % step) / t.rate / 0.01});
    return 0.5 * fade * std::sin(phase);
  }
  const std::vector<double> frequencies;
  const size_t step;
  double phase = 0.0;
};

// A tone gliding between 300 and 600 Hz every two seconds, with vibrato.
class Glide : public Indexed {
 public:
  using Indexed::Indexed;

 private:
  double sample(size_t i) override {
    const double s = t.at(i);
    const double f = 450.0 - 150.0 * std::cos(kPi * s) + 6.0 * std::sin(2 * kPi * 5.5 * s);
    phase += 2 * kPi * f / t.rate;
    return 0.45 * std::sin(phase);
  }
  double phase = 0.0;
};

// Notes with four harmonics, struck every strike seconds and decaying by
// decay per second (0: held).
class Chord : public Indexed {
 public:
  Chord(const Timeline& t, std::vector<double> notes, double strike, double decay)
      : Indexed(t), notes(std::move(notes)), strike(strike), decay(decay) {}

 private:
  double sample(size_t i) override {
    const double s = t.at(i);
    double v = 0.0;
    for (double f : notes)
      for (int h = 1; h <= 4; ++h) v += std::sin(2 * kPi * f * h * s) / (h * h);
    return 0.18 * v * std::exp(-decay * std::fmod(s, strike));
  }
  const std::vector<double> notes;
  const double strike;
  const double decay;
};

// White noise swelling and fading over the clip.
class Swell : public Indexed {
 public:
  using Indexed::Indexed;

 private:
  double sample(size_t i) override { return 0.4 * std::sin(kPi * static_cast<double>(i) / t.n) * random.next(); }
  Noise random{22222};
};

// Noise through two one-pole low-pass filters: a dark rumble.
class Rumble : public Indexed {
 public:
  using Indexed::Indexed;

 private:
  double sample(size_t) override {
    a += 0.05 * (random.next() - a);
    b += 0.05 * (a - b);
    return 3.0 * b;
  }
  Noise random{31337};
  double a = 0.0;
  double b = 0.0;
};

// A 2 kHz click of 5 ms every period seconds.
class Clicks : public Indexed {
 public:
  Clicks(const Timeline& t, double period)
      : Indexed(t), beat(static_cast<size_t>(t.rate * period)), click(static_cast<size_t>(t.rate / 200)) {}

 private:
  double sample(size_t i) override {
    const size_t at = i % beat;
    if (at >= click) return 0.0;
    return 0.8 * std::exp(-static_cast<double>(at) / (click / 4.0)) * std::sin(2 * kPi * 2000.0 * t.at(at));
  }
  const size_t beat;
  const size_t click;
};

// A kick drum (a falling low tone) on every beat at bpm and a hi-hat (a short
// burst of bright noise) on every off-beat.
class Drums : public Indexed {
 public:
  Drums(const Timeline& t, double bpm) : Indexed(t), beat(60.0 / bpm) {}

 private:
  double sample(size_t i) override {
    const double inBeat = std::fmod(t.at(i), beat);
    // 125 Hz falling to 45 Hz: the phase integrates 45 + 80 exp(-30 s).
    const double kickPhase = 2 * kPi * (45.0 * inBeat + 80.0 * (1.0 - std::exp(-30.0 * inBeat)) / 30.0);
    const double kick = 0.7 * std::exp(-inBeat * 18.0) * std::sin(kickPhase);
    const double sinceHat = std::fmod(t.at(i) + beat / 2, beat);
    const double white = random.next();
    const double bright = white - previous;
    previous = white;
    return kick + 0.25 * std::exp(-sinceHat * 120.0) * bright;
  }
  const double beat;
  Noise random{4242};
  double previous = 0.0;
};

// Bursts of noise on every sixteenth note at bpm, every fourth accented.
class Shaker : public Indexed {
 public:
  Shaker(const Timeline& t, double bpm) : Indexed(t), sixteenth(60.0 / bpm / 4) {}

 private:
  double sample(size_t i) override {
    const double s = t.at(i);
    const auto count = static_cast<long>(s / sixteenth);
    const double accent = count % 4 == 0 ? 0.5 : 0.25;
    return accent * std::exp(-std::fmod(s, sixteenth) * 60.0) * random.next();
  }
  const double sixteenth;
  Noise random{777};
};

// a + gainB × b.
class Sum : public Source {
 public:
  Sum(std::unique_ptr<Source> a, std::unique_ptr<Source> b, double gainB)
      : a(std::move(a)), b(std::move(b)), gainB(gainB) {}
  double next() override {
    const double x = a->next();
    return x + gainB * b->next();
  }

 private:
  const std::unique_ptr<Source> a;
  const std::unique_ptr<Source> b;
  const double gainB;
};

// A source with white noise of peak level added.
class Noisy : public Source {
 public:
  Noisy(std::unique_ptr<Source> clean, double level, Noise random)
      : clean(std::move(clean)), level(level), random(random) {}
  double next() override {
    const double x = clean->next();
    return x + level * random.next();
  }

 private:
  const std::unique_ptr<Source> clean;
  const double level;
  Noise random;
};

template <typename Kind, typename... Arguments>
std::unique_ptr<Source> make(const Timeline& t, Arguments... arguments) {
  return std::make_unique<Kind>(t, arguments...);
}

std::vector<std::unique_ptr<Source>> channels(std::unique_ptr<Source> mono) {
  std::vector<std::unique_ptr<Source>> made;
  made.push_back(std::move(mono));
  return made;
}

std::vector<std::unique_ptr<Source>> channels(std::unique_ptr<Source> left, std::unique_ptr<Source> right) {
  std::vector<std::unique_ptr<Source>> made = channels(std::move(left));
  made.push_back(std::move(right));
  return made;
}

}  // namespace

size_t clipFrames(int rate, double seconds) { return static_cast<size_t>(seconds * rate); }

std::vector<ClipSource> clipSources(int rate, double seconds) {
  const Timeline t{rate, clipFrames(rate, seconds)};
  const std::vector<double> cMajor = {261.63, 329.63, 392.00};
  const std::vector<double> aMinor = {220.00, 261.63, 329.63};
  const auto chord = [&](const std::vector<double>& notes) { return make<Chord>(t, notes, 1.0, 3.0); };
  std::vector<ClipSource> made;
  const auto add = [&](const char* file, const char* title, const char* family,
                       std::vector<std::unique_ptr<Source>> sources) {
    made.push_back({file, title, family, t.n, std::move(sources)});
  };
  add("tones.wav", "Rising tones", "tones",
      channels(make<SteppedTones>(t, std::vector<double>{220, 440, 660, 880, 1320, 1760})));
  add("glide.wav", "Gliding tone", "tones", channels(make<Glide>(t)));
  add("chord.wav", "C major chord", "chords", channels(chord(cMajor)));
  add("minor-chord.wav", "A minor chord", "chords", channels(chord(aMinor)));
  add("organ.wav", "Held G major chord", "chords",
      channels(make<Chord>(t, std::vector<double>{196.00, 246.94, 293.66}, 1e9, 0.0)));
  add("noise.flac", "Noise swell", "noise", channels(make<Swell>(t)));
  add("rumble.wav", "Low rumble", "noise", channels(make<Rumble>(t)));
  add("clicks.wav", "Click track", "rhythms", channels(make<Clicks>(t, 0.5)));
  add("drums.wav", "Kick and hi-hat", "rhythms", channels(make<Drums>(t, 100.0)));
  add("shaker.wav", "Shaker", "rhythms", channels(make<Shaker>(t, 140.0)));
  add("mix.wav", "Chord and clicks", "mixes",
      channels(chord(cMajor), std::make_unique<Sum>(make<Clicks>(t, 0.5), make<Swell>(t), 0.5)));
  add("band.wav", "Minor chord with drums", "mixes",
      channels(std::make_unique<Sum>(chord(aMinor), make<Drums>(t, 100.0), 0.8)));
  return made;
}

std::vector<Clip> clips(int rate, double seconds) {
  std::vector<Clip> made;
  for (ClipSource& source : clipSources(rate, seconds)) {
    Clip clip{source.file, source.title, source.family, {}};
    for (const std::unique_ptr<Source>& channel : source.channels) {
      Signal& x = clip.channels.emplace_back(source.frames);
      for (double& v : x) v = channel->next();
    }
    made.push_back(std::move(clip));
  }
  return made;
}

void addNoise(Clip& clip, double level, uint32_t seed) {
  Noise random(seed);
  for (Signal& channel : clip.channels)
    for (double& v : channel) v += level * random.next();
}

void addNoise(ClipSource& clip, double level, uint32_t seed) {
  Noise random(seed);
  for (std::unique_ptr<Source>& channel : clip.channels) {
    channel = std::make_unique<Noisy>(std::move(channel), level, random);
    random.skip(clip.frames);
  }
}

short toPcm(double sample) { return static_cast<short>(std::lround(std::clamp(sample, -1.0, 1.0) * 32767.0)); }

std::vector<short> toPcm(const Clip& clip) {
  const size_t channels = clip.channels.size();
  const size_t n = clip.channels.front().size();
  std::vector<short> pcm(n * channels);
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < channels; ++c) pcm[i * channels + c] = toPcm(clip.channels[c][i]);
  return pcm;
}

void nextPcm(ClipSource& clip, short* pcm, size_t frames) {
  const size_t channels = clip.channels.size();
  for (size_t i = 0; i < frames; ++i)
    for (size_t c = 0; c < channels; ++c) pcm[i * channels + c] = toPcm(clip.channels[c]->next());
}

}  // namespace demo
