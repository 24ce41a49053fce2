#include "signature/auid_chunk_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "signature/rsa_object.h"
#include "tests/support/piecewise_buffer.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

Bytes operator+(Bytes left, const Bytes& right) {
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

// Matrix blocks as stored inside "FEAT": 1 x 2 floats [1, 2], 1 x 2 floats
// [0.5, -1] and 1 x 3 unsigned chars [7, 8, 9].
const Bytes kFloatBlock = text("MAT\n") + Bytes{'f', 'l', 't', 0} + text("bin\n") +
                          Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0x3F, 0x80, 0, 0, 0x40, 0x00, 0, 0};
const Bytes kSecondFloatBlock = text("MAT\n") + Bytes{'f', 'l', 't', 0} + text("bin\n") +
                                Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0x3F, 0x00, 0, 0, 0xBF, 0x80, 0, 0};
const Bytes kCharBlock = text("MAT\nuchrbin\n") + Bytes{0, 0, 0, 1, 0, 0, 0, 3, 7, 8, 9};

// FPAR: 100.0, 8000.0, 22050.
const Bytes kFpar = text("FPAR") + Bytes{0x42, 0xC8, 0, 0, 0x45, 0xFA, 0, 0, 0, 0, 0x56, 0x22};

// Version 3: VLQ lengths, u64 TUID, no padding. Content 10 + 8 + 12 + 16 + 37 = 83.
const Bytes kV3SubChunks = text("VERS") + Bytes{5} + text("F3C17") +                     //
                           text("INFO") + Bytes{3} + text("VAD") +                       //
                           text("TUID") + Bytes{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE} +    //
                           kFpar +                                                       //
                           text("FEAT") + Bytes{32} + text("SFM0") + kFloatBlock;
const Bytes kV3File = text("AUID") + Bytes{0, 0, 0, 3, 83} + kV3SubChunks;

// Version 2: u32 lengths, a pad byte after odd VERS, INFO and FEAT contents,
// u32 TUID. Content 14 + 12 + 8 + 16 + 36 = 86.
const Bytes kV2File = text("AUID") + Bytes{0, 0, 0, 2, 86} +                           //
                      text("VERS") + Bytes{0, 0, 0, 5} + text("F3C17") + Bytes{0} +    //
                      text("INFO") + Bytes{0, 0, 0, 3} + text("VAD") + Bytes{0} +      //
                      text("TUID") + Bytes{0xFF, 0xFF, 0xFF, 0xFE} +                   //
                      kFpar +                                                          //
                      text("FEAT") + Bytes{0, 0, 0, 27} + text("SFM0") + kCharBlock + Bytes{0};

// "TIT2" = "hello": payload 1 + 4 + 1 + 5 = 11.
const Bytes kMetaChunk = text("META") + Bytes{11, 4} + text("TIT2") + Bytes{5} + text("hello");

// ID3v2.4 tag of size 5 with the footer flag: 10 + 5 + 10 bytes.
const Bytes kId3WithFooter = text("ID3") + Bytes{4, 0, 0x10, 0, 0, 0, 5} + text("abcde") +  //
                             text("3DI") + Bytes{4, 0, 0x10, 0, 0, 0, 5};

const char kBadStream[] = "ERROR bad stream or sub chunk format)\n";

struct Outcome {
  int result;
  std::string errors;  // standard error output
  std::string rest;    // what is left in the stream
};

