#include "signature/meta_vec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "signature/meta_tags.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Bytes kTimeValue = {0x00, 0x00, 0x01, 0x02};

// "TIT2" = "abc" and "TIME" = 00 00 01 02: P = (1+4+1+3) + (1+4+1+4) = 19, 24 bytes.
const Bytes kTwoFrameChunk = {'M', 'E', 'T', 'A', 0x13,                          //
                              0x04, 'T', 'I', 'T', '2', 0x03, 'a', 'b', 'c',     //
                              0x04, 'T', 'I', 'M', 'E', 0x04, 0x00, 0x00, 0x01, 0x02};

// The text tags of a signature without title, artist or file name.
const Bytes kEmptyValuesChunk = concat({bytesOf("META"), {0x16},  //
                                        {0x04}, bytesOf("TIT2"), {0x00},
                                        {0x04}, bytesOf("TPE1"), {0x00},
                                        {0x08}, bytesOf("FILENAME"), {0x00}});

CMetaVec twoFrameList() {
  CMetaVec list;
  list.add(4, "TIT2", 3, reinterpret_cast<const unsigned char*>("abc"));
  list.add(4, "TIME", 4, kTimeValue.data());
  return list;
}

std::string tagAt(const CMetaVec& list, int index) {
  const SMetaFrame* frame = list.frame(index);
  return frame == nullptr ? "<none>" : std::string(frame->tag, frame->tagLen);
}

Bytes dataAt(const CMetaVec& list, int index) {
  const unsigned char* data = nullptr;
  const unsigned length = list.get(index, data);
  return data == nullptr ? Bytes() : Bytes(data, data + length);
}

std::string corruptionOf(CMetaVec& list, const Bytes& chunk, unsigned length) {
  try {
    list.readMetaStream(chunk.data(), length);
  } catch (const std::string& message) {
    return message;
  }
  return "<no exception>";
}

std::istringstream streamOf(const Bytes& bytes, std::size_t from = 0, std::size_t to = std::string::npos) {
  const std::size_t end = std::min(to, bytes.size());
  return std::istringstream(std::string(bytes.begin() + from, bytes.begin() + end), std::ios::binary);
}

TEST(MetaTags, TableAndInvalidIndex) {
  const char* expected[] = {"TPE1", "TIT2",  "TALB",    "Tuid",  "Cuid",  "dsig",  "TDOR",  "TSRC",  "TDTG",
                            "TLEN", "TSCR",  "TIME",    "FeatObj", "ATPE1", "ATIT2", "ATUID", "IPINF", "XMLObj"};
  for (unsigned i = 0; i < 18; ++i) EXPECT_STREQ(metaTagName(i), expected[i]) << i;
  EXPECT_STREQ(metaTagName(META_TAG_FEATOBJ), "FeatObj");
  EXPECT_STREQ(metaTagName(18), "_inv_tag_");
  EXPECT_STREQ(metaTagName(4294967295u), "_inv_tag_");
}

TEST(CMetaVec, FindAndGetData) {
  CMetaVec list = twoFrameList();
  list.add(4, "TIT2", 2, reinterpret_cast<const unsigned char*>("de"));
  EXPECT_EQ(list.size(), 3u);

  EXPECT_EQ(list.find("TIT2", 4), 0);
  EXPECT_EQ(list.find("TIT2", 4, 1), 2);
  EXPECT_EQ(list.find("TIME", 4, 1), 1);
  EXPECT_EQ(list.find("TIME", 4, 2), -1);
  EXPECT_EQ(list.find("TIT2", 4, 3), -1);
  EXPECT_EQ(list.find("TIT2", 4, 100), -1);
  EXPECT_EQ(list.find("TIT2", 4, -5), 0);
  EXPECT_EQ(list.find("TIT", 3), -1);
  EXPECT_EQ(list.find(nullptr, 4), -1);

  unsigned length = 4;
  int index = 1;
  const unsigned char* data = list.getData("TIT2", length, index);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(std::memcmp(data, "de", 2), 0);

  length = 4;
  index = 0;
  EXPECT_EQ(list.getData("TIME", length, index), list.frame(1)->data);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(length, 4u);

  length = 4;
  index = 0;
  EXPECT_EQ(list.getData("TALB", length, index), nullptr);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(length, 0u);
}

