// The feature-object stream: write, size and read of CFeatureObject<T>. The
// layout is described in feature_object.h.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/vmtl/type_info.h"
#include "platform/byte_order.h"
#include "signature/feature_object.h"
#include "signature/stream_reader.h"

namespace {

constexpr uint16_t kStreamVersion = 3;
constexpr unsigned kMatrixHeaderSize = 20;
// The first three bytes of a matrix block's element tag end here.
constexpr unsigned kMatrixTagEnd = 7;
// A string value of a version-1 stream is a fixed field of this many bytes.
constexpr uint32_t kVersion1TextLength = 28;
// Names, tags, keys and entry counts are stored in one byte.
constexpr size_t kMaxByteField = 255;
// Value lengths are variable-length quantities of at most 2^31 - 1.
constexpr size_t kMaxValueLength = 0x7FFFFFFF;

[[noreturn]] void failLimits() { throw FeatureObjException("feature object exceeds the limits of the stream layout"); }

bool tagIs(const unsigned char* tag, unsigned length, const char* text) {
  return length == std::strlen(text) && std::memcmp(tag, text, length) == 0;
}

class StreamWriter {
 public:
  explicit StreamWriter(unsigned char* cursor) : cursor(cursor) {}

  void putU8(uint8_t value) { *cursor++ = value; }
  void putU16(uint16_t value) {
    const uint16_t stored = platform::hostToNetwork16(value);
    std::memcpy(cursor, &stored, 2);
    cursor += 2;
  }
  void putU32(uint32_t value) {
    const uint32_t stored = writeUInt32BE(value);
    std::memcpy(cursor, &stored, 4);
    cursor += 4;
  }
  void putVlq(size_t value) { cursor += writeVLQ(cursor, static_cast<int>(value)); }
  void putBytes(const void* bytes, size_t length) {
    if (length != 0) std::memcpy(cursor, bytes, length);
    cursor += length;
  }
  // A u8 length and the text.
  void putShortText(const std::string& text) {
    putU8(static_cast<uint8_t>(text.size()));
    putBytes(text.data(), text.size());
  }
  void putShortText(const char* text) { putShortText(std::string(text)); }

  unsigned char* position() const { return cursor; }
  void advance(unsigned n) { cursor += n; }

 private:
  unsigned char* cursor;
};

template <typename Map>
void checkMapLimits(const Map& map) {
  if (map.size() > kMaxByteField) failLimits();
  for (const auto& entry : map)
    if (entry.first.size() > kMaxByteField) failLimits();
}

}  // namespace

template <typename T>
unsigned CFeatureObject<T>::parameterBlockSize() const {
  if (stringParams.empty() && intParams.empty()) return 0;
  uint64_t size = 7;  // tag length, "Param", map count
  if (!stringParams.empty()) {
    size += 2 + 6;
    for (const auto& entry : stringParams) {
      if (entry.second.size() > kMaxValueLength) failLimits();
      size += 1 + entry.first.size() + vlqLength(static_cast<int>(entry.second.size())) + entry.second.size();
    }
  }
  if (!intParams.empty()) {
    size += 2 + 3;
    for (const auto& entry : intParams) size += 1 + entry.first.size() + 1 + 4;
  }
  if (size > UINT32_MAX) failLimits();
  return static_cast<unsigned>(size);
}

template <typename T>
unsigned CFeatureObject<T>::getStreamSize() {
  ensureQuantizer();
  if (name.size() > kMaxByteField) failLimits();
  checkMapLimits(stringParams);
  checkMapLimits(intParams);
  uint64_t size = 2 + 2 + 1 + name.size() + 1 + std::strlen(elementTypeTag());
  size += parameterBlockSize();
  if (quantModule) size += 6 + quantBlob.size();
  // A float object with a quantizer stores one byte per value.
  const unsigned elementSize = (std::is_same_v<T, float> && getQuantizer()) ? 1 : vmtl::TypeInfo<T>::elementSize;
  size += 1 + kMatrixHeaderSize + static_cast<uint64_t>(data.elementCount()) * elementSize;
  if (size > UINT32_MAX) failLimits();
  return static_cast<unsigned>(size);
}