Outcome readImage(CAuidChunkReader& reader, const Bytes& image) {
  std::istringstream in(std::string(image.begin(), image.end()));
  testing::internal::CaptureStderr();
  int result = 0;
  try {
    result = reader.readStream(in);
  } catch (...) {
    testing::internal::GetCapturedStderr();
    throw;
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  in.clear();
  return {result, errors, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

std::string asString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string frameText(const CMetaVec& frames, const char* tag, unsigned tagLen) {
  unsigned length = tagLen;
  int index = 0;
  const unsigned char* data = frames.getData(tag, length, index);
  return data == nullptr ? "<none>" : std::string(reinterpret_cast<const char*>(data), length);
}

TEST(AuidChunkReader, ReadsVersion3WithVlqLengthsAndU64Tuid) {
  CAuidChunkReader reader;
  const Outcome outcome = readImage(reader, kV3File + kMetaChunk);
  EXPECT_EQ(outcome.result, 3);
  EXPECT_EQ(outcome.errors, "");
  EXPECT_EQ(reader.getVersion(), 3);
  EXPECT_EQ(reader.getTuid(), 0x1FFFFFFFEull);
  EXPECT_EQ(reader.getInfo(), "VAD");
  EXPECT_DOUBLE_EQ(reader.getVersionF(), 3.0);
  EXPECT_DOUBLE_EQ(reader.getVersionC(), 17.0);
  ASSERT_NE(reader.getFeatPara(), nullptr);
  EXPECT_FLOAT_EQ(reader.getFeatPara()->lowerFrequency, 100.0f);
  EXPECT_FLOAT_EQ(reader.getFeatPara()->upperFrequency, 8000.0f);
  EXPECT_EQ(reader.getFeatPara()->samplingRate, 22050u);
  EXPECT_EQ(frameText(reader, "TIT2", 4), "hello");

  ASSERT_EQ(reader.dataChunkCount(), 1u);
  EXPECT_EQ(reader.getDataChunk(0)->id, 1u);
  EXPECT_EQ(reader.getDataChunk(0)->length, kFloatBlock.size());
  EXPECT_EQ(reader.getDataChunk(0)->data, kFloatBlock);
  HeapMatrix<float> matrix;
  ASSERT_TRUE(reader.getFeatureMatrix(matrix));
  ASSERT_EQ(matrix.rows, 1u);
  ASSERT_EQ(matrix.cols, 2u);
  EXPECT_EQ(matrix(0, 0), 1.0f);
  EXPECT_EQ(matrix(0, 1), 2.0f);
}

TEST(AuidChunkReader, ReadsVersion2WithU32LengthsPadBytesAndSignExtendedTuid) {
  CAuidChunkReader reader;
  const Outcome outcome = readImage(reader, kV2File + kMetaChunk);
  EXPECT_EQ(outcome.result, 3);
  EXPECT_EQ(outcome.errors, "");
  EXPECT_EQ(reader.getVersion(), 2);
  EXPECT_EQ(reader.getTuid(), 0xFFFFFFFFFFFFFFFEull);
  EXPECT_EQ(reader.getInfo(), "VAD");
  EXPECT_DOUBLE_EQ(reader.getVersionF(), 3.0);
  EXPECT_EQ(reader.getFeatPara()->samplingRate, 22050u);
  EXPECT_EQ(frameText(reader, "TIT2", 4), "hello");
  ASSERT_EQ(reader.dataChunkCount(), 1u);
  EXPECT_EQ(reader.getDataChunk(0)->data, kCharBlock);

  HeapMatrix<unsigned char> matrix;
  ASSERT_TRUE(reader.getFeatureMatrix(matrix));
  ASSERT_EQ(matrix.rows, 1u);
  ASSERT_EQ(matrix.cols, 3u);
  EXPECT_EQ(matrix(0, 0), 7);
  EXPECT_EQ(matrix(0, 2), 9);
}

TEST(AuidChunkReader, LengthFirstFormIsVersion2WithThatContentLength) {
  // v = 200: the content is exactly 200 bytes, here without FEAT, so only the
  // length ends the sub-chunks. What follows is the next file, which a wrong
  // length would either read as sub-chunks or leave partly consumed.
  const Bytes content = text("VERS") + Bytes{0, 0, 0, 4} + text("F2C9") +   // 12
                        text("TUID") + Bytes{0, 0, 0, 7} +                  // 8
                        text("INFO") + Bytes{0, 0, 0, 172} + text(std::string(172, 'x'));  // 180
  ASSERT_EQ(content.size(), 200u);
  CAuidChunkReader reader;
  const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 200} + content + kV3File);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.errors, "");
  EXPECT_EQ(outcome.rest, asString(kV3File));
  EXPECT_EQ(reader.getVersion(), 2);
  EXPECT_EQ(reader.getTuid(), 7u);
  EXPECT_DOUBLE_EQ(reader.getVersionC(), 9.0);

  // A file without FPAR gets the default parameters.
  ASSERT_NE(reader.getFeatPara(), nullptr);
  EXPECT_FLOAT_EQ(reader.getFeatPara()->lowerFrequency, 250.0f);
  EXPECT_FLOAT_EQ(reader.getFeatPara()->upperFrequency, 4000.0f);
  EXPECT_EQ(reader.getFeatPara()->samplingRate, 32u);

  // Without FEAT there is no feature matrix.
  HeapMatrix<float> matrix(2, 2, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.getFeatureMatrix(matrix));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR container subscript out of range (size=0)\n");
  EXPECT_EQ(matrix.rows, 0u);
  EXPECT_EQ(matrix.cols, 0u);
}

