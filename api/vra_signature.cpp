#include "api/vra_signature.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <new>
#include <string>

#include "api/staged_files.h"
#include "api/vra_kivet_exception.h"
#include "signature/audio_sign_tag_writer.h"

namespace vemra_kivet {

namespace {

// 2^-15: -32768 maps to -1.0.
constexpr float kSampleScale = 3.0517578e-05f;

// Runs an operation of the interface: a coded exception passes unchanged,
// anything else becomes code 1.
template <typename Operation>
void guarded(Operation&& operation) {
  withErrorCode(VRA_UNKNOWN_ERROR, operation);
}

}  // namespace

vraISignature* CreateSignature(const char* configPath, unsigned samplingRate) {
  return createInitialised<vraSignature>(configPath, samplingRate);
}

vraSignature::vraSignature() = default;

vraSignature::~vraSignature() = default;

vraISong* vraSignature::getSong() {
  song.addRef();
  return &song;
}

int vraSignature::init(const char* configPath, unsigned rate) {
  guarded([&] {
    // Until the new configuration has been accepted the object cannot take
    // samples: the old extractor is gone as soon as the front end starts.
    initialised = false;
    samplingRate = rate;
    // A rate of 0 makes frames of no samples, whatever the configuration:
    // refused before a module is built for it.
    if (rate == 0) {
      extractor.release();
      throw vraKivetException(VRA_INVALID_PARAMETER);
    }
    extractor.init(configPath, rate);
    // Both factors are taken as unsigned: an absent "frameDuration" (-1)
    // would make an enormous frame, and 0 no frame at all.
    const int32_t frameDuration = extractor.getFrameDuration();
    const double length =
        std::floor(static_cast<double>(rate) * static_cast<uint32_t>(frameDuration) * 0.001 + 0.5);
    if (frameDuration <= 0 || length < 1.0 || length > kMaxFrameLength) {
      extractor.release();
      throw vraKivetException(VRA_INVALID_PARAMETER);
    }
    frameLength = static_cast<uint32_t>(length);
    signature.reset();
    pending.clear();
    pendingCount = 0;
    initialised = true;
    finished = false;
  });
  return 0;
}

void vraSignature::pushFrame(const short* samples) {
  for (uint32_t i = 0; i < frameLength; ++i) frame.data[i] = samples[i] * kSampleScale;
  extractor.processFrame(frame);
}

void vraSignature::addSamples(const short* samples, unsigned count) {
  guarded([&] {
    if (!initialised) throw vraKivetException(VRA_SIGNATURE_NOT_INITIALIZED);
    if (!samples && count > 0) throw vraKivetException(VRA_INVALID_BUFFER);
    try {
      if (frame.size != frameLength) frame.resize(frameLength);
      if (pending.size() != frameLength) pending.resize(frameLength);
    } catch (const std::bad_alloc&) {
      throw vraKivetException(VRA_MEMORY_ERROR);
    }

    // Frames run across the calls: the pending samples are completed from
    // the new ones first. When a frame fails, the samples of this call and
    // those pending before it are dropped.
    const uint32_t pendingBefore = pendingCount;
    pendingCount = 0;
    unsigned used = 0;
    if (pendingBefore > 0) {
      const unsigned take = std::min(frameLength - pendingBefore, count);
      std::copy_n(samples, take, pending.data() + pendingBefore);
      used = take;
      if (pendingBefore + take < frameLength) {
        pendingCount = pendingBefore + take;
      } else {
        pushFrame(pending.data());
      }
    }
    if (pendingCount == 0) {
      while (count - used >= frameLength) {
        pushFrame(samples + used);
        used += frameLength;
      }
      std::copy_n(samples + used, count - used, pending.data());
      pendingCount = count - used;
    }

    // Each call rounds down on its own. The length is a 32-bit count of
    // milliseconds that wraps; at very low rates one call alone can exceed
    // it, so the growth is wrapped too instead of overflowing a conversion.
    const auto grown = static_cast<uint32_t>(static_cast<int64_t>(std::floor(count * 1000.0 / samplingRate)));
    song.setLength(static_cast<int32_t>(static_cast<uint32_t>(song.getLength()) + grown));
    finished = false;
  });
}

void vraSignature::downmixStereo(const short* stereo, unsigned count, short* mono) {
  if (count == 0) return;
  if (count % 2 != 0) throw vraKivetException(VRA_INVALID_PARAMETER);
  if (!stereo || !mono) throw vraKivetException(VRA_INVALID_BUFFER);
  // 32-bit sums; the division truncates toward zero (-3 / 2 = -1).
  for (unsigned i = 0; i < count / 2; ++i) {
    const int32_t sum = static_cast<int32_t>(stereo[2 * i]) + static_cast<int32_t>(stereo[2 * i + 1]);
    mono[i] = static_cast<short>(sum / 2);
  }
}

void vraSignature::finishUnguarded() {
  if (!initialised) throw vraKivetException(VRA_SIGNATURE_NOT_INITIALIZED);
  signature.append(extractor.getSignature());

  char length[16];
  std::snprintf(length, sizeof length, "%d", song.getLength());
  CAudioSignTagWriter tags;
  tags.setSignature(&signature);
  tags.setTag("TIT2", song.getTitle(false));
  tags.setTag("TPE1", song.getArtist(false));
  tags.setTag("FILENAME", song.getFileName(false));
  tags.setTag("TLEN", length);
  finished = true;
}

void vraSignature::finish() {
  guarded([&] { finishUnguarded(); });
}

CAudioSignMulti* vraSignature::toMultiSignature() {
  if (!finished) finish();
  return &signature;
}

void vraSignature::save(const char* path) {
  guarded([&] {
    if (!finished) finishUnguarded();
    // Without data nothing would be written: refuse rather than leave an
    // empty file that reads as no signature.
    if (!signature.isInitialized()) throw vraKivetException(VRA_INVALID_SIGNATURE);
    if (path == nullptr) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
    // Written aside and put in place whole: a save cut short (a full disk)
    // leaves a signature file of an earlier save as it was.
    StagedFiles files("vraSignature::save()");
    std::ostream& out = files.write(path);
    if (out.fail()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
    signature.write(out);
    if (out.fail() || !files.commit()) throw vraKivetException(VRA_FAILED_TO_SAVE_FILE);
  });
}

void vraSignature::load(const char* path) {
  guarded([&] {
    std::ifstream in;
    if (path) in.open(path, std::ios::binary);
    if (!in.is_open()) throw vraKivetException(VRA_FAILED_TO_OPEN_FILE);
    // The held signature is replaced only once the file has been read: a
    // file that cannot be read leaves it and the pending samples as they were.
    signature.read(in, nullptr);
    pendingCount = 0;
    finished = true;
  });
}

}  // namespace vemra_kivet
