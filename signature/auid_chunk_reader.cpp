#include "signature/auid_chunk_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "signature/feature_object_exception.h"
#include "signature/stream_reader.h"

namespace {

constexpr std::size_t kTagSize = 4;
constexpr std::size_t kId3HeaderSize = 10;
constexpr std::size_t kId3FooterSize = 10;
constexpr unsigned char kId3FooterFlag = 0x10;
// An "AUID" version field at or above this value is the content length of a
// version 2 chunk.
constexpr uint32_t kLengthFirstThreshold = 64;
constexpr int kLengthFirstVersion = 2;
constexpr uint32_t kHighestVersion = 5;

const SFeatPara kDefaultFeatPara = {250.0f, 4000.0f, 32};

const char kBadStream[] = "ERROR bad stream or sub chunk format)";

bool tagIs(const char* tag, const char* name) { return std::memcmp(tag, name, kTagSize) == 0; }
bool isId3(const char* tag) { return std::memcmp(tag, "ID3", 3) == 0; }

// Number of bytes of the VLQ of a length as the version 3 encoding would store
// it; lengths beyond the VLQ range take the 5 bytes of its largest value.
uint64_t encodedVlqBytes(uint64_t value) {
  return value <= 0x7FFFFFFF ? vlqLength(static_cast<int>(value)) : 5;
}

bool readUInt32(std::istream& in, uint32_t& value) {
  unsigned char bytes[4];
  if (!in.read(reinterpret_cast<char*>(bytes), 4)) return false;
  value = decodeUInt32BE(bytes);
  return true;
}

// A stream VLQ as an unsigned 32-bit length (the value wraps as stored).
bool readVlqLength(std::istream& in, uint32_t& value) {
  value = static_cast<uint32_t>(readVLQ(in));
  return static_cast<bool>(in);
}

// Gives a tag that belongs to the next reader back to the stream. A stream
// buffer may refuse a putback once it has refilled its read area since the
// tag was read; a seekable stream is then moved back over what is left.
void putBack(std::istream& in, const char* tag) {
  std::size_t left = kTagSize;
  while (left > 0 && in.putback(tag[left - 1])) --left;
  if (left == 0) return;
  in.clear();
  in.seekg(-static_cast<std::streamoff>(left), std::ios::cur);
}

double numberAfter(const std::string& text, char letter) {
  const std::size_t at = text.find(letter);
  if (at == std::string::npos) return 0.0;
  return std::atof(text.c_str() + at + 1);
}

void updateUInt32(CRsaObject& verifier, uint32_t value) {
  const uint32_t stored = writeUInt32BE(value);
  unsigned char bytes[4];
  std::memcpy(bytes, &stored, 4);
  verifier.update(bytes, 4);
}

void updateFloat(CRsaObject& verifier, float value) {
  uint32_t pattern;
  std::memcpy(&pattern, &value, 4);
  updateUInt32(verifier, pattern);
}

void updateText(CRsaObject& verifier, const std::string& text) {
  if (text.empty()) return;
  verifier.update(reinterpret_cast<const unsigned char*>(text.data()), static_cast<uint32_t>(text.size()));
}

// The sub-chunks of one "AUID" chunk. Two counts are kept: the bytes actually
// taken from the stream, which end the list at the declared content length,
// and the content size as the version 3 encoding stores it, which the caller's
// position counter uses.
class SubChunkCursor {
 public:
  SubChunkCursor(std::istream& in, int version) : in(in), version(version) {}

  bool readTag(char* tag) {
    if (!in.read(tag, kTagSize)) return false;
    add(kTagSize, kTagSize);
    return true;
  }

  // Gives back the tag just read; it is not part of this chunk.
  void unreadTag(const char* tag) {
    putBack(in, tag);
    consumed -= kTagSize;
    encoded -= kTagSize;
  }

  bool readLength(uint32_t& length) {
    if (hasU32Lengths()) {
      if (!readUInt32(in, length)) return false;
      add(4, encodedVlqBytes(length));
    } else {
      if (!readVlqLength(in, length)) return false;
      add(encodedVlqBytes(length), encodedVlqBytes(length));
    }
    return true;
  }

  // Content of a length-carrying sub-chunk, with the pad byte of odd contents
  // in the older versions.
  bool readContent(uint32_t length, std::vector<unsigned char>& bytes) {
    return readData(length, bytes) && readPad(length);
  }

  bool readData(uint32_t length, std::vector<unsigned char>& bytes) {
    if (!readBytes(in, length, bytes)) return false;
    add(length, length);
    return true;
  }

