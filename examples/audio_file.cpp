#include "examples/audio_file.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "examples/host_failure.h"

namespace {

// Frames the resampler takes from the file per request.
constexpr size_t kInputFrames = 8192;

bool rateSupported(int rate) { return rate >= AudioFile::kLowestRate && rate <= AudioFile::kHighestRate; }

// Opens the file at path for reading with libsndfile, which takes the name
// "-" for the standard input: a file of that name is opened as "./-".
SNDFILE* openFile(const std::string& path, SF_INFO& info) {
  return sf_open(path == "-" ? "./-" : path.c_str(), SFM_READ, &info);
}

std::runtime_error unsupportedRate(int rate) {
  return std::runtime_error("sample rate " + std::to_string(rate) + " Hz is not supported (" +
                            std::to_string(AudioFile::kLowestRate) + "–" + std::to_string(AudioFile::kHighestRate) +
                            " Hz)");
}

// Integer samples left-justified in 32 bits (as libsndfile hands out those of
// every width) as 16-bit samples: x / 65536 rounded to the nearest integer
// (halves away from zero), clipped at 32767. The low 16 bits are the
// fraction above the whole part, which the shift rounds down: a half rounds
// up above zero and stays below it.
void int32ToPcm16(const int* in, size_t count, short* out) {
  for (size_t i = 0; i < count; ++i) {
    const int x = in[i];
    const int whole = x >> 16;
    const int fraction = x & 0xFFFF;
    out[i] = static_cast<short>(std::min(whole + (fraction >= 0x8000 + (x < 0)), 32767));
  }
}

}  // namespace

AudioFile::AudioFile(const std::string& path, int rate) : outputRate(rate) {
  if (!rateSupported(rate)) throw unsupportedRate(rate);
  // libsndfile opens a folder and then finds no format in it, and words a
  // file it cannot open as a "System error".
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) throw std::runtime_error("is a folder, not an audio file");
  const std::string unreadable = unreadableBecause(path);
  if (!unreadable.empty()) throw std::runtime_error(unreadable);
  SF_INFO info{};
  file = openFile(path, info);
  if (!file) throw std::runtime_error(sf_strerror(nullptr));
  inputRate = info.samplerate;
  channelCount = info.channels;
  try {
    if (channelCount < 1) throw std::runtime_error("the file has no channels");
    if (!rateSupported(inputRate)) throw unsupportedRate(inputRate);
    // Read as floats (for the resampler, or from a float format), integer
    // samples arrive divided by their full scale (32768 for 16 bits, so that
    // they go back unchanged), float samples as they are stored.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    // Formats of 16 bits or fewer (their codecs decode to 16-bit samples) are
    // read as 16-bit samples, which come out as they are; wider integers as
    // 32-bit ones, which lose nothing before rounding; any other format as
    // floats, as its decoder makes them. Neither conversion calls a library
    // function per sample, and GCC vectorises both at -O3.
    switch (info.format & SF_FORMAT_SUBMASK) {
      case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: case SF_FORMAT_PCM_16: case SF_FORMAT_ULAW: case SF_FORMAT_ALAW:
      case SF_FORMAT_IMA_ADPCM: case SF_FORMAT_MS_ADPCM: case SF_FORMAT_GSM610: case SF_FORMAT_VOX_ADPCM:
      case SF_FORMAT_NMS_ADPCM_16: case SF_FORMAT_NMS_ADPCM_24: case SF_FORMAT_NMS_ADPCM_32: case SF_FORMAT_G721_32:
      case SF_FORMAT_G723_24: case SF_FORMAT_G723_40: case SF_FORMAT_DWVW_12: case SF_FORMAT_DWVW_16:
      case SF_FORMAT_DPCM_8: case SF_FORMAT_DPCM_16: case SF_FORMAT_ALAC_16:
        source = Source::kPcm16;
        break;
      case SF_FORMAT_PCM_24: case SF_FORMAT_PCM_32: case SF_FORMAT_DWVW_24: case SF_FORMAT_DWVW_N:
      case SF_FORMAT_ALAC_20: case SF_FORMAT_ALAC_24: case SF_FORMAT_ALAC_32:
        source = Source::kInt32;
        break;
      default:
        source = Source::kFloat;
    }
    if (inputRate == outputRate) return;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    resampler = soxr_create(inputRate, outputRate, static_cast<unsigned>(channelCount), &error, &io, &quality, nullptr);
    if (!error) error = soxr_set_input_fn(resampler, &AudioFile::supplyResampler, this, kInputFrames);
    if (error) throw std::runtime_error(std::string("resampling: ") + error);
    input.resize(kInputFrames * static_cast<size_t>(channelCount));
  } catch (...) {
    if (resampler) soxr_delete(resampler);
    sf_close(file);
    throw;
  }
}

