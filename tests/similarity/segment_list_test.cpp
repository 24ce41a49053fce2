#include "similarity/segment_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "signature/audio_sign_multi.h"

namespace {

// A float feature whose rows are given.
CFeatureObject<float>* feature(const std::string& name, float msPerRow, const std::vector<std::vector<float>>& rows,
                               unsigned cols) {
  auto* object = new CFeatureObject<float>(name, 0);
  object->setMsPerRow(msPerRow);
  object->getMatrix().resize(static_cast<unsigned>(rows.size()), cols);
  for (unsigned r = 0; r < rows.size(); ++r)
    for (unsigned c = 0; c < cols; ++c) object->getMatrix()(r, c) = rows[r][c];
  return object;
}

// A feature of rows x 1 zeros.
CFeatureObject<float>* plain(const std::string& name, float msPerRow, unsigned rows) {
  return feature(name, msPerRow, std::vector<std::vector<float>>(rows, std::vector<float>{0.0f}), 1);
}

struct Record {
  uint32_t start;
  uint32_t end;
  std::string label;
  bool operator==(const Record& other) const {
    return start == other.start && end == other.end && label == other.label;
  }
};

std::vector<Record> recordsOf(const SegmentList& list) {
  std::vector<Record> records;
  for (const SegmentRecord& r : list.records()) {
    EXPECT_EQ(r.tag, 0u);
    EXPECT_EQ(r.getLabel(), r.label);
    records.push_back({r.start, r.end, r.label});
  }
  return records;
}

TEST(SegmentList, RecordsFromTheSegmentationOrTheWholeSong) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    std::vector<std::vector<float>> segmentation;  // rows of (start, end, label); none: no such feature
    unsigned columns;
    std::vector<Record> expected;
  };
  // Every signature also holds "ASE" (2000 rows of 30 ms: 60 s) and "ZZZ" (10 s).
  const std::vector<Case> cases = {
      {"no segmentation: the length of the first feature by name", {}, 3, {{0, 60, "-1"}}},
      {"20 s per label: one record per row",
       {{0, 15.5f, 1}, {15.5f, 30, 2.5f}, {30, 45.9f, 1}, {45.9f, 60, 3}},
       3,
       {{0, 15, "1"}, {15, 30, "2.5"}, {30, 45, "1"}, {45, 60, "3"}}},
      {"exactly 12 s per label", {{0, 12, 7}, {12, 24, 8}}, 3, {{0, 12, "7"}, {12, 24, "8"}}},
      {"10 s per label: one whole-song record",
       {{0, 10, 1}, {10, 20, 2}, {20, 30, 3}, {30, 40, 4}, {40, 50, 5}, {50, 60, 6}},
       3,
       {{0, 60, "-1"}}},
      {"the song's end rounded", {{0, 11.5f, 1}}, 3, {{0, 12, "-1"}}},
      {"no rows: taken as absent", {}, 3, {{0, 60, "-1"}}},
      {"no label column: taken as absent", {{0, 60}, {60, 90}}, 2, {{0, 60, "-1"}}},
      {"ends that are no times read as 0",
       {{0, -40, 1}, {0, nan, 2}, {0, 1e12f, 3}, {0, 1000, 4}},
       3,
       {{0, 0, "1"}, {0, 0, "2"}, {0, 4294967295u, "3"}, {4294967295u, 1000, "4"}}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    auto* data = new CSignDataMulti();
    data->insert(plain("ZZZ", 10, 1000));
    data->insert(plain("ASE", 30, 2000));
    if (i > 0) data->insert(feature("SEGMENTATION", 0, c.segmentation, c.columns));
    const CAudioSignMulti signature(data);
    EXPECT_EQ(recordsOf(SegmentList(signature)), c.expected) << c.what;
  }

  const CAudioSignMulti withoutData;
  EXPECT_EQ(recordsOf(SegmentList(withoutData)), (std::vector<Record>{{0, 0, "-1"}}));
  auto* onlySegmentation = new CSignDataMulti();
  onlySegmentation->insert(plain("SEGMENTATION", 0, 0));
  EXPECT_EQ(recordsOf(SegmentList(CAudioSignMulti(onlySegmentation))), (std::vector<Record>{{0, 0, "-1"}}));
}

TEST(SegmentList, LabelsAndTheirText) {
  auto* data = new CSignDataMulti();
  data->insert(feature("SEGMENTATION", 0, {{0, 20, 2}, {20, 40, 10}, {40, 60, 2}, {60, 80, 0.5f}}, 3));
  EXPECT_EQ(SegmentList(CAudioSignMulti(data)).labels(), (std::set<std::string>{"0.5", "10", "2"}));

  const std::vector<std::pair<float, std::string>> texts = {
      {3.0f, "3"}, {2.5f, "2.5"}, {1.0f, "1"}, {-1.0f, "-1"}, {0.1f, "0.1"}, {1234567.0f, "1.23457e+06"}, {0.0f, "0"}};
  for (const auto& [value, text] : texts) EXPECT_EQ(floatToString(value), text) << value;
}

}  // namespace