  bool readPad(uint32_t length) {
    if (!hasU32Lengths() || length % 2 == 0) return true;
    if (in.get() == std::istream::traits_type::eof()) return false;
    add(1, 0);
    return true;
  }

  bool readFixed(unsigned char* bytes, std::size_t count) {
    if (!in.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(count))) return false;
    add(count, count);
    return true;
  }

  // The TUID is a u64 from version 3 on; before, a u32 taken as signed.
  bool readTuid(uint64_t& value) {
    unsigned char bytes[8];
    if (hasU32Lengths()) {
      if (!in.read(reinterpret_cast<char*>(bytes), 4)) return false;
      value = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(decodeUInt32BE(bytes))));
      add(4, 8);
    } else {
      if (!in.read(reinterpret_cast<char*>(bytes), 8)) return false;
      const unsigned char* cursor = bytes;
      value = readUInt64BE(cursor);
      add(8, 8);
    }
    return true;
  }

  uint64_t consumed = 0;
  uint64_t encoded = 0;

 private:
  bool hasU32Lengths() const { return version < 3; }
  void add(uint64_t actual, uint64_t asEncoded) {
    consumed += actual;
    encoded += asEncoded;
  }

  std::istream& in;
  int version;
};

}  // namespace

CAuidChunkReader::CAuidChunkReader(const char* expectedVersion, CRsaObject* verifier) : verifier(verifier) {
  if (expectedVersion != nullptr) versionText = expectedVersion;
}

int CAuidChunkReader::readStream(std::istream& in) { return readChunks(in, nullptr); }

int CAuidChunkReader::readStream(std::istream& in, uint32_t auidField) { return readChunks(in, &auidField); }

int CAuidChunkReader::readChunks(std::istream& in, const uint32_t* takenAuidField) {
  int flags = 0;
  int64_t position = -1;
  auidLength = 0;
  for (;;) {
    // Versions 4 and 5 end with the chunk that reaches the AUID length; the
    // older ones and the length-first form run on to the end of the data.
    if (position >= auidLength && version >= 4) return flags;
    char tag[kTagSize];
    if (takenAuidField != nullptr) {
      std::memcpy(tag, "AUID", kTagSize);
    } else if (!in.read(tag, kTagSize)) {
      return flags;
    }

    if (tagIs(tag, "AUID")) {
      if (flags & kAuidChunkRead) {
        // The next file's chunks begin here.
        putBack(in, tag);
        return flags;
      }
      const int result = readAuidChunk(in, takenAuidField, position);
      takenAuidField = nullptr;
      if (result <= 0) return result;
      flags |= kAuidChunkRead;
    } else if (tagIs(tag, "META")) {
      if (readMetaChunk(in, position) < 0) return kFormatError;
      const int checked = checkSignature(flags);
      if (checked < 0) return checked;
      flags |= kMetaChunkRead;
    } else if (isId3(tag)) {
      if (readId3Tag(in, tag, position) < 0) return kFormatError;
      flags |= kId3TagRead;
    } else {
      return flags;
    }
  }
}

int CAuidChunkReader::readAuidChunk(std::istream& in, const uint32_t* takenField, int64_t& position) {
  uint32_t v = 0;
  uint32_t contentLength = 0;
  bool whole = true;
  if (takenField != nullptr) {
    v = *takenField;
  } else {
    whole = readUInt32(in, v);
  }
  if (whole && v < kLengthFirstThreshold) {
    if (v > kHighestVersion) {
      std::cerr << "ERROR stream version not compatible" << std::endl;
      return kVersionRefused;
    }
    version = static_cast<int>(v);
    whole = readVlqLength(in, contentLength);
  } else if (whole) {
    version = kLengthFirstVersion;
    contentLength = v;
  }
  if (!whole) {
    std::cerr << kBadStream << std::endl;
    return kFormatError;
  }
  auidLength = contentLength;

  uint64_t contentSize = 0;
  if (readSubChunks(in, contentLength, contentSize) < 0) {
    std::cerr << kBadStream << std::endl;
    return kFormatError;
  }
  position += static_cast<int64_t>(8 + contentSize + encodedVlqBytes(contentSize));
  return kAuidChunkRead;
}

