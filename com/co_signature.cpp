#include "com/co_signature.h"

#include "com/bstr_conversion.h"

namespace vemra_kivet {

// getSong adds a reference to the embedded signature, which is never
// released: the embedded signature goes with this object whatever its count,
// and the wrapper counts the host's references to the song on this object.
coSignature::coSignature() : song(new coSong(signature.getSong(), this)) {}

coSignature::~coSignature() { delete song; }

void coSignature::init(const char* configPath, unsigned samplingRate) { signature.init(configPath, samplingRate); }

HRESULT coSignature::Load(BSTR path) {
  return comCall([&] { signature.load(bstrToText(path).c_str()); });
}

HRESULT coSignature::Save(BSTR path) {
  return comCall([&] { signature.save(bstrToText(path).c_str()); });
}

HRESULT coSignature::DownmixStereo(const short* stereo, unsigned int count, short* mono) {
  return comCall([&] {
    // A mono buffer that cannot take the result is refused like a missing one.
    if (count > 0 && count % 2 == 0 && IsBadWritePtr(mono, count / 2 * sizeof(short)))
      throw vraKivetException(VRA_INVALID_BUFFER);
    signature.downmixStereo(stereo, count, mono);
  });
}

HRESULT coSignature::AddSamples(const short* samples, unsigned int count) {
  return comCall([&] { signature.addSamples(samples, count); });
}

HRESULT coSignature::GetSong(ISong** out) {
  if (!isWritable(out)) return E_POINTER;
  song->AddRef();
  *out = song;
  return S_OK;
}

}  // namespace vemra_kivet
