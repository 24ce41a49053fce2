#include "session/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/session_utils.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"
#include "tests/support/temp_files.h"

namespace {

using Values = std::vector<float>;
const std::string kFormat = "Session::load() corrupted session format";
// Records of both songs of image(), 3 and 9.
const std::string kMeta = "3\tArtist\tThree\n9\tArtist\tNine\n";

// The header the session object writes: the session id and the last id as
// tag entries, 58 bytes of them besides the id.
std::string header(const std::string& id, uint32_t lastId) {
  const auto size = static_cast<uint32_t>(id.size());
  return ByteBuilder().str("SES").u32le(58 + size).str("TAG:").str("VRA_SESID").u32le(size + 4).str(id)
      .str("TAG:").str("VRA_LSTID").u32le(4).u32le(lastId).image();
}

// Tables for "ov" of two signatures, (0.5, 5) under id 3 and (2, 8) under id 9.
std::string globalsBlock(bool linearize, bool normalize) {
  ByteBuilder b;
  b.u8(0);
  if (linearize) tableMap(b.text("LLT"), 9, "ov", 4, 2, {1, 5, 10, 10, 10, 50, 20, 60});
  if (normalize) tableMap(b.text("NRM"), 9, "ov", 2, 2, {1, 1, 2, 4});
  return b.text("XML").str("<similarity/>").text("END").image();
}

std::string image() {
  std::ostringstream out;
  out << ByteBuilder().u32le(2).u8(0).str("Database").image();
  adaptedSignature(3, {{"ov", {0.5f, 5}}})->write(out);
  adaptedSignature(9, {{"ov", {2, 8}}})->write(out);
  return out.str();
}

// Per signature its "ov" values and its flag byte.
Values features(const Session& s) {
  Values all;
  for (const auto& [id, sig] : *s.getDatabase()) {
    const HeapMatrix<float>& m = sig->getSignData()->getFeature("ov")->getMatrix();
    all.insert(all.end(), m.data, m.data + m.cols);
    all.push_back(SessionUtils::transformFlags(*sig));
  }
  return all;
}

// Keeps the image reader's reports on the standard output out of the test log.
void load(Session& s, const std::string& path, const std::string& metaPath) {
  struct Quiet {
    Quiet() { testing::internal::CaptureStdout(); }
    ~Quiet() { testing::internal::GetCapturedStdout(); }
  } quiet;
  s.load(path, metaPath);
}

TEST(Session, LoadsBehindTheTagSectionThenLinearizesAndNormalizes) {
  const std::string meta = testfiles::writeFile("s.meta", kMeta);
  // The head up to the globals (a tag section of 58 bytes, 61, none), the
  // tables they carry; per signature its values and flags.
  const std::tuple<std::string, bool, bool, Values> cases[] = {
      {header("", 0), true, true, {4.5f, 12.25f, 3, 9.5f, 14.75f, 3}},
      {header("091", 9), false, true, {-0.25f, 1, 2, 0.5f, 1.75f, 2}},
      {ByteBuilder().str("SES").u32le(0).image(), false, false, {0.5f, 5, 0, 2, 8, 0}}};
  for (const auto& [head, linearize, normalize, expected] : cases) {
    const std::string path = testfiles::writeFile("s.ses", head + globalsBlock(linearize, normalize) + image());
    Session s;
    load(s, path, meta);
    EXPECT_EQ(features(s), expected);
    uint32_t size = 0;
    const char* text = s.getGlobals().getText("XML", size);
    EXPECT_EQ(std::string(text, size) + s.getDatabase()->getName() + s.getMetadata().get(9).title() + s.getFileName(),
              "<similarity/>DatabaseNine" + path);
  }
}

TEST(Session, FileCutShortAtEveryByteFailsAndLeavesTheStoreAsDocumented) {
  const std::string body = header("0911d7320000006010001234", 9) + globalsBlock(true, true), file = body + image();
  const std::string metaPath = testfiles::writeFile("s.meta", kMeta), whole = testfiles::writeFile("whole.ses", file);
  Session s;
  load(s, whole, metaPath);
  for (std::size_t cut = 0; cut < file.size(); ++cut) {
    const std::string path = testfiles::writeFile("cut.ses", file.substr(0, cut));
    const bool inImage = cut >= body.size();
    expectThrowMessage<StandardException>([&] { load(s, path, metaPath); },
                                          inImage ? Session::kCorruptedStream : kFormat);
    ASSERT_EQ(s.getDatabase() != nullptr, inImage) << cut;
    EXPECT_LT(s.songCount(), 2) << cut;
    EXPECT_EQ(s.getMetadata().size(), inImage ? 2u : 0u) << cut;
    EXPECT_EQ(s.getFileName(), inImage ? path : whole) << cut;
  }
  for (const std::string& missing : {metaPath + ".absent", ::testing::TempDir()})
    expectThrowMessage<StandardException>([&] { s.load(missing, ""); },
                                          "Session::load() Could not open session: " + missing);
  std::ostringstream unused;
  expectThrowMessage<StandardException>([&] { s.save(unused, nullptr); }, "Session::save() no database");
}

TEST(Session, SavesTheBodyBehindTheHeaderAndTheMetadataFileBesideIt) {
  const std::string path = testfiles::tempPath("dir.d/saved");
  std::filesystem::create_directories(testfiles::tempPath("dir.d"));
  std::filesystem::remove(path + ".meta");
  Session s;
  load(s, testfiles::writeFile("s.ses", header("091", 9) + globalsBlock(true, false) + image()), "");
  std::ostringstream entries;  // linearised and flagged
  for (const auto& entry : *s.getDatabase()) entry.second->write(entries);
  // No metadata without its stream; with it, also when there is no record
  // to write (then without the record of the first round).
  const std::string emptyMeta = "<METAFILE>\n<HEADER><VERSION>1.0</VERSION></HEADER>\n<DATA>\n</DATA></METAFILE>\n";
  for (int round = 0; round < 3; ++round) {
    if (round == 2) {
      s.getMetadata().put(3, MetadataRecord("A", "T"));
      s.getMetadata().put(9, MetadataRecord("B", "U"));
    }
    std::ofstream out(path, std::ios::binary);
    out << header("092", 9);
    std::ostringstream meta;
    s.save(out, round == 0 ? nullptr : &meta);
    out.close();
    if (round != 0) testfiles::writeFile("dir.d/saved.meta", meta.str());
    EXPECT_EQ(meta.str().empty(), round == 0);
    if (round == 1) {
      EXPECT_EQ(meta.str(), emptyMeta);
    }
  }
  EXPECT_EQ(testfiles::readFile(path), header("092", 9) + globalsBlock(true, false) +
                                           ByteBuilder().u32le(2).u8(0).str("Database").image() + entries.str());
  Session again;
  load(again, path, path + ".meta");
  EXPECT_EQ(features(again), features(s));
  EXPECT_EQ(again.getMetadata().get(3).title(), "T");

  // Beside a session without songs there is nothing for a metadata file to describe.
  const std::string absent = path + ".absent";
  const std::string empty = header("", 0) + globalsBlock(false, false) + ByteBuilder().u32le(0).image();
  load(again, testfiles::writeFile("e.ses", empty), absent);
  EXPECT_EQ(again.songCount(), 0);
  expectThrowMessage<AudioSignException>([&] { load(again, path, absent); }, "Cannot open Metadata File for reading !");
  EXPECT_EQ(again.songCount(), 2);
}

// Songs 3 and 9, a record of 9 only: with a metadata file read, a song above
// the given last id goes when it has no record, and only then; one at or
// below it stays, and the file that lacks its record is named on the error
// stream. Either ends the load with a corrupted stream.
TEST(Session, SongsWithoutARecordAreLeftOutAboveTheLastIdAndReported) {
  const std::string path = testfiles::writeFile("ids.ses", header("", 0) + globalsBlock(false, false) + image());
  const std::string meta = testfiles::writeFile("ids.meta", "9\tArtist\tNine\n");
  const std::string lacking = "Session::load() the metadata file " + meta + " lacks the records of 1 of 2 songs\n";
  const struct {
    uint32_t lastId;
    std::string metaPath;
    std::string printed;
    std::vector<uint64_t> kept;
  } cases[] = {
      {9, meta, lacking, {3, 9}},
      {5, meta, lacking, {3, 9}},
      {0, meta, lacking, {3, 9}},
      {2, "", "", {3, 9}},
      {2, meta, "Session::load() song id above the last id and without a record: 3\n", {9}},
  };
  for (const auto& c : cases) {
    Session s;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::string raised;
    try {
      s.load(path, c.metaPath, c.lastId);
    } catch (const StandardException& e) {
      raised = e.what();
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout() + said + raised,
              c.printed + (c.printed.empty() ? "" : Session::kCorruptedStream));
    std::vector<uint64_t> kept;
    for (const auto& entry : *s.getDatabase()) kept.push_back(entry.first);
    EXPECT_EQ(kept, c.kept) << c.lastId;
  }
}

TEST(Session, MetadataPathReplacesTheExtensionOfTheFileNameOnly) {
  const std::pair<std::string, std::string> cases[] = {{"a.b/c.ses", "a.b/c.meta"}, {"name", "name.meta"},
                                                       {"x.d/s", "x.d/s.meta"},     {"x.d\\s", "x.d\\s.meta"},
                                                       {"d/s.v1.ses", "d/s.v1.meta"}, {".ses", ".meta"}};
  for (const auto& [session, meta] : cases) EXPECT_EQ(Session::metadataPath(session), meta);
}

}  // namespace
