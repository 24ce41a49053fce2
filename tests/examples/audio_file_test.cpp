#include "examples/audio_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A file of the test's own, removed with it.
class TempFile {
 public:
  explicit TempFile(const std::string& extension)
      : path(::testing::TempDir() + "audio_file_test_" + std::to_string(getpid()) + "_" + std::to_string(next++) +
             extension) {}
  ~TempFile() { std::remove(path.c_str()); }
  const std::string path;

 private:
  static inline int next = 0;
};

// A sine of the given peak, in doubles at full scale 1.0.
std::vector<double> sine(int rate, double hz, double peak, size_t frames) {
  std::vector<double> x(frames);
  for (size_t i = 0; i < frames; ++i) x[i] = peak * std::sin(2 * kPi * hz * static_cast<double>(i) / rate);
  return x;
}

short expected(double x) { return static_cast<short>(std::lround(std::max(-32768.0, std::min(32767.0, x * 32768.0)))); }

// 24-bit samples of x, as the 32-bit integers that carry them.
int to24Bits(double x) { return static_cast<int>(std::lround(x * 8388608.0)) * 256; }

// Interleaved samples written in the given format: integer formats get the
// integers of the samples (libsndfile would scale doubles by one step less
// than full scale), float formats the samples as they are.
void writeFile(const std::string& path, int format, int rate, int channels, const std::vector<double>& samples) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  // Some formats take their tags only before the samples.
  sf_set_string(file, SF_STR_TITLE, "A title");
  const auto frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(channels));
  sf_count_t written = 0;
  if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) {
    std::vector<short> pcm(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) pcm[i] = expected(samples[i]);
    written = sf_writef_short(file, pcm.data(), frames);
  } else if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24) {
    std::vector<int> pcm(samples.size());
    for (size_t i = 0; i < samples.size(); ++i) pcm[i] = to24Bits(samples[i]);
    written = sf_writef_int(file, pcm.data(), frames);
  } else {
    written = sf_writef_double(file, samples.data(), frames);
  }
  EXPECT_EQ(written, frames);
  sf_close(file);
}

// What the file holds, in 16-bit steps, rounded: float samples are read
// as floats (those of a double file too).
short expectedOf(int format, double x) {
  if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) return expected(x);
  if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24)
    return static_cast<short>(std::lround(std::min(32767.0, to24Bits(x) / 65536.0)));
  return expected(static_cast<float>(x));
}

std::vector<short> readAll(AudioFile& audio) {
  std::vector<short> all;
  // An odd block size, so that blocks end anywhere within the resampler's.
  std::vector<short> block(1000 * static_cast<size_t>(audio.channels()));
  while (const size_t frames = audio.read(block.data(), 1000))
    all.insert(all.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(frames * audio.channels()));
  return all;
}