TEST(CMetaVec, IndexErrorsReportAndFail) {
  CMetaVec list = twoFrameList();
  unsigned char dummy = 0;
  unsigned char* data = &dummy;

  testing::internal::CaptureStderr();
  EXPECT_EQ(list.get(2, data), 0u);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: CMetaVec index out of range (must be < 2)\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(list.get(-1, data), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: CMetaVec frame not found\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ(list.setData(5, kTimeValue.data(), 4), 1);
  EXPECT_EQ(list.setData(-3, kTimeValue.data(), 4), 1);
  EXPECT_EQ(list.remove(2), 0);
  EXPECT_EQ(list.remove(-1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: CMetaVec index out of range (must be < 2)\n"
            "ERROR: CMetaVec frame not found\n"
            "ERROR: CMetaVec index out of range (must be < 2)\n"
            "ERROR: CMetaVec frame not found\n");

  // The list keeps its frames.
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(dataAt(list, 1), kTimeValue);

  // A valid index reports nothing.
  testing::internal::CaptureStderr();
  EXPECT_EQ(list.get(1, data), 4u);
  EXPECT_EQ(data, list.frame(1)->data);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(CMetaVec, SetDataReallocatesOnlyOnLengthChange) {
  CMetaVec list = twoFrameList();
  unsigned char* before = list.frame(1)->data;
  const Bytes sameLength = {9, 8, 7, 6};
  EXPECT_EQ(list.setData(1, sameLength.data(), 4), 0);
  EXPECT_EQ(list.frame(1)->data, before);
  EXPECT_EQ(dataAt(list, 1), sameLength);

  const Bytes longer = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(list.setData(1, longer.data(), 6), 0);
  EXPECT_EQ(list.frame(1)->dataLen, 6u);
  EXPECT_EQ(dataAt(list, 1), longer);
  EXPECT_EQ(list.frame(1)->data[6], 0);

  // To an empty value and back.
  EXPECT_EQ(list.setData(0, nullptr, 0), 0);
  EXPECT_EQ(list.frame(0)->dataLen, 0u);
  ASSERT_NE(list.frame(0)->data, nullptr);
  EXPECT_EQ(list.setData(0, reinterpret_cast<const unsigned char*>("xy"), 2), 0);
  EXPECT_EQ(dataAt(list, 0), bytesOf("xy"));
}

TEST(CMetaVec, RemoveByIndexAndByTag) {
  CMetaVec list = twoFrameList();
  list.add(4, "TIT2", 1, reinterpret_cast<const unsigned char*>("z"));
  list.add(4, "TALB", 1, reinterpret_cast<const unsigned char*>("q"));

  EXPECT_EQ(list.remove(1), 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(tagAt(list, 0), "TIT2");
  EXPECT_EQ(tagAt(list, 1), "TIT2");
  EXPECT_EQ(tagAt(list, 2), "TALB");

  EXPECT_EQ(list.remove("TIT2", 4), 1u);
  EXPECT_EQ(tagAt(list, 0), "TALB");
  EXPECT_EQ(list.remove("TIME", 4), 1u);
  EXPECT_EQ(list.remove("TALB", 4), 0u);
}

TEST(CMetaVec, AddForms) {
  CMetaVec list;
  SMetaFrame frame(4, 3, "TIT2", reinterpret_cast<const unsigned char*>("abc"));
  EXPECT_EQ(list.add(frame), 1);
  frame.data[0] = 'X';
  EXPECT_EQ(dataAt(list, 0), bytesOf("abc"));

  const std::string tag255(255, 'T');
  const std::string tag254(254, 'T');
  EXPECT_EQ(list.add(255, tag255.c_str(), 3, reinterpret_cast<const unsigned char*>("abc")), 1);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(list.add(0, "TIT2", 3, reinterpret_cast<const unsigned char*>("abc")), 1);
  EXPECT_EQ(list.add(4, nullptr, 3, reinterpret_cast<const unsigned char*>("abc")), 1);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(list.add(254, tag254.c_str(), 3, reinterpret_cast<const unsigned char*>("abc")), 1);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(tagAt(list, 1), tag254);

  unsigned char* fill = list.add(255, tag255.c_str(), 5);
  ASSERT_NE(fill, nullptr);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(fill, list.frame(2)->data);
  EXPECT_EQ(list.frame(2)->dataLen, 5u);
  EXPECT_EQ(tagAt(list, 2), tag255);
  std::memcpy(fill, "hello", 5);
  EXPECT_EQ(dataAt(list, 2), bytesOf("hello"));

  const std::string tag256(256, 'T');
  EXPECT_EQ(list.add(256, tag256.c_str(), 5), nullptr);
  EXPECT_EQ(list.add(0, "TIT2", 5), nullptr);
  EXPECT_EQ(list.add(4, nullptr, 5), nullptr);
  EXPECT_EQ(list.size(), 3u);
}

TEST(CMetaVec, CopiesAndAssignWithout) {
  CMetaVec list;
  list.add(4, "TIT2", 1, reinterpret_cast<const unsigned char*>("a"));
  list.add(7, "FeatObj", 1, reinterpret_cast<const unsigned char*>("f"));
  list.add(4, "TPE1", 1, reinterpret_cast<const unsigned char*>("b"));
  list.add(7, "FeatObj", 1, reinterpret_cast<const unsigned char*>("g"));
  list.add(4, "Tuid", 1, reinterpret_cast<const unsigned char*>("c"));

  CMetaVec copy(list);
  ASSERT_EQ(copy.size(), 5u);
  EXPECT_NE(copy.frame(0)->data, list.frame(0)->data);
  CMetaVec assigned;
  assigned.add(4, "TALB", 1, reinterpret_cast<const unsigned char*>("x"));
  assigned = list;
  ASSERT_EQ(assigned.size(), 5u);
  EXPECT_EQ(tagAt(assigned, 4), "Tuid");
  CMetaVec& self = assigned;
  assigned = self;
  EXPECT_EQ(assigned.size(), 5u);

  CMetaVec without(list, META_TAG_FEATOBJ);
  ASSERT_EQ(without.size(), 3u);
  EXPECT_EQ(tagAt(without, 0), "TIT2");
  EXPECT_EQ(tagAt(without, 1), "TPE1");
  EXPECT_EQ(tagAt(without, 2), "Tuid");

  // Into a list that had frames: they are replaced.
  EXPECT_EQ(assigned.assignWithout(list, META_TAG_TUID), 4u);
  EXPECT_EQ(tagAt(assigned, 3), "FeatObj");
  EXPECT_EQ(dataAt(assigned, 3), bytesOf("g"));

  // On itself: the tagged frames go, the others stay in order.
  EXPECT_EQ(list.assignWithout(list, META_TAG_FEATOBJ), 3u);
  EXPECT_EQ(tagAt(list, 0), "TIT2");
  EXPECT_EQ(tagAt(list, 1), "TPE1");
  EXPECT_EQ(tagAt(list, 2), "Tuid");

  // An invalid index names the "_inv_tag_" tag, which nothing carries.
  EXPECT_EQ(copy.assignWithout(copy, 99), 5u);
}

TEST(CMetaChunk, TwoFrameChunkBytes) {
  const CMetaVec list = twoFrameList();
  unsigned vlqBytes = 0;
  EXPECT_EQ(list.getMetaSize(&vlqBytes), 24u);
  EXPECT_EQ(vlqBytes, 1u);
  EXPECT_EQ(list.getMetaSize(), 24u);

  Bytes buffer(24 + 8, 0xEE);
  EXPECT_EQ(list.writeMeta(buffer.data()), 24u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 24), kTwoFrameChunk);
  EXPECT_EQ(buffer[24], 0xEE);

  std::ostringstream out(std::ios::binary);
  EXPECT_EQ(list.writeMeta(out), 0);
  EXPECT_EQ(bytesOf(out.str()), kTwoFrameChunk);
}

TEST(CMetaChunk, ReadTwoFrameChunkFromBufferAndStream) {
  CMetaVec list;
  list.add(4, "TALB", 1, reinterpret_cast<const unsigned char*>("x"));
  EXPECT_EQ(list.readMetaStream(kTwoFrameChunk.data(), 24), 24u);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(tagAt(list, 0), "TIT2");
  EXPECT_EQ(dataAt(list, 0), bytesOf("abc"));
  EXPECT_EQ(tagAt(list, 1), "TIME");
  EXPECT_EQ(dataAt(list, 1), kTimeValue);

  // Without a length the payload length ends the frames; what follows is not read.
  Bytes trailing = kTwoFrameChunk;
  trailing.insert(trailing.end(), {0x04, 'J', 'U', 'N', 'K'});
  EXPECT_EQ(list.readMetaStream(trailing.data(), 0), 24u);
  EXPECT_EQ(list.size(), 2u);

  // The stream reader gets the frames after magic and payload length, and appends.
  std::istringstream in = streamOf(kTwoFrameChunk, 5);
  EXPECT_EQ(list.readMeta(in, 19), 19u);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(tagAt(list, 2), "TIT2");
  EXPECT_EQ(dataAt(list, 3), kTimeValue);
  EXPECT_EQ(list.readMeta(in, 0), 0u);
  EXPECT_EQ(list.size(), 4u);

  // A payload length covering only the first frame leaves the second unread.
  std::istringstream firstOnly = streamOf(kTwoFrameChunk, 5);
  CMetaVec one;
  EXPECT_EQ(one.readMeta(firstOnly, 9), 9u);
  EXPECT_EQ(one.size(), 1u);
  EXPECT_EQ(static_cast<long long>(firstOnly.tellg()), 9);
}

TEST(CMetaChunk, TwoHundredDataBytesTakeATwoByteLength) {
  Bytes data(200);
  for (unsigned i = 0; i < 200; ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
  // P = 1 + 7 + 2 + 200 = 210 = 0x81 0x52.
  const Bytes chunk = concat({bytesOf("META"), {0x81, 0x52}, {0x07}, bytesOf("FeatObj"), {0x81, 0x48}, data});

  CMetaVec list;
  list.add(7, "FeatObj", 200, data.data());
  unsigned vlqBytes = 0;
  EXPECT_EQ(list.getMetaSize(&vlqBytes), 216u);
  EXPECT_EQ(vlqBytes, 2u);
  Bytes written(216);
  EXPECT_EQ(list.writeMeta(written.data()), 216u);
  EXPECT_EQ(written, chunk);

  CMetaVec fromBuffer;
  EXPECT_EQ(fromBuffer.readMetaStream(chunk.data(), 216), 216u);
  ASSERT_EQ(fromBuffer.size(), 1u);
  EXPECT_EQ(dataAt(fromBuffer, 0), data);

  CMetaVec fromStream;
  std::istringstream in = streamOf(chunk, 6);
  EXPECT_EQ(fromStream.readMeta(in, 210), 210u);
  ASSERT_EQ(fromStream.size(), 1u);
  EXPECT_EQ(dataAt(fromStream, 0), data);
}

TEST(CMetaChunk, EmptyValuesRoundTrip) {
  CMetaVec list;
  list.add(4, "TIT2", 0, nullptr);
  list.add(4, "TPE1", 0, reinterpret_cast<const unsigned char*>(""));
  list.add(8, "FILENAME", 0, nullptr);
  EXPECT_EQ(list.getMetaSize(), 27u);
  Bytes written(27);
  EXPECT_EQ(list.writeMeta(written.data()), 27u);
  EXPECT_EQ(written, kEmptyValuesChunk);

  CMetaVec fromBuffer;
  EXPECT_EQ(fromBuffer.readMetaStream(kEmptyValuesChunk.data(), 27), 27u);
  ASSERT_EQ(fromBuffer.size(), 3u);
  EXPECT_EQ(tagAt(fromBuffer, 2), "FILENAME");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(fromBuffer.frame(i)->dataLen, 0u);
    ASSERT_NE(fromBuffer.frame(i)->data, nullptr);
    EXPECT_EQ(fromBuffer.frame(i)->data[0], 0);
  }

  CMetaVec fromStream;
  std::istringstream in = streamOf(kEmptyValuesChunk, 5);
  EXPECT_EQ(fromStream.readMeta(in, 22), 22u);
  ASSERT_EQ(fromStream.size(), 3u);
  EXPECT_EQ(tagAt(fromStream, 0), "TIT2");
  EXPECT_EQ(fromStream.frame(1)->dataLen, 0u);
  ASSERT_NE(fromStream.frame(1)->data, nullptr);

  // An empty value as the very last byte of the buffer.
  const Bytes lastEmpty = concat({bytesOf("META"), {0x06}, {0x04}, bytesOf("TLEN"), {0x00}});
  EXPECT_EQ(fromBuffer.readMetaStream(lastEmpty.data(), 11), 11u);
  EXPECT_EQ(fromBuffer.size(), 1u);
}

TEST(CMetaChunk, WritingAnEmptyListWritesNothing) {
  const CMetaVec empty;
  std::ostringstream out(std::ios::binary);
  Bytes buffer(8, 0xEE);
  testing::internal::CaptureStderr();
  EXPECT_EQ(empty.writeMeta(out), 1);
  EXPECT_EQ(empty.writeMeta(buffer.data()), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR no meta data to write!\nERROR no meta data to write!\n");
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(buffer, Bytes(8, 0xEE));
}

TEST(CMetaChunk, FramesThatCannotBeStoredAreLeftOut) {
  // A tag longer than the u8 length or an empty tag would make a chunk that
  // no reader accepts.
  CMetaVec list = twoFrameList();
  list.add(SMetaFrame());
  const std::string longTag(300, 'L');
  list.add(SMetaFrame(300, 1, longTag.c_str(), reinterpret_cast<const unsigned char*>("v")));
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(list.getMetaSize(), 24u);
  Bytes buffer(24);
  EXPECT_EQ(list.writeMeta(buffer.data()), 24u);
  EXPECT_EQ(buffer, kTwoFrameChunk);

  std::ostringstream out(std::ios::binary);
  EXPECT_EQ(list.writeMeta(out), 0);
  EXPECT_EQ(bytesOf(out.str()), kTwoFrameChunk);
}

TEST(CMetaChunk, WriteToAFailedStreamReportsFailure) {
  const CMetaVec list = twoFrameList();
  std::ostringstream out(std::ios::binary);
  out.setstate(std::ios::badbit);
  EXPECT_EQ(list.writeMeta(out), 1);
}

TEST(CMetaChunk, WrongMagic) {
  CMetaVec list = twoFrameList();
  Bytes chunk = kTwoFrameChunk;
  chunk[3] = 'B';
  testing::internal::CaptureStderr();
  EXPECT_EQ(list.readMetaStream(chunk.data(), 24), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: not an Meta Tag\n");
  EXPECT_EQ(list.size(), 0u);
}

TEST(CMetaChunk, CorruptFramesThrow) {
  CMetaVec list;
  const Bytes emptyTag = concat({bytesOf("META"), {0x05}, {0x00}, {0x03}, bytesOf("abc")});
  EXPECT_EQ(corruptionOf(list, emptyTag, 10), "readMetaStream: corrupted stream");

  // A data length far beyond the buffer.
  const Bytes hugeData = concat({bytesOf("META"), {0x0A}, {0x04}, bytesOf("TIT2"),
                                 {0x87, 0xFF, 0xFF, 0xFF, 0x7F}, bytesOf("abc")});
  EXPECT_EQ(corruptionOf(list, hugeData, static_cast<unsigned>(hugeData.size())),
            "readMetaStream: corrupted stream");
  // A data length that never ends.
  const Bytes endlessLength = concat({bytesOf("META"), {0x0A}, {0x04}, bytesOf("TIT2"), {0x81, 0x82, 0x83}});
  EXPECT_EQ(corruptionOf(list, endlessLength, static_cast<unsigned>(endlessLength.size())),
            "readMetaStream: corrupted stream");
  // A payload length that never ends.
  const Bytes endlessPayload = concat({bytesOf("META"), {0xFF, 0xFF}});
  EXPECT_EQ(corruptionOf(list, endlessPayload, 6), "readMetaStream: corrupted stream");
  EXPECT_EQ(list.size(), 0u);

  // A payload length larger than the buffer is not checked; the buffer length
  // ends the frames.
  Bytes longPayload = kTwoFrameChunk;
  longPayload[4] = 0x7F;
  EXPECT_EQ(list.readMetaStream(longPayload.data(), 24), 24u);
  EXPECT_EQ(list.size(), 2u);

  // A corrupt chunk leaves nothing of what was read before the damage.
  Bytes damagedSecond = kTwoFrameChunk;
  damagedSecond[14] = 0x00;
  EXPECT_EQ(corruptionOf(list, damagedSecond, 24), "readMetaStream: corrupted stream");
  EXPECT_EQ(list.size(), 0u);
}

TEST(CMetaChunk, TruncatedBufferAtEveryByte) {
  for (unsigned length = 1; length < kTwoFrameChunk.size(); ++length) {
    // The buffer is exactly as long as the truncated chunk, so that a read past
    // its end shows under the address sanitizer.
    const Bytes truncated(kTwoFrameChunk.begin(), kTwoFrameChunk.begin() + length);
    CMetaVec list;
    if (length < 4) {
      testing::internal::CaptureStderr();
      EXPECT_EQ(list.readMetaStream(truncated.data(), length), 0u) << length;
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: not an Meta Tag\n") << length;
    } else if (length == 5 || length == 14) {
      // Cut between frames: the buffer length ends the frames.
      EXPECT_EQ(list.readMetaStream(truncated.data(), length), length);
      EXPECT_EQ(list.size(), length == 5 ? 0u : 1u);
    } else {
      EXPECT_EQ(corruptionOf(list, truncated, length), "readMetaStream: corrupted stream") << length;
      EXPECT_EQ(list.size(), 0u) << length;
    }
  }
}

TEST(CMetaChunk, TruncatedStreamAtEveryByte) {
  const Bytes frames(kTwoFrameChunk.begin() + 5, kTwoFrameChunk.end());
  for (std::size_t length = 0; length < frames.size(); ++length) {
    std::istringstream in = streamOf(frames, 0, length);
    CMetaVec list;
    testing::internal::CaptureStderr();
    EXPECT_EQ(list.readMeta(in, 19), 0u) << length;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR parsing Meta Tags\n") << length;
    // Whole frames read before the cut stay in the list.
    EXPECT_EQ(list.size(), length >= 9 ? 1u : 0u) << length;
  }
}

TEST(CMetaChunk, StreamFramesMustFitThePayload) {
  CMetaVec list;
  // The second frame runs past a payload length of 12.
  std::istringstream in = streamOf(kTwoFrameChunk, 5);
  testing::internal::CaptureStderr();
  EXPECT_EQ(list.readMeta(in, 12), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR parsing Meta Tags\n");
  EXPECT_EQ(list.size(), 1u);

  // An empty tag is corrupt.
  const Bytes emptyTag = {0x00, 0x03, 'a', 'b', 'c'};
  std::istringstream emptyTagIn = streamOf(emptyTag);
  testing::internal::CaptureStderr();
  EXPECT_EQ(list.readMeta(emptyTagIn, 5), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR parsing Meta Tags\n");

  // A declared data length of 2^31 - 1 with a handful of bytes behind it fails
  // after reading what is there.
  const Bytes hugeData = concat({{0x04}, bytesOf("TIT2"), {0x87, 0xFF, 0xFF, 0xFF, 0x7F}, bytesOf("abc")});
  std::istringstream hugeIn = streamOf(hugeData);
  testing::internal::CaptureStderr();
  EXPECT_EQ(list.readMeta(hugeIn, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR parsing Meta Tags\n");
  EXPECT_EQ(list.size(), 1u);
}

}  // namespace