TEST(AuidChunkReader, RefusesVersions6To63AndTakes64AsALength) {
  for (unsigned char v : {6, 7, 63}) {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, v} + Bytes(83, 0));
    EXPECT_EQ(outcome.result, 0) << int{v};
    EXPECT_EQ(outcome.errors, "ERROR stream version not compatible\n") << int{v};
  }
  CAuidChunkReader reader;
  const Bytes content = text("INFO") + Bytes{0, 0, 0, 56} + text(std::string(56, 'i'));
  const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 64} + content);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(reader.getVersion(), 2);
  EXPECT_EQ(reader.getInfo(), std::string(56, 'i'));
}

TEST(AuidChunkReader, Versions4And5EndWithTheChunkThatReachesTheAuidLength) {
  // A version 5 chunk ends the read: the META behind it stays in the stream.
  {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 5, 83} + kV3SubChunks + kMetaChunk);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(reader.getVersion(), 5);
    EXPECT_EQ(outcome.rest, asString(kMetaChunk));
  }
  // A version 4 chunk declaring 34 content bytes but holding only VERS (10):
  // the META met inside is left for the top-level loop. The position counter
  // starts at -1: AUID 8 + 10 + 1 brings it to 18, META 4 + 1 + 11 to 34,
  // which reaches 34 but not 35.
  const Bytes vers = text("VERS") + Bytes{5} + text("F1C20");
  for (unsigned char declared : {34, 35}) {
    CAuidChunkReader reader;
    const Outcome outcome =
        readImage(reader, text("AUID") + Bytes{0, 0, 0, 4, declared} + vers + kMetaChunk + kId3WithFooter);
    EXPECT_EQ(reader.getVersion(), 4);
    EXPECT_EQ(frameText(reader, "TIT2", 4), "hello");
    if (declared == 34) {
      EXPECT_EQ(outcome.result, 3);
      EXPECT_EQ(outcome.rest, asString(kId3WithFooter));
    } else {
      EXPECT_EQ(outcome.result, 7);
      EXPECT_EQ(outcome.rest, "");
    }
  }
}

TEST(AuidChunkReader, MetaOrId3InsideTheAuidChunkIsReadAsItsOwnChunk) {
  // Both chunks declare more content than their sub-chunks hold; the tag that
  // ends the list is put back, so the chunk it begins is still read whole.
  const Bytes vers = text("VERS") + Bytes{5} + text("F1C20");
  {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 3, 100} + vers + kMetaChunk);
    EXPECT_EQ(outcome.result, 3);
    EXPECT_EQ(frameText(reader, "TIT2", 4), "hello");
  }
  {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 3, 100} + vers + kId3WithFooter);
    EXPECT_EQ(outcome.result, 5);
    EXPECT_EQ(reader.getId3Tag(), kId3WithFooter);
  }
}

TEST(AuidChunkReader, Id3TagsTakeTheirSynchsafeSizeAndFooter) {
  // The footer makes the tag 20 bytes longer than its size; the META behind it
  // is only found when exactly those bytes were taken.
  CAuidChunkReader reader;
  Outcome outcome = readImage(reader, kV3File + kId3WithFooter + kMetaChunk);
  EXPECT_EQ(outcome.result, 7);
  EXPECT_EQ(reader.getId3Tag(), kId3WithFooter);
  EXPECT_EQ(reader.getId3Tag().size(), 5u + 20u);

  // Size bytes 00 00 01 01 are 129 as a synchsafe integer (257 plain); the
  // last tag read is the one kept.
  const Bytes body(129, 'b');
  const Bytes id3NoFooter = text("ID3") + Bytes{3, 0, 0, 0, 0, 1, 1} + body;
  outcome = readImage(reader, kId3WithFooter + id3NoFooter + kMetaChunk);
  EXPECT_EQ(outcome.result, 6);
  EXPECT_EQ(reader.getId3Tag(), id3NoFooter);
}

