#include "similarity/adapted_feature_db.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/fingerprint_stream.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

using Ids = std::vector<uint64_t>;
constexpr uint64_t kHighId = (uint64_t{1} << 40) + 2;

// An entry of id whose "ov" starts with value, carrying further "Tuid" frames
// of the given bytes.
std::string signatureBytes(uint64_t id, float value, const std::vector<std::string>& moreTuids = {}) {
  auto sig = adaptedSignature(id, {{"ov", {value, 0.5f}}});
  for (const std::string& tuid : moreTuids)
    sig->getSignData()->getMetaVec().add(4, "Tuid", static_cast<unsigned>(tuid.size()),
                                         reinterpret_cast<const unsigned char*>(tuid.data()));
  std::ostringstream out;
  sig->write(out);
  return out.str();
}

std::string signatureBytes(uint64_t id) { return signatureBytes(id, float(id)); }

Ids ids(const AdaptedFeatureDb& db) {
  Ids all;
  for (const auto& entry : db) all.push_back(entry.first);
  return all;
}

float first(const AdaptedFeatureDb& db, uint64_t id, const char* feature) {
  return db.entry(id)->getSignData()->getFeature(feature)->getMatrix()(0, 0);
}

// Entries of these ids, in this order, each with "ov" starting at its position.
std::string imageOf(const Ids& order) {
  std::string image = ByteBuilder().u32le(static_cast<uint32_t>(order.size())).image();
  for (size_t i = 0; i < order.size(); ++i) image += signatureBytes(order[i], float(i));
  return image;
}

// The position each kept entry had in an image made by imageOf.
std::vector<float> positions(const AdaptedFeatureDb& db) {
  std::vector<float> all;
  for (const auto& entry : db) all.push_back(first(db, entry.first, "ov"));
  return all;
}

// Loads an image; returns what was printed.
std::string load(AdaptedFeatureDb& db, const std::string& image) {
  std::istringstream in(image);
  testing::internal::CaptureStdout();
  db.loadImage(in);
  return testing::internal::GetCapturedStdout();
}

// Whatever is derived from a database stays current exactly while its
// revision does: every change moves it on, a read or a failed change does not,
// and no two databases share one.
TEST(AdaptedFeatureDb, EntriesByIdAndTheirImage) {
  AdaptedFeatureDb db("Database");
  const uint64_t empty = db.getRevision();
  EXPECT_NE(empty, AdaptedFeatureDb("Database").getRevision());
  db.add(*adaptedSignature(kHighId, {{"ov", {float(kHighId), 0.5f}}}));
  auto owned = adaptedSignature(3, {{"ov", {3.0f, 0.5f}}});
  EXPECT_TRUE(db.add(owned.release()).second);
  const uint64_t two = db.getRevision();
  EXPECT_NE(two, empty);
  auto duplicate = adaptedSignature(3, {{"ov", {9.0f}}});
  expectThrowMessage<StandardException>([&] { db.add(duplicate.get()); },
                                        "AdaptedFeatureDb::add() signature id already exists in database: 3");
  expectThrowMessage<StandardException>([&] { db.add(nullptr); }, "AdaptedFeatureDb::add() invalid signature");
  expectThrowMessage<StandardException>([&] { db.entry(7); },
                                        "AdaptedFeatureDb::entry() signature id does not exist in database: 7");
  EXPECT_EQ(first(db, 3, "ov"), 3.0f);
  std::ostringstream out;
  db.saveImage(out);
  EXPECT_EQ(out.str(), ByteBuilder().u32le(2).u8(0).str("Database").image() + signatureBytes(3) + signatureBytes(kHighId));
  db.remove(99);
  EXPECT_EQ(db.getRevision(), two);
  db.remove(3);
  EXPECT_NE(db.getRevision(), two);
  EXPECT_EQ(ids(db), Ids{kHighId});

  // Without a name the first signature starts at the fifth byte.
  std::istringstream in(ByteBuilder().u32le(1).image() + signatureBytes(3));
  const AdaptedFeatureDb nameless(in);
  EXPECT_EQ(nameless.getName(), "similaritymethod");
  EXPECT_EQ(ids(nameless), Ids{3});
}