template <typename T>
unsigned CFeatureObject<T>::write(unsigned char* buf, unsigned capacity) {
  const unsigned size = getStreamSize();
  if (capacity < size) throw FeatureObjException("stream buffer overflow");

  StreamWriter out(buf);
  out.putU16(kStreamVersion);
  out.putU16(featureType);
  out.putShortText(name);
  out.putShortText(elementTypeTag());

  if (!stringParams.empty() || !intParams.empty()) {
    out.putShortText("Param");
    out.putU8(static_cast<uint8_t>(!stringParams.empty() + !intParams.empty()));
    if (!stringParams.empty()) {
      out.putShortText("string");
      out.putU8(static_cast<uint8_t>(stringParams.size()));
      for (const auto& entry : stringParams) {
        out.putShortText(entry.first);
        out.putVlq(entry.second.size());
        out.putBytes(entry.second.data(), entry.second.size());
      }
    }
    if (!intParams.empty()) {
      out.putShortText("int");
      out.putU8(static_cast<uint8_t>(intParams.size()));
      for (const auto& entry : intParams) {
        out.putShortText(entry.first);
        out.putVlq(4);
        out.putU32(static_cast<uint32_t>(entry.second));
      }
    }
  }

  if (quantModule) {
    out.putShortText("Quant");
    out.putBytes(quantBlob.data(), quantBlob.size());
  }

  // The block's own "MAT" is the sub-block's tag text.
  out.putU8(3);
  const unsigned left = capacity - static_cast<unsigned>(out.position() - buf);
  CQuantModule<float>* quantizer = std::is_same_v<T, float> ? getQuantizer() : nullptr;
  if (quantizer != nullptr && data.elementCount() != 0) {
    // The codes go straight into the block, row by row.
    if (left < kMatrixHeaderSize + static_cast<uint64_t>(data.elementCount()))
      throw FeatureObjException("stream buffer overflow");
    vmtl::block::writeBinaryHeader<unsigned char>(out.position(), data.rows, data.cols);
    unsigned char* codes = out.position() + kMatrixHeaderSize;
    const bool fromStoredCodes = storedCodesCurrent && storedCodes.rows == data.rows && storedCodes.cols == data.cols;
    if constexpr (std::is_same_v<T, float>) {
      if (fromStoredCodes)
        quantizer->requantize(storedCodes, codes, data.cols);
      else
        quantizer->quantize(data, codes, data.cols);
    }
    out.advance(kMatrixHeaderSize + data.elementCount());
  } else if (quantizer != nullptr) {
    // Quantized, but without elements: the empty float block.
    const HeapMatrix<float> empty;
    if (left < kMatrixHeaderSize) throw FeatureObjException("stream buffer overflow");
    out.advance(empty.writeToBuffer(out.position(), kMatrixHeaderSize, "bin"));
  } else {
    const size_t blockLength = kMatrixHeaderSize + data.elementCount() * vmtl::TypeInfo<T>::elementSize;
    if (left < blockLength) throw FeatureObjException("stream buffer overflow");
    out.advance(data.writeToBuffer(out.position(), static_cast<unsigned>(blockLength), "bin"));
  }
  return static_cast<unsigned>(out.position() - buf);
}

template <typename T>
void CFeatureObject<T>::readParameterBlock(StreamReader& in, int version) {
  const unsigned maps = in.readU8();
  for (unsigned m = 0; m < maps; ++m) {
    const unsigned typeLength = in.readU8();
    const unsigned char* type = in.take(typeLength);
    const bool isText = tagIs(type, typeLength, "string");
    if (!isText && !tagIs(type, typeLength, "int")) throw FeatureObjException("unsupported type of parameter map");
    if (isText)
      stringParams.clear();
    else
      intParams.clear();
    const unsigned entries = in.readU8();
    for (unsigned e = 0; e < entries; ++e) {
      const std::string key = in.readText(in.readU8());
      uint32_t valueLength;
      if (version == 1)
        valueLength = isText ? kVersion1TextLength : 4;
      else if (version == 2)
        valueLength = in.readU8();
      else
        valueLength = in.readVlq();
      const unsigned char* value = in.take(valueLength);
      if (isText) {
        // The fixed text field of version 1 holds the text padded with NULs.
        const unsigned char* end = value + valueLength;
        if (version == 1) end = std::find(value, end, 0);
        stringParams.emplace(key, std::string(value, end));
      } else {
        if (valueLength < 4) StreamReader::fail();
        intParams.emplace(key, static_cast<int>(decodeUInt32BE(value)));
      }
    }
  }
}