TEST(AuidChunkReader, SecondAuidChunkStaysInTheStream) {
  const Bytes secondFile = text("AUID") + Bytes{0, 0, 0, 3, 83} + kV3SubChunks;
  const Bytes image = kV2File + kMetaChunk + kId3WithFooter + secondFile;
  std::istringstream in(asString(image));
  CAuidChunkReader first;
  EXPECT_EQ(first.readStream(in), 7);
  EXPECT_EQ(static_cast<std::size_t>(in.tellg()), image.size() - secondFile.size());

  CAuidChunkReader second;
  EXPECT_EQ(second.readStream(in), 1);
  EXPECT_EQ(second.getVersion(), 3);
  EXPECT_EQ(second.getTuid(), 0x1FFFFFFFEull);
}

TEST(AuidChunkReader, TagsGoBackIntoAStreamThatRefusesPutback) {
  // The second file's "AUID" tag, and a META tag met inside an AUID chunk,
  // lie across pieces of a source that can only seek back over them.
  const Bytes secondFile = text("AUID") + Bytes{0, 0, 0, 3, 83} + kV3SubChunks;
  const Bytes vers = text("VERS") + Bytes{5} + text("F1C20");
  for (std::size_t piece = 1; piece <= 9; ++piece) {
    PiecewiseBuffer source(kV2File + kMetaChunk + kId3WithFooter + secondFile, piece, true);
    std::istream in(&source);
    CAuidChunkReader first;
    EXPECT_EQ(first.readStream(in), 7) << piece;
    CAuidChunkReader second;
    EXPECT_EQ(second.readStream(in), 1) << piece;
    EXPECT_EQ(second.getTuid(), 0x1FFFFFFFEull) << piece;

    PiecewiseBuffer inside(text("AUID") + Bytes{0, 0, 0, 3, 100} + vers + kMetaChunk, piece, true);
    std::istream insideIn(&inside);
    CAuidChunkReader reader;
    EXPECT_EQ(reader.readStream(insideIn), 3) << piece;
    EXPECT_EQ(frameText(reader, "TIT2", 4), "hello") << piece;
  }
}

TEST(AuidChunkReader, FurtherDataChunksAppendRowsInReadingOrder) {
  // A reader that reads two files in turn keeps both data chunks; the second
  // file repeats the TUID and the version text and has no FPAR.
  const Bytes secondContent = text("VERS") + Bytes{5} + text("F3C17") +                      // 10
                              text("TUID") + Bytes{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE} +     // 12
                              text("FEAT") + Bytes{32} + text("SFM1") + kSecondFloatBlock;  // 37
  CAuidChunkReader reader;
  std::istringstream in(asString(kV3File + text("AUID") + Bytes{0, 0, 0, 3, 59} + secondContent));
  EXPECT_EQ(reader.readStream(in), 1);
  EXPECT_EQ(reader.readStream(in), 1);
  ASSERT_EQ(reader.dataChunkCount(), 2u);
  EXPECT_EQ(reader.getDataChunk(1)->id, 2u);
  EXPECT_EQ(reader.getFeatPara()->samplingRate, 22050u);

  HeapMatrix<float> matrix;
  ASSERT_TRUE(reader.getFeatureMatrix(matrix));
  ASSERT_EQ(matrix.rows, 2u);
  ASSERT_EQ(matrix.cols, 2u);
  EXPECT_EQ(matrix(1, 0), 0.5f);
  EXPECT_EQ(matrix(1, 1), -1.0f);

  testing::internal::CaptureStderr();
  EXPECT_EQ(reader.getDataChunk(2), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR container subscript out of range (size=2)\n");
}

TEST(AuidChunkReader, TuidZeroIsIgnoredAndADifferentTuidFails) {
  const Bytes zero = text("TUID") + Bytes(8, 0);
  const Bytes five = text("TUID") + Bytes{0, 0, 0, 0, 0, 0, 0, 5};
  const Bytes six = text("TUID") + Bytes{0, 0, 0, 0, 0, 0, 0, 6};
  {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 3, 24} + zero + five);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.errors, "ERROR invalid TUID: use values > 0\n");
    EXPECT_EQ(reader.getTuid(), 5u);
  }
  {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 3, 24} + five + five);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.errors, "");
  }
  {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 3, 24} + five + six);
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.errors, std::string("Error: tuid mismatch\n") + kBadStream);
    EXPECT_EQ(reader.getTuid(), 5u);
  }
}