// Every entry that can be taken is kept; one that cannot is reported, left
// out, and marks the database corrupted.
TEST(AdaptedFeatureDb, LoadImageKeepsWhatItCanRead) {
  CFingerprintStream featureless;
  featureless.add(4, "Tuid", 8, std::vector<unsigned char>{0, 0, 0, 0, 0, 0, 0, 8}.data());
  std::ostringstream noFeatures;
  featureless.write(noFeatures);
  const std::string cut = "AdaptedFeatureDb::loadImage() unexpected end of stream\n";
  const struct {
    std::string image;
    std::string printed;
    Ids kept;
    std::string name;
  } cases[] = {
      {ByteBuilder().u32le(2).u8(0).str("db").image() + signatureBytes(3) + signatureBytes(kHighId), "",
       Ids{3, kHighId}, "db"},
      {ByteBuilder().u32le(1).image() + signatureBytes(3), "", Ids{3}, "before"},
      {ByteBuilder().u32le(3).image() + signatureBytes(3) + signatureBytes(3) + signatureBytes(4),
       "AdaptedFeatureDb::loadImage() signature id out of order in image: 3\n", Ids{3, 4}, "before"},
      {ByteBuilder().u32le(2).image() + noFeatures.str() + signatureBytes(4),
       "AdaptedFeatureDb::loadImage() invalid signature in image\n", Ids{4}, "before"},
      {ByteBuilder().u32le(2).text("AUIX0000").image() + signatureBytes(4), "stream mismatch!\n", Ids{4}, "before"},
      {ByteBuilder().u32le(0xFFFFFFFF).image() + signatureBytes(4), cut, Ids{4}, "before"},
      {ByteBuilder().u32le(1).u8(0).u32le(9).text("Data").image(), cut, Ids{}, "before"},
  };
  for (const auto& c : cases) {
    AdaptedFeatureDb db("before");
    EXPECT_EQ(load(db, c.image), c.printed);
    EXPECT_EQ(ids(db), c.kept);
    EXPECT_EQ(db.getName(), c.name);
    EXPECT_EQ(db.isCorrupted(), !c.printed.empty());
  }

  const std::string image = cases[0].image;
  const size_t firstEntry = image.size() - signatureBytes(kHighId).size();
  for (size_t end = 0; end < image.size(); ++end) {
    AdaptedFeatureDb db("before");
    load(db, image.substr(0, end));
    EXPECT_TRUE(db.isCorrupted()) << end;
    EXPECT_EQ(ids(db), end < firstEntry ? Ids{} : Ids{3}) << end;
  }
}

