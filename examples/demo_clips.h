#pragma once
// The demo's collection of test audio, made in code: a dozen short clips in
// five families (tones, chords, noise, rhythms, mixes), so that a session
// built from them has near neighbours within a family and far ones across.
// Each channel of a clip is made one sample after another, by a source that
// carries its state (a phase, a filter, a noise generator) from each sample
// to the next: kivet-synth writes a clip a block at a time, in memory that
// does not grow with its length, and the session tests take the same
// samples whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace demo {

// Samples in [-1, 1].
using Signal = std::vector<double>;

struct Clip {
  // File name: "tones.wav", "noise.flac", ...
  std::string file;
  std::string title;
  // The family, used as the artist.
  std::string family;
  // One signal per channel (two for a stereo clip), all of one length.
  std::vector<Signal> channels;
};

// One channel of a clip as it is made: each call gives the next sample.
class Source {
 public:
  virtual ~Source() = default;
  virtual double next() = 0;
};

// A clip still to be made: its names, its length and one source per
// channel, each at its first sample.
struct ClipSource {
  std::string file;
  std::string title;
  std::string family;
  size_t frames = 0;
  std::vector<std::unique_ptr<Source>> channels;
};

// The frames of a clip seconds long at rate Hz: floor(seconds × rate).
size_t clipFrames(int rate, double seconds);

// Every clip, seconds long at rate Hz: as sources, or made whole.
std::vector<ClipSource> clipSources(int rate, double seconds);
std::vector<Clip> clips(int rate, double seconds);

// Adds deterministic white noise of the given peak level to every channel
// (seed picks the noise), for a copy that must still sound like the clip.
// The noise runs through the channels one after the other, the second
// channel's noise going on where the first's ends: a clip source given the
// same seed makes the same samples as the clip made whole.
void addNoise(Clip& clip, double level, uint32_t seed);
void addNoise(ClipSource& clip, double level, uint32_t seed);

// A sample in [-1, 1] as a 16-bit sample: clipped, scaled by 32767 and
// rounded to the nearest integer (halves away from zero).
short toPcm(double sample);

// Interleaved 16-bit samples of the clip's channels.
std::vector<short> toPcm(const Clip& clip);
// The next frames frames of the clip's channels, interleaved, into pcm
// (frames × channels of them); the clip's sources go on from there.
void nextPcm(ClipSource& clip, short* pcm, size_t frames);

}  // namespace demo