TEST(AuidChunkReader, VersionTextMustMatchTheExpectedText) {
  auto fileWithVers = [](const std::string& vers) {
    const Bytes sub = text("VERS") + Bytes{static_cast<unsigned char>(vers.size())} + text(vers);
    return text("AUID") + Bytes{0, 0, 0, 3, static_cast<unsigned char>(sub.size())} + sub;
  };
  {
    CAuidChunkReader reader("F3C17");
    const Outcome outcome = readImage(reader, fileWithVers("F3C17"));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_DOUBLE_EQ(reader.getVersionC(), 17.0);
  }
  {
    // The file's text may be a beginning of the expected one.
    CAuidChunkReader reader("F3C17");
    EXPECT_EQ(readImage(reader, fileWithVers("F3C1")).result, 1);
    EXPECT_DOUBLE_EQ(reader.getVersionC(), 17.0);
  }
  for (const char* wrong : {"F4C17", "F3C17X"}) {
    CAuidChunkReader reader("F3C17");
    const Outcome outcome = readImage(reader, fileWithVers(wrong));
    EXPECT_EQ(outcome.result, -1) << wrong;
    EXPECT_EQ(outcome.errors, std::string("Error: stream version mismatch\n") + kBadStream) << wrong;
  }
  // No text at all: the numbers are 0.
  CAuidChunkReader empty;
  EXPECT_EQ(empty.getVersionF(), 0.0);
  EXPECT_EQ(empty.getVersionC(), 0.0);
  EXPECT_EQ(empty.getInfo(), "NO_INFO");
  EXPECT_EQ(empty.getFeatPara(), nullptr);
}

TEST(AuidChunkReader, FirstInfoTextIsKept) {
  const Bytes content = text("INFO") + Bytes{5} + text("first") + text("INFO") + Bytes{6} + text("second");
  CAuidChunkReader reader;
  const Outcome outcome = readImage(reader, text("AUID") + Bytes{0, 0, 0, 3, 21} + content);
  EXPECT_EQ(outcome.result, 1);
  EXPECT_EQ(reader.getInfo(), "first");
}

TEST(AuidChunkReader, SecondFparAbandonsTheParse) {
  CAuidChunkReader reader;
  const Bytes image = text("AUID") + Bytes{0, 0, 0, 3, 32} + kFpar + kFpar;
  std::istringstream in(asString(image));
  testing::internal::CaptureStderr();
  try {
    reader.readStream(in);
    ADD_FAILURE() << "no exception";
  } catch (const StandardException& error) {
    EXPECT_STREQ(error.what(), "FeatPara member already instantiated");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "FeatPara member already instantiated\n");
}