// An entry is kept only when its id is held as saveImage writes it, within
// the limit, and in the longest ascending run of the image's ids: of several,
// the one of the smallest ids from the back, the later of equal ids.
TEST(AdaptedFeatureDb, LoadImageKeepsWellStoredIdsInAscendingOrder) {
  const std::string id5 = ByteBuilder().u32(0).u32(5).image();
  const std::string invalid = "AdaptedFeatureDb::loadImage() invalid signature id in image\n";
  const auto order = [](uint64_t id) {
    return "AdaptedFeatureDb::loadImage() signature id out of order in image: " + std::to_string(id) + "\n";
  };
  const struct {
    std::string image;
    uint64_t largest;
    std::string printed;
    std::vector<float> positions;
  } cases[] = {
      {imageOf({1, 2, 3, 4}), 4, "", {0, 1, 2, 3}},
      {imageOf({1, 2, 9, 4, 5, 9}), AdaptedFeatureDb::kAnyId, order(9), {0, 1, 3, 4, 5}},
      {imageOf({1, 3, 3, 4}), AdaptedFeatureDb::kAnyId, order(3), {0, 2, 3}},
      {imageOf({10, 35, 30}), AdaptedFeatureDb::kAnyId, order(35), {0, 2}},
      {imageOf({10, 5, 30}), AdaptedFeatureDb::kAnyId, order(10), {1, 2}},
      {imageOf({7, 1, 2, 3}), AdaptedFeatureDb::kAnyId, order(7), {1, 2, 3}},
      {imageOf({4, 3, 2, 1}), AdaptedFeatureDb::kAnyId, order(4) + order(3) + order(2), {3}},
      {imageOf({1, kHighId, 3}), 0xFFFFFFFF,
       "AdaptedFeatureDb::loadImage() signature id out of range: " + std::to_string(kHighId) + "\n", {0, 2}},
      {imageOf({1, 0, 3}), AdaptedFeatureDb::kAnyId, invalid, {0, 2}},
      {ByteBuilder().u32le(2).image() + signatureBytes(5, 0, {id5}) + signatureBytes(6, 1, {id5}),
       AdaptedFeatureDb::kAnyId, invalid, {0}},
      {ByteBuilder().u32le(2).image() + signatureBytes(5, 0, {id5.substr(1)}) + signatureBytes(6, 1, {id5 + "x"}),
       AdaptedFeatureDb::kAnyId, invalid + invalid, {}},
  };
  for (const auto& c : cases) {
    AdaptedFeatureDb db("before");
    std::istringstream in(c.image);
    testing::internal::CaptureStdout();
    db.loadImage(in, c.largest);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(positions(db), c.positions) << c.printed;
    EXPECT_EQ(db.isCorrupted(), !c.printed.empty());
  }
}

TEST(AdaptedFeatureDbMatrix, FeatureRowsOfEveryEntryInIdOrder) {
  AdaptedFeatureDb db("Database");
  for (uint64_t id : {30, 10, 20}) {
    std::vector<float> row(20);
    for (unsigned i = 0; i < 20; ++i) row[i] = static_cast<float>(id) + static_cast<float>(i) / 100.0f;
    db.add(*adaptedSignature(id, {{"a", row}, {"b", {1.0f, 2.0f}}}));
  }
  AdaptedFeatureDbMatrix matrix(db);
  HeapMatrix<float> rows;
  const uint64_t unchanged = db.getRevision();
  matrix.submatrix("a", rows);
  ASSERT_TRUE(rows.rows == 3 && rows.cols == 20);
  EXPECT_EQ(rows(1, 0), 20.0f);
  EXPECT_EQ(rows(2, 19), 30.19f);

  expectThrowMessage<StandardException>([&] { matrix.assign(HeapMatrix<float>(2, 20, 0.0f), "a"); },
                                        "AdaptedFeatureDbMatrix::assign() number of rows does not fit");
  expectThrowMessage<VMTLException>([&] { matrix.assign(HeapMatrix<float>(3, 19, 0.0f), "a"); }, "unequal vector size");
  expectThrowMessage<StandardException>([&] { matrix.submatrix("c", rows); },
                                        "AdaptedFeatureDbMatrix::submatrix() feature not found: c");
  EXPECT_EQ(db.getRevision(), unchanged);
  matrix.assign(HeapMatrix<float>(3, 2, 7.0f), "b");
  EXPECT_EQ(first(db, 20, "b") + first(db, 10, "a"), 17.0f);
  EXPECT_NE(db.getRevision(), unchanged);

  // Entries that lack the feature, or hold it at another length, fail before anything changes.
  db.add(*adaptedSignature(40, {{"a", {1.0f}}}));
  expectThrowMessage<VMTLException>([&] { matrix.submatrix("a", rows); }, "unequal vector size");
  expectThrowMessage<StandardException>([&] { matrix.assign(HeapMatrix<float>(4, 2, 5.0f), "b"); },
                                        "AdaptedFeatureDbMatrix::assign() feature not found: b");
  EXPECT_EQ(first(db, 20, "b"), 7.0f);
}

}  // namespace
