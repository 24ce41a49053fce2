#pragma once
// The signature object behind vraISignature: the host feeds it mono 16-bit
// PCM in pieces of any length; it cuts the samples into frames of the
// configuration's frame duration and pushes them through its extraction front
// end. The signature itself is made on first use (saving, or handing it to a
// session) and carries the song's title, artist, file name and length as text
// tags. The song record is part of the object: a reference to it is one to
// the signature.

#include <cstdint>
#include <vector>

#include "api/kivet.h"
#include "api/vra_reference_counted.h"
#include "api/vra_extractor.h"
#include "api/vra_song.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "signature/audio_sign_multi.h"

namespace vemra_kivet {

class vraSignature : public vraReferenceCounted<vraISignature> {
 public:
  // Not initialised, count 1: the creator owns the object it receives.
  vraSignature();
  vraSignature(const vraSignature&) = delete;
  vraSignature& operator=(const vraSignature&) = delete;

  // Replaces the signature by the one of a signature file (code 2 when the
  // file cannot be opened); does not need init, leaves the song record alone.
  // A file that cannot be read leaves the object as it was.
  void load(const char* path) override;
  // Finishes the signature when samples came since the last finish, then
  // writes it as a signature stream (code 3 when the file cannot be written).
  void save(const char* path) override;
  // Codes 14 for an odd count, 13 for a missing buffer; the object's state is
  // not touched.
  void downmixStereo(const short* stereo, unsigned count, short* mono) override;
  // Code 8 before init, 13 for a missing buffer, 15 when the sample buffers
  // cannot be allocated.
  void addSamples(const short* samples, unsigned count) override;
  // The song record with a reference added: the signature's own, so that
  // the caller may release the signature and the song in either order.
  vraISong* getSong() override;
  // Public so that an object embedding a signature can destroy it.
  ~vraSignature() override;

  // Code 14 for a rate of 0, before the configuration is read; codes 4, 9
  // and 12 from the front end; 14 when the configuration gives no usable
  // frame length (a "frameDuration" that is absent or not positive).
  virtual int init(const char* configPath, unsigned samplingRate);

  // Finishes the signature when needed; the result stays owned by this object.
  CAudioSignMulti* toMultiSignature();

  // Frames at most this long are accepted: a frame is held twice (as samples
  // and as floats), and real configurations use tens of milliseconds.
  static constexpr uint32_t kMaxFrameLength = 1u << 24;

 private:
  // The signature's song: its references count on the signature that holds
  // it, so a host's song keeps the memory of both until its last reference.
  class OwnSong final : public vraSong {
   public:
    explicit OwnSong(vraSignature& owner) : owner(owner) {}
    void release() override { owner.release(); }
    void addRef() override { owner.addRef(); }

   private:
    vraSignature& owner;
  };

  void finish();
  void finishUnguarded();
  void pushFrame(const short* samples);

  bool initialised = false;
  bool finished = false;
  unsigned samplingRate = 44100;
  CAudioSignMulti signature;
  // The samples that do not fill a frame yet; room for one frame.
  std::vector<int16_t> pending;
  unsigned pendingCount = 0;
  vraExtractor extractor;
  OwnSong song{*this};
  // Samples per frame, fixed by init.
  uint32_t frameLength = 0;
  // One frame as floats, reused by every frame.
  HeapVector<float> frame;
};

}  // namespace vemra_kivet