TEST(AuidChunkReader, MalformedSubChunksFail) {
  struct Case {
    const char* name;
    Bytes image;
    std::string errors;
  };
  const std::string unknown = std::string("ERROR no sub chunk found!\n") + kBadStream;
  const std::vector<Case> cases = {
      {"unknown sub-chunk", text("AUID") + Bytes{0, 0, 0, 3, 8} + text("XXXX") + Bytes(4, 0), unknown},
      // A second AUID cannot be a sub-chunk.
      {"AUID inside", text("AUID") + Bytes{0, 0, 0, 3, 90} + kV3File, unknown},
      {"FEAT shorter than its identifier", text("AUID") + Bytes{0, 0, 0, 3, 8} + text("FEAT") + Bytes{3, 1, 2, 3},
       kBadStream},
      {"version field cut short", text("AUID") + Bytes{0, 0, 0}, kBadStream},
      {"forged u32 length", text("AUID") + Bytes{0, 0, 0, 2, 20} + text("VERS") + Bytes{0x7F, 0xFF, 0xFF, 0xFF} +
                                text("abc"),
       kBadStream},
      {"forged VLQ length", text("AUID") + Bytes{0, 0, 0, 3, 20} + text("INFO") + Bytes{0x87, 0xFF, 0xFF, 0xFF, 0x7F} +
                                text("abc"),
       kBadStream},
      {"endless VLQ", text("AUID") + Bytes{0, 0, 0, 3} + Bytes(1000, 0xFF), kBadStream},
      {"length-first beyond the data", text("AUID") + Bytes{0xFF, 0xFF, 0xFF, 0xFF} + text("TUID") + Bytes(4, 1),
       kBadStream},
      {"forged META length", text("META") + Bytes{0x87, 0xFF, 0xFF, 0xFF, 0x7F, 4} + text("TIT2"),
       std::string("ERROR parsing Meta Tags\n") + kBadStream},
      {"forged ID3 size", text("ID3") + Bytes{4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F} + text("abc"), kBadStream},
  };
  for (const Case& c : cases) {
    CAuidChunkReader reader;
    const Outcome outcome = readImage(reader, c.image);
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.errors, c.errors) << c.name;
  }
  // An unknown top-level tag just ends the read.
  CAuidChunkReader reader;
  EXPECT_EQ(readImage(reader, kV3File + text("RIFF") + Bytes(8, 0)).result, 1);
}

// The verifier of the tests: a fixed key, and a record of the calls and of
// the bytes handed to update.
class RecordingVerifier : public CRsaObject {
 public:
  explicit RecordingVerifier(const std::string& key) : key(text(key)) {}

  bool hasKey() override { return fail("hasKey"); }
  uint32_t getSignKey(const unsigned char*&) override { return fail("getSignKey"); }
  int initSign() override { return fail("initSign"); }
  int sign(const unsigned char*&, uint32_t&) override { return fail("sign"); }

  uint32_t getVerifyKey(const unsigned char*& out) override {
    calls.push_back("getVerifyKey");
    out = key.data();
    return static_cast<uint32_t>(key.size());
  }
  bool canVerify() override {
    calls.push_back("canVerify");
    return able;
  }
  int initVerify() override {
    calls.push_back("initVerify");
    return 0;
  }
  void update(const unsigned char* bytes, uint32_t length) override {
    if (calls.empty() || calls.back() != "update") calls.push_back("update");
    updated.insert(updated.end(), bytes, bytes + length);
  }
  int verify(const unsigned char* signature, uint32_t length) override {
    calls.push_back("verify");
    verified.assign(signature, signature + length);
    return verifyResult;
  }

  Bytes key;
  bool able = true;
  int verifyResult = 0;
  std::vector<std::string> calls;
  Bytes updated;
  Bytes verified;

 private:
  int fail(const char* name) {
    ADD_FAILURE() << name << " called while reading";
    return 1;
  }
};

// "dsig" = scheme 0x31, key "KEY", signature "SIG!": payload 1 + 4 + 1 + 10 = 16.
const Bytes kSignedMeta = text("META") + Bytes{16, 4} + text("dsig") + Bytes{10, 0x31, 3} + text("KEY") +
                          Bytes{4} + text("SIG!");

TEST(AuidChunkReader, DsigFrameIsVerifiedOverTheChunkContents) {
  RecordingVerifier verifier("KEY");
  CAuidChunkReader reader(nullptr, &verifier);
  const Outcome outcome = readImage(reader, kV3File + kSignedMeta);
  EXPECT_EQ(outcome.result, 3);
  EXPECT_EQ(outcome.errors, "");
  EXPECT_EQ(verifier.calls,
            (std::vector<std::string>{"getVerifyKey", "canVerify", "initVerify", "update", "verify"}));
  const Bytes expected = Bytes{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFE} + text("VAD") + text("F3C17") +  //
                         Bytes{0x42, 0xC8, 0, 0, 0x45, 0xFA, 0, 0, 0, 0, 0x56, 0x22} + text("KEY") +
                         kFloatBlock;
  EXPECT_EQ(verifier.updated, expected);
  EXPECT_EQ(verifier.verified, text("SIG!"));
}

