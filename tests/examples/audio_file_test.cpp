#include "examples/audio_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_files.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A file of the test's own, removed with the test's folder.
class TempFile {
 public:
  explicit TempFile(const std::string& extension) : path(testfiles::tempPath(std::to_string(next++) + extension)) {}
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

// x × 32768 rounded, halves away from zero, and clipped; NaN is 0.
short expected(double x) {
  return std::isnan(x) ? 0 : static_cast<short>(std::lround(std::clamp(x * 32768.0, -32768.0, 32767.0)));
}

bool isFloatFormat(int format) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE || subtype == SF_FORMAT_VORBIS;
}

// Interleaved samples written in the given format: float formats get the
// samples as they are, integer formats the samples as 32-bit integers
// (libsndfile would scale doubles by one step less than full scale), which
// it cuts to the format's width.
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
  if (isFloatFormat(format)) {
    written = sf_writef_double(file, samples.data(), frames);
  } else {
    std::vector<int> pcm(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
      pcm[i] = static_cast<int>(std::clamp(std::llround(samples[i] * 2147483648.0), -2147483648LL, 2147483647LL));
    written = sf_writef_int(file, pcm.data(), frames);
  }
  EXPECT_EQ(written, frames);
  sf_close(file);
}

std::vector<short> readAll(AudioFile& audio) {
  std::vector<short> all;
  // An odd block size, so that blocks end anywhere within the resampler's.
  std::vector<short> block(1000 * static_cast<size_t>(audio.channels()));
  while (const size_t frames = audio.read(block.data(), 1000))
    all.insert(all.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(frames * audio.channels()));
  return all;
}

// What a file should come out as, worked out plainly from its samples read
// back as doubles at full scale: those of a double file through the floats
// nearest them (it is read as floats), those at another rate resampled all
// at once, each rounded and clipped.
std::vector<short> expectedOf(const std::string& path, int rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  std::vector<double> x(static_cast<size_t>(info.frames * info.channels));
  if (file) sf_readf_double(file, x.data(), info.frames);
  sf_close(file);
  if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE)
    for (double& v : x) v = static_cast<float>(v);
  if (info.samplerate != rate) {
    const std::vector<float> in(x.begin(), x.end());
    std::vector<float> out(in.size() * static_cast<size_t>(rate) / static_cast<size_t>(info.samplerate) + 1000);
    size_t done = 0;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_oneshot(info.samplerate, rate, static_cast<unsigned>(info.channels), in.data(),
                 static_cast<size_t>(info.frames), nullptr, out.data(),
                 out.size() / static_cast<size_t>(info.channels), &done, nullptr, &quality, nullptr);
    x.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(done * static_cast<size_t>(info.channels)));
  }
  std::vector<short> pcm(x.size());
  for (size_t i = 0; i < x.size(); ++i) pcm[i] = expected(x[i]);
  return pcm;
}

// A tone per channel, opened by values on and beside the halves between
// 16-bit steps (beside by one step of 32 bits) and at full scale; float
// formats also get values beyond full scale and no numbers at all.
std::vector<double> testSignal(int format, int rate, int channels) {
  const double step = 1.0 / 32768.0;
  const double fine = 1.0 / 2147483648.0;
  std::vector<double> opening = {1.0, -1.0, 32767.5 * step, -32768 * step, 0.0};
  for (const double half : {0.5, 2.5, 99.5, 12345.5, 32766.5})
    for (const double sign : {1.0, -1.0})
      for (const double beside : {-fine, 0.0, fine}) opening.push_back(sign * (half * step + beside));
  if (isFloatFormat(format) && (format & SF_FORMAT_SUBMASK) != SF_FORMAT_VORBIS)
    opening.insert(opening.end(), {1.5, -7.0, std::nextafter(0.5f, 0.0f) * step, std::nan(""), HUGE_VAL, -HUGE_VAL});
  const size_t frames = static_cast<size_t>(rate) / 4;
  std::vector<double> x(frames * static_cast<size_t>(channels));
  for (size_t c = 0; c < static_cast<size_t>(channels); ++c) {
    const std::vector<double> tone = sine(rate, 440.0 * static_cast<double>(c + 1), 0.6, frames);
    for (size_t i = 0; i < frames; ++i)
      x[i * static_cast<size_t>(channels) + c] = i < opening.size() ? opening[i] : tone[i];
  }
  return x;
}

