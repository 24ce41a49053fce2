#include "signature/fingerprint_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "signature/audio_sign_multi.h"
#include "signature/audio_sign_tag_writer.h"
#include "signature/sign_data_ase_sfm.h"
#include "tests/support/byte_builder.h"
#include "tests/support/expect_message.h"
#include "tests/support/piecewise_buffer.h"
#include "tests/support/temp_files.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string asString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The stream of feature object "ab": version 3, type 7, float, the string
// parameter msPerRow = "10", a 1 x 2 float block [1, 2]. 67 bytes.
Bytes featureAb() {
  ByteBuilder b;
  b.u16(3).u16(7).shortText("ab").shortText("flt");
  b.shortText("Param").u8(1).shortText("string").u8(1).shortText("msPerRow").vlq(2).text("10");
  b.u8(3).text("MAT\n").text("flt").u8(0).text("bin\n").u32(1).u32(2).f32(1.0f).f32(2.0f);
  return b.bytes;
}

// META chunk: "TIME" = 10, then "FeatObj" = featureAb. P = 10 + 76 = 86, 91 bytes.
Bytes metaChunk(unsigned declaredPayload = 86) {
  ByteBuilder b;
  b.text("META").vlq(declaredPayload).shortText("TIME").vlq(4).u32(10).shortText("FeatObj").vlq(67).append(featureAb());
  return b.bytes;
}

// The unsigned version 5 stream: total = M + 1, header length 0.
Bytes unsignedImage(uint32_t version = 5) {
  ByteBuilder b;
  b.text("AUID").u32(version).vlq(92).u8(0).append(metaChunk());
  return b.bytes;
}

// The signature the images hold, built directly.
std::unique_ptr<CSignDataMulti> dataOfImage() {
  auto data = std::make_unique<CSignDataMulti>();
  data->addMetaFrame(SMetaFrame(4, 4, "TIME", Bytes{0, 0, 0, 10}.data()));
  data->readTime();
  auto* ab = new CFeatureObject<float>("ab", 7);
  ab->setParameter("msPerRow", std::string("10"));
  ab->readParameters();
  ab->getMatrix() = HeapMatrix<float>(BaseVector<float>(std::vector<float>{1.0f, 2.0f}.data(), 2), 1);
  data->insert(ab);
  return data;
}

uint64_t fnv1a(const Bytes& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
  return hash;
}

Bytes bigEndian64(uint64_t value) {
  ByteBuilder b;
  b.u32(static_cast<uint32_t>(value >> 32)).u32(static_cast<uint32_t>(value));
  return b.bytes;
}

// A deterministic signer: the signature is the FNV-1a hash of everything
// passed to update, 8 bytes big-endian. It records the calls it receives.
class TestSigner : public CRsaObject {
 public:
  bool hasKey() override { return log("hasKey"), keyLoaded; }
  uint32_t getSignKey(const unsigned char*& out) override { return log("getSignKey"), blob(signKey, out); }
  int initSign() override { return log("initSign"), hashed.clear(), failInitSign; }
  void update(const unsigned char* bytes, uint32_t length) override {
    log("update " + std::to_string(length));
    hashed.insert(hashed.end(), bytes, bytes + length);
  }
  int sign(const unsigned char*& out, uint32_t& length) override {
    made = bigEndian64(fnv1a(hashed));
    length = blob(made, out);
    return log("sign"), failSign;
  }
  uint32_t getVerifyKey(const unsigned char*& out) override { return log("getVerifyKey"), blob(verifyKey, out); }
  bool canVerify() override { return true; }
  int initVerify() override { return log("initVerify"), hashed.clear(), failInitVerify; }
  int verify(const unsigned char* signature, uint32_t length) override {
    log("verify");
    return Bytes(signature, signature + length) == bigEndian64(fnv1a(hashed)) ? 0 : 1;
  }

  Bytes signKey = {'k', '1'};
  Bytes verifyKey = {'k', '1'};
  bool keyLoaded = true;
  int failInitSign = 0;
  int failSign = 0;
  int failInitVerify = 0;
  std::vector<std::string> calls;

 private:
  void log(const std::string& call) { calls.push_back(call); }
  static uint32_t blob(const Bytes& bytes, const unsigned char*& out) {
    out = bytes.data();
    return static_cast<uint32_t>(bytes.size());
  }
  Bytes hashed;
  Bytes made;
};

