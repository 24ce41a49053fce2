#include "session/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/session_utils.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"
#include "tests/support/temp_files.h"

namespace {

using Values = std::vector<float>;
const std::string kConfig = "<similarity/>";
const std::string kFormat = "Session::load() corrupted session format";
const std::string kMeta = "<METAFILE>\n<HEADER><VERSION>1.0</VERSION></HEADER>\n<DATA>\n"
                          "<ITEM><TUID>3</TUID><TIT2>Three</TIT2></ITEM>\n"
                          "<ITEM><TUID>9</TUID><TIT2>Nine</TIT2></ITEM>\n</DATA></METAFILE>\n";

// The header the session object writes: the session id and the last id as tag entries.
std::string header(const std::string& sessionId, uint32_t lastId) {
  ByteBuilder b;
  b.str("SES").u32le(58 + static_cast<uint32_t>(sessionId.size()));
  b.str("TAG:").str("VRA_SESID").u32le(static_cast<uint32_t>(sessionId.size()) + 4).str(sessionId);
  return b.str("TAG:").str("VRA_LSTID").u32le(4).u32le(lastId).image();
}

// "ov" of two signatures: (0.5, 5) under id 3 and (2, 8) under id 9.
std::string globalsBlock(bool linearize, bool normalize) {
  ByteBuilder b;
  b.u8(0);
  if (linearize) tableMap(b.text("LLT"), 9, "ov", 4, 2, {1, 5, 10, 10, 10, 50, 20, 60});
  if (normalize) tableMap(b.text("NRM"), 9, "ov", 2, 2, {1, 1, 2, 4});
  return b.text("XML").str(kConfig).text("END").image();
}

std::string image() {
  std::ostringstream out;
  out << ByteBuilder().u32le(2).u8(0).str("Database").image();
  adaptedSignature(3, {{"ov", {0.5f, 5}}})->write(out);
  adaptedSignature(9, {{"ov", {2, 8}}})->write(out);
  return out.str();
}

Values features(const Session& s) {
  Values all;
  for (const auto& [id, sig] : *s.getDatabase()) {
    const HeapMatrix<float>& m = sig->getSignData()->getFeature("ov")->getMatrix();
    all.insert(all.end(), m.data, m.data + m.cols);
    all.push_back(SessionUtils::transformFlags(*sig));
  }
  return all;
}

// Loads quietly: the image reader reports unreadable entries on the standard output.
void load(Session& s, const std::string& path, const std::string& metaPath) {
  testing::internal::CaptureStdout();
  try {
    s.load(path, metaPath);
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  testing::internal::GetCapturedStdout();
}

TEST(Session, LoadsTheFileThenLinearizesAndNormalizesEverySignature) {
  const struct {
    bool linearize, normalize;
    Values expected;  // per signature its "ov" values and its flag byte
  } cases[] = {{true, true, {4.5f, 12.25f, 3, 9.5f, 14.75f, 3}},
               {false, true, {-0.25f, 1, 2, 0.5f, 1.75f, 2}},
               {false, false, {0.5f, 5, 0, 2, 8, 0}}};
  const std::string metaPath = testfiles::writeFile("s.meta", kMeta);
  for (const auto& c : cases) {
    const std::string path = testfiles::writeFile("s.ses", header("091", 9) + globalsBlock(c.linearize, c.normalize) + image());
    Session s;
    load(s, path, metaPath);
    EXPECT_EQ(features(s), c.expected);
    EXPECT_EQ(s.songCount(), 2);
    EXPECT_EQ(s.getDatabase()->getName(), "Database");
    EXPECT_EQ(s.getFileName(), path);
    EXPECT_EQ(s.getMetadata().get(9).title(), "Nine");
    uint32_t size = 0;
    const char* text = s.getGlobals().getText("XML", size);
    EXPECT_EQ(std::string(text, size), kConfig);
  }
}

TEST(Session, FileCutShortAtEveryByteFailsAndLeavesTheStoreAsDocumented) {
  const std::string body = header("0911d7320000006010001234", 9) + globalsBlock(true, true);
  const std::string file = body + image();
  const std::string metaPath = testfiles::writeFile("s.meta", kMeta);
  Session s;
  load(s, testfiles::writeFile("whole.ses", file), metaPath);
  for (std::size_t cut = 0; cut < file.size(); ++cut) {
    const std::string path = testfiles::writeFile("cut.ses", file.substr(0, cut));
    const bool inImage = cut >= body.size();
    expectThrowMessage<StandardException>([&] { load(s, path, metaPath); }, inImage ? Session::kCorruptedStream : kFormat);
    ASSERT_EQ(s.getDatabase() != nullptr, inImage) << cut;
    EXPECT_LT(s.songCount(), 2) << cut;
    EXPECT_EQ(s.getMetadata().size(), inImage ? 2u : 0u) << cut;
    EXPECT_EQ(s.getFileName(), inImage ? path : testfiles::tempPath("whole.ses")) << cut;
  }
}

TEST(Session, HeaderFailuresAndTagSectionsOfAnySize) {
  const std::string rest = globalsBlock(false, false) + image();
  const struct {
    std::string head;
    std::string failure;
  } cases[] = {{ByteBuilder().str("SES").u32le(0).image(), ""},
               {ByteBuilder().str("SES").u32le(8).text("anything").image(), ""},
               {ByteBuilder().str("SEZ").u32le(0).image(), kFormat},
               {ByteBuilder().str("SES").u32le(0xFFFFFFFF).image(), kFormat},
               {ByteBuilder().str("SES").u32le(9).text("anything").image(), kFormat}};
  for (const auto& c : cases) {
    Session s;
    const std::string path = testfiles::writeFile("h.ses", c.head + rest);
    if (c.failure.empty()) {
      load(s, path, "");
      EXPECT_EQ(s.songCount(), 2);
    } else {
      expectThrowMessage<StandardException>([&] { load(s, path, ""); }, c.failure);
      std::ofstream unused;
      expectThrowMessage<StandardException>([&] { s.save(unused, "x", false); }, "Session::save() no database");
    }
  }
  const std::string missing = testfiles::tempPath("missing.ses");
  expectThrowMessage<StandardException>([&] { Session().load(missing, ""); }, "Session::load() Could not open session: " + missing);
}

TEST(Session, SavesTheBodyBehindTheHeaderAndTheMetadataFileBesideIt) {
  const std::string dir = testfiles::tempPath("dir.d/");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Session s;
  load(s, testfiles::writeFile("s.ses", header("091", 9) + globalsBlock(true, false) + image()), "");
  const std::string path = dir + "saved";
  std::ofstream out(path, std::ios::binary);
  out << header("092", 9);
  s.save(out, path, true);
  EXPECT_FALSE(out.is_open());
  const std::string saved = testfiles::readFile(path);
  // The signatures carry their linearisation, which a second load leaves alone.
  std::ostringstream entries;
  for (const auto& entry : *s.getDatabase()) entry.second->write(entries);
  EXPECT_EQ(saved, header("092", 9) + globalsBlock(true, false) + ByteBuilder().u32le(2).u8(0).str("Database").image() +
                       entries.str());
  EXPECT_FALSE(std::filesystem::exists(dir + "saved.meta"));  // no metadata records

  Session again;
  load(again, path, "");
  EXPECT_EQ(features(again), features(s));
  s.getMetadata().put(3, MetadataRecord("A", "T"));
  for (bool writeMeta : {false, true}) {
    std::ofstream more(path, std::ios::binary);
    more << header("092", 9);
    s.save(more, path, writeMeta);
    EXPECT_EQ(std::filesystem::exists(dir + "saved.meta"), writeMeta);
  }
  load(again, path, dir + "saved.meta");
  EXPECT_EQ(again.getMetadata().get(3).title(), "T");

  // Beside an empty session there is nothing for a metadata file to describe.
  const std::string empty = testfiles::writeFile("e.ses", header("", 0) + globalsBlock(false, false) +
                                                          ByteBuilder().u32le(0).u8(0).str("Database").image());
  load(again, empty, dir + "absent.meta");
  EXPECT_EQ(again.songCount(), 0);
  expectThrowMessage<AudioSignException>([&] { load(again, path, dir + "absent.meta"); },
                                         "Cannot open Metadata File for reading !");
  EXPECT_EQ(again.songCount(), 2);
}

TEST(Session, MetadataPathReplacesTheExtensionOfTheFileNameOnly) {
  const std::pair<std::string, std::string> cases[] = {{"a.b/c.ses", "a.b/c.meta"},   {"name", "name.meta"},
                                                       {"x.d/s", "x.d/s.meta"},       {"x.d\\s", "x.d\\s.meta"},
                                                       {"dir/s.v1.ses", "dir/s.v1.meta"}, {".ses", ".meta"}};
  for (const auto& [session, meta] : cases) EXPECT_EQ(Session::metadataPath(session), meta);
}

}  // namespace
