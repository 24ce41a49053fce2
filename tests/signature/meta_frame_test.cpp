#include "signature/meta_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace {

const unsigned char kAbc[] = {'a', 'b', 'c'};

std::string tagOf(const SMetaFrame& frame) { return std::string(frame.tag, frame.tagLen); }
std::string dataOf(const SMetaFrame& frame) {
  return std::string(reinterpret_cast<const char*>(frame.data), frame.dataLen);
}

TEST(SMetaFrame, EmptyFrameHasNoArrays) {
  SMetaFrame frame;
  EXPECT_EQ(frame.tagLen, 0u);
  EXPECT_EQ(frame.dataLen, 0u);
  EXPECT_EQ(frame.tag, nullptr);
  EXPECT_EQ(frame.data, nullptr);

  // A copy of an empty frame still delivers nothing.
  SMetaFrame copy(frame);
  EXPECT_EQ(copy.tag, nullptr);
  EXPECT_EQ(copy.data, nullptr);
}

TEST(SMetaFrame, ConstructionCopiesAndTerminates) {
  SMetaFrame frame(4, 3, "TIT2", kAbc);
  EXPECT_EQ(tagOf(frame), "TIT2");
  EXPECT_EQ(dataOf(frame), "abc");
  EXPECT_EQ(frame.tag[4], '\0');
  EXPECT_EQ(frame.data[3], 0);

  // Whichever of tag and data is missing is allocated, zero-filled, for the caller.
  SMetaFrame noData(7, 5, "FeatObj", nullptr);
  EXPECT_EQ(tagOf(noData), "FeatObj");
  ASSERT_NE(noData.data, nullptr);
  EXPECT_EQ(noData.dataLen, 5u);
  for (unsigned i = 0; i <= 5; ++i) EXPECT_EQ(noData.data[i], 0) << i;

  SMetaFrame noTag(3, 3, nullptr, kAbc);
  ASSERT_NE(noTag.tag, nullptr);
  EXPECT_EQ(std::string(noTag.tag, 4), std::string(4, '\0'));
  EXPECT_EQ(dataOf(noTag), "abc");

  // A data length of 0 still gives a data array: the frame carries an empty value.
  SMetaFrame emptyValue(4, 0, "TPE1", nullptr);
  ASSERT_NE(emptyValue.data, nullptr);
  EXPECT_EQ(emptyValue.data[0], 0);
}

TEST(SMetaFrame, CopyAndAssignmentAreDeep) {
  SMetaFrame original(4, 3, "TIT2", kAbc);
  SMetaFrame copy(original);
  EXPECT_NE(copy.tag, original.tag);
  EXPECT_NE(copy.data, original.data);
  EXPECT_EQ(tagOf(copy), "TIT2");
  EXPECT_EQ(dataOf(copy), "abc");
  original.data[0] = 'x';
  EXPECT_EQ(dataOf(copy), "abc");

  SMetaFrame assigned(4, 1, "TPE1", kAbc);
  assigned = original;
  EXPECT_NE(assigned.data, original.data);
  EXPECT_EQ(tagOf(assigned), "TIT2");
  EXPECT_EQ(dataOf(assigned), "xbc");

  // Assigning a frame to itself keeps its very arrays.
  char* tag = assigned.tag;
  unsigned char* data = assigned.data;
  SMetaFrame& self = assigned;
  assigned = self;
  EXPECT_EQ(assigned.tag, tag);
  EXPECT_EQ(assigned.data, data);
  EXPECT_EQ(dataOf(assigned), "xbc");

  SMetaFrame moved(std::move(assigned));
  EXPECT_EQ(moved.data, data);
  EXPECT_EQ(assigned.data, nullptr);
  EXPECT_EQ(assigned.dataLen, 0u);
}

TEST(SMetaFrame, SetThroughTheBaseReplacesBothArrays) {
  std::unique_ptr<CMetaFrameBase> base = std::make_unique<SMetaFrame>(4, 3, "TIT2", kAbc);
  SMetaFrame& frame = static_cast<SMetaFrame&>(*base);

  unsigned char* fill = base->set(7, 4, "FeatObj", nullptr);
  EXPECT_EQ(fill, frame.data);
  EXPECT_EQ(tagOf(frame), "FeatObj");
  EXPECT_EQ(frame.dataLen, 4u);
  std::memcpy(fill, "wxyz", 4);
  EXPECT_EQ(dataOf(frame), "wxyz");

  // The new tag and data may be the frame's own bytes.
  unsigned char* result = frame.set(3, 2, frame.tag + 4, frame.data + 1);
  EXPECT_EQ(result, frame.data);
  EXPECT_EQ(tagOf(frame), "Obj");
  EXPECT_EQ(dataOf(frame), "xy");
  EXPECT_EQ(frame.data[2], 0);
}

TEST(SMetaFrame, TagsCompareByLengthAndBytes) {
  SMetaFrame frame(4, 3, "TIT2", kAbc);
  EXPECT_TRUE(frame.hasTag("TIT2", 4));
  EXPECT_TRUE(frame.hasTag("TIT2x", 4));
  EXPECT_FALSE(frame.hasTag("TIT", 3));
  EXPECT_FALSE(frame.hasTag("TIT3", 4));
  EXPECT_FALSE(frame.hasTag("TIT2\0", 5));
  EXPECT_FALSE(frame.hasTag(nullptr, 4));
}

}  // namespace