TEST(FloatToPcm16, RoundsAndClips) {
  const float half = 0.5f / 32768.0f;
  const struct {
    float in;
    short out;
  } cases[] = {
      {0.0f, 0},           {1.0f, 32767},        {-1.0f, -32768},         {1.5f, 32767},
      {-7.0f, -32768},     {0.5f, 16384},        {-0.25f, -8192},         {half, 1},
      {-half, -1},         {0.4f / 32768.0f, 0}, {100.6f / 32768.0f, 101}, {std::nanf(""), 0},
      {std::numeric_limits<float>::infinity(), 32767}, {-std::numeric_limits<float>::infinity(), -32768},
  };
  for (const auto& c : cases) {
    short out = 12345;
    floatToPcm16(&c.in, 1, &out);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

// Every sample format comes back at full scale: a float or double file is
// no quieter than a 16-bit one.
TEST(AudioFile, ReadsEveryFormatAtFullScale) {
  const std::vector<double> signal = sine(44100, 440.0, 0.5, 44100);
  const struct {
    int format;
    const char* extension;
    int tolerance;  // in 16-bit steps
  } formats[] = {
      {SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav", 0},   {SF_FORMAT_WAV | SF_FORMAT_PCM_24, ".wav", 0},
      {SF_FORMAT_WAV | SF_FORMAT_FLOAT, ".wav", 0},    {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, ".wav", 0},
      {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ".flac", 0}, {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, ".flac", 0},
      {SF_FORMAT_OGG | SF_FORMAT_VORBIS, ".ogg", 400},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(f.format);
    TempFile file(f.extension);
    writeFile(file.path, f.format, 44100, 1, signal);
    AudioFile audio(file.path, 44100);
    EXPECT_EQ(audio.fileRate(), 44100);
    EXPECT_EQ(audio.title(), "A title");
    const std::vector<short> pcm = readAll(audio);
    ASSERT_EQ(pcm.size(), signal.size());
    // A 16-bit file holds the rounded values; the others round when read.
    // Vorbis is lossy, and its decoder starts and ends with a ramp.
    int worst = 0;
    for (size_t i = 2048; i + 2048 < pcm.size(); ++i)
      worst = std::max(worst, std::abs(pcm[i] - expectedOf(f.format, signal[i])));
    EXPECT_LE(worst, f.tolerance);
  }
}

// A file at another rate comes out at the rate asked for, as long as it
// lasted, with its tone where it was and as loud, and each channel kept to
// itself: a band-limited resampler, which linear interpolation is not (it
// is off by hundreds of steps at 8 kHz).
TEST(AudioFile, ResamplesToTheRateAskedFor) {
  for (const int rate : {8000, 11025, 22050, 32000, 48000, 96000}) {
    SCOPED_TRACE(rate);
    const std::vector<double> left = sine(rate, 1000.0, 0.5, static_cast<size_t>(rate));
    std::vector<double> stereo(left.size() * 2, 0.0);
    for (size_t i = 0; i < left.size(); ++i) stereo[2 * i] = left[i];
    TempFile file(".wav");
    writeFile(file.path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 2, stereo);
    AudioFile audio(file.path, 44100);
    EXPECT_EQ(audio.fileRate(), rate);
    EXPECT_EQ(audio.rate(), 44100);
    const std::vector<short> pcm = readAll(audio);
    ASSERT_EQ(pcm.size(), 2u * 44100u);
    const std::vector<double> ideal = sine(44100, 1000.0, 0.5, 44100);
    int worstLeft = 0;
    int worstRight = 0;
    // The filter's ringing at the file's two ends is left out.
    for (size_t i = 2000; i + 2000 < 44100; ++i) {
      worstLeft = std::max(worstLeft, std::abs(pcm[2 * i] - expected(ideal[i])));
      worstRight = std::max(worstRight, std::abs(static_cast<int>(pcm[2 * i + 1])));
    }
    EXPECT_LE(worstLeft, 1);
    EXPECT_EQ(worstRight, 0);
  }
}

// A header written out by hand: mono, 16 bits, the given rate, no samples.
std::string waveHeader(uint32_t rate) {
  std::string bytes = std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0", 24);
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(rate >> (8 * i));
  const uint32_t byteRate = rate * 2;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(byteRate >> (8 * i));
  return bytes + std::string("\x02\0\x10\0data\0\0\0\0", 12);
}

TEST(AudioFile, RefusesWhatItCannotRead) {
  const struct {
    std::string bytes;  // the whole file
    int outputRate;
    std::string message;
  } cases[] = {
      {"not audio", 44100, "Format not recognised."},
      {waveHeader(1), 44100, "sample rate 1 Hz is not supported (8000–384000 Hz)"},
      {waveHeader(7999), 44100, "sample rate 7999 Hz is not supported (8000–384000 Hz)"},
      {waveHeader(384001), 44100, "sample rate 384001 Hz is not supported (8000–384000 Hz)"},
      {waveHeader(44100), 1000, "sample rate 1000 Hz is not supported (8000–384000 Hz)"},
  };
  for (const auto& c : cases) {
    TempFile file(".wav");
    std::FILE* out = std::fopen(file.path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(c.bytes.data(), 1, c.bytes.size(), out);
    std::fclose(out);
    try {
      AudioFile audio(file.path, c.outputRate);
      ADD_FAILURE() << "read " << c.message;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
