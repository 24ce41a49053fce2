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

Records recordsOf(const SegmentList& list) {
  Records records;
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
       {{0, 15.5f, 2.5f}, {15.5f, 30, 10}, {30, 45.9f, 2.5f}, {45.9f, 60, 1234567}},
       3,
       {{0, 15, "2.5"}, {15, 30, "10"}, {30, 45, "2.5"}, {45, 60, "1.23457e+06"}}},
      {true, {{0, 12, 1}, {12, 24, 8}}, 3, {{0, 12, "1"}, {12, 24, "8"}}},  // exactly 12 s per label
      {true,  // below 12 s per label: the song's end, rounded
       {{0, 10, 1}, {10, 20, 2}, {20, 30, 3}, {30, 40, 4}, {40, 50, 5}, {50, 59.5f, 6}},
       3,
       {{0, 60, "-1"}}},
      {true,  // NaN labels count as one value of their own
       {{0, 10, NAN}, {10, 20, 1}, {20, 30, 2}, {30, 40, NAN}, {40, 50, 4}, {50, 59, 5}},
       3,
       {{0, 59, "-1"}}},
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
    const SegmentList list{CAudioSignMulti(data)};
    EXPECT_EQ(recordsOf(list), c.expected) << c.segmentation.size();
    std::set<std::string> labels;
    for (const auto& record : c.expected) labels.insert(std::get<2>(record));
    EXPECT_EQ(list.labels(), labels);
  }
  EXPECT_EQ(recordsOf(SegmentList(CAudioSignMulti())), (Records{{0, 0, "-1"}}));  // no features: 0 s
}

}  // namespace