template <typename T>
unsigned CFeatureObject<T>::readMatrixBlock(const unsigned char* block, unsigned length) {
  // The element tag follows the 4-byte magic and decides before the block is
  // read; a block too short to hold even the tag is left to the matrix
  // reader to refuse.
  const bool complete = length >= kMatrixTagEnd;
  const auto blockTagIs = [&](const char* tag) { return complete && std::memcmp(block + 4, tag, 3) == 0; };
  if constexpr (!std::is_same_v<T, float>) {
    if (complete && !blockTagIs(std::is_same_v<T, unsigned char> ? "uch" : "uin"))
      throw FeatureObjException("feature type mismatch");
    return data.readFromBuffer(block, length);
  } else {
    if (!complete || blockTagIs("flt")) return data.readFromBuffer(block, length);
    if (!blockTagIs("uch")) throw FeatureObjException("feature type mismatch");
    HeapMatrix<unsigned char>& codes = storedCodes;
    const unsigned consumed = codes.readFromBuffer(block, length);
    if (codes.elementCount() == 0) return consumed;
    data.resize(codes.rows, codes.cols);
    if (!quantModule && !quantBlob.empty())
      quantModule = readQuantBlock(quantBlob.data(), static_cast<unsigned>(quantBlob.size()), data.cols);
    if (!quantModule) buildDefaultQuantizer(quantFlag);
    CQuantModule<float>* quantizer = getQuantizer();
    if (quantizer == nullptr) throw FeatureObjException("feature type conversion requieres a quantizer");
    quantizer->dequantize(codes, data.data, data.cols);
    storedCodesCurrent = true;
    return consumed;
  }
}

template <typename T>
unsigned CFeatureObject<T>::read(const unsigned char* buf, unsigned len) {
  clear();
  StreamReader in(buf, len);
  const int version = static_cast<int16_t>(in.readU16());
  if (version > kStreamVersion) throw FeatureObjException("unsupported stream version");
  featureType = in.readU16();
  name = in.readText(in.readU8());
  // The matrix block's own tag decides the element type.
  in.take(in.readU8());

  bool matrixRead = false;
  while (!in.atEnd()) {
    const unsigned tagLength = in.readU8();
    const unsigned char* tag = in.take(tagLength);
    if (tagIs(tag, tagLength, "Param")) {
      readParameterBlock(in, version);
    } else if (tagIs(tag, tagLength, "Quant")) {
      const unsigned char* block = in.position();
      const uint32_t blockLength = in.readU32();
      // No block is shorter than its length and count fields.
      if (blockLength < 6) StreamReader::fail();
      in.take(blockLength - 4);
      quantBlob.assign(block, block + blockLength);
    } else if (tagIs(tag, tagLength, "MAT")) {
      const unsigned consumed = readMatrixBlock(tag, in.remaining() + tagLength);
      in.take(consumed - tagLength);
      matrixRead = true;
    } else {
      throw FeatureObjException("unsupported sub tag in stream");
    }
  }
  // Every stream ends in its matrix: one that stops before it was cut short.
  if (!matrixRead) StreamReader::fail();
  readParameters();
  return in.consumed();
}

#define KIVET_FEATURE_OBJECT_STREAM(T)                                                 \
  template unsigned CFeatureObject<T>::parameterBlockSize() const;                     \
  template unsigned CFeatureObject<T>::getStreamSize();                                \
  template unsigned CFeatureObject<T>::write(unsigned char*, unsigned);                \
  template void CFeatureObject<T>::readParameterBlock(StreamReader&, int);             \
  template unsigned CFeatureObject<T>::readMatrixBlock(const unsigned char*, unsigned); \
  template unsigned CFeatureObject<T>::read(const unsigned char*, unsigned);

KIVET_FEATURE_OBJECT_STREAM(float)
KIVET_FEATURE_OBJECT_STREAM(unsigned char)
KIVET_FEATURE_OBJECT_STREAM(unsigned int)

#undef KIVET_FEATURE_OBJECT_STREAM
