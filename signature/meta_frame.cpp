#include "signature/meta_frame.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace {

// A fresh array of length bytes plus the terminating NUL; the bytes are copied
// from source when it is given and zero otherwise.
template <typename T>
T* newTerminatedArray(uint32_t length, const T* source) {
  T* array = new T[static_cast<std::size_t>(length) + 1]();
  if (source != nullptr && length > 0) std::memcpy(array, source, length);
  return array;
}

}  // namespace

CMetaFrameBase::~CMetaFrameBase() = default;

SMetaFrame::SMetaFrame() : tagLen(0), tag(nullptr), dataLen(0), data(nullptr) {}

SMetaFrame::SMetaFrame(uint32_t tagLen, uint32_t dataLen, const char* tag, const unsigned char* data)
    : tagLen(0), tag(nullptr), dataLen(0), data(nullptr) {
  set(tagLen, dataLen, tag, data);
}

SMetaFrame::SMetaFrame(const SMetaFrame& other)
    : CMetaFrameBase(other), tagLen(other.tagLen), tag(nullptr), dataLen(other.dataLen), data(nullptr) {
  // An empty frame stays without arrays, so that "no data delivered" survives a copy.
  if (other.tag != nullptr) tag = newTerminatedArray(tagLen, other.tag);
  if (other.data != nullptr) data = newTerminatedArray(dataLen, other.data);
}

SMetaFrame::SMetaFrame(SMetaFrame&& other) noexcept
    : CMetaFrameBase(other), tagLen(other.tagLen), tag(other.tag), dataLen(other.dataLen), data(other.data) {
  other.tagLen = 0;
  other.tag = nullptr;
  other.dataLen = 0;
  other.data = nullptr;
}

SMetaFrame& SMetaFrame::operator=(const SMetaFrame& other) {
  if (this == &other) return *this;
  SMetaFrame copy(other);
  *this = std::move(copy);
  return *this;
}

SMetaFrame& SMetaFrame::operator=(SMetaFrame&& other) noexcept {
  if (this == &other) return *this;
  release();
  std::swap(tagLen, other.tagLen);
  std::swap(tag, other.tag);
  std::swap(dataLen, other.dataLen);
  std::swap(data, other.data);
  return *this;
}

SMetaFrame::~SMetaFrame() { release(); }

unsigned char* SMetaFrame::set(uint32_t newTagLen, uint32_t newDataLen, const char* newTag,
                               const unsigned char* newData) {
  // Allocate before releasing: the new tag or data may be this frame's own
  // bytes, and a failed allocation must leave the frame as it was.
  char* freshTag = newTerminatedArray(newTagLen, newTag);
  unsigned char* freshData;
  try {
    freshData = newTerminatedArray(newDataLen, newData);
  } catch (...) {
    delete[] freshTag;
    throw;
  }
  release();
  tagLen = newTagLen;
  tag = freshTag;
  dataLen = newDataLen;
  data = freshData;
  return data;
}

bool SMetaFrame::hasTag(const char* otherTag, uint32_t otherTagLen) const {
  if (otherTag == nullptr || otherTagLen != tagLen) return false;
  if (tagLen == 0) return true;
  return tag != nullptr && std::memcmp(tag, otherTag, tagLen) == 0;
}

void SMetaFrame::release() {
  delete[] tag;
  delete[] data;
  tag = nullptr;
  data = nullptr;
  tagLen = 0;
  dataLen = 0;
}
