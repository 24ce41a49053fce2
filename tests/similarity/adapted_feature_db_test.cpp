#include "similarity/adapted_feature_db.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/fingerprint_stream.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint64_t kHighId = (uint64_t{1} << 40) + 2;

Bytes streamOf(const CAudioSignMulti& sig) {
  std::ostringstream out;
  sig.write(out);
  const std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

Bytes signatureBytes(uint64_t id) { return streamOf(*adaptedSignature(id, {{"ov", {float(id), 0.5f}}})); }

std::vector<uint64_t> ids(const AdaptedFeatureDb& db) {
  std::vector<uint64_t> all;
  for (const auto& [id, sig] : db) all.push_back(id);
  return all;
}

// Loads an image into a database named "before"; returns what it printed.
std::string load(AdaptedFeatureDb& db, const Bytes& image) {
  std::istringstream in(std::string(image.begin(), image.end()));
  testing::internal::CaptureStdout();
  db.loadImage(in);
  return testing::internal::GetCapturedStdout();
}

TEST(AdaptedFeatureDb, EntriesByIdAndTheirFailures) {
  AdaptedFeatureDb db("Database");
  db.add(*adaptedSignature(5, {{"ov", {1.0f}}}));
  auto owned = adaptedSignature(kHighId, {{"ov", {2.0f}}});
  EXPECT_TRUE(db.add(owned.release()).second);
  db.add(*adaptedSignature(3, {{"ov", {3.0f}}}));
  EXPECT_EQ(ids(db), (std::vector<uint64_t>{3, 5, kHighId}));
  EXPECT_TRUE(db.contains(kHighId));
  EXPECT_EQ(db.entry(5)->getSignData()->getFeature("ov")->getMatrix()(0, 0), 1.0f);

  auto duplicate = adaptedSignature(5, {{"ov", {9.0f}}});
  expectThrowMessage<StandardException>([&] { db.add(duplicate.get()); },
                                        "AdaptedFeatureDb::add() signature id already exists in database: 5");
  expectThrowMessage<StandardException>([&] { db.entry(7); },
                                        "AdaptedFeatureDb::entry() signature id does not exist in database: 7");
  db.remove(5);
  db.remove(99);
  EXPECT_EQ(ids(db), (std::vector<uint64_t>{3, kHighId}));
  EXPECT_EQ(db.entry(3)->getSignData()->getFeature("ov")->getMatrix()(0, 0), 3.0f);
}

TEST(AdaptedFeatureDb, NamedAndNamelessImages) {
  AdaptedFeatureDb db("Database");
  db.add(*adaptedSignature(kHighId, {{"ov", {float(kHighId), 0.5f}}}));
  db.add(*adaptedSignature(3, {{"ov", {3.0f, 0.5f}}}));
  std::ostringstream out;
  db.saveImage(out);
  const Bytes image =
      ByteBuilder().u32le(2).u8(0).str("Database").append(signatureBytes(3)).append(signatureBytes(kHighId)).bytes;
  EXPECT_EQ(out.str(), std::string(image.begin(), image.end()));

  AdaptedFeatureDb named("before");
  EXPECT_EQ(load(named, image), "");
  EXPECT_EQ(named.getName(), "Database");
  EXPECT_EQ(ids(named), (std::vector<uint64_t>{3, kHighId}));
  EXPECT_FALSE(named.isCorrupted());

  // Without a name the first signature starts at the fifth byte.
  const Bytes nameless = ByteBuilder().u32le(1).append(signatureBytes(3)).text("rest").bytes;
  std::istringstream in(std::string(nameless.begin(), nameless.end()));
  const AdaptedFeatureDb fromStream(in);
  EXPECT_EQ(fromStream.getName(), "similaritymethod");
  EXPECT_EQ(ids(fromStream), std::vector<uint64_t>{3});
  EXPECT_FALSE(fromStream.isCorrupted());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "rest");
}

