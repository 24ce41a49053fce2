#pragma once
// The COM object of a signature (ISignature): embeds a vraSignature and
// forwards each method to it, with the signature's own song behind a coSong.

#include "api/vra_signature.h"
#include "com/co_object.h"
#include "com/co_song.h"
#include "com/kivet_local.h"

namespace vemra_kivet {

// Answered only by coSignature objects: tells them from a host's own
// implementation of ISignature. {B5EF9F63-6433-4DD6-AFD0-384E16B79E57}
inline constexpr IID IID_coSignature = {
    0xB5EF9F63, 0x6433, 0x4DD6, {0xAF, 0xD0, 0x38, 0x4E, 0x16, 0xB7, 0x9E, 0x57}};

class coSignature : public coObject<ISignature, IID_ISignature, &IID_coSignature> {
 public:
  // Not initialised until init; count 1.
  coSignature();

  // Initialises the embedded signature (the codes of vraSignature::init).
  void init(const char* configPath, unsigned samplingRate);
  // The embedded signature, for the objects that take a signature.
  vraSignature& inner() { return signature; }

  HRESULT STDMETHODCALLTYPE Load(BSTR path) override;
  HRESULT STDMETHODCALLTYPE Save(BSTR path) override;
  HRESULT STDMETHODCALLTYPE DownmixStereo(const short* stereo, unsigned int count, short* mono) override;
  HRESULT STDMETHODCALLTYPE AddSamples(const short* samples, unsigned int count) override;
  HRESULT STDMETHODCALLTYPE GetSong(ISong** song) override;

 private:
  ~coSignature() override;

  vraSignature signature;
  // Shares this object's count; deleted with it.
  coSong* song;
};

}  // namespace vemra_kivet
