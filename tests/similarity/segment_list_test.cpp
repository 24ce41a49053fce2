#include "similarity/segment_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "signature/audio_sign_multi.h"

namespace {

using Rows = std::vector<std::vector<float>>;
using Records = std::vector<std::tuple<uint32_t, uint32_t, std::string>>;  // start, end, label

CFeatureObject<float>* feature(const std::string& name, float msPerRow, const Rows& rows, unsigned cols) {
  auto* object = new CFeatureObject<float>(name, 0);
  object->setMsPerRow(msPerRow);
  object->getMatrix().resize(static_cast<unsigned>(rows.size()), cols);
  for (unsigned r = 0; r < rows.size(); ++r)
    for (unsigned c = 0; c < cols; ++c) object->getMatrix()(r, c) = rows[r][c];
  return object;
}

Records recordsOf(const CAudioSignMulti& signature) {
  Records records;
  const SegmentList list(signature);
  for (const SegmentRecord& r : list.records()) {
    EXPECT_EQ(r.tag, 0u);
    records.emplace_back(r.start, r.end, r.getLabel());
  }
  return records;
}

TEST(SegmentList, RecordsFromTheSegmentationOrTheWholeSong) {
  const struct {
    bool present;
    Rows segmentation;  // rows of (start, end, label)
    unsigned columns;
    Records expected;
  } cases[] = {
      {false, {}, 3, {{0, 60, "-1"}}},  // the length of the first feature by name
      {true,                            // 20 s per label: one record per row, ends truncated
       {{0, 15.5f, 1}, {15.5f, 30, 2.5f}, {30, 45.9f, 1}, {45.9f, 60, 3}},
       3,
       {{0, 15, "1"}, {15, 30, "2.5"}, {30, 45, "1"}, {45, 60, "3"}}},
      {true, {{0, 12, 7}, {12, 24, 8}}, 3, {{0, 12, "7"}, {12, 24, "8"}}},  // exactly 12 s per label
      {true, {{0, 10, 1}, {10, 20, 2}, {20, 30, 3}, {30, 40, 4}, {40, 50, 5}, {50, 60, 6}}, 3, {{0, 60, "-1"}}},
      {true, {{0, 11.5f, 1}}, 3, {{0, 12, "-1"}}},      // the song's end rounded
      {true, {}, 3, {{0, 60, "-1"}}},                   // no rows: taken as absent
      {true, {{0, 60}, {60, 90}}, 2, {{0, 60, "-1"}}},  // no label column: taken as absent
      {true,                                            // ends that are no times in range saturate
       {{0, -40, 1}, {0, NAN, 2}, {0, 1e12f, 3}, {0, 1000, 4}},
       3,
       {{0, 0, "1"}, {0, 0, "2"}, {0, 4294967295u, "3"}, {4294967295u, 1000, "4"}}},
  };
  for (const auto& c : cases) {
    auto* data = new CSignDataMulti();
    data->insert(feature("ZZZ", 10, Rows(1000, {0.0f}), 1));  // 10 s
    data->insert(feature("ASE", 30, Rows(2000, {0.0f}), 1));  // 60 s
    if (c.present) data->insert(feature("SEGMENTATION", 0, c.segmentation, c.columns));
    EXPECT_EQ(recordsOf(CAudioSignMulti(data)), c.expected) << c.segmentation.size();
  }
  EXPECT_EQ(recordsOf(CAudioSignMulti()), (Records{{0, 0, "-1"}}));
  auto* onlySegmentation = new CSignDataMulti();
  onlySegmentation->insert(feature("SEGMENTATION", 0, {}, 3));
  EXPECT_EQ(recordsOf(CAudioSignMulti(onlySegmentation)), (Records{{0, 0, "-1"}}));
}

TEST(SegmentList, LabelsAndTheirText) {
  auto* data = new CSignDataMulti();
  data->insert(feature("SEGMENTATION", 0, {{0, 20, 2}, {20, 40, 10}, {40, 60, 2}, {60, 80, 0.5f}}, 3));
  EXPECT_EQ(SegmentList(CAudioSignMulti(data)).labels(), (std::set<std::string>{"0.5", "10", "2"}));
  const std::pair<float, std::string> texts[] = {{3.0f, "3"},   {2.5f, "2.5"}, {1.0f, "1"},
                                                 {-1.0f, "-1"}, {0.0f, "0"},   {1234567.0f, "1.23457e+06"}};
  for (const auto& [value, text] : texts) EXPECT_EQ(floatToString(value), text);
}

}  // namespace