TEST(FloatToPcm16, RoundsHalvesAwayFromZeroAndClips) {
  const float step = 1.0f / 32768.0f;
  const float belowHalf = std::nextafter(0.5f, 0.0f) * step;
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<std::pair<float, short>> cases = {
      {0.0f, 0},           {1.0f, 32767},     {-1.0f, -32768},         {1.5f, 32767},
      {-7.0f, -32768},     {0.5f, 16384},     {-0.25f, -8192},         {0.5f * step, 1},
      {-0.5f * step, -1},  {0.4f * step, 0},  {100.6f * step, 101},    {-2.5f * step, -3},
      {belowHalf, 0},      {-belowHalf, 0},   {32766.5f * step, 32767}, {-32767.5f * step, -32768},
      {std::nanf(""), 0},  {inf, 32767},      {-inf, -32768},
  };
  // As one block and one by one: a compiler may take a block several
  // samples at a time.
  std::vector<float> in;
  for (const auto& c : cases) in.push_back(c.first);
  std::vector<short> block(in.size());
  floatToPcm16(in.data(), in.size(), block.data());
  for (size_t i = 0; i < cases.size(); ++i) {
    short alone = 12345;
    floatToPcm16(&in[i], 1, &alone);
    EXPECT_EQ(block[i], cases[i].second) << in[i];
    EXPECT_EQ(alone, cases[i].second) << in[i];
  }
}

// Every format comes out as it holds its samples, at full scale (a float or
// double file is no quieter than a 16-bit one): 16-bit files exactly as
// stored, the others rounded to the nearest 16-bit step and clipped.
TEST(AudioFile, ReadsEveryFormatAsItsSamplesRounded) {
  const struct {
    int format;
    const char* extension;
    int channels;
    int rate;
  } formats[] = {
      {SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav", 1, 44100},    {SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav", 2, 44100},
      {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, ".flac", 2, 44100},  {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, ".wav", 1, 44100},
      {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, ".aiff", 2, 44100},  {SF_FORMAT_WAV | SF_FORMAT_ULAW, ".wav", 1, 44100},
      {SF_FORMAT_WAV | SF_FORMAT_ALAW, ".wav", 1, 44100},      {SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, ".wav", 2, 44100},
      {SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, ".wav", 1, 44100},  {SF_FORMAT_WAV | SF_FORMAT_GSM610, ".wav", 1, 44100},
      {SF_FORMAT_WAV | SF_FORMAT_G721_32, ".wav", 1, 44100},   {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, ".aiff", 1, 44100},
      {SF_FORMAT_AIFF | SF_FORMAT_DWVW_16, ".aiff", 1, 44100}, {SF_FORMAT_CAF | SF_FORMAT_ALAC_16, ".caf", 2, 44100},
      {SF_FORMAT_WAV | SF_FORMAT_PCM_24, ".wav", 2, 44100},    {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, ".flac", 1, 44100},
      {SF_FORMAT_WAV | SF_FORMAT_PCM_32, ".wav", 2, 44100},    {SF_FORMAT_AIFF | SF_FORMAT_DWVW_24, ".aiff", 1, 44100},
      {SF_FORMAT_CAF | SF_FORMAT_ALAC_20, ".caf", 1, 44100},   {SF_FORMAT_CAF | SF_FORMAT_ALAC_32, ".caf", 1, 44100},
      {SF_FORMAT_WAV | SF_FORMAT_FLOAT, ".wav", 1, 44100},     {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, ".wav", 2, 44100},
      {SF_FORMAT_OGG | SF_FORMAT_VORBIS, ".ogg", 2, 44100},    {SF_FORMAT_WAV | SF_FORMAT_PCM_16, ".wav", 2, 48000},
      {SF_FORMAT_WAV | SF_FORMAT_PCM_24, ".wav", 1, 22050},    {SF_FORMAT_WAV | SF_FORMAT_DOUBLE, ".wav", 1, 8000},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(testing::Message() << std::hex << f.format << std::dec << ", " << f.channels << " channels, "
                                    << f.rate << " Hz");
    TempFile file(f.extension);
    writeFile(file.path, f.format, f.rate, f.channels, testSignal(f.format, f.rate, f.channels));
    AudioFile audio(file.path, 44100);
    EXPECT_EQ(audio.fileRate(), f.rate);
    EXPECT_EQ(audio.channels(), f.channels);
    EXPECT_EQ(audio.title(), "A title");
    const std::vector<short> pcm = readAll(audio);
    const std::vector<short> wanted = expectedOf(file.path, 44100);
    ASSERT_EQ(pcm.size(), wanted.size());
    // Block codecs fill up their last block.
    ASSERT_GE(pcm.size(), static_cast<size_t>(f.channels * std::lround(f.rate / 4 * 44100.0 / f.rate)));
    size_t wrong = 0;
    size_t first = 0;
    for (size_t i = 0; i < pcm.size(); ++i)
      if (pcm[i] != wanted[i] && wrong++ == 0) first = i;
    EXPECT_EQ(wrong, 0u) << "the first at " << first << ": " << pcm[first] << ", not " << wanted[first];
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
