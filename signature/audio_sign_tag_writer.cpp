#include "signature/audio_sign_tag_writer.h"

#include "signature/audio_sign_multi.h"

void CAudioSignTagWriter::setSignature(CAudioSignMulti* newSignature) { signature = newSignature; }

void CAudioSignTagWriter::setTag(const std::string& tag, const std::string& value) {
  // A signature without data has no frames to hold the tag.
  if (signature == nullptr || !signature->isInitialized())
    throw std::string("Error, AudioSignMulti not initialized!");
  CSignDataMulti& data = *signature->getSignData();
  CMetaVec frames(data.getMetaVec());
  const unsigned tagLen = static_cast<unsigned>(tag.size());
  const unsigned dataLen = static_cast<unsigned>(value.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(value.data());
  const int index = frames.find(tag.data(), tagLen);
  if (index >= 0)
    frames.setData(index, bytes, dataLen);
  else
    frames.add(tagLen, tag.data(), dataLen, bytes);
  data.setMetaVec(frames);
}
