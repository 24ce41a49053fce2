#include "examples/audio_file.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Frames the resampler takes from the file per request.
constexpr size_t kInputFrames = 8192;

bool rateSupported(int rate) { return rate >= AudioFile::kLowestRate && rate <= AudioFile::kHighestRate; }

std::runtime_error unsupportedRate(int rate) {
  return std::runtime_error("sample rate " + std::to_string(rate) + " Hz is not supported (" +
                            std::to_string(AudioFile::kLowestRate) + "–" + std::to_string(AudioFile::kHighestRate) +
                            " Hz)");
}

}  // namespace

AudioFile::AudioFile(const std::string& path, int rate) : outputRate(rate) {
  if (!rateSupported(rate)) throw unsupportedRate(rate);
  SF_INFO info{};
  file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) throw std::runtime_error(sf_strerror(nullptr));
  inputRate = info.samplerate;
  channelCount = info.channels;
  try {
    if (channelCount < 1) throw std::runtime_error("the file has no channels");
    if (!rateSupported(inputRate)) throw unsupportedRate(inputRate);
    // Integer samples arrive divided by their full scale (32768 for 16 bits,
    // so that they go back unchanged), float samples as they are stored.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
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

size_t AudioFile::readFile(float* samples, size_t frames) {
  size_t filled = 0;
  while (filled < frames) {
    const sf_count_t got = sf_readf_float(file, samples + filled * static_cast<size_t>(channelCount),
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
  return audio.readFile(audio.input.data(), std::min(frames, kInputFrames));
}

size_t AudioFile::read(short* samples, size_t frames) {
  const size_t count = frames * static_cast<size_t>(channelCount);
  if (output.size() < count) output.resize(count);
  size_t filled = 0;
  if (resampler == nullptr) {
    filled = readFile(output.data(), frames);
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
    const float scaled = in[i] * 32768.0f;
    if (scaled >= 32767.0f)
      out[i] = 32767;
    else if (scaled <= -32768.0f)
      out[i] = -32768;
    else if (std::isnan(scaled))
      out[i] = 0;
    else
      out[i] = static_cast<short>(std::lround(scaled));
  }
}
