#pragma once
// A demo clip (examples/demo_clips.h) made a signature with the sample
// extraction configuration through the public interface, as a host does:
// a stereo clip downmixed by the library. Not finished yet.

#include <vector>

#include "api/held.h"
#include "api/kivet.h"
#include "examples/demo_clips.h"

namespace demotest {

inline vemra_kivet::Held<vemra_kivet::vraISignature> signatureOf(const demo::Clip& clip, int rate) {
  vemra_kivet::Held<vemra_kivet::vraISignature> signature(
      vemra_kivet::CreateSignature(KIVET_CONFIG_DIR "/default.xml", static_cast<unsigned>(rate)));
  std::vector<short> pcm = demo::toPcm(clip);
  if (clip.channels.size() == 2) {
    std::vector<short> mono(pcm.size() / 2);
    signature->downmixStereo(pcm.data(), static_cast<unsigned>(pcm.size()), mono.data());
    pcm.swap(mono);
  }
  signature->addSamples(pcm.data(), static_cast<unsigned>(pcm.size()));
  return signature;
}

}  // namespace demotest