// The signed version 5 stream of a META chunk with key "k1": H = 1 + 1 + 2 +
// 1 + 8 = 13, total = 1 + 13 + M.
Bytes signedImage(const Bytes& meta) {
  const Bytes key = {'k', '1'};
  Bytes signedBytes = meta;
  signedBytes.insert(signedBytes.end(), key.begin(), key.end());
  ByteBuilder b;
  b.text("AUID").u32(5).vlq(static_cast<uint32_t>(1 + 13 + meta.size())).vlq(13);
  b.u8(0x31).vlq(2).append(key).vlq(8).append(bigEndian64(fnv1a(signedBytes))).append(meta);
  return b.bytes;
}

Bytes written(CFingerprintStream& stream) {
  std::ostringstream out;
  EXPECT_EQ(stream.write(out), 0);
  const std::string text = out.str();
  return Bytes(text.begin(), text.end());
}

std::string rest(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string frameText(const CSignDataMulti& data, const char* tag) {
  const SMetaFrame* frame = data.findMetaFrame(tag);
  return frame == nullptr ? "<none>" : std::string(reinterpret_cast<const char*>(frame->data), frame->dataLen);
}

template <typename T>
const HeapMatrix<T>& matrixOf(const CSignDataMulti& data, const char* name) {
  auto* typed = dynamic_cast<CFeatureObject<T>*>(data.find(name));
  EXPECT_NE(typed, nullptr) << name;
  return typed->getMatrix();
}

TEST(FingerprintStream, UnsignedVersion5LayoutWrittenAndRead) {
  ASSERT_EQ(featureAb().size(), 67u);
  ASSERT_EQ(metaChunk().size(), 91u);

  std::ostringstream out;
  EXPECT_EQ(CAudioSignMulti(dataOfImage().release()).write(out), 0);
  EXPECT_EQ(out.str(), asString(unsignedImage()));

  for (const uint32_t version : {5u, 64u}) {
    std::istringstream in(asString(unsignedImage(version)));
    const CFingerprintStream stream(in, nullptr);
    EXPECT_EQ(stream.getVersion(), static_cast<int>(version));
    ASSERT_EQ(stream.size(), 2u);
    EXPECT_EQ(stream.getScheme(), 0);
    EXPECT_TRUE(stream.getKey().empty());

    const CSignDataMulti data(stream);
    EXPECT_EQ(data.getTime(), 10u);
    EXPECT_EQ(data.getMetaVec().size(), 0u);
    ASSERT_NE(data.getFeature("ab"), nullptr);
    EXPECT_EQ(data.getFeature("ab")->getFeatureType(), 7);
    EXPECT_FLOAT_EQ(data.getFeature("ab")->getMsPerRow(), 10.0f);
    EXPECT_EQ(matrixOf<float>(data, "ab")(0, 1), 2.0f);
  }

  CFingerprintStream empty;
  std::ostringstream nothing;
  expectThrowMessage<std::string>([&] { empty.write(nothing); }, "no data to write!");
  EXPECT_EQ(CAudioSignMulti().write(nothing), -1);
  EXPECT_TRUE(nothing.str().empty());
}

TEST(FingerprintStream, RefusesForeignAndInconsistentStreams) {
  auto readOf = [](const Bytes& image) {
    std::istringstream in(asString(image));
    CFingerprintStream stream(in, nullptr);
  };
  for (const uint32_t version : {6u, 7u, 63u}) {
    expectThrowMessage<std::string>([&] { readOf(unsignedImage(version)); }, "incompatible file version!");
  }
  Bytes image = unsignedImage();
  image[3] = 'X';
  expectThrowMessage<std::string>([&] { readOf(image); }, "stream mismatch!");

  // The stream's total bounds the META chunk: a payload length field one
  // short of it is not relied on, and the frames read as they are.
  ByteBuilder disagreeing;
  disagreeing.text("AUID").u32(5).vlq(92).u8(0).append(metaChunk(85));
  std::istringstream disagreeingIn(asString(disagreeing.bytes));
  const CFingerprintStream tolerated(disagreeingIn, nullptr);
  EXPECT_EQ(tolerated.size(), 2u);
  EXPECT_EQ(CSignDataMulti(tolerated).getTime(), 10u);
  Bytes notMeta = unsignedImage();
  notMeta[10] = 'X';  // the META magic
  testing::internal::CaptureStderr();
  expectThrowMessage<std::string>([&] { readOf(notMeta); }, "stream mismatch!");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: not an Meta Tag\n");
  ByteBuilder longHeader;  // a header longer than the total
  longHeader.text("AUID").u32(5).vlq(3).vlq(5).append(Bytes(10, 0));
  expectThrowMessage<std::string>([&] { readOf(longHeader.bytes); }, "stream mismatch!");
  ByteBuilder huge;  // a total far beyond the data: no allocation of that size
  huge.text("AUID").u32(5).vlq(0x7FFFFFFF).u8(0).append(metaChunk());
  expectThrowMessage<std::string>([&] { readOf(huge.bytes); }, "readMetaStream: corrupted stream");
  ByteBuilder hugeKey;
  hugeKey.text("AUID").u32(5).vlq(0x7FFFFFF0).vlq(0x7FFFFF00).u8(0x31).vlq(0x7FFFFE00).text("k1");
  expectThrowMessage<std::string>([&] { readOf(hugeKey.bytes); }, "readMetaStream: corrupted stream");
  ByteBuilder overlongKey;  // the key runs past the header
  overlongKey.text("AUID").u32(5).vlq(100).vlq(4).u8(0x31).vlq(9).append(Bytes(9, 0));
  expectThrowMessage<std::string>([&] { readOf(overlongKey.bytes); }, "stream mismatch!");
}

TEST(FingerprintStream, TruncationAtEveryByteFailsCleanly) {
  const std::set<std::string> allowed = {"stream mismatch!", "readMetaStream: corrupted stream"};
  TestSigner verifier;
  const Bytes plain = unsignedImage();
  const Bytes withSignature = signedImage(metaChunk());
  for (const Bytes* image : {&plain, &withSignature}) {
    for (size_t length = 0; length < image->size(); ++length) {
      std::istringstream in(std::string(image->begin(), image->begin() + static_cast<std::ptrdiff_t>(length)));
      try {
        CFingerprintStream stream(in, &verifier);
        ADD_FAILURE() << "a stream of " << length << " bytes was read";
      } catch (const std::string& message) {
        EXPECT_EQ(allowed.count(message), 1u) << message << " at " << length;
      }
    }
  }
  std::istringstream empty;
  expectThrowMessage<AudioSignException>([&] { CAudioSignMulti(empty, nullptr); },
                                         "no audio signature found in istream (EOF)");
}

TEST(FingerprintStream, SignedStreamWrittenAndReadWithAndWithoutVerifier) {
  TestSigner signer;
  const std::unique_ptr<CSignDataMulti> data = dataOfImage();
  CFingerprintStream stream;
  data->writeStream(stream, &signer);
  EXPECT_EQ(stream.getSigner(), &signer);
  EXPECT_EQ(stream.getKey(), signer.signKey);
  signer.calls.clear();
  const Bytes image = written(stream);
  EXPECT_EQ(image, signedImage(metaChunk()));
  EXPECT_EQ(signer.calls,
            (std::vector<std::string>{"hasKey", "getSignKey", "initSign", "update 91", "update 2", "sign"}));

  // With a verifier: checked, then parsed.
  signer.calls.clear();
  std::istringstream in(asString(image));
  const CFingerprintStream verified(in, &signer);
  EXPECT_EQ(signer.calls,
            (std::vector<std::string>{"getVerifyKey", "initVerify", "update 91", "update 2", "verify"}));
  EXPECT_EQ(verified.getScheme(), 0x31);
  EXPECT_EQ(verified.getKey(), signer.signKey);
  EXPECT_EQ(verified.getSignature(), Bytes(image.begin() + 15, image.begin() + 23));
  EXPECT_EQ(CSignDataMulti(verified).getTime(), 10u);

  // Without: no frames, no features, and the payload stays in the stream.
  std::istringstream unverified(asString(image));
  const CAudioSignMulti unchecked(unverified, nullptr);
  ASSERT_TRUE(unchecked.isInitialized());
  EXPECT_TRUE(unchecked.getSignData()->empty());
  EXPECT_EQ(rest(unverified), asString(metaChunk()));

  auto readWith = [](const Bytes& bytes, TestSigner& verifier) {
    std::istringstream source(asString(bytes));
    CFingerprintStream read(source, &verifier);
  };
  TestSigner otherKey;
  otherKey.verifyKey = {'k', '2'};
  expectThrowMessage<std::string>([&] { readWith(image, otherKey); },
                                  "veryfication key dosn't fit to encryption key!");
  Bytes tampered = image;
  tampered.back() ^= 1;
  expectThrowMessage<std::string>([&] { readWith(tampered, signer); }, "signature failed security verification");
  signer.failInitVerify = 1;
  expectThrowMessage<std::string>([&] { readWith(image, signer); },
                                  "cannot initialise rsa checking! Make sure you have the full lib!");
  signer.failInitVerify = 0;
  // Properly signed, yet the payload is not a META chunk.
  Bytes notMeta = metaChunk();
  notMeta[0] = 'X';
  testing::internal::CaptureStderr();
  expectThrowMessage<std::string>([&] { readWith(signedImage(notMeta), signer); }, "file parsing error!");
  testing::internal::GetCapturedStderr();

  std::ostringstream sink;
  signer.failInitSign = 1;
  expectThrowMessage<std::string>([&] { stream.write(sink); },
                                  "cannot initialise rsa signing! Make sure you have the full lib!");
  signer.failInitSign = 0;
  signer.failSign = 1;
  expectThrowMessage<std::string>([&] { stream.write(sink); }, "encryption failed!");

  // A signer without a key: a warning, and the stream goes out unsigned.
  TestSigner keyless;
  keyless.keyLoaded = false;
  CFingerprintStream plain;
  data->writeStream(plain, &keyless);
  testing::internal::CaptureStdout();
  const Bytes unsignedBytes = written(plain);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Warning: RSA object loaded but without key for signing.\nFingerprints won't be signed!\n");
  EXPECT_EQ(unsignedBytes, unsignedImage());
}

TEST(AudioSignMulti, RoundTripOfFeaturesFramesAndTime) {
  auto* data = new CSignDataMulti();
  CMetaVec time;
  const unsigned char seconds[4] = {0, 0, 0, 42};
  time.add(4, "TIME", 4, seconds);
  data->setMetaVec(time);
  auto* f1 = new CFeatureObject<float>("F1", 5);
  f1->setParameter("msPerRow", 20.0f);
  f1->readParameters();
  f1->setParameter("gain", 0.5f);
  f1->setParameter("bands", 12);
  f1->getMatrix().resize(2, 3);
  for (unsigned i = 0; i < 6; ++i) f1->getMatrix().data[i] = -1.5f + 0.25f * i;
  auto* u1 = new CFeatureObject<unsigned char>("U1", 0);
  u1->getMatrix().resize(3, 2);
  for (unsigned i = 0; i < 6; ++i) u1->getMatrix().data[i] = static_cast<unsigned char>(250 + i % 6);
  auto* i1 = new CFeatureObject<unsigned int>("I1", 9);
  i1->getMatrix().resize(2, 2);
  for (unsigned i = 0; i < 4; ++i) i1->getMatrix().data[i] = 4000000000u + i;
  data->insert(f1);
  data->insert(u1);
  data->insert(i1);

  CAudioSignMulti signature(data);
  signature.setTuid(CSignatureID(5, 6));
  CAudioSignTagWriter tags;
  tags.setSignature(&signature);
  for (const char* tag : {"TIT2", "TPE1", "FILENAME"}) tags.setTag(tag, "");
  tags.setTag("TLEN", "1234");

  std::stringstream buffer;
  ASSERT_EQ(signature.write(buffer), 0);
  const CAudioSignMulti back(buffer, nullptr);
  const CSignDataMulti& read = *back.getSignData();
  EXPECT_EQ(back.getTuid(), CSignatureID(5, 6));
  EXPECT_EQ(back.getTuid().toUInt64(), 0x600000005ull);
  EXPECT_EQ(read.getTime(), 42u);
  std::vector<std::string> tagsRead;
  for (unsigned i = 0; i < read.getMetaVec().size(); ++i) tagsRead.push_back(read.getMetaVec().frame(i)->tag);
  EXPECT_EQ(tagsRead, (std::vector<std::string>{"Tuid", "TIT2", "TPE1", "FILENAME", "TLEN"}));
  EXPECT_EQ(frameText(read, "FILENAME"), "");
  EXPECT_EQ(frameText(read, "TLEN"), "1234");

  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(matrixOf<float>(read, "F1").data[i], f1->getMatrix().data[i]);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(matrixOf<unsigned char>(read, "U1").data[i], u1->getMatrix().data[i]);
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(matrixOf<unsigned int>(read, "I1").data[i], 4000000000u + i);
  int bands = 0;
  float gain = 0;
  EXPECT_TRUE(read.find("F1")->getParameter(bands, "bands", false) && bands == 12);
  EXPECT_TRUE(read.find("F1")->getParameter(gain, "gain", false) && gain == 0.5f);
  EXPECT_FLOAT_EQ(read.find("F1")->getMsPerRow(), 20.0f);
  EXPECT_EQ(read.find("I1")->getFeatureType(), 9);
}

TEST(AudioSignMulti, OperationsAndTheirFailures) {
  const std::string uninitialized = "Uninitialized CAudioSignMulti object";
  CAudioSignMulti none;
  EXPECT_FALSE(none.isInitialized());
  expectThrowMessage<AudioSignException>([&] { none.getTuid(); }, uninitialized);
  expectThrowMessage<AudioSignException>([&] { none.setTuid(CSignatureID(1, 0)); }, uninitialized);
  expectThrowMessage<AudioSignException>([&] { none.compare(none); }, uninitialized);

  std::istringstream twice(asString(unsignedImage()) + asString(unsignedImage()));
  CAudioSignMulti first(twice, nullptr);
  CAudioSignMulti second(twice, nullptr);
  expectThrowMessage<AudioSignException>([&] { second.read(twice, nullptr); },
                                         "no audio signature found in istream (EOF)");
  expectThrowMessage<AudioSignException>([&] { second.read(twice, nullptr); },
                                         "no audio signature found in istream (EOF)");
  std::ifstream missing("/nonexistent/kivet/signature.auid", std::ios::binary);
  expectThrowMessage<AudioSignException>([&] { CAudioSignMulti(missing, nullptr); },
                                         "could not open audio signature istream");
  std::istringstream garbage("garbage!");
  expectThrowMessage<std::string>([&] { second.read(garbage, nullptr); }, "stream mismatch!");
  ASSERT_TRUE(second.isInitialized());  // the old data stays
  EXPECT_NE(second.getSignData()->find("ab"), nullptr);

  expectThrowMessage<AudioSignException>([&] { first.setTuid(CSignatureID()); }, "Invalid CSignatureID");
  EXPECT_FALSE(first.getTuid().isValid());
  first.setTuid(CSignatureID(0, 1));
  EXPECT_EQ(first.getTuid().getHigh(), 1u);

  // compare needs an active feature on both sides; the score is fixed.
  expectThrowMessage<AudioSignException>([&] { first.compare(second); }, "Active feature not set or type mismatch");
  expectThrowMessage<AudioSignException>([&] { first.compare(none); }, uninitialized);
  const CAudioSignMulti active(new CSignDataMulti(*first.getSignData(), 0, 0, "ab"));
  const SCompareResult result = active.compare(active);
  EXPECT_EQ(result.score, 255.0f);
  EXPECT_EQ(result.reserved[0] | result.reserved[1] | result.reserved[2], 0u);

  const CAudioSignMulti copy(first);
  EXPECT_NE(copy.getSignData()->find("ab"), first.getSignData()->find("ab"));
  EXPECT_EQ(copy.getTuid(), first.getTuid());
  EXPECT_FALSE(CAudioSignMulti(none).isInitialized());

  none.append(first);
  ASSERT_TRUE(none.isInitialized());
  EXPECT_NE(none.getSignData()->find("ab"), first.getSignData()->find("ab"));
  none.append(second);
  none.append(CAudioSignMulti());
  EXPECT_EQ(matrixOf<float>(*none.getSignData(), "ab").rows, 2u);

  // A signature handed over: its data is taken, not copied, when there is
  // none; otherwise its rows are appended.
  CAudioSignMulti taken;
  CAudioSignMulti given(new CSignDataMulti(*first.getSignData(), 0, 0, nullptr));
  const CSignDataMulti* givenData = given.getSignData();
  taken.append(std::move(given));
  EXPECT_EQ(taken.getSignData(), givenData);
  EXPECT_FALSE(given.isInitialized());
  taken.append(CAudioSignMulti(new CSignDataMulti(*second.getSignData(), 0, 0, nullptr)));
  EXPECT_EQ(taken.getSignData(), givenData);
  EXPECT_EQ(matrixOf<float>(*taken.getSignData(), "ab").rows, 2u);

  none.setSignData(none.getSignData());  // the held data: kept
  EXPECT_EQ(none.getSignData()->size(), 1u);
  none.reset();
  EXPECT_FALSE(none.isInitialized());
}

// Chunk-format files, written out by hand: a float block 1 x 2 [0.5, 0.06]
// and an unsigned char block 1 x 3 [7, 8, 9].
Bytes floatBlock() {
  ByteBuilder b;
  b.text("MAT\n").text("flt").u8(0).text("bin\n").u32(1).u32(2).f32(0.5f).f32(0.06f);
  return b.bytes;
}

Bytes charBlock() {
  ByteBuilder b;
  b.text("MAT\nuchrbin\n").u32(1).u32(3).raw({7, 8, 9});
  return b.bytes;
}

// Version 3 (VLQ lengths, u64 TUID): VERS 9 + INFO 8 + TUID 12 + FPAR 16 +
// FEAT 37 = 82 bytes, then a META chunk with "TIT2" and a "dsig" frame.
Bytes version3File(bool withFeature) {
  ByteBuilder sub;
  sub.text("VERS").vlq(4).text("F2C5").text("INFO").vlq(3).text("VAD");
  sub.text("TUID").u32(1).u32(0xFFFFFFFE);
  sub.text("FPAR").f32(250.0f).f32(4000.0f).u32(1);
  if (withFeature) sub.text("FEAT").vlq(32).text("SFM0").append(floatBlock());
  ByteBuilder file;
  file.text("AUID").u32(3).vlq(static_cast<uint32_t>(sub.bytes.size())).append(sub.bytes);
  file.text("META").vlq(17).shortText("TIT2").vlq(1).text("t").shortText("dsig").vlq(4).u32(0);
  return file.bytes;
}

TEST(FingerprintStream, ChunkFormatFilesBecomeOneSfmObject) {
  std::istringstream v3(asString(version3File(true)));
  const CFingerprintStream stream(v3, nullptr);
  EXPECT_EQ(stream.getVersion(), 3);
  std::vector<std::string> tags;
  for (unsigned i = 0; i < stream.size(); ++i) tags.push_back(stream.frame(i)->tag);
  EXPECT_EQ(tags, (std::vector<std::string>{"TIT2", "FeatObj", "Tuid", "Cuid"}));
  EXPECT_EQ(Bytes(stream.frame(2)->data, stream.frame(2)->data + 8), (Bytes{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(Bytes(stream.frame(3)->data, stream.frame(3)->data + 4), (Bytes{0, 0, 0, 5}));

  // Read into the signature: type 2 makes it a flatness object, whose band
  // parameters come from FPAR and whose values passed the default quantizer.
  std::istringstream again(asString(version3File(true)));
  const CAudioSignMulti signature(again, nullptr);
  EXPECT_EQ(signature.getTuid().toUInt64(), 0x1FFFFFFFEull);
  auto* sfm = dynamic_cast<CSignDataSFM*>(signature.getSignData()->find("SFM"));
  ASSERT_NE(sfm, nullptr);
  EXPECT_EQ(sfm->getFeatureType(), 2);
  EXPECT_EQ(sfm->getTemporalResolution(), 1);
  EXPECT_EQ(sfm->getLowBand(), 0);
  EXPECT_EQ(sfm->getHighBand(), 15);
  EXPECT_FLOAT_EQ(sfm->getMsPerRow(), 30.0f);
  int vad = 0;
  EXPECT_TRUE(sfm->getParameter(vad, "vad", false));
  EXPECT_EQ(vad, 1);
  ASSERT_EQ(sfm->getMatrix().rows, 1u);
  EXPECT_NEAR(sfm->getMatrix()(0, 0), 128.5 / 256, 1e-6);
  EXPECT_NEAR(sfm->getMatrix()(0, 1), 153.5 * 0.1 / 256, 1e-6);
  EXPECT_EQ(frameText(*signature.getSignData(), "dsig"), "<none>");

  // Version 2: u32 lengths, pad bytes, a u32 TUID, no FPAR (defaults), no INFO.
  ByteBuilder v2;
  v2.text("AUID").u32(2).vlq(56);  // VERS 12 + TUID 8 + FEAT 36
  v2.text("VERS").u32(4).text("F9C9").text("TUID").u32(0xFFFFFFFE);
  v2.text("FEAT").u32(27).text("SFM0").append(charBlock()).u8(0);
  std::istringstream v2In(asString(v2.bytes));
  const CFingerprintStream older(v2In, nullptr);
  EXPECT_EQ(older.getVersion(), 2);
  ASSERT_EQ(older.size(), 3u);
  CFeatureObject<unsigned char> codes;
  codes.read(older.frame(0)->data, older.frame(0)->dataLen);
  EXPECT_EQ(codes.getName(), "SFM");
  EXPECT_EQ(codes.getFeatureType(), 9);
  EXPECT_EQ(Bytes(codes.getMatrix().data, codes.getMatrix().data + 3), (Bytes{7, 8, 9}));
  int sr = 0, lf = 0, uf = 0;
  EXPECT_TRUE(codes.getParameter(sr, "sr", false) && codes.getParameter(lf, "lf", false) &&
              codes.getParameter(uf, "uf", false));
  EXPECT_EQ(std::vector<int>({sr, lf, uf}), std::vector<int>({32, 250, 4000}));
  EXPECT_FALSE(codes.getParameter(vad, "vad", false));
  EXPECT_EQ(Bytes(older.frame(1)->data, older.frame(1)->data + 8),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}));  // sign-extended
  EXPECT_EQ(Bytes(older.frame(2)->data, older.frame(2)->data + 4), (Bytes{0, 0, 0, 9}));

  // Without feature data: no feature object, but the ids are there.
  std::istringstream bare(asString(version3File(false)));
  const CAudioSignMulti withoutFeature(bare, nullptr);
  EXPECT_TRUE(withoutFeature.getSignData()->empty());
  EXPECT_EQ(withoutFeature.getTuid().toUInt64(), 0x1FFFFFFFEull);

  // A chunk file cut short, and one whose feature block is corrupt.
  const Bytes whole = version3File(true);
  std::istringstream cut(asString(Bytes(whole.begin(), whole.begin() + 60)));
  testing::internal::CaptureStderr();
  expectThrowMessage<std::string>([&] { CFingerprintStream read(cut, nullptr); }, "cannot parse wholestream!");
  testing::internal::GetCapturedStderr();
  Bytes corrupt = whole;
  corrupt[4 + 4 + 1 + 9 + 8 + 12 + 16 + 4 + 1 + 4 + 15] = 9;  // the block's row count
  std::istringstream badBlock(asString(corrupt));
  expectThrowMessage<std::string>([&] { CFingerprintStream read(badBlock, nullptr); }, "cannot parse wholestream!");
}

TEST(FingerprintStream, ChunkFormatHeaderIsNotPutBackIntoTheStream) {
  // The 8 bytes that tell the formats apart lie across the pieces of a source
  // that cannot take them back.
  for (std::size_t piece = 1; piece <= 9; ++piece) {
    PiecewiseBuffer source(version3File(true), piece, false);
    std::istream in(&source);
    const CAudioSignMulti signature(in, nullptr);
    EXPECT_EQ(signature.getTuid().toUInt64(), 0x1FFFFFFFEull) << piece;
    EXPECT_NE(signature.getSignData()->find("SFM"), nullptr) << piece;
  }

  // A file holding a stream, a chunk-format file and a stream, read through
  // one std::ifstream as a signature file is loaded. Small buffers put the
  // format headers, and the "AUID" tag that ends the chunk-format file, across
  // buffer refills.
  namespace fs = std::filesystem;
  const fs::path path = testfiles::tempPath("streams.auid");
  const std::string contents = asString(unsignedImage()) + asString(version3File(true)) + asString(unsignedImage());
  std::ofstream(path, std::ios::binary) << contents;
  for (std::size_t size = 2; size <= 24; ++size) {
    std::vector<char> buffer(size);
    std::ifstream file;
    file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(size));
    file.open(path, std::ios::binary);
    CAudioSignMulti signature;
    signature.read(file, nullptr);
    EXPECT_NE(signature.getSignData()->find("ab"), nullptr) << size;
    signature.read(file, nullptr);
    EXPECT_EQ(signature.getTuid().toUInt64(), 0x1FFFFFFFEull) << size;
    EXPECT_NE(signature.getSignData()->find("SFM"), nullptr) << size;
    signature.read(file, nullptr);
    EXPECT_EQ(signature.getSignData()->getTime(), 10u) << size;
    EXPECT_EQ(file.peek(), std::ifstream::traits_type::eof()) << size;
  }
}

}  // namespace
