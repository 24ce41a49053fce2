#include "signature/fingerprint_stream.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/saturating_cast.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/auid_chunk_reader.h"
#include "signature/feature_object.h"
#include "signature/meta_tags.h"

namespace {

const char kMagic[4] = {'A', 'U', 'I', 'D'};
constexpr uint32_t kWrittenVersion = 5;
constexpr uint32_t kWideVersion = 64;
constexpr unsigned char kSignedScheme = 0x31;
// Largest value a VLQ can carry.
constexpr uint64_t kMaxVlqValue = 0x7FFFFFFF;

const char kStreamMismatch[] = "stream mismatch!";
const char kCorrupted[] = "readMetaStream: corrupted stream";
const char kWholeStream[] = "cannot parse wholestream!";

[[noreturn]] void fail(const char* message) { throw std::string(message); }

// A length stored as a VLQ; the stream ending inside it is a corrupt stream,
// a value beyond the VLQ range a stream that is not ours.
uint32_t readLength(std::istream& in) {
  const uint32_t value = static_cast<uint32_t>(readVLQ(in));
  if (!in) fail(kCorrupted);
  if (value > kMaxVlqValue) fail(kStreamMismatch);
  return value;
}

uint64_t vlqBytes(uint64_t value) { return vlqLength(static_cast<int>(value)); }

void putVlq(std::ostream& out, uint64_t value) { writeVLQ(out, static_cast<int>(value)); }

void putBytes(std::ostream& out, const std::vector<unsigned char>& bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool sameBytes(const unsigned char* bytes, uint32_t length, const std::vector<unsigned char>& other) {
  if (length != other.size()) return false;
  return length == 0 || std::memcmp(bytes, other.data(), length) == 0;
}

// The feature object of a chunk-format file: named "SFM", its matrix the rows
// of all feature data chunks.
template <typename T>
std::unique_ptr<CFeatureObject<T>> chunkFeature(const CAuidChunkReader& reader, unsigned short featureType) {
  auto object = std::make_unique<CFeatureObject<T>>("SFM", featureType);
  try {
    reader.getFeatureMatrix(object->getMatrix());
  } catch (const VMTLException&) {
    // A feature data chunk whose matrix block cannot be read.
    fail(kWholeStream);
  }
  if (const SFeatPara* parameters = reader.getFeatPara()) {
    object->setParameter("sr", static_cast<int>(parameters->samplingRate));
    object->setParameter("lf", toIntSaturated(parameters->lowerFrequency));
    object->setParameter("uf", toIntSaturated(parameters->upperFrequency));
  }
  return object;
}

// Parses the META chunk of a stream, whose frames must take exactly its
// length bytes; failure is reported with message. The stream's own length
// bounds the frames, so the chunk's payload length field is not relied on.
void parseMetaChunk(CMetaVec& frames, const std::vector<unsigned char>& chunk, const char* message) {
  const unsigned length = static_cast<unsigned>(chunk.size());
  if (length == 0) fail(message);
  if (frames.readMetaStream(chunk.data(), length) != length) fail(message);
}

}  // namespace

CFingerprintStream::CFingerprintStream() = default;

CFingerprintStream::CFingerprintStream(const CFingerprintStream& other) = default;

CFingerprintStream::CFingerprintStream(std::istream& in, CRsaObject* verifier) : signer(verifier) { read(in); }

CFingerprintStream& CFingerprintStream::operator=(const CFingerprintStream& other) = default;

CFingerprintStream::~CFingerprintStream() = default;

void CFingerprintStream::setSigner(CRsaObject* newSigner) {
  signer = newSigner;
  key.clear();
  if (signer == nullptr || !signer->hasKey()) return;
  const unsigned char* blob = nullptr;
  const uint32_t length = signer->getSignKey(blob);
  if (blob != nullptr) key.assign(blob, blob + length);
}

int CFingerprintStream::write(std::ostream& out) {
  if (size() == 0) fail("no data to write!");
  std::vector<unsigned char> meta(getMetaSize());
  meta.resize(writeMeta(meta.data()));

  bool signedStream = false;
  if (signer != nullptr && signer->hasKey()) {
    const unsigned char* blob = nullptr;
    const uint32_t blobLength = signer->getSignKey(blob);
    key.assign(blob, blob == nullptr ? blob : blob + blobLength);
    if (signer->initSign() != 0) fail("cannot initialise rsa signing! Make sure you have the full lib!");
    signer->update(meta.data(), static_cast<uint32_t>(meta.size()));
    signer->update(key.data(), static_cast<uint32_t>(key.size()));
    const unsigned char* made = nullptr;
    uint32_t madeLength = 0;
    if (signer->sign(made, madeLength) != 0) fail("encryption failed!");
    signature.assign(made, made == nullptr ? made : made + madeLength);
    scheme = kSignedScheme;
    signedStream = true;
  } else if (signer != nullptr) {
    std::cout << "Warning: RSA object loaded but without key for signing." << std::endl
              << "Fingerprints won't be signed!" << std::endl;
  }

  uint64_t header = 0;
  if (signedStream)
    header = 1 + vlqBytes(key.size()) + key.size() + vlqBytes(signature.size()) + signature.size();
  const uint64_t total = vlqBytes(header) + header + meta.size();
  // Lengths beyond the VLQ range could not be read back.
  if (key.size() > kMaxVlqValue || signature.size() > kMaxVlqValue || header > kMaxVlqValue || total > kMaxVlqValue)
    fail("stream exceeds the limits of the signature layout");

  out.write(kMagic, sizeof kMagic);
  const uint32_t storedVersion = writeUInt32BE(kWrittenVersion);
  out.write(reinterpret_cast<const char*>(&storedVersion), 4);
  putVlq(out, total);
  putVlq(out, header);
  if (signedStream) {
    out.put(static_cast<char>(kSignedScheme));
    putVlq(out, key.size());
    putBytes(out, key);
    putVlq(out, signature.size());
    putBytes(out, signature);
  }
  putBytes(out, meta);
  return 0;
}

void CFingerprintStream::read(std::istream& in) {
  scheme = 0;
  key.clear();
  signature.clear();
  version = -1;
  clear();

  unsigned char head[8];
  if (!in.read(reinterpret_cast<char*>(head), sizeof head) || std::memcmp(head, kMagic, sizeof kMagic) != 0)
    fail(kStreamMismatch);
  const uint32_t v = decodeUInt32BE(head + 4);
  if (v > kWrittenVersion && v < kWideVersion) fail("incompatible file version!");
  if (v < kWrittenVersion || v > kWideVersion) {
    readChunkFormat(in, v);
    return;
  }
  version = static_cast<int>(v);
  readStreamLayout(in);
}

void CFingerprintStream::readStreamLayout(std::istream& in) {
  const uint32_t total = readLength(in);
  const uint32_t headerLength = readLength(in);
  const uint64_t headerBytes = vlqBytes(headerLength) + headerLength;
  if (headerBytes > total) fail(kStreamMismatch);

  if (headerLength > 0) {
    readSignedHeader(in, headerLength);
    // Without a verifier the payload is left unread: the stream holds no frames.
    if (signer == nullptr) return;
    const unsigned char* verifyKey = nullptr;
    const uint32_t verifyKeyLength = signer->getVerifyKey(verifyKey);
    if (!sameBytes(verifyKey, verifyKeyLength, key)) fail("veryfication key dosn't fit to encryption key!");
  }

  std::vector<unsigned char> payload;
  if (!readBytes(in, total - headerBytes, payload)) fail(kCorrupted);
  if (headerLength == 0) {
    parseMetaChunk(*this, payload, kStreamMismatch);
    return;
  }
  if (signer->initVerify() != 0) fail("cannot initialise rsa checking! Make sure you have the full lib!");
  signer->update(payload.data(), static_cast<uint32_t>(payload.size()));
  signer->update(key.data(), static_cast<uint32_t>(key.size()));
  if (signer->verify(signature.data(), static_cast<uint32_t>(signature.size())) != 0)
    fail("signature failed security verification");
  parseMetaChunk(*this, payload, "file parsing error!");
}

void CFingerprintStream::readSignedHeader(std::istream& in, uint32_t headerLength) {
  const int schemeByte = in.get();
  if (schemeByte == std::istream::traits_type::eof()) fail(kCorrupted);
  uint64_t used = 1;
  // Each part must fit in what the header length leaves, before it is read.
  const uint32_t keyLength = readLength(in);
  used += vlqBytes(keyLength) + keyLength;
  if (used > headerLength) fail(kStreamMismatch);
  if (!readBytes(in, keyLength, key)) fail(kCorrupted);
  const uint32_t signatureLength = readLength(in);
  used += vlqBytes(signatureLength) + signatureLength;
  if (used != headerLength) fail(kStreamMismatch);
  if (!readBytes(in, signatureLength, signature)) fail(kCorrupted);
  scheme = static_cast<uint8_t>(schemeByte);
}

void CFingerprintStream::readChunkFormat(std::istream& in, uint32_t auidField) {
  // The chunk reader parses the whole file. Its first 8 bytes are handed over
  // as read rather than put back into the stream: a pipe, or a file whose
  // buffer was refilled inside them, cannot take them back.
  CAuidChunkReader reader(nullptr, signer);
  if (reader.readStream(in, auidField) < 0) fail(kWholeStream);
  convertChunkFile(reader);
}

void CFingerprintStream::convertChunkFile(const CAuidChunkReader& reader) {
  CMetaVec::operator=(reader);
  version = reader.getVersion();

  // The element tag of the first feature data chunk's matrix block decides
  // the kind of object; a file without feature data has none.
  std::unique_ptr<CFeatureObjectBase> object;
  const unsigned short featureType = static_cast<unsigned short>(toIntSaturated(reader.getVersionF()));
  const SDataChunk* first = reader.dataChunkCount() > 0 ? reader.getDataChunk(0) : nullptr;
  if (first != nullptr && first->length >= 8) {
    const unsigned char* tag = first->data.data() + 4;
    if (std::memcmp(tag, "flt", 3) == 0 || std::memcmp(tag, "fil", 3) == 0) {
      auto feature = chunkFeature<float>(reader, featureType);
      if (reader.getInfo().find("VAD") != std::string::npos) feature->setParameter("vad", 1);
      object = std::move(feature);
    } else if (std::memcmp(tag, "uchr", 4) == 0 || std::memcmp(tag, "char", 4) == 0) {
      object = chunkFeature<unsigned char>(reader, featureType);
    }
  }
  if (object) {
    const char* featObj = metaTagName(META_TAG_FEATOBJ);
    const unsigned size = object->getStreamSize();
    unsigned char* data = add(static_cast<unsigned>(std::strlen(featObj)), featObj, size);
    object->write(data, size);
  }

  unsigned char tuid[8];
  encodeUInt64BE(tuid, reader.getTuid());
  add(4, metaTagName(META_TAG_TUID), sizeof tuid, tuid);
  const uint32_t cuid = writeUInt32BE(static_cast<uint32_t>(toIntSaturated(reader.getVersionC())));
  add(4, metaTagName(META_TAG_CUID), 4, reinterpret_cast<const unsigned char*>(&cuid));
  const int signatureFrame = find(metaTagName(META_TAG_DSIG), 4);
  if (signatureFrame >= 0) remove(signatureFrame);
}
