// Extraction throughput on 60 s of synthetic music-like audio at 44100 Hz, on
// one core:
//  1. the default configuration (config/default.xml) through the exported
//     interface (CreateSignature, addSamples, save), as a multiple of real time;
//  2. the mel-cepstrum-only configuration (config/mfcc.xml: Hann window,
//     512-point spectrum, 13 coefficients of 40 mel filters, 441-sample frames)
//     next to aubio's phase vocoder + MFCC (512-point window, hop 441, 40
//     filters, 13 coefficients) on the same audio, as a ratio of times.
//
// Each measurement is repeated and the fastest run counts. The process is
// pinned to the core it starts on.
//
//   extract_bench [RUNS]        (default 7)

#include <aubio/aubio.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "api/kivet.h"

using namespace vemra_kivet;

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kSeconds = 60;
constexpr unsigned kHop = 441;
constexpr unsigned kWindow = 512;
constexpr unsigned kFilters = 40;
constexpr unsigned kCoefficients = 13;
constexpr double kPi = 3.14159265358979323846;

// Chords changing every two seconds over a bass line, with hi-hat noise and
// a kick drum on every beat at 120 beats per minute.
std::vector<short> musicLikeAudio() {
  const unsigned n = kRate * kSeconds;
  std::vector<short> samples(n);
  const double chords[4][3] = {{261.63, 329.63, 392.00},
                               {220.00, 261.63, 329.63},
                               {174.61, 220.00, 261.63},
                               {196.00, 246.94, 293.66}};
  uint32_t noise = 1;
  for (unsigned i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const auto& chord = chords[static_cast<unsigned>(t / 2.0) % 4];
    const double beat = std::fmod(t, 0.5);
    double v = 0.0;
    for (double f : chord)
      for (int h = 1; h <= 3; ++h) v += 0.06 / h * std::sin(2 * kPi * f * h * t);
    v += 0.15 * std::sin(2 * kPi * chord[0] / 2 * t);
    v += 0.5 * std::exp(-beat * 30.0) * std::sin(2 * kPi * (50.0 + 100.0 * std::exp(-beat * 40.0)) * beat);
    noise = noise * 1664525u + 1013904223u;
    v += 0.05 * std::exp(-std::fmod(t, 0.25) * 40.0) * (static_cast<double>(noise >> 8) / (1u << 24) * 2.0 - 1.0);
    samples[i] = static_cast<short>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
  }
  return samples;
}

// Seconds of the fastest of runs calls of work.
double fastest(unsigned runs, const std::function<void()>& work) {
  double best = std::numeric_limits<double>::max();
  for (unsigned r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// Extraction through the exported interface, finished by saving.
void extract(const std::string& config, const std::vector<short>& samples, const std::string& output) {
  vraISignature* signature = CreateSignature(config.c_str(), kRate);
  constexpr unsigned kBlock = 4096;
  for (size_t at = 0; at < samples.size(); at += kBlock)
    signature->addSamples(samples.data() + at, static_cast<unsigned>(std::min<size_t>(kBlock, samples.size() - at)));
  signature->save(output.c_str());
  signature->release();
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

void pinToCurrentCore() {
  const int cpu = sched_getcpu();
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned runs = argc > 1 ? static_cast<unsigned>(std::max(1, std::atoi(argv[1]))) : 7;
  pinToCurrentCore();
  const std::vector<short> samples = musicLikeAudio();
  const double frames = static_cast<double>(samples.size() / kHop);
  const std::string output = "extract_bench.sig";

  try {
    const double all = fastest(runs, [&] { extract(KIVET_CONFIG_DIR "/default.xml", samples, output); });
    std::printf("default configuration: %u s of audio in %.1f ms = %.0fx real time (%.2f us per 10 ms frame)\n",
                kSeconds, all * 1e3, kSeconds / all, all / frames * 1e6);

    const double ours = fastest(runs, [&] { extract(KIVET_CONFIG_DIR "/mfcc.xml", samples, output); });
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
  } catch (const std::exception& e) {
    std::fprintf(stderr, "extract_bench: %s\n", e.what());
    return 1;
  }
  std::remove(output.c_str());
  return 0;
}
