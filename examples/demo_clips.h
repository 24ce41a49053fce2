#pragma once
// The demo's collection of test audio, made in code: a dozen short clips in
// five families (tones, chords, noise, rhythms, mixes), so that a session
// built from them has near neighbours within a family and far ones across.
// kivet-synth writes them as audio files; the session tests extract them
// directly.

#include <cstdint>
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

// Every clip, seconds long at rate Hz.
std::vector<Clip> clips(int rate, double seconds);

// Adds deterministic white noise of the given peak level to every channel
// (seed picks the noise), for a copy that must still sound like the clip.
void addNoise(Clip& clip, double level, uint32_t seed);

// Interleaved 16-bit samples of the clip's channels.
std::vector<short> toPcm(const Clip& clip);

}  // namespace demo
