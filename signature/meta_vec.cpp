#include "signature/meta_vec.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>

#include "metadata/sources/common/byte_stream.h"
#include "signature/meta_tags.h"

namespace {

const char kMetaMagic[4] = {'M', 'E', 'T', 'A'};

// Largest length a VLQ can carry.
constexpr uint32_t kMaxVlqValue = 0x7FFFFFFF;

[[noreturn]] void throwCorrupted() { throw std::string("readMetaStream: corrupted stream"); }

// A frame goes into a chunk only when its tag fits the u8 tag length (and is
// not empty, which a reader takes for corruption) and its data length fits a
// VLQ; anything else would make a chunk that cannot be read back.
bool isStorable(const SMetaFrame& frame) {
  return frame.tag != nullptr && frame.tagLen >= 1 && frame.tagLen <= 255 && frame.dataLen <= kMaxVlqValue &&
         (frame.data != nullptr || frame.dataLen == 0);
}

uint32_t storedFrameSize(const SMetaFrame& frame) {
  return 1 + frame.tagLen + vlqLength(static_cast<int>(frame.dataLen)) + frame.dataLen;
}

uint32_t payloadSize(const std::vector<SMetaFrame>& frames) {
  uint32_t payload = 0;
  for (const SMetaFrame& frame : frames) {
    if (isStorable(frame)) payload += storedFrameSize(frame);
  }
  return payload;
}

// True when a whole VLQ (up to its byte with the high bit clear) lies in
// buffer[pos, end), so that the unbounded buffer reader stays inside.
bool vlqWithin(const unsigned char* buffer, uint64_t pos, uint64_t end) {
  for (; pos < end; ++pos) {
    if ((buffer[pos] & 0x80) == 0) return true;
  }
  return false;
}

}  // namespace

CMetaVec::CMetaVec() = default;

CMetaVec::CMetaVec(const CMetaVec& other) = default;

CMetaVec::CMetaVec(const CMetaVec& other, unsigned tagIndex) { assignWithout(other, tagIndex); }

CMetaVec& CMetaVec::operator=(const CMetaVec& other) {
  if (this != &other) frames = other.frames;
  return *this;
}

CMetaVec::~CMetaVec() = default;

unsigned CMetaVec::size() const { return static_cast<unsigned>(frames.size()); }

int CMetaVec::find(const char* tag, unsigned tagLen, int start) const {
  if (tag == nullptr) return -1;
  for (std::size_t i = start < 0 ? 0 : static_cast<std::size_t>(start); i < frames.size(); ++i) {
    if (frames[i].hasTag(tag, tagLen)) return static_cast<int>(i);
  }
  return -1;
}

unsigned char* CMetaVec::getData(const char* tag, unsigned& tagLenInDataLenOut, int& startInIndexOut) {
  const CMetaVec& self = *this;
  return const_cast<unsigned char*>(self.getData(tag, tagLenInDataLenOut, startInIndexOut));
}

const unsigned char* CMetaVec::getData(const char* tag, unsigned& tagLenInDataLenOut,
                                       int& startInIndexOut) const {
  const int index = find(tag, tagLenInDataLenOut, startInIndexOut);
  startInIndexOut = index;
  if (index < 0) {
    tagLenInDataLenOut = 0;
    return nullptr;
  }
  tagLenInDataLenOut = frames[index].dataLen;
  return frames[index].data;
}

unsigned CMetaVec::get(int index, unsigned char*& data) {
  const unsigned char* found = nullptr;
  const unsigned length = static_cast<const CMetaVec&>(*this).get(index, found);
  data = const_cast<unsigned char*>(found);
  return length;
}

unsigned CMetaVec::get(int index, const unsigned char*& data) const {
  data = nullptr;
  if (!checkIndex(index)) return 0;
  data = frames[index].data;
  return frames[index].dataLen;
}