int CAuidChunkReader::readSubChunks(std::istream& in, uint32_t contentLength, uint64_t& encodedSize) {
  SubChunkCursor cursor(in, version);
  std::vector<unsigned char> bytes;
  bool listEnded = false;
  while (!listEnded && cursor.consumed < contentLength) {
    char tag[kTagSize];
    if (!cursor.readTag(tag)) return kFormatError;
    uint32_t length = 0;

    if (tagIs(tag, "VERS")) {
      if (!cursor.readLength(length) || !cursor.readContent(length, bytes)) return kFormatError;
      const std::string text(bytes.begin(), bytes.end());
      if (versionText.empty()) {
        versionText = text;
      } else if (text.size() > versionText.size() || versionText.compare(0, text.size(), text) != 0) {
        // The file's text must be the held text or a beginning of it.
        std::cerr << "Error: stream version mismatch" << std::endl;
        return kFormatError;
      }
    } else if (tagIs(tag, "INFO")) {
      if (!cursor.readLength(length) || !cursor.readContent(length, bytes)) return kFormatError;
      if (info.empty()) info.assign(bytes.begin(), bytes.end());
    } else if (tagIs(tag, "TUID")) {
      uint64_t value = 0;
      if (!cursor.readTuid(value)) return kFormatError;
      if (tuid != 0 && value != tuid) {
        std::cerr << "Error: tuid mismatch" << std::endl;
        return kFormatError;
      }
      if (value == 0) {
        std::cerr << "ERROR invalid TUID: use values > 0" << std::endl;
      } else {
        tuid = value;
      }
    } else if (tagIs(tag, "FPAR")) {
      if (featParaRead) {
        static const char kMessage[] = "FeatPara member already instantiated";
        std::cerr << kMessage << std::endl;
        throw StandardException(kMessage);
      }
      unsigned char field[12];
      if (!cursor.readFixed(field, sizeof field)) return kFormatError;
      const unsigned char* at = field;
      SFeatPara read;
      const uint32_t lower = readUInt32BE(at);
      const uint32_t upper = readUInt32BE(at);
      std::memcpy(&read.lowerFrequency, &lower, 4);
      std::memcpy(&read.upperFrequency, &upper, 4);
      read.samplingRate = readUInt32BE(at);
      featPara = read;
      featParaRead = true;
    } else if (tagIs(tag, "FEAT")) {
      // A 4-byte identifier, then the matrix block.
      unsigned char identifier[4];
      SDataChunk chunk;
      if (!cursor.readLength(length) || length < sizeof identifier ||
          !cursor.readFixed(identifier, sizeof identifier)) {
        return kFormatError;
      }
      chunk.id = static_cast<uint32_t>(dataChunks.size()) + 1;
      chunk.length = length - static_cast<uint32_t>(sizeof identifier);
      if (!cursor.readData(chunk.length, chunk.data) || !cursor.readPad(length)) return kFormatError;
      dataChunks.push_back(std::move(chunk));
      listEnded = true;
    } else if (tagIs(tag, "META") || isId3(tag)) {
      // The chunk that follows is read by the top-level loop.
      cursor.unreadTag(tag);
      listEnded = true;
    } else {
      std::cerr << "ERROR no sub chunk found!" << std::endl;
      return kFormatError;
    }
  }
  if (!featPara) featPara = kDefaultFeatPara;
  encodedSize = cursor.encoded;
  return kAuidChunkRead;
}

int CAuidChunkReader::readMetaChunk(std::istream& in, int64_t& position) {
  uint32_t payload = 0;
  if (!readVlqLength(in, payload) || (payload > 0 && readMeta(in, payload) != payload)) {
    std::cerr << kBadStream << std::endl;
    return kFormatError;
  }
  position += static_cast<int64_t>(kTagSize + encodedVlqBytes(payload) + payload);
  return 0;
}

int CAuidChunkReader::readId3Tag(std::istream& in, const char* tag, int64_t& position) {
  std::vector<unsigned char> whole(tag, tag + kTagSize);
  whole.resize(kId3HeaderSize);
  if (!in.read(reinterpret_cast<char*>(whole.data() + kTagSize), kId3HeaderSize - kTagSize)) {
    std::cerr << kBadStream << std::endl;
    return kFormatError;
  }
  // The size is a synchsafe integer: 7 bits from each of four bytes.
  const uint32_t size =
      (whole[6] & 0x7Fu) << 21 | (whole[7] & 0x7Fu) << 14 | (whole[8] & 0x7Fu) << 7 | (whole[9] & 0x7Fu);
  const uint64_t rest = size + ((whole[5] & kId3FooterFlag) ? kId3FooterSize : 0);
  std::vector<unsigned char> body;
  if (!readBytes(in, rest, body)) {
    std::cerr << kBadStream << std::endl;
    return kFormatError;
  }
  whole.insert(whole.end(), body.begin(), body.end());
  id3Tag = std::move(whole);
  position += static_cast<int64_t>(id3Tag.size());
  return 0;
}