bool isAudioFile(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = openFile(path, info);
  if (file) sf_close(file);
  return file != nullptr;
}

AudioFile::~AudioFile() {
  if (resampler) soxr_delete(resampler);
  sf_close(file);
}

std::string AudioFile::title() const {
  const char* text = sf_get_string(file, SF_STR_TITLE);
  return text ? text : "";
}

std::string AudioFile::artist() const {
  const char* text = sf_get_string(file, SF_STR_ARTIST);
  return text ? text : "";
}

template <typename Sample>
size_t AudioFile::readFile(int64_t (*readFrames)(SNDFILE*, Sample*, int64_t), Sample* samples, size_t frames) {
  size_t filled = 0;
  while (filled < frames) {
    const sf_count_t got = readFrames(file, samples + filled * static_cast<size_t>(channelCount),
                                      static_cast<sf_count_t>(frames - filled));
    if (got <= 0) break;
    filled += static_cast<size_t>(got);
  }
  return filled;
}

// The resampler's source: the next frames of the file, none at its end.
// Data without frames means the end; no data at all would mean a failure.
size_t AudioFile::supplyResampler(void* self, const void** data, size_t frames) {
  auto& audio = *static_cast<AudioFile*>(self);
  *data = audio.input.data();
  return audio.readFile(&sf_readf_float, audio.input.data(), std::min(frames, kInputFrames));
}

size_t AudioFile::read(short* samples, size_t frames) {
  const size_t count = frames * static_cast<size_t>(channelCount);
  if (resampler == nullptr && source == Source::kPcm16) return readFile(&sf_readf_short, samples, frames);
  if (resampler == nullptr && source == Source::kInt32) {
    if (integers.size() < count) integers.resize(count);
    const size_t filled = readFile(&sf_readf_int, integers.data(), frames);
    int32ToPcm16(integers.data(), filled * static_cast<size_t>(channelCount), samples);
    return filled;
  }
  if (output.size() < count) output.resize(count);
  size_t filled = 0;
  if (resampler == nullptr) {
    filled = readFile(&sf_readf_float, output.data(), frames);
  } else {
    // The resampler hands out less than asked for while it fills its
    // pipeline; nothing at all only once the file's end has come out.
    while (filled < frames) {
      const size_t got = soxr_output(resampler, output.data() + filled * static_cast<size_t>(channelCount),
                                     frames - filled);
      if (got == 0) break;
      filled += got;
    }
    if (const soxr_error_t error = soxr_error(resampler)) throw std::runtime_error(std::string("resampling: ") + error);
  }
  floatToPcm16(output.data(), filled * static_cast<size_t>(channelCount), samples);
  return filled;
}

void floatToPcm16(const float* in, size_t count, short* out) {
  for (size_t i = 0; i < count; ++i) {
    const float x = in[i] * 32768.0f;
    // The largest float below a half, away from zero, then truncation: a
    // half itself would carry 0.49999997 up to 1, this one still carries
    // every k + 0.5 up to k + 1. Clipping after it keeps every sample the
    // same (the bounds are whole) and lets GCC vectorise the loop, which it
    // does not when arithmetic follows the comparisons.
    float rounded = x + std::copysign(0.49999997f, x);
    rounded = rounded == rounded ? rounded : 0.0f;  // NaN
    rounded = rounded < -32768.0f ? -32768.0f : rounded;
    rounded = rounded > 32767.0f ? 32767.0f : rounded;
    out[i] = static_cast<short>(rounded);
  }
}
