#pragma once
// Audio files as the library takes them: 16-bit PCM at one chosen sampling
// rate. Every program that reads audio files goes through this class, so
// that all of them read a file alike:
//
// - any file libsndfile reads (WAV, FLAC, Ogg Vorbis, AIFF, ...), integer,
//   float and double samples alike, float samples taken at full scale 1.0
//   (a float file is not near-silence);
// - resampled from the file's rate to the rate asked for by libsoxr at its
//   high quality (a song at 22.05 kHz gives the features it gives at
//   44.1 kHz); at the same rate the samples pass through untouched;
// - turned into 16 bits with rounding (halves away from zero), clipping what
//   exceeds full scale. Files of 16 bits or fewer are read as 16-bit samples,
//   which need no conversion at all, wider integers as 32-bit ones, the rest
//   (float, double, Vorbis, ...) as floats; conversions go over whole blocks
//   without a library call per sample, since reading is a sizeable part of
//   an extraction.
//
// Use:
//   AudioFile audio("song.flac", 44100);          // throws std::runtime_error
//   std::vector<short> block(44100 * audio.channels());
//   while (const size_t frames = audio.read(block.data(), 44100)) {
//     // frames frames of interleaved samples at 44100 Hz
//   }

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct sf_private_tag;
struct soxr;

class AudioFile {
 public:
  // The sampling rates a file may have: below 8 kHz hardly any music is
  // left, and beyond 384 kHz no recording goes.
  static constexpr int kLowestRate = 8000;
  static constexpr int kHighestRate = 384000;

  // Opens the file for reading at outputRate (itself within the bounds
  // above); a file named "-" is that file, never the standard input. Throws
  // std::runtime_error with a text for the user: "is a folder, not an audio
  // file", the system's reason ("no such file or directory"), libsndfile's
  // reason ("Format not recognised."), a file without channels, or "sample
  // rate R Hz is not supported (8000–384000 Hz)".
  AudioFile(const std::string& path, int outputRate);
  AudioFile(const AudioFile&) = delete;
  AudioFile& operator=(const AudioFile&) = delete;
  ~AudioFile();

  // The file's own sampling rate; the rate read() hands out; the channels
  // of each frame.
  int fileRate() const { return inputRate; }
  int rate() const { return outputRate; }
  int channels() const { return channelCount; }

  // The file's tags; empty when it has none.
  std::string title() const;
  std::string artist() const;

  // Up to frames frames of interleaved 16-bit samples at rate() into
  // samples (frames × channels() of them); fewer only at the end of the
  // file, 0 after it.
  size_t read(short* samples, size_t frames);

 private:
  // How the file's samples are read when no resampling is needed.
  enum class Source { kPcm16, kInt32, kFloat };

  // Up to frames frames of the file at its own rate, fewer only at its end;
  // integers left-justified, floats at full scale 1.0.
  template <typename Sample>
  size_t readFile(int64_t (*readFrames)(sf_private_tag*, Sample*, int64_t), Sample* samples, size_t frames);
  static size_t supplyResampler(void* self, const void** data, size_t frames);

  sf_private_tag* file = nullptr;
  soxr* resampler = nullptr;
  Source source = Source::kFloat;
  int inputRate = 0;
  int outputRate = 0;
  int channelCount = 0;
  // Buffers kept from call to call: reading allocates only when a call asks
  // for more frames than any before it.
  std::vector<float> input;
  std::vector<float> output;
  std::vector<int> integers;
};

// Whether libsndfile reads the file at path as audio (whatever its rate or
// channels).
bool isAudioFile(const std::string& path);

// Float samples at full scale 1.0 as 16-bit samples: x × 32768 rounded to
// the nearest integer (halves away from zero), clipped to −32768…32767; NaN
// is 0.
void floatToPcm16(const float* in, size_t count, short* out);