int CMetaVec::setData(int index, const unsigned char* data, unsigned dataLen) {
  if (!checkIndex(index)) return 1;
  SMetaFrame& frame = frames[index];
  if (frame.data != nullptr && frame.dataLen == dataLen) {
    // The new data may overlap the old.
    if (data != nullptr && dataLen > 0) std::memmove(frame.data, data, dataLen);
    return 0;
  }
  unsigned char* fresh = new unsigned char[static_cast<std::size_t>(dataLen) + 1]();
  if (data != nullptr && dataLen > 0) std::memcpy(fresh, data, dataLen);
  delete[] frame.data;
  frame.data = fresh;
  frame.dataLen = dataLen;
  return 0;
}

int CMetaVec::remove(int index) {
  if (!checkIndex(index)) return 0;
  frames.erase(frames.begin() + index);
  return 1;
}

unsigned CMetaVec::remove(const char* tag, unsigned tagLen) {
  frames.erase(std::remove_if(frames.begin(), frames.end(),
                              [&](const SMetaFrame& frame) { return frame.hasTag(tag, tagLen); }),
               frames.end());
  return size();
}

int CMetaVec::add(const SMetaFrame& frame) {
  frames.push_back(frame);
  return 1;
}

int CMetaVec::add(SMetaFrame&& frame) {
  frames.push_back(std::move(frame));
  return 1;
}

int CMetaVec::add(unsigned tagLen, const char* tag, unsigned dataLen, const unsigned char* data) {
  if (tag != nullptr && tagLen > 0 && tagLen < 255) frames.emplace_back(tagLen, dataLen, tag, data);
  return 1;
}

unsigned char* CMetaVec::add(unsigned tagLen, const char* tag, unsigned dataLen) {
  if (tag == nullptr || tagLen == 0 || tagLen >= 256) return nullptr;
  frames.emplace_back(tagLen, dataLen, tag, nullptr);
  return frames.back().data;
}

SMetaFrame* CMetaVec::frame(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= frames.size()) return nullptr;
  return &frames[index];
}

const SMetaFrame* CMetaVec::frame(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= frames.size()) return nullptr;
  return &frames[index];
}

void CMetaVec::clear() { frames.clear(); }

unsigned CMetaVec::getMetaSize(unsigned* payloadVlqLength) const {
  const uint32_t payload = payloadSize(frames);
  const unsigned vlqBytes = vlqLength(static_cast<int>(payload));
  if (payloadVlqLength != nullptr) *payloadVlqLength = vlqBytes;
  return payload + vlqBytes + 4;
}

int CMetaVec::writeMeta(std::ostream& out) const {
  if (frames.empty()) {
    std::cerr << "ERROR no meta data to write!" << std::endl;
    return 1;
  }
  out.write(kMetaMagic, 4);
  writeVLQ(out, static_cast<int>(payloadSize(frames)));
  for (const SMetaFrame& frame : frames) {
    if (!isStorable(frame)) continue;
    out.put(static_cast<char>(frame.tagLen));
    out.write(frame.tag, frame.tagLen);
    writeVLQ(out, static_cast<int>(frame.dataLen));
    if (frame.dataLen > 0) out.write(reinterpret_cast<const char*>(frame.data), frame.dataLen);
  }
  return out ? 0 : 1;
}

unsigned CMetaVec::writeMeta(unsigned char* buffer) const {
  if (frames.empty()) {
    std::cerr << "ERROR no meta data to write!" << std::endl;
    return 0;
  }
  unsigned char* cursor = buffer;
  std::memcpy(cursor, kMetaMagic, 4);
  cursor += 4;
  cursor += writeVLQ(cursor, static_cast<int>(payloadSize(frames)));
  for (const SMetaFrame& frame : frames) {
    if (!isStorable(frame)) continue;
    *cursor++ = static_cast<unsigned char>(frame.tagLen);
    std::memcpy(cursor, frame.tag, frame.tagLen);
    cursor += frame.tagLen;
    cursor += writeVLQ(cursor, static_cast<int>(frame.dataLen));
    if (frame.dataLen > 0) std::memcpy(cursor, frame.data, frame.dataLen);
    cursor += frame.dataLen;
  }
  return static_cast<unsigned>(cursor - buffer);
}