TEST(AdaptedFeatureDb, UnreadableEntriesAreReportedAndLeftOut) {
  CFingerprintStream featureless;
  const Bytes tuid = {0, 0, 0, 0, 0, 0, 0, 8};
  featureless.add(4, "Tuid", 8, tuid.data());
  std::ostringstream featurelessOut;
  featureless.write(featurelessOut);
  const std::string noFeatures = featurelessOut.str();

  const struct {
    Bytes image;
    std::string printed;
    std::vector<uint64_t> kept;
  } cases[] = {
      {ByteBuilder().u32le(3).append(signatureBytes(3)).append(signatureBytes(3)).append(signatureBytes(4)).bytes,
       "AdaptedFeatureDb::add() signature id already exists in database: 3\n",
       {3, 4}},
      {ByteBuilder().u32le(2).text(noFeatures).append(signatureBytes(4)).bytes,
       "AdaptedFeatureDb::loadImage() invalid signature in image\n",
       {4}},
      {ByteBuilder().u32le(2).text("AUIX0000").append(signatureBytes(4)).bytes, "stream mismatch!\n", {4}},
      {ByteBuilder().u32le(0xFFFFFFFF).append(signatureBytes(4)).bytes,
       "AdaptedFeatureDb::loadImage() unexpected end of stream\n",
       {4}},
      {ByteBuilder().u32le(1).u8(0).u32le(9).text("Data").bytes,
       "AdaptedFeatureDb::loadImage() unexpected end of stream\n",
       {}},
  };
  for (const auto& c : cases) {
    AdaptedFeatureDb db("before");
    EXPECT_EQ(load(db, c.image), c.printed);
    EXPECT_EQ(ids(db), c.kept);
    EXPECT_EQ(db.getName(), "before");
    EXPECT_TRUE(db.isCorrupted());
    db.clearCorrupted();
    EXPECT_FALSE(db.isCorrupted());
  }
}

TEST(AdaptedFeatureDb, EveryTruncationKeepsTheEntriesBeforeIt) {
  const Bytes first = ByteBuilder().u32le(2).u8(0).str("db").append(signatureBytes(3)).bytes;
  const Bytes image = ByteBuilder().append(first).append(signatureBytes(4)).bytes;
  for (size_t cut = 0; cut < image.size(); ++cut) {
    AdaptedFeatureDb db("before");
    load(db, Bytes(image.begin(), image.begin() + static_cast<long>(cut)));
    EXPECT_TRUE(db.isCorrupted()) << cut;
    EXPECT_EQ(ids(db), cut < first.size() ? std::vector<uint64_t>{} : std::vector<uint64_t>{3}) << cut;
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
  matrix.submatrix("a", rows);
  ASSERT_EQ(rows.rows, 3u);
  ASSERT_EQ(rows.cols, 20u);
  EXPECT_EQ(rows(1, 0), 20.0f);
  EXPECT_EQ(rows(2, 19), 30.19f);

  expectThrowMessage<StandardException>([&] { matrix.assign(HeapMatrix<float>(2, 20, 0.0f), "a"); },
                                        "AdaptedFeatureDbMatrix::assign() number of rows does not fit");
  expectThrowMessage<VMTLException>([&] { matrix.assign(HeapMatrix<float>(3, 19, 0.0f), "a"); }, "unequal vector size");
  expectThrowMessage<StandardException>([&] { matrix.submatrix("c", rows); },
                                        "AdaptedFeatureDbMatrix::submatrix() feature not found: c");
  HeapMatrix<float> changed(3, 2, 0.0f);
  changed(1, 1) = 7.0f;
  matrix.assign(changed, "b");
  EXPECT_EQ(db.entry(20)->getSignData()->getFeature("b")->getMatrix()(0, 1), 7.0f);
  EXPECT_EQ(db.entry(10)->getSignData()->getFeature("a")->getMatrix()(0, 0), 10.0f);

  // Entries that lack the feature, or hold it at another length, fail before anything changes.
  db.add(*adaptedSignature(40, {{"a", {1.0f}}}));
  expectThrowMessage<VMTLException>([&] { matrix.submatrix("a", rows); }, "unequal vector size");
  expectThrowMessage<StandardException>([&] { matrix.assign(HeapMatrix<float>(4, 2, 5.0f), "b"); },
                                        "AdaptedFeatureDbMatrix::assign() feature not found: b");
  EXPECT_EQ(db.entry(20)->getSignData()->getFeature("b")->getMatrix()(0, 1), 7.0f);
}

}  // namespace