TEST(AuidChunkReader, DsigFailuresAndKeyMismatch) {
  {
    RecordingVerifier verifier("KEZ");
    CAuidChunkReader reader(nullptr, &verifier);
    const Outcome outcome = readImage(reader, kV3File + kSignedMeta);
    EXPECT_EQ(outcome.result, 1 | 2 | 8);
    EXPECT_EQ(outcome.errors,
              "Error: wrong public key - it's not the correspondent of\n"
              "the used encryption key. Cannot verify signature!\n");
    EXPECT_EQ(verifier.calls, (std::vector<std::string>{"getVerifyKey", "canVerify"}));
  }
  {
    RecordingVerifier verifier("KEY");
    verifier.verifyResult = 1;
    CAuidChunkReader reader(nullptr, &verifier);
    const Outcome outcome = readImage(reader, kV3File + kSignedMeta);
    EXPECT_EQ(outcome.result, -2);
    EXPECT_EQ(outcome.errors, "Error: signature failed security verification\n");
  }
  // Shorter than 4 bytes, and a key length beyond the frame.
  const Bytes shortMeta = text("META") + Bytes{9, 4} + text("dsig") + Bytes{3, 0x31, 0, 0};
  const Bytes overrunMeta = text("META") + Bytes{12, 4} + text("dsig") + Bytes{6, 0x31, 0x7F} + text("KEY") + Bytes{0};
  for (const Bytes& meta : {shortMeta, overrunMeta}) {
    RecordingVerifier verifier("KEY");
    CAuidChunkReader reader(nullptr, &verifier);
    const Outcome outcome = readImage(reader, kV3File + meta);
    EXPECT_EQ(outcome.result, -3);
    EXPECT_EQ(outcome.errors, "Error: bad md5 Signature\n");
  }
  {
    // A verifier that cannot verify, or no verifier at all: nothing is checked.
    RecordingVerifier verifier("KEY");
    verifier.able = false;
    CAuidChunkReader reader(nullptr, &verifier);
    EXPECT_EQ(readImage(reader, kV3File + shortMeta).result, 3);
    CAuidChunkReader unverified;
    EXPECT_EQ(readImage(unverified, kV3File + shortMeta).result, 3);
  }
  {
    // The key is fetched once; META chunks without "dsig" ask nothing more.
    RecordingVerifier verifier("KEY");
    CAuidChunkReader reader(nullptr, &verifier);
    EXPECT_EQ(readImage(reader, kV3File + kMetaChunk + kMetaChunk).result, 3);
    EXPECT_EQ(verifier.calls, (std::vector<std::string>{"getVerifyKey"}));
  }
}

TEST(AuidChunkReader, TruncationAtEveryByteEndsCleanly) {
  for (const Bytes& file : {kV2File, kV3File}) {
    const Bytes image = file + kMetaChunk + kId3WithFooter;
    const std::size_t auidEnd = file.size();
    const std::size_t metaEnd = auidEnd + kMetaChunk.size();
    for (std::size_t cut = 0; cut <= image.size(); ++cut) {
      int expected = -1;
      if (cut < 4) expected = 0;
      if (cut >= auidEnd && cut < auidEnd + 4) expected = 1;
      if (cut >= metaEnd && cut < metaEnd + 4) expected = 3;
      if (cut == image.size()) expected = 7;
      CAuidChunkReader reader;
      const Outcome outcome = readImage(reader, Bytes(image.begin(), image.begin() + cut));
      EXPECT_EQ(outcome.result, expected) << "cut at " << cut;
    }
  }
}

TEST(AuidChunkReader, CorruptedBytesNeverLeadOutOfBounds) {
  // Every byte of a valid stream replaced by a few telling values: whatever
  // the result, the reader must stay inside the data and end.
  const Bytes image = kV2File + kSignedMeta + kId3WithFooter + kV3File;
  for (std::size_t at = 0; at < image.size(); ++at) {
    for (unsigned char value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      Bytes corrupted = image;
      corrupted[at] = value;
      RecordingVerifier verifier("KEY");
      CAuidChunkReader reader(nullptr, &verifier);
      try {
        const Outcome outcome = readImage(reader, corrupted);
        EXPECT_GE(outcome.result, -3);
        EXPECT_LE(outcome.result, 15);
      } catch (const StandardException&) {
        // A corrupted tag may turn into a second "FPAR".
      }
    }
  }
}

}  // namespace