unsigned CMetaVec::readMetaStream(const unsigned char* buffer, unsigned length) {
  frames.clear();
  if (buffer == nullptr || (length != 0 && length < 4) || std::memcmp(buffer, kMetaMagic, 4) != 0) {
    std::cerr << "ERROR: not an Meta Tag" << std::endl;
    return 0;
  }
  // Offsets, not pointers: an end taken from the payload length may lie far
  // beyond the buffer and must not be formed as a pointer.
  uint64_t pos = 4;
  uint64_t end;
  if (length != 0) {
    end = length;
    if (!vlqWithin(buffer, pos, end)) throwCorrupted();
    const unsigned char* cursor = buffer + pos;
    readVLQ(cursor);
    pos = static_cast<uint64_t>(cursor - buffer);
  } else {
    // Without a length the caller vouches that the buffer holds the whole
    // chunk as its payload length declares.
    const unsigned char* cursor = buffer + pos;
    const uint32_t payload = static_cast<uint32_t>(readVLQ(cursor));
    pos = static_cast<uint64_t>(cursor - buffer);
    end = pos + payload;
  }

  // Parsed aside, so that a corrupt chunk leaves the list empty rather than
  // holding the frames before the damage.
  std::vector<SMetaFrame> parsed;
  while (pos < end) {
    const uint32_t tagLen = buffer[pos++];
    // An empty value is legitimate (an unset title is written as one); an
    // empty tag is not.
    if (tagLen == 0 || end - pos < tagLen) throwCorrupted();
    const char* tag = reinterpret_cast<const char*>(buffer + pos);
    pos += tagLen;
    if (!vlqWithin(buffer, pos, end)) throwCorrupted();
    const unsigned char* cursor = buffer + pos;
    const uint32_t dataLen = static_cast<uint32_t>(readVLQ(cursor));
    pos = static_cast<uint64_t>(cursor - buffer);
    if (end - pos < dataLen) throwCorrupted();
    parsed.emplace_back(tagLen, dataLen, tag, buffer + pos);
    pos += dataLen;
  }
  frames = std::move(parsed);
  return static_cast<unsigned>(pos);
}

unsigned CMetaVec::readMeta(std::istream& in, uint32_t payloadLength) {
  if (payloadLength == 0) return 0;
  std::vector<unsigned char> data;
  char tag[256];
  uint64_t consumed = 0;
  while (consumed < payloadLength) {
    const uint64_t left = payloadLength - consumed;
    const std::istream::int_type first = in.get();
    const uint32_t tagLen =
        first == std::istream::traits_type::eof() ? 0 : static_cast<unsigned char>(first);
    bool whole = tagLen != 0 && 1 + tagLen < left && in.read(tag, tagLen);
    uint32_t dataLen = 0;
    if (whole) {
      const int stored = readVLQ(in);
      dataLen = static_cast<uint32_t>(stored);
      const uint64_t frameBytes = uint64_t{1} + tagLen + vlqLength(stored) + dataLen;
      // A frame must end inside the payload, and its data must be there.
      whole = in && frameBytes <= left && readBytes(in, dataLen, data);
      consumed += frameBytes;
    }
    if (!whole) {
      std::cerr << "ERROR parsing Meta Tags" << std::endl;
      return 0;
    }
    frames.emplace_back(tagLen, dataLen, tag, data.data());
  }
  return static_cast<unsigned>(consumed);
}

unsigned CMetaVec::assignWithout(const CMetaVec& other, unsigned tagIndex) {
  const char* tag = metaTagName(tagIndex);
  const unsigned tagLen = static_cast<unsigned>(std::strlen(tag));
  if (&other == this) return remove(tag, tagLen);
  std::vector<SMetaFrame> kept;
  for (const SMetaFrame& frame : other.frames) {
    if (!frame.hasTag(tag, tagLen)) kept.push_back(frame);
  }
  frames = std::move(kept);
  return size();
}

bool CMetaVec::checkIndex(int index) const {
  if (index < 0) {
    std::cerr << "ERROR: CMetaVec frame not found" << std::endl;
    return false;
  }
  if (static_cast<std::size_t>(index) >= frames.size()) {
    std::cerr << "ERROR: CMetaVec index out of range (must be < " << frames.size() << ")" << std::endl;
    return false;
  }
  return true;
}