int CAuidChunkReader::checkSignature(int& flags) {
  if (verifier == nullptr) return 0;
  if (!verifyKeyFetched) {
    const unsigned char* key = nullptr;
    const uint32_t keyLength = verifier->getVerifyKey(key);
    if (key != nullptr) verifyKey.assign(key, key + keyLength);
    verifyKeyFetched = true;
  }
  unsigned frameLength = 4;
  int index = 0;
  const unsigned char* frameData = getData("dsig", frameLength, index);
  if (frameData == nullptr || !verifier->canVerify()) return 0;

  // One scheme byte, the key and the signature, each behind a VLQ length.
  const unsigned char* key = nullptr;
  const unsigned char* signature = nullptr;
  uint32_t keyLength = 0;
  uint32_t signatureLength = 0;
  bool wellFormed = frameLength >= 4;
  if (wellFormed) {
    try {
      StreamReader reader(frameData, frameLength);
      reader.readU8();
      keyLength = reader.readVlq();
      key = reader.take(keyLength);
      signatureLength = reader.readVlq();
      signature = reader.take(signatureLength);
    } catch (const FeatureObjException&) {
      wellFormed = false;
    }
  }
  if (!wellFormed) {
    std::cerr << "Error: bad md5 Signature" << std::endl;
    return kBadSignatureFrame;
  }

  if (keyLength != verifyKey.size() || !std::equal(key, key + keyLength, verifyKey.begin())) {
    std::cerr << "Error: wrong public key - it's not the correspondent of" << std::endl
              << "the used encryption key. Cannot verify signature!" << std::endl;
    flags |= kKeyMismatch;
    return 0;
  }

  bool verified = verifier->initVerify() == 0;
  if (verified) {
    unsigned char tuidBytes[8];
    encodeUInt64BE(tuidBytes, tuid);
    verifier->update(tuidBytes, sizeof tuidBytes);
    updateText(*verifier, info);
    updateText(*verifier, versionText);
    // A stream whose "META" came without an "AUID" chunk has no parameters
    // and no data to vouch for.
    if (featPara) {
      updateFloat(*verifier, featPara->lowerFrequency);
      updateFloat(*verifier, featPara->upperFrequency);
      updateUInt32(*verifier, featPara->samplingRate);
    }
    if (keyLength > 0) verifier->update(key, keyLength);
    if (!dataChunks.empty() && dataChunks.front().length > 0) {
      verifier->update(dataChunks.front().data.data(), dataChunks.front().length);
    }
    verified = verifier->verify(signature, signatureLength) == 0;
  }
  if (!verified) {
    std::cerr << "Error: signature failed security verification" << std::endl;
    return kVerificationFailed;
  }
  return 0;
}

std::string CAuidChunkReader::getInfo() const { return info.empty() ? std::string("NO_INFO") : info; }

double CAuidChunkReader::getVersionF() const { return numberAfter(versionText, 'F'); }

double CAuidChunkReader::getVersionC() const { return numberAfter(versionText, 'C'); }

const SDataChunk* CAuidChunkReader::getDataChunk(unsigned index) const {
  if (index >= dataChunks.size()) {
    std::cerr << "ERROR container subscript out of range (size=" << dataChunks.size() << ")" << std::endl;
    return nullptr;
  }
  return &dataChunks[index];
}

template <typename T>
bool CAuidChunkReader::readFeatureMatrix(HeapMatrix<T>& matrix) const {
  const SDataChunk* first = getDataChunk(0);
  if (first == nullptr) {
    matrix.resize(0, 0);
    return false;
  }
  matrix.readFromBuffer(first->data.data(), first->length);
  HeapMatrix<T> further;
  for (std::size_t i = 1; i < dataChunks.size(); ++i) {
    further.readFromBuffer(dataChunks[i].data.data(), dataChunks[i].length);
    matrix.appendRows(further);
  }
  return true;
}

bool CAuidChunkReader::getFeatureMatrix(HeapMatrix<float>& matrix) const { return readFeatureMatrix(matrix); }

bool CAuidChunkReader::getFeatureMatrix(HeapMatrix<unsigned char>& matrix) const {
  return readFeatureMatrix(matrix);
}
