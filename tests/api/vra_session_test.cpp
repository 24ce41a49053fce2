#include "api/vra_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/session_file_header.h"
#include "api/vra_id_list.h"
#include "api/vra_signature.h"
#include "metadata/sources/common/standard_exception.h"
#include "platform/file_replace.h"
#include "tests/api/api_test_support.h"
#include "tests/support/byte_builder.h"
#include "tests/support/similarity_songs.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#endif
#ifdef __linux__
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace vemra_kivet;
using apitest::expectCode;
using apitest::Held;
using testfiles::readFile;
using testfiles::tempPath;
using testfiles::writeFile;

namespace {

// A signature object holding a song of the test configuration, as loaded
// from a signature file.
Held<vraSignature> song(uint32_t id, float value, const std::string& title = "") {
  std::ostringstream bytes;
  songs::song(id, value, title)->write(bytes);
  Held<vraSignature> signature(new vraSignature);
  signature->load(writeFile("song.sig", bytes.str()).c_str());
  return signature;
}

// Songs of the given values under ids 1, 2, ..., titled "title 1", ...
Held<vraSession> session(const std::vector<float>& values = {}, bool metadata = true) {
  const std::string config = writeFile("config.xml", songs::kConfiguration);
  Held<vraSession> s(new vraSession);
  s->init(config.c_str(), metadata);
  for (size_t i = 0; i < values.size(); ++i)
    s->addSignature(song(0, values[i], "title " + std::to_string(i + 1)).get());
  return s;
}

std::string ranked(vraIResultList* list) {
  Held<vraIResultList> results(list);
  std::string ids;
  for (unsigned i = 0; i < results->size(); ++i) ids += std::to_string(results->getResult(i).id) + " ";
  return ids;
}

// A text file as the platform's text files read: lines end in "\n".
std::string readText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string title(vraISession& s, unsigned id) { return Held<vraISong>(s.getSong(id))->getTitle(false); }

// Texts made of the id; knows no song 2 when asked for its title, and fails
// on song 4 in a way of its own.
class HostCallback final : public vraICallback {
 public:
  const char* getTitle(unsigned id) override {
    if (id == 2) throw vraKivetException(VRA_CALLBACK_UNKNOWN_ID);
    if (id == 4) throw std::runtime_error("host failure");
    return keep("T" + std::to_string(id));
  }
  const char* getArtist(unsigned id) override { return keep("A\"" + std::to_string(id)); }
  const char* getExtraText(unsigned) override { return nullptr; }
  const char* getFileName(unsigned id) override { return keep(std::to_string(id) + ".wav"); }
  int getLength(unsigned id) override { return static_cast<int>(id) * 1500; }
  int getExtraNumber(unsigned id) override { return -static_cast<int>(id); }
  int getExtraNumber2(unsigned) override { return 99; }
  int onIdChanged(unsigned from, unsigned to) override {
    log += std::to_string(from) + ">" + std::to_string(to) + " ";
    return 0;
  }
  void reportProgress(float progress) override { log += std::to_string(static_cast<int>(progress * 100)) + "% "; }
  void notify(int) override {}
  std::string log;

 private:
  const char* keep(const std::string& text) { return (held = text).c_str(); }
  std::string held;
};

// The head as the session object writes it, from the format's table.
std::string header(const std::string& sessionId, uint32_t lastId) {
  const auto length = static_cast<uint32_t>(sessionId.size());
  return ByteBuilder().str("SES").u32le(58 + length).str("TAG:").str("VRA_SESID").u32le(length + 4).str(sessionId)
      .str("TAG:").str("VRA_LSTID").u32le(4).u32le(lastId).image();
}

}  // namespace

TEST(VraSession, Codes) {
  Held<vraSession> none(new vraSession);
  Held<vraSession> three = session({0, 1, 2});
  Held<vraSession> noTexts = session({0}, false);
  EXPECT_THROW(CreateSession(tempPath("gone.xml").c_str(), true), StandardException);
  Held<vraIDList> ids19(new vraIDList);
  ids19->add(1), ids19->add(9);
  struct ForeignList : vraIIDList {
    void release() override {}
    unsigned size() override { return 0; }
    unsigned getId(unsigned) override { return 0; }
    unsigned getId(unsigned) const override { return 0; }
    void add(unsigned) override {}
    void remove(unsigned) override {}
    bool contains(unsigned) override { return false; }
  } foreign;
  const std::string riff = tempPath("small.riff");
  const std::pair<std::function<void()>, int> cases[] = {
      {[&] { none->loadSession("x"); }, 20},
      {[&] { none->setWhitelist(ids19.get()); }, 20},
      {[&] { none->reinitialize(); }, 20},
      {[&] { none->setWeight(1, 100); }, 14},
      {[&] { none->getWeight(1); }, 14},
      {[&] { none->getWeightName(0); }, 14},
      {[&] { three->getSongAt(3); }, 10},
      {[&] { three->getSong(9); }, 11},
      {[&] { three->removeSong(9); }, 11},
      {[&] { three->replaceSignature(9, song(0, 1).get()); }, 11},
      {[&] { three->queryById(9, 1); }, 11},
      {[&] { three->addSignature(nullptr); }, 6},
      {[&] { three->queryBySignature(Held<vraSignature>(new vraSignature).get(), 1, false); }, 8},
      {[&] { three->setWhitelist(&foreign); }, 23},
      {[&] { three->setWhitelist(ids19.get()); }, 26},
      // The list stays set.
      {[&] { three->queryById(2, 1); }, 25},
      {[&] { noTexts->checkMetadataSource(true, true, true, true); }, 16},
      {[&] { noTexts->getSongByFileName("1.wav"); }, 16},
      {[&] { noTexts->exportText(riff.c_str(), 1); }, 16},
      {[&] { three->exportSimilarityRiff(riff.c_str(), 3); }, 27},
      // Refused before the song it would replace goes.
      {[&] { three->replaceSignature(1, nullptr); }, 6},
  };
  for (const auto& [call, code] : cases) expectCode(call, code);
  EXPECT_EQ(none->getWeightCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(riff));
}

TEST(VraSession, IdsAndSessionIds) {
  const struct {
    std::vector<uint32_t> given;
    std::string stored, changes;
    uint32_t lastId;
  } cases[] = {
      {{0, 0, 0, 7, 0}, "1 2 3 7 8 ", "", 8},
      {{0, 0, 2}, "1 2 3 ", "2>3 ", 3},
      // An id below the last id that is free is kept.
      {{5, 3, 3}, "3 5 6 ", "3>6 ", 6},
  };
  for (const auto& c : cases) {
    Held<vraSession> s = session();
    HostCallback callback;
    s->setCallback(&callback);
    for (uint32_t id : c.given) {
      Held<vraSignature> signature = song(id, 1.0f);
      EXPECT_EQ(signature->toMultiSignature()->getTuid(), CSignatureID(s->addSignature(signature.get()), 0));
    }
    Held<vraIIDList> ids(s->getAllIds());
    std::string stored;
    for (unsigned i = 0; i < ids->size(); ++i) stored += std::to_string(ids->getId(i)) + " ";
    EXPECT_EQ(stored + callback.log + std::to_string(s->getLastId()), c.stored + c.changes + std::to_string(c.lastId));
  }
  std::tm december{};
  december.tm_mday = 6, december.tm_mon = 11, december.tm_year = 126;
  std::tm late = december;
  late.tm_mday = 31, late.tm_year = 99, late.tm_hour = 23, late.tm_min = 59, late.tm_sec = 59;
  EXPECT_EQ(sessionIdText(december, {6, 1}, 1234), "0911d7320000006011234");
  EXPECT_EQ(sessionIdText(late, {10, 0}, 123456789), "0911e13f399b710006789");
  const std::string id = session()->getSessionId();
  EXPECT_EQ(std::to_string(id.size()) + id.substr(0, 3), "21091");
  EXPECT_EQ(std::string(Held<vraSession>(new vraSession)->getSessionId()), "Uninitialized");
}

TEST(VraSession, SongsQueriesAndWhitelist) {
  Held<vraSession> s = session();
  Held<vraSignature> first = song(0, 0.0f, "One");
  CAudioSignTagWriter tags;
  tags.setSignature(first->toMultiSignature());
  tags.setTag("TPE1", "Artist"), tags.setTag("FILENAME", "Caf\xC3\xA9.wav"), tags.setTag("TLEN", "61500");
  // A session without songs answers empty lists, and adds a song it is asked to.
  EXPECT_EQ(ranked(s->queryBySignature(first.get(), 5, false)), "");
  EXPECT_EQ(ranked(s->queryBySignature(first.get(), 5, true)), "");
  // A copy of the only song finds it: its every distance is 0.
  EXPECT_EQ(ranked(s->queryBySignature(first.get(), 5, false)), "1 ");
  // Song 2 is as near to song 1 as song 1 itself: a query by 2 brings it first.
  for (float value : {0.0f, 1.0f, 2.0f, 3.0f}) s->addSignature(song(0, value, "x").get());
  Held<vraISong> one(s->getSongByFileName("Caf\xE9.wav"));
  ASSERT_TRUE(one);
  EXPECT_EQ(std::string(one->getTitle(false)) + one->getArtist(false) + std::to_string(one->getLength()),
            "OneArtist61500");
  EXPECT_EQ(s->getSongByFileName("none.wav"), nullptr);
  // A length beyond the int range, as a metadata file may hold, saturates; a
  // song titled as the store's empty answer is still a song; one without a
  // record is none.
  MetadataStore& records = s->getManager().session().getMetadata();
  records.findOrCreate(2).tags["TLEN"] = "99999999999";
  records.findOrCreate(3).tags["TIT2"] = MetadataStore::kNoEntry;
  records.remove(4);
  EXPECT_EQ(std::to_string(Held<vraISong>(s->getSong(2))->getLength()) + title(*s, 3), "2147483647no entry");
  expectCode([&] { s->getSong(4); }, 11);
  EXPECT_EQ(ranked(s->queryById(1, 10)) + "/" + ranked(s->queryById(2, 2)) + "/" + ranked(s->queryById(5, 3)),
            "1 2 3 4 5 /2 1 /5 4 3 ");
  Held<vraIDList> whitelist(new vraIDList);
  for (unsigned id : {5u, 1u, 3u}) whitelist->add(id);
  s->setWhitelist(whitelist.get());
  EXPECT_EQ(ranked(s->queryById(3, 10)), "3 1 5 ");
  s->clearWhitelist();
  // Added after the query: the new song is not among its results.
  EXPECT_EQ(ranked(s->queryBySignature(song(0, 2.6f).get(), 2, true)), "5 4 ");
  EXPECT_EQ(s->getSongCount(), 6u);
  s->removeSongAt(0);
  s->replaceSignature(6, song(0, 9.0f, "Six").get());
  EXPECT_EQ(title(*s, 6), "Six");
  EXPECT_FALSE(s->containsId(1));
  EXPECT_EQ(records.size(), 4u);
  s->reinitialize();
  EXPECT_EQ(s->getSongCount(), 0u);

  // Replacing the only song leaves the methods attached as they were: a
  // partition tree that cannot be read is not read again.
  Held<vraSession> single = session({1});
  single->getManager().session().getGlobals().setTextFromFile("TRE", writeFile("tree.xml", "no tree"));
  single->replaceSignature(1, song(0, 2.0f, "again").get());
  EXPECT_EQ(title(*single, 1), "again");
}

TEST(VraSession, HostCallbackSuppliesTextsAndOutlivesItsSession) {
  HostCallback callback;
  const std::string path = tempPath("texts.txt");
  {
    Held<vraSession> s = session({0, 1, 2}, false);
    s->setCallback(&callback);
    Held<vraISong> third(s->getSongByFileName("3.wav"));
    EXPECT_EQ(std::string(third->getTitle(false)) + third->getArtist(false) + std::to_string(third->getLength()),
              "T3A\"34500");
    s->exportText(path.c_str(), 127);
    s->addSignature(song(0, 3).get());
    expectCode([&] { s->exportText(tempPath("failed.txt").c_str(), 0); }, 17);
  }
  // The session is gone; the host's callback is still the host's.
  callback.onIdChanged(1, 2);
  const std::string text = readText(path);
  EXPECT_EQ(text.substr(text.find(";\n") + 2),
            "1;\"A\"\"1\";\"T1\";1;\"1.wav\";\"\";-1;0;\n3;\"A\"\"3\";\"T3\";4;\"3.wav\";\"\";-3;0;\n");
  EXPECT_EQ(callback.log, "33% 100% 25% 75% 1>2 ");
  auto* heap = new HostCallback;
  session({0}, false)->setCallback(heap);
  delete heap;
}

TEST(VraSessionFile, HeaderTagsAreReadOrPassedOver) {
  const std::string id = "0911d7320000006011234";
  const std::string bytes = header(id, 7);
  ASSERT_EQ(bytes.substr(7, 4) + bytes.substr(32, 4), std::string("\x4f\0\0\0\x19\0\0\0", 8));
  const std::string tags = bytes.substr(11);
  const std::string unknown = ByteBuilder().str("TAG:").str("OTHER").u32le(8).u32le(1).u32le(2).image();
  const auto section = [](size_t size) { return ByteBuilder().str("SES").u32le(static_cast<uint32_t>(size)).image(); };
  const std::pair<std::string, std::string> cases[] = {
      {bytes + "body", id + " 7 body"},
      {section(unknown.size() + tags.size()) + unknown + tags, id + " 7 "},
      {section(0), " 0 "},
      {ByteBuilder().str("SEX").image() + bytes.substr(7), "code 5"},
      {section(unknown.size() - 1) + unknown, "code 5"},
      {section(tags.size()) + "TAG!" + tags.substr(4), "code 5"},
      {bytes.substr(0, 60), "code 5"},
  };
  for (const auto& [file, read] : cases) {
    std::istringstream in(file);
    try {
      const SessionFileHeader head = SessionFileHeader::read(in);
      std::string rest;
      in >> rest;
      EXPECT_EQ(head.sessionId + " " + std::to_string(head.lastId) + " " + rest, read);
    } catch (const vraKivetException& e) {
      EXPECT_EQ("code " + std::to_string(e.getCode()), read);
    }
  }
}

TEST(VraSessionFile, SaveLoadAndMerge) {
  Held<vraSession> saved = session({0, 1, 2, 3});
  const std::string path = tempPath("s.ses");
  saved->saveSession(path.c_str());
  const std::string head = header(saved->getSessionId(), 4);
  const std::string file = readFile(path);
  EXPECT_EQ(file.substr(0, head.size()), head);
  Held<vraSession> loaded = session();
  loaded->loadSession(path.c_str());
  EXPECT_EQ(std::string(loaded->getSessionId()) + std::to_string(loaded->getLastId()),
            std::string(saved->getSessionId()) + "4");
  for (unsigned id = 1; id <= 4; ++id) {
    EXPECT_EQ(ranked(loaded->queryById(id, 10)), ranked(saved->queryById(id, 10)));
    EXPECT_EQ(title(*loaded, id), "title " + std::to_string(id));
  }
  // A header whose last id lies below the stored songs: a song of a stored id
  // still gets a free one.
  writeFile("low.ses", header(saved->getSessionId(), 1) + file.substr(head.size()));
  writeFile("low.meta", readFile(tempPath("s.meta")));
  Held<vraSession> low = session();
  low->loadSession(tempPath("low.ses").c_str());
  EXPECT_EQ(low->getLastId(), 1u);
  EXPECT_EQ(low->addSignature(song(3, 1.0f).get()), 5u);

  // Into a session holding song 1: the file's songs 1 and 2 become 2 and 3.
  const std::string two = tempPath("two.ses");
  session({5, 6})->saveSession(two.c_str());
  Held<vraSession> one = session({7});
  HostCallback callback;
  one->setCallback(&callback);
  one->loadSession(two.c_str());
  EXPECT_EQ(callback.log + std::to_string(one->getLastId()) + title(*one, 3), "1>2 2>3 3title 2");
  EXPECT_EQ(ranked(one->queryById(3, 10)), "3 1 2 ");
  Held<vraSession> bare = session({7}, false);
  expectCode([&] { bare->loadSession(two.c_str()); }, 16);
  EXPECT_EQ(bare->getSongCount(), 1u);

  // A fresh load that fails leaves the session as it was, methods and all;
  // one of a file saved without a configuration keeps the session's methods.
  Held<vraSession> fresh = session();
  expectCode([&] { fresh->loadSession(tempPath("missing.ses").c_str()); }, 2);
  expectCode([&] { fresh->loadSession(testing::TempDir().c_str()); }, 2);
  expectCode([&] { fresh->loadSession(writeFile("x.ses", "not a session").c_str()); }, 5);
  Held<vraSession> unconfigured(new vraSession);
  unconfigured->init(nullptr, true);
  unconfigured->saveSession(tempPath("none.ses").c_str());
  fresh->loadSession(tempPath("none.ses").c_str());
  for (float value : {1.0f, 2.0f}) fresh->addSignature(song(0, value).get());
  EXPECT_EQ(ranked(fresh->queryById(1, 10)), "1 2 ");
}

// Each change of a session's songs, then a query by every id: the lists are
// those of reference copies made afresh from the songs.
TEST(VraSessionFile, QueriesAfterEveryChangeAsFromFreshCopies) {
  Held<vraSession> s = session({0, 4, 1, 7, 2});
  const auto scored = [](vraIResultList* list) {
    Held<vraIResultList> results(list);
    std::ostringstream text;
    for (unsigned i = 0; i < results->size(); ++i)
      text << results->getResult(i).id << "/" << results->getResult(i).score << " ";
    return text.str();
  };
  const auto expectAsFresh = [&](vraSession& session, const std::string& change) {
    std::vector<std::string> kept;
    for (unsigned i = 0; i < session.getSongCount(); ++i)
      kept.push_back(scored(session.queryById(Held<vraISong>(session.getSongAt(i))->getId(), 10)));
    session.getManager().session().getDatabase()->markChanged();
    for (unsigned i = 0; i < session.getSongCount(); ++i)
      EXPECT_EQ(scored(session.queryById(Held<vraISong>(session.getSongAt(i))->getId(), 10)), kept[i]) << change;
  };
  const std::string other = tempPath("other.ses"), whole = tempPath("whole.ses");
  session({3.5f, 6})->saveSession(other.c_str());
  const struct {
    const char* change;
    std::function<void()> apply;
  } changes[] = {
      {"add", [&] { s->addSignature(song(0, 5.0f).get()); }},
      {"add above the last id", [&] { s->addSignature(song(9, 8.0f).get()); }},
      {"add under a free id below the last", [&] { s->addSignature(song(7, 2.5f).get()); }},
      {"remove", [&] { s->removeSong(3); }},
      {"add under the removed id", [&] { s->addSignature(song(3, 3.0f).get()); }},
      {"replace", [&] { s->replaceSignature(4, song(0, 0.5f).get()); }},
      {"merge a session file", [&] { s->loadSession(other.c_str()); }},
  };
  for (const auto& c : changes) {
    c.apply();
    expectAsFresh(*s, c.change);
  }
  EXPECT_EQ(s->getSongCount(), 10u);
  s->saveSession(whole.c_str());
  Held<vraSession> loaded = session();
  loaded->loadSession(whole.c_str());
  expectAsFresh(*loaded, "load");
}

TEST(VraSessionFile, EveryTruncationFailsCleanly) {
  session({0, 1})->saveSession(tempPath("full.ses").c_str());
  const std::string full = readFile(tempPath("full.ses")), cut = tempPath("cut.ses");
  writeFile("cut.meta", readFile(tempPath("full.meta")));
  Held<vraSignature> first = song(0, 5.0f, "t"), added = song(0, 9.0f);
  for (size_t n = 0; n < full.size(); ++n) {
    writeFile("cut.ses", full.substr(0, n));
    for (bool merge : {false, true}) {
      SCOPED_TRACE(std::to_string(n) + (merge ? " merge" : " fresh"));
      Held<vraSession> s = session();
      if (merge) s->addSignature(first.get());
      std::string outcome = "loaded";
      testing::internal::CaptureStdout();
      try {
        s->loadSession(cut.c_str());
      } catch (const vraKivetException& e) {
        outcome = "code " + std::to_string(e.getCode());
      } catch (const StandardException& e) {
        outcome = e.what();
      }
      testing::internal::GetCapturedStdout();
      // The header ends at byte 90; a fresh load reads it first.
      if (!merge && n < 90) {
        EXPECT_EQ(outcome, "code 5");
      } else if (outcome != "code 29") {
        EXPECT_EQ(outcome, "Session::load() corrupted session format");
      }
      EXPECT_LE(s->getSongCount(), merge ? 3u : 2u);
      // Whatever was read, the session goes on working.
      const unsigned id = s->addSignature(added.get());
      EXPECT_EQ(ranked(s->queryById(id, 1)), std::to_string(id) + " ");
    }
  }
}

// A metadata file emptied, or cut after any of its lines, beside a session
// of six songs: a fresh load and a merge take every song all the same, each
// that kept its record with its texts and the others without (code 11), and
// end with code 29, the file named on the error stream; a file that lost no
// record (only its closing line) loads whole.
TEST(VraSessionFile, MetadataFileCutShortIsReported) {
  session({0, 1, 2, 3, 4, 5})->saveSession(tempPath("six.ses").c_str());
  writeFile("cut.ses", readFile(tempPath("six.ses")));
  const std::string meta = readFile(tempPath("six.meta")), cut = tempPath("cut.ses");
  // Where the file ends after its first k lines: three of the header, one
  // record a line, the closing line.
  std::vector<size_t> ends = {0};
  for (size_t end = meta.find('\n'); end != std::string::npos; end = meta.find('\n', end + 1)) ends.push_back(end + 1);
  ASSERT_EQ(ends.size(), 11u);
  for (size_t lines = 0; lines < ends.size(); ++lines) {
    writeFile("cut.meta", meta.substr(0, ends[lines]));
    const unsigned kept = static_cast<unsigned>(std::min<size_t>(std::max<size_t>(lines, 3) - 3, 6));
    for (const bool merge : {false, true}) {
      SCOPED_TRACE(std::to_string(lines) + (merge ? " lines, merge" : " lines, fresh"));
      Held<vraSession> s = merge ? session({9}) : session();
      std::string outcome = "loaded";
      testing::internal::CaptureStderr();
      try {
        s->loadSession(cut.c_str());
      } catch (const vraKivetException& e) {
        outcome = "code " + std::to_string(e.getCode());
      }
      const std::string said = testing::internal::GetCapturedStderr();
      EXPECT_EQ(outcome, kept == 6 ? "loaded" : "code 29");
      EXPECT_EQ(said, kept == 6 ? "" : "Session::load() the metadata file " + tempPath("cut.meta") +
                                           " lacks the records of " + std::to_string(6 - kept) + " of 6 songs\n");
      EXPECT_EQ(s->getSongCount(), merge ? 7u : 6u);
      // The file's song i is i + 1 after the merge's own song 1.
      std::string titles, expected;
      for (unsigned i = 1; i <= 6; ++i) {
        try {
          titles += title(*s, merge ? i + 1 : i) + ";";
        } catch (const vraKivetException& e) {
          titles += "code " + std::to_string(e.getCode()) + ";";
        }
        expected += i <= kept ? "title " + std::to_string(i) + ";" : "code 11;";
      }
      EXPECT_EQ(titles, expected);
    }
  }
}

TEST(VraSessionExport, RiffAndText) {
  Held<vraSession> s = session();
  const uint32_t big = 16777217;
  const struct {
    uint32_t id;
    float value;
    std::vector<uint32_t> nearest;
  } songs[] = {{1, 0, {1, 2, 3}}, {2, 1, {2, 1, 3}}, {3, 3, {3, 2, 1}}, {4, 7, {4, 3, 2}}, {big, 15, {big, 4, 3}}};
  for (const auto& song : songs) s->addSignature(::song(song.id, song.value).get());
  const std::string path = tempPath("s.riff");
  HostCallback callback;
  s->setCallback(&callback);
  s->exportSimilarityRiff(path.c_str(), 3);
  EXPECT_EQ(callback.log, "20% 40% 60% 80% 100% ");

  // Five songs of three results and an end mark each: 5 x 4 x 4 bytes.
  ByteBuilder expected;
  expected.text("RIFF").u32le(80 + 24).text("PLDXVERS").u32le(4).u32le(0x00020006).text("SIM1").u32le(80);
  for (const auto& song : songs) {
    Held<vraIResultList> results(s->queryById(song.id, 3));
    ASSERT_EQ(results->size(), 3u);
    // The song itself first, at score 1: 255 in the top byte, into which a
    // large id carries.
    expected.u32le(0xFF000000u + song.id);
    for (unsigned r = 1; r < 3; ++r) {
      const vraResult result = results->getResult(r);
      EXPECT_EQ(result.id, song.nearest[r]);
      expected.u32le(((static_cast<uint32_t>(std::floor(result.score * 255.0)) & 0xFF) << 24) + result.id);
    }
    expected.u32le(0);
  }
  EXPECT_EQ(readFile(path), expected.image());
  EXPECT_EQ(expected.bytes[32 + 4 * 16], 1u);

  s->exportText(path.c_str(), 0);
  EXPECT_EQ(readText(path), "#SESSION-ID=" + std::string(s->getSessionId()) +
                                ";\n1;;;;;;;;\n2;;;;;;;;\n3;;;;;;;;\n4;;;;;;;;\n16777217;;;;;;;;\n");
  // A whitelist gives the songs listed, in its order.
  Held<vraIDList> whitelist(new vraIDList);
  for (unsigned id : {big, 3u}) whitelist->add(id);
  s->setWhitelist(whitelist.get());
  s->exportText(path.c_str(), 4);
  const std::string text = readText(path);
  EXPECT_EQ(text.substr(text.find(";\n") + 2), "16777217;;;0;;;;;\n3;;;0;;;;;\n");
}

TEST(VraSession, OneClassifierAnswersWithItsRanks) {
  const std::string config = writeFile(
      "one.xml",
      "<s><similaritymethod module=\"overallsimilarity\"><classifier name=\"near\" version=\"1\">"
      "<param key=\"feature\" value=\"F\"/><param key=\"mean\" value=\"1\"/></classifier></similaritymethod>"
      "<semanticlayer><class id=\"a\"><cfy id=\"near\"/></class></semanticlayer></s>");
  Held<vraISession> s(CreateSession(config.c_str(), true));
  for (float value : {0.0f, 3.0f, 1.0f, 1.0f}) s->addSignature(song(0, value).get());
  // Distances 0, 1, 1, 3 from song 1: dense ranks 0, 1, 1, 2 of 4, scored 1 - rank / 8.
  Held<vraIResultList> results(s->queryById(1, 10));
  std::string scored;
  for (unsigned i = 0; i < results->size(); ++i)
    scored += std::to_string(results->getResult(i).id) + ":" + std::to_string(results->getResult(i).score) + " ";
  EXPECT_EQ(scored, "1:1.000000 3:0.875000 4:0.875000 2:0.750000 ");
}

TEST(VraSession, FailedReinitializeKeepsTheSession) {
  const std::string config = writeFile("again.xml", songs::kConfiguration);
  Held<vraSession> s(new vraSession);
  s->init(config.c_str(), true);
  for (float value : {0.0f, 1.0f, 2.0f}) s->addSignature(song(0, value).get());
  const std::string id = s->getSessionId();
  std::filesystem::remove(config);
  EXPECT_THROW(s->reinitialize(), StandardException);
  EXPECT_EQ(s->getSessionId() + ranked(s->queryById(3, 10)), id + "3 2 1 ");
  EXPECT_EQ(s->addSignature(song(0, 5.0f).get()), 4u);
  writeFile("again.xml", songs::kConfiguration);
  s->reinitialize();
  EXPECT_EQ(s->getSongCount(), 0u);
}

TEST(VraSessionFile, SessionIdIsSetOnlyByItsTag) {
  const std::string path = tempPath("s.ses");
  session({0, 1})->saveSession(path.c_str());
  const std::string lastIdOnly = ByteBuilder().str("SES").u32le(29).str("TAG:").str("VRA_LSTID").u32le(4).u32le(2)
      .image();
  writeFile("s.ses", lastIdOnly + readFile(path).substr(90));
  Held<vraSession> loaded = session();
  const std::string own = loaded->getSessionId();
  loaded->loadSession(path.c_str());
  loaded->saveSession(path.c_str());
  EXPECT_EQ(std::to_string(loaded->getSongCount()) + readFile(path).substr(0, 90), "2" + header(own, 2));
}

TEST(VraSession, SongsThatCannotBeComparedAreRefusedAndChangeNothing) {
  const auto feature = [](const char* name, std::vector<float> row) {
    return [name, row](CSignDataMulti& data) { data.insert(songs::constantFeature(name, songs::kFrames, row)); };
  };
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  // Onset bands the method cannot take, vectors of another length, values that are not finite.
  const std::function<void(CSignDataMulti&)> cases[] = {feature("MSE", std::vector<float>(15, 1.0f)),
                                                        feature("F", {1.0f, 2.0f}), feature("F", {nan}),
                                                        feature("F", {-inf})};
  for (const auto& c : cases) {
    Held<vraSession> s = session({0, 1, 2});
    HostCallback callback;
    s->setCallback(&callback);
    const std::string before = ranked(s->queryById(2, 10));
    // Id 2 is taken: a song that were stored would get another one.
    Held<vraSignature> unfit = song(2, 1.0f, "unfit");
    c(*unfit->toMultiSignature()->getSignData());
    testing::internal::CaptureStdout();
    expectCode([&] { s->addSignature(unfit.get()); }, 6);
    expectCode([&] { s->replaceSignature(2, unfit.get()); }, 6);
    for (bool add : {false, true}) expectCode([&] { s->queryBySignature(unfit.get(), 10, add); }, 6);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::to_string(s->getSongCount()) + std::to_string(s->getLastId()) + callback.log + title(*s, 2) +
                  std::to_string(s->getManager().session().getMetadata().size()) + ranked(s->queryById(2, 10)),
              "33title 23" + before);
    EXPECT_EQ(unfit->toMultiSignature()->getTuid(), CSignatureID(2, 0));
  }
  // Without similarity methods nothing can be adapted.
  Held<vraSession> bare(new vraSession);
  bare->init(nullptr, true);
  expectCode([&] { bare->addSignature(song(0, 1.0f).get()); }, 6);
}

// Every text tag reaches the metadata file; songs without records save one
// without records, beside a new session file or in the place of the one of an
// earlier save.
TEST(VraSessionFile, SavedTextTagsAndRecordsLoadAsSaved) {
  Held<vraSession> s = session({0});
  Held<vraSignature> album = song(0, 1.0f, "Title");
  CAudioSignTagWriter tags;
  tags.setSignature(album->toMultiSignature());
  tags.setTag("TALB", "Album");
  s->addSignature(album.get());
  const std::string path = tempPath("s.ses");
  s->saveSession(path.c_str());
  EXPECT_NE(readFile(tempPath("s.meta")).find("<ITEM><TUID>2</TUID><TALB>Album</TALB><TIT2>Title</TIT2></ITEM>\n"),
            std::string::npos);
  Held<vraSession> loaded = session();
  loaded->loadSession(path.c_str());
  EXPECT_EQ(loaded->getManager().session().getMetadata().get(2).value("TALB"), "Album");
  s->getManager().session().getMetadata().clear();
  for (const std::string& target : {tempPath("bare.ses"), path}) {
    s->saveSession(target.c_str());
    Held<vraSession> bare = session();
    // Songs whose records are lost load all the same, and are reported.
    testing::internal::CaptureStderr();
    expectCode([&] { bare->loadSession(target.c_str()); }, 29);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::to_string(bare->getSongCount()) + std::to_string(bare->getManager().session().getMetadata().size()),
              "20");
  }
}

namespace {

// What follows prefix in the names of the files beside it.
std::set<std::string> filesStartingWith(const std::string& prefix) {
  const std::filesystem::path start(prefix);
  const std::string head = start.filename().string();
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(start.parent_path()))
    if (entry.path().filename().string().rfind(head, 0) == 0)
      names.insert(entry.path().filename().string().substr(head.size()));
  return names;
}

// The code a call raises (0: none) while the process cannot write files
// beyond limit bytes (0: no limit; Linux only): a write past it fails (EFBIG)
// as one on a full disk does.
int codeWithin(size_t limit, const std::function<void()>& call) {
#ifdef __linux__
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, SIG_IGN);
  const rlimit lowered{limit == 0 ? previous.rlim_cur : limit, previous.rlim_max};
  setrlimit(RLIMIT_FSIZE, &lowered);
#else
  (void)limit;
#endif
  int code = 0;
  try {
    call();
  } catch (const vraKivetException& e) {
    code = e.getCode();
  }
#ifdef __linux__
  setrlimit(RLIMIT_FSIZE, &previous);
#endif
  return code;
}

constexpr bool kCanLimitFileSize =
#ifdef __linux__
    true;
#else
    false;
#endif

}  // namespace

TEST(VraSessionFile, FailedSaveLeavesThePreviousFilesAsTheyWere) {
  const std::string path = tempPath("s.ses"), metaPath = tempPath("s.meta");
  session({0, 1})->saveSession(path.c_str());
  const std::string oldFiles = readFile(path) + readFile(metaPath);
  // Two more songs, one with a long title: a larger session file and a
  // metadata file larger still.
  Held<vraSession> s = session({0, 1, 2});
  s->addSignature(song(0, 3.0f, std::string(4 * oldFiles.size(), 'x')).get());
  s->saveSession(tempPath("new.ses").c_str());
  const size_t size = readFile(tempPath("new.ses")).size();
  ASSERT_GT(readFile(tempPath("new.meta")).size(), size + 100);
  // Cut short in the session file, in the metadata file (Linux only); a
  // metadata file that cannot take its place, which the session file's place
  // then keeps too; a session file that cannot take its place once the
  // metadata file has taken its own, which then gets its old file back; and
  // a session file that would be its own metadata file.
  std::filesystem::create_directory(tempPath("blocked.meta"));
  std::filesystem::create_directory(tempPath("held.ses"));
  const std::string heldMeta = writeFile("held.meta", "the records of held.ses");
  writeFile("x.META", "not a session");
  const struct {
    std::string target;
    size_t limit;
    std::set<std::string> left;
  } cases[] = {{tempPath("blocked.ses"), 0, {"meta"}}, {path, size / 2, {"meta", "ses"}},
               {path, size + 100, {"meta", "ses"}}, {tempPath("held.ses"), 0, {"meta", "ses"}},
               {metaPath, 0, {"meta", "ses"}}, {tempPath("x.META"), 0, {"META"}}};
  for (const auto& c : cases) {
    if (c.limit != 0 && !kCanLimitFileSize) continue;
    EXPECT_EQ(codeWithin(c.limit, [&] { s->saveSession(c.target.c_str()); }), 3) << c.target << " " << c.limit;
    const std::string name = c.target.substr(0, c.target.find_last_of('.') + 1);
    EXPECT_EQ(filesStartingWith(name), c.left) << c.target << " " << c.limit;
  }
  EXPECT_EQ(readFile(path) + readFile(metaPath) + readFile(heldMeta) + readFile(tempPath("x.META")),
            oldFiles + "the records of held.ses" + "not a session");
  Held<vraSession> loaded = session();
  loaded->loadSession(path.c_str());
  EXPECT_EQ(loaded->getSongCount(), 2u);
}

// Texts whose only characters beyond ASCII take four bytes in UTF-8 are kept
// through the session's records, its metadata file and a load; a text an
// earlier version stored converted reads as it was stored.
TEST(VraSessionFile, FourByteCharactersAreKeptThroughSaveAndLoad) {
  const std::string emoji = "\xF0\x9F\x8E\xB5 Night Drive";
  Held<vraSession> s = session();
  s->addSignature(song(0, 1.0f, emoji).get());
  s->addSignature(song(0, 2.0f, "\xF0\xA0\x80\x8B").get());
  const std::string stored = "\xC3\xB0\xC2\x9F\xC2\x8E\xC2\xB5 Night Drive";
  s->getManager().session().getMetadata().findOrCreate(2).tags["TPE1"] = stored;
  const std::string path = tempPath("emoji.ses");
  s->saveSession(path.c_str());
  EXPECT_NE(readFile(tempPath("emoji.meta")).find("<TIT2>\xF0\x9F\x8E\xB5 Night Drive</TIT2>"), std::string::npos);
  Held<vraSession> loaded = session();
  loaded->loadSession(path.c_str());
  for (vraSession* from : {s.get(), loaded.get()}) {
    Held<vraISong> first(from->getSong(1));
    Held<vraISong> second(from->getSong(2));
    EXPECT_EQ(std::string(first->getTitle(false)) + "|" + first->getTitle(true), emoji + "| Night Drive");
    EXPECT_EQ(std::string(second->getTitle(false)) + "|" + second->getArtist(false),
              "\xF0\xA0\x80\x8B|" + stored);
  }
}

// A whitelist that names a song removed after it was set: the operations
// that read it raise code 11 before they do anything, write nothing, and
// leave it set for the host to mend.
TEST(VraSession, WhitelistNamingARemovedSongIsRefused) {
  Held<vraSession> s = session({0, 1, 2, 3, 4, 5, 6});
  Held<vraIIDList> ids(s->getAllIds());
  s->setWhitelist(ids.get());
  s->removeSong(7);
  const std::string text = tempPath("listing.txt"), riff = tempPath("nearest.riff");
  const std::function<void()> calls[] = {[&] { s->queryById(1, 5); },
                                         [&] { s->exportText(text.c_str(), 127); },
                                         [&] { s->exportSimilarityRiff(riff.c_str(), 3); }};
  for (const auto& call : calls) expectCode(call, 11);
  EXPECT_EQ(filesStartingWith(text).size() + filesStartingWith(riff).size(), 0u);
  // Still set: a song added since is outside it. Set again without the
  // removed id, it serves.
  const unsigned added = s->addSignature(song(0, 7.0f).get());
  expectCode([&] { s->queryById(added, 5); }, 25);
  ids->remove(7);
  s->setWhitelist(ids.get());
  EXPECT_EQ(ranked(s->queryById(1, 3)), "1 2 3 ");
  s->exportSimilarityRiff(riff.c_str(), 3);
  EXPECT_EQ(readFile(riff).size(), 32u + 6 * 4 * 4);
}

// A melodic classifier compares melodies of any note count: songs of 5, 2 and
// 5 notes are all stored, by an add, a merge and a load alike, and each is
// found by a query of itself.
TEST(VraSession, MelodiesOfEveryLengthAreStoredAndFound) {
  const std::string config = writeFile(
      "melodic.xml",
      "<s><similaritymethod module=\"overallsimilarity\">"
      "<classifier name=\"near\" version=\"1\"><param key=\"feature\" value=\"F\"/><param key=\"mean\" value=\"1\"/>"
      "</classifier><classifier name=\"melody\" version=\"2\"><param key=\"feature\" value=\"P\"/>"
      "<param key=\"metric\" value=\"melodicnorm\"/></classifier></similaritymethod>"
      "<semanticlayer><class id=\"a\"><cfy id=\"melody\"/></class></semanticlayer></s>");
  // notes pitches rising from base, each held for two frames.
  const auto melody = [](unsigned notes, float base) {
    Held<vraSignature> signature = song(0, base);
    auto* pitches = songs::constantFeature("P", 2 * notes, {0.0f});
    for (unsigned r = 0; r < pitches->getMatrix().rows; ++r) pitches->getMatrix().data[r] = base + 3.0f * (r / 2);
    signature->toMultiSignature()->getSignData()->insert(pitches);
    return signature;
  };
  const auto melodic = [&] {
    Held<vraSession> s(new vraSession);
    s->init(config.c_str(), true);
    return s;
  };
  Held<vraSession> s = melodic();
  testing::internal::CaptureStdout();
  for (const auto& [notes, base] : {std::pair{5u, 0.0f}, {2u, 1.0f}, {5u, 2.0f}})
    s->addSignature(melody(notes, base).get());
  const std::string path = tempPath("m.ses");
  s->saveSession(path.c_str());
  Held<vraSession> loaded = melodic(), merged = melodic();
  loaded->loadSession(path.c_str());
  merged->addSignature(melody(3, 5.0f).get());
  merged->loadSession(path.c_str());
  EXPECT_EQ(ranked(s->queryBySignature(melody(2, 1.0f).get(), 1, false)) + ranked(loaded->queryById(3, 1)) +
                ranked(merged->queryById(3, 1)),
            "2 3 3 ");
  EXPECT_EQ(std::to_string(s->getSongCount()) + std::to_string(merged->getSongCount()), "34");
  // Nothing was left out of a query for its length.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A file whose songs an add would refuse is merged not at all (code 6) and
// loaded not at all (code 29, a damaged file): neither changes the session.
TEST(VraSessionFile, FilesOfSongsThatCannotBeComparedChangeNothing) {
  // Two songs of F value 1, each row of F as given.
  const auto saved = [](const std::string& name, const std::function<void(vraSession&)>& change,
                        const std::string& config = songs::kConfiguration, std::vector<float> row = {1.0f}) {
    Held<vraSession> s(new vraSession);
    s->init(writeFile(name + ".xml", config).c_str(), true);
    for (int i = 0; i < 2; ++i) {
      Held<vraSignature> signature = song(0, 0.0f, "file song");
      signature->toMultiSignature()->getSignData()->insert(songs::constantFeature("F", songs::kFrames, row));
      s->addSignature(signature.get());
    }
    change(*s);
    s->saveSession(tempPath(name + ".ses").c_str());
    return tempPath(name + ".ses");
  };
  // Songs whose vectors hold two values (one in this session's songs).
  const std::string wide = saved("wide", [](vraSession&) {}, songs::kConfiguration, {1.0f, 2.0f});
  const std::string nan = saved("nan", [](vraSession& s) {
    s.getManager().session().getDatabase()->entry(2)->getSignData()->getFeature("far")->getMatrix().data[0] =
        std::numeric_limits<float>::quiet_NaN();
  });
  // One byte of a stored classifier's name flipped: song 2 lacks "idle".
  std::string file = readFile(saved("flipped", [](vraSession&) {}));
  file[file.rfind("idle") + 3] = 'f';
  const std::string flipped = writeFile("flipped.ses", file);
  // Songs of a configuration of one of this session's classifiers.
  const std::string narrow = saved("narrow", [](vraSession&) {},
                                   "<s><similaritymethod module=\"overallsimilarity\"><classifier name=\"near\">"
                                   "<param key=\"feature\" value=\"F\"/><param key=\"mean\" value=\"1\"/>"
                                   "</classifier></similaritymethod><semanticlayer><class id=\"a\"><cfy id=\"near\"/>"
                                   "</class></semanticlayer></s>");
  const struct {
    std::string path;
    bool loads;
  } files[] = {{wide, true}, {nan, false}, {flipped, false}, {narrow, false}};
  for (const auto& f : files) {
    for (bool fresh : {true, false}) {
      SCOPED_TRACE(f.path + (fresh ? " fresh" : " merge"));
      Held<vraSession> s = session(fresh ? std::vector<float>{} : std::vector<float>{0, 1, 2});
      HostCallback callback;
      s->setCallback(&callback);
      const auto state = [&] {
        return std::string(s->getSessionId()) + " " + std::to_string(s->getSongCount()) + " " +
               std::to_string(s->getLastId()) + " " + std::to_string(s->getManager().session().getMetadata().size()) +
               " " + callback.log + (fresh ? "" : ranked(s->queryById(2, 10)));
      };
      const std::string before = state();
      testing::internal::CaptureStdout();
      if (fresh && f.loads) {
        s->loadSession(f.path.c_str());
        EXPECT_EQ(s->getSongCount(), 2u);
      } else {
        expectCode([&] { s->loadSession(f.path.c_str()); }, fresh ? 29 : 6);
        EXPECT_EQ(state(), before);
      }
      testing::internal::GetCapturedStdout();
    }
  }
}

// An add whose methods cannot meet the database (a partition tree naming
// songs no longer held) leaves the session as it was: no song, id, record
// or id-change event.
TEST(VraSession, FailedAddLeavesTheSessionAsItWas) {
  Held<vraSession> s = session({0, 1});
  HostCallback callback;
  s->setCallback(&callback);
  s->getManager().session().getGlobals().setTextFromFile("TRE", writeFile("tree.xml", "<t><node id=\"*\">1 2</node></t>"));
  s->removeSong(1), s->removeSong(2);
  for (uint32_t given : {0u, 1u, 9u}) {
    Held<vraSignature> signature = song(given, 1.0f, "new");
    EXPECT_THROW(s->addSignature(signature.get()), StandardException) << given;
    Held<vraIIDList> ids(s->getAllIds());
    EXPECT_EQ(std::to_string(ids->size()) + std::to_string(s->getLastId()) +
                  std::to_string(s->getManager().session().getMetadata().size()) + callback.log,
              "020");
    EXPECT_EQ(signature->toMultiSignature()->getTuid(), CSignatureID(given, 0));
  }
  s->getManager().session().getGlobals().setTextFromFile("TRE", writeFile("tree.xml", "<t><node id=\"*\">3</node></t>"));
  EXPECT_EQ(s->addSignature(song(0, 1.0f).get()), 3u);
}

// A session saved without metadata takes the metadata file of an earlier save
// with it, all or nothing: a later load with metadata does not give its songs
// the texts of others.
TEST(VraSessionFile, SaveWithoutMetadataTakesAnEarlierMetadataFile) {
  const std::string path = tempPath("s.ses"), metaPath = tempPath("s.meta");
  session({0, 1})->saveSession(path.c_str());
  const std::string records = readFile(metaPath);
  Held<vraSession> bare = session({5, 6, 7}, false);
  std::filesystem::create_directory(tempPath("held.ses"));
  writeFile("held.meta", records);
  EXPECT_EQ(codeWithin(0, [&] { bare->saveSession(tempPath("held.ses").c_str()); }), 3);
  bare->saveSession(path.c_str());
  EXPECT_EQ(readFile(tempPath("held.meta")) + std::to_string(std::filesystem::exists(metaPath)), records + "0");
  EXPECT_EQ(filesStartingWith(tempPath("held.")), (std::set<std::string>{"meta", "ses"}));
  Held<vraSession> loaded = session();
  EXPECT_ANY_THROW(loaded->loadSession(path.c_str()));
  EXPECT_EQ(loaded->getSongCount(), 0u);
}

// Every other file the library writes is put in place whole: a write cut
// short leaves the file of an earlier write as it was, and nothing beside it.
TEST(VraSessionFile, WritesCutShortLeaveEarlierFiles) {
  if (!kCanLimitFileSize) GTEST_SKIP() << "no file size limit here";
  Held<vraSession> s = session({0, 1, 2, 3, 4});
  Held<vraSignature> signature = song(0, 1.0f, "a title");
  const std::pair<std::string, std::function<void(const char*)>> writers[] = {
      {"sig", [&](const char* path) { signature->save(path); }},
      {"txt", [&](const char* path) { s->exportText(path, 127); }},
      {"riff", [&](const char* path) { s->exportSimilarityRiff(path, 3); }},
  };
  for (const auto& [extension, write] : writers) {
    const std::string path = writeFile("earlier." + extension, "an earlier " + extension);
    EXPECT_EQ(codeWithin(64, [&] { write(path.c_str()); }), 3) << extension;
    EXPECT_EQ(readFile(path), "an earlier " + extension);
    EXPECT_EQ(filesStartingWith(path), (std::set<std::string>{""})) << extension;
  }
}

namespace {

// Set while the file system is to have no hard links, as FAT has none.
bool linksFail = false;

constexpr bool kCanFailLinks =
#ifdef __linux__
    true;
#else
    false;
#endif

std::set<std::string> namesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// The four writers of files, each with the names of the files it writes
// for the path w.EXT: a session with its metadata file, a signature file and
// both exports.
struct FileWriters {
  struct Writer {
    std::vector<std::string> targets;
    std::function<void(const char*)> write;
  };
  Held<vraSession> s = session({0, 1, 2, 3, 4});
  Held<vraSignature> signature = song(0, 1.0f, "a title");
  const Writer all[4] = {
      {{"w.ses", "w.meta"}, [this](const char* path) { s->saveSession(path); }},
      {{"w.sig"}, [this](const char* path) { signature->save(path); }},
      {{"w.txt"}, [this](const char* path) { s->exportText(path, 127); }},
      {{"w.riff"}, [this](const char* path) { s->exportSimilarityRiff(path, 3); }},
  };
  const Writer* begin() const { return all; }
  const Writer* end() const { return all + 4; }
};

}  // namespace

#ifdef __linux__
// The library makes its hard links with linkat: this program's definition
// stands in for the system's, which it calls unless links are to fail.
extern "C" int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  if (linksFail) {
    errno = EPERM;
    return -1;
  }
  return static_cast<int>(syscall(SYS_linkat, fromFolder, from, toFolder, to, flags));
}
#endif

// Whatever stands at the names a write would stage its file under or keep
// the earlier file aside as, for this process's id, is neither written
// through nor removed: the write goes on under the next free names and
// succeeds, and someone's file, a hard link's file and a symbolic link's
// target stay as they were (a link that leads nowhere still does). Where the
// file system has no hard links (made so here on Linux only), the earlier
// file is copied aside past the taken names the same way.
TEST(VraSessionFile, WritesGoPastWhatStandsAtTheirNames) {
  namespace fs = std::filesystem;
  const FileWriters writers;
  enum class Plant { File, HardLink, SymbolicLink, LinkToNowhere };
  std::vector<Plant> plants = {Plant::File, Plant::HardLink};
#ifndef _WIN32
  plants.insert(plants.end(), {Plant::SymbolicLink, Plant::LinkToNowhere});
#endif
  const std::string pid = std::to_string(platform::currentProcessId());
  int round = 0;
  for (const bool noLinks : {false, kCanFailLinks})
    for (const Plant plant : plants)
      for (const auto& writer : writers) {
        const fs::path folder = tempPath("planted-" + std::to_string(++round));
        fs::create_directory(folder);
        std::ofstream(folder / "victim") << "the victim's";
        std::set<std::string> names = {"victim"};
        std::vector<fs::path> planted;
        for (const std::string& target : writer.targets) {
          std::ofstream(folder / target) << "earlier";
          names.insert(target);
          for (const char* suffix : {".tmp", ".1.tmp", ".old", ".1.old"}) {
            const fs::path name = folder / (target + "." + pid + suffix);
            if (plant == Plant::File) std::ofstream(name) << "someone's";
            if (plant == Plant::HardLink) fs::create_hard_link(folder / "victim", name);
            if (plant == Plant::SymbolicLink) fs::create_symlink("victim", name);
            if (plant == Plant::LinkToNowhere) fs::create_symlink("nowhere", name);
            names.insert(name.filename().string());
            planted.push_back(name);
          }
        }
        const std::string what = writer.targets[0] + " round " + std::to_string(round);
        linksFail = noLinks;
        writer.write((folder / writer.targets[0]).string().c_str());
        linksFail = false;
        for (const std::string& target : writer.targets) {
          const std::string written = readFile((folder / target).string());
          EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / target))) << what;
          EXPECT_TRUE(written != "earlier" && !written.empty()) << what;
        }
        EXPECT_EQ(readFile((folder / "victim").string()), "the victim's") << what;
        if (plant == Plant::File) {
          for (const fs::path& name : planted) EXPECT_EQ(readFile(name.string()), "someone's") << what;
        }
        EXPECT_EQ(namesIn(folder), names) << what;
      }
}

// A write goes to what its caller named, which stays what it is, with hard
// links or without: a symbolic link (or a chain of them) stays a link, and
// the file it leads to gets the bytes a plain file gets (a link that leads
// nowhere makes that file); a FIFO stays one and its reader gets them, also
// behind a link; a device stays a device; a descriptor reached through the
// system's link to it (/dev/fd/N) gets them after what it wrote. Nothing is
// left beside any of them.
TEST(VraSessionFile, WritesReachWhatTheirTargetIs) {
  namespace fs = std::filesystem;
  const FileWriters writers;
  const fs::path plain = tempPath("plain");
  fs::create_directory(plain);
  for (const auto& writer : writers) writer.write((plain / writer.targets[0]).string().c_str());
#ifdef _WIN32
  // Wine shows a Windows program no links; its null device is one.
  for (const auto& writer : writers) {
    EXPECT_EQ(codeWithin(0, [&] { writer.write("NUL"); }), 0) << writer.targets[0];
    EXPECT_FALSE(fs::exists("NUL." + std::to_string(platform::currentProcessId()) + ".tmp"));
  }
#else
  enum class Kind { Link, Chain, Nowhere, Fifo, LinkToFifo, LinkToDevice, Descriptor };
  int round = 0;
  for (const bool noLinks : {false, true})
    for (const Kind kind : {Kind::Link, Kind::Chain, Kind::Nowhere, Kind::Fifo, Kind::LinkToFifo, Kind::LinkToDevice,
                            Kind::Descriptor})
      for (const auto& writer : writers) {
        // A session's metadata file is named after the path: no descriptor has one.
        if (kind == Kind::Descriptor && writer.targets.size() > 1) continue;
        const std::string what = writer.targets[0] + " round " + std::to_string(++round);
        const fs::path folder = tempPath("kinds-" + std::to_string(round)), elsewhere = folder / "elsewhere";
        fs::create_directories(elsewhere);
        std::set<std::string> names = {"elsewhere"};
        std::string named = (folder / writer.targets[0]).string();
        std::vector<fs::path> fifos;
        int descriptor = -1;
        for (const std::string& target : writer.targets) {
          const fs::path at = folder / target, file = elsewhere / target;
          names.insert(target);
          if (kind != Kind::Nowhere && kind != Kind::Fifo && kind != Kind::LinkToFifo) std::ofstream(file) << "earlier";
          if (kind == Kind::Link || kind == Kind::Nowhere) fs::create_symlink("elsewhere/" + target, at);
          if (kind == Kind::Chain) {
            fs::create_symlink(fs::absolute(folder / ("to-" + target)), at);
            fs::create_symlink("elsewhere/" + target, folder / ("to-" + target));
            names.insert("to-" + target);
          }
          if (kind == Kind::LinkToDevice) fs::create_symlink("/dev/null", at);
          if (kind == Kind::Fifo || kind == Kind::LinkToFifo) {
            fifos.push_back(kind == Kind::Fifo ? at : file);
            if (kind == Kind::LinkToFifo) fs::create_symlink("elsewhere/" + target, at);
            ASSERT_EQ(mkfifo(fifos.back().c_str(), 0600), 0);
          }
          if (kind == Kind::Descriptor) {
            names.erase(target);
            descriptor = open(file.c_str(), O_WRONLY | O_APPEND);
            named = "/dev/fd/" + std::to_string(descriptor);
          }
        }
        std::vector<std::string> heard(fifos.size());
        std::vector<std::thread> readers;
        for (size_t i = 0; i < fifos.size(); ++i)
          readers.emplace_back([&heard, &fifos, i] { heard[i] = readFile(fifos[i].string()); });
        linksFail = noLinks;
        EXPECT_EQ(codeWithin(0, [&] { writer.write(named.c_str()); }), 0) << what;
        linksFail = false;
        if (descriptor >= 0) close(descriptor);
        // A reader still waiting for a writer that never came is let go.
        for (const fs::path& fifo : fifos) close(open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        for (std::thread& reader : readers) reader.join();
        for (size_t i = 0; i < writer.targets.size(); ++i) {
          const std::string bytes = readFile((plain / writer.targets[i]).string());
          const std::string at = (folder / writer.targets[i]).string(), file = (elsewhere / writer.targets[i]).string();
          const bool isFifo = kind == Kind::Fifo || kind == Kind::LinkToFifo;
          const std::string wanted = kind == Kind::LinkToDevice ? "earlier"
                                     : kind == Kind::Descriptor ? "earlier" + bytes
                                                                : bytes;
          EXPECT_EQ(isFifo ? heard[i] : readFile(file), wanted) << what;
          const fs::file_type type = kind == Kind::Fifo ? fs::file_type::fifo : fs::file_type::symlink;
          if (kind != Kind::Descriptor) {
            EXPECT_EQ(fs::symlink_status(at).type(), type) << what;
          }
        }
        EXPECT_EQ(namesIn(folder), names) << what;
        EXPECT_EQ(namesIn(elsewhere).size(), kind == Kind::Fifo ? 0 : writer.targets.size()) << what;
      }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A session file that leads to its own metadata file would be written over
  // by it (or removed with it, without metadata): neither changes.
  for (const bool metadata : {true, false}) {
    const std::string link = tempPath("self-" + std::to_string(metadata) + ".ses");
    const std::string records = writeFile("self-" + std::to_string(metadata) + ".meta", "the records");
    fs::create_symlink(fs::path(records).filename(), link);
    EXPECT_EQ(codeWithin(0, [&] { session({0, 1}, metadata)->saveSession(link.c_str()); }), 3) << metadata;
    EXPECT_EQ(readFile(link) + std::to_string(fs::is_symlink(link)), "the records1");
    EXPECT_EQ(filesStartingWith(link.substr(0, link.size() - 3)), (std::set<std::string>{"meta", "ses"}));
  }
#endif
}

// Where the file system has no hard links, the earlier files are copied
// aside while the new ones go in. A copy cut short (the disk full) fails the
// save, which leaves both earlier files as they were and no copy beside them.
TEST(VraSessionFile, CopyKeptAsideCutShortIsRemoved) {
  if (!kCanLimitFileSize || !kCanFailLinks) GTEST_SKIP() << "no file size limit or link failure here";
  const std::string path = tempPath("copied.ses"), metaPath = tempPath("copied.meta");
  Held<vraSession> earlier = session({0, 1, 2});
  earlier->addSignature(song(0, 3.0f, std::string(200000, 'x')).get());
  earlier->saveSession(path.c_str());
  const std::string before = readFile(path) + readFile(metaPath);
  Held<vraSession> s = session({5});
  s->saveSession(tempPath("small.ses").c_str());
  const size_t limit = std::max(readFile(tempPath("small.ses")).size(), readFile(tempPath("small.meta")).size()) + 1;
  ASSERT_GT(readFile(metaPath).size(), limit);
  linksFail = true;
  EXPECT_EQ(codeWithin(limit, [&] { s->saveSession(path.c_str()); }), 3);
  linksFail = false;
  EXPECT_EQ(readFile(path) + readFile(metaPath), before);
  EXPECT_EQ(filesStartingWith(tempPath("copied.")), (std::set<std::string>{"meta", "ses"}));
}

#ifndef _WIN32
namespace {

// What a write through a descriptor reaches: a file made new or appended to,
// a pipe or a socket. reader() gives what arrived once the writing end is
// closed.
struct Carrier {
  enum class Kind { NewFile, AppendedFile, Pipe, Socket };
  explicit Carrier(Kind kind, const std::string& file) : kind(kind), file(file) {
    int ends[2] = {-1, -1};
    if (kind == Kind::NewFile) writing = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (kind == Kind::AppendedFile) {
      std::ofstream(file) << "earlier";
      writing = open(file.c_str(), O_WRONLY | O_APPEND);
    }
    if (kind == Kind::Pipe) {
      EXPECT_EQ(pipe(ends), 0);
    }
    if (kind == Kind::Socket) {
      EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    }
    if (ends[0] >= 0) {
      writing = ends[1];
      reading = std::thread([this, from = ends[0]] {
        char chunk[4096];
        for (ssize_t n; (n = read(from, chunk, sizeof chunk)) > 0;) heard.append(chunk, static_cast<size_t>(n));
        close(from);
      });
    }
  }
  // What arrived, after closing the writing end.
  std::string received() {
    close(writing);
    if (reading.joinable()) reading.join();
    return kind == Kind::Pipe || kind == Kind::Socket ? heard : readFile(file);
  }
  Kind kind;
  std::string file;
  int writing = -1;
  std::thread reading;
  std::string heard;
};

}  // namespace

// An output named by one of the system's links to a descriptor of the caller
// (/dev/fd/N, /proc/self/fd/N, a link to either) is written through that
// descriptor, so it shares the caller's position: what the caller writes
// before and after the export lands before and after it, in a file made
// new, a file appended to, a pipe and a socket alike, and the bytes between
// are those of the export to a named file.
TEST(VraSessionFile, OutputsThroughADescriptorShareItsPosition) {
  namespace fs = std::filesystem;
  const FileWriters writers;
  const fs::path plain = tempPath("plain");
  fs::create_directory(plain);
  for (const auto& writer : writers) writer.write((plain / writer.targets[0]).string().c_str());
  enum class Name { DevFd, ProcSelf, Link };
  int round = 0;
  for (const auto& writer : writers) {
    // A session's metadata file is named after the path: no descriptor has one.
    if (writer.targets.size() > 1) continue;
    for (const auto kind :
         {Carrier::Kind::NewFile, Carrier::Kind::AppendedFile, Carrier::Kind::Pipe, Carrier::Kind::Socket})
      for (const Name name : {Name::DevFd, Name::ProcSelf, Name::Link}) {
        const std::string what = writer.targets[0] + " round " + std::to_string(++round);
        Carrier carrier(kind, tempPath("carrier-" + std::to_string(round)));
        const std::string number = std::to_string(carrier.writing);
        std::string named = (name == Name::DevFd ? "/dev/fd/" : "/proc/self/fd/") + number;
        if (name == Name::Link) {
          fs::create_symlink(named, tempPath("to-descriptor-" + std::to_string(round)));
          named = tempPath("to-descriptor-" + std::to_string(round));
        }
        ASSERT_EQ(::write(carrier.writing, "before|", 7), 7);
        EXPECT_EQ(codeWithin(0, [&] { writer.write(named.c_str()); }), 0) << what;
        ASSERT_EQ(::write(carrier.writing, "|after", 6), 6);
        const std::string earlier = kind == Carrier::Kind::AppendedFile ? "earlier" : "";
        EXPECT_EQ(carrier.received(), earlier + "before|" + readFile((plain / writer.targets[0]).string()) + "|after")
            << what;
      }
  }
}
#endif

namespace {

// Whom the files of the tests below belong to when the tests run as root.
constexpr unsigned kOtherUser = 65534;

// The code of call and what it said on the error stream, run as a user who
// may not write a file without write permission: root may write any, so
// where the tests run as root, call runs in a child process as another user.
std::pair<int, std::string> asUserWithoutRootsRights(const std::function<void()>& call) {
#ifdef _WIN32
  ::testing::internal::CaptureStderr();
  const int code = codeWithin(0, call);
  return {code, ::testing::internal::GetCapturedStderr()};
#else
  const std::string said = tempPath("said");
  const int into = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(into, STDERR_FILENO);
    if (geteuid() == 0 && (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0)) _exit(100);
    const int code = codeWithin(0, call);
    std::cerr.flush();
    _exit(code);
  }
  close(into);
  int status = 0;
  waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(said)};
#endif
}

// Gives path to the other user where the tests run as root, with mode.
void handOver(const std::filesystem::path& path, unsigned mode) {
#ifdef _WIN32
  // Without write bits the file gets the read-only attribute.
  std::filesystem::permissions(path, static_cast<std::filesystem::perms>(mode));
#else
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(path.c_str(), kOtherUser, kOtherUser), 0);
  }
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
#endif
}

}  // namespace

// A file that the caller may not write (as the system decides for it; on
// Windows, one with the read-only attribute) is not replaced by any writer,
// nor is either file of a session save when one of them is read-only: the
// write fails with code 3 and a line naming the file, and nothing is written.
TEST(VraSessionFile, FilesTheCallerMayNotWriteAreRefused) {
  namespace fs = std::filesystem;
  const FileWriters writers;
  int round = 0;
  for (const auto& writer : writers)
    for (const std::string& readOnly : writer.targets) {
      const std::string what = readOnly + " round " + std::to_string(++round);
      const fs::path folder = tempPath("refused-" + std::to_string(round));
      fs::create_directory(folder);
      handOver(folder, 0777);
      for (const std::string& target : writer.targets) {
        std::ofstream(folder / target) << "earlier";
        handOver(folder / target, target == readOnly ? 0444 : 0644);
      }
      const std::set<std::string> names = namesIn(folder);
      const std::string named = (folder / writer.targets[0]).string();
      const auto [code, said] = asUserWithoutRootsRights([&] { writer.write(named.c_str()); });
      EXPECT_EQ(code, 3) << what;
      for (const std::string& target : writer.targets) {
        EXPECT_EQ(readFile((folder / target).string()), "earlier") << what;
      }
      EXPECT_EQ(namesIn(folder), names) << what;
      const std::string refusal =
          " refused " + (folder / readOnly).string() + ", which the caller may not write; nothing written";
      EXPECT_NE(said.find(refusal), std::string::npos) << what << ": " << said;
    }
}

#ifndef _WIN32
// A replaced file keeps its permission bits, and its owner and group where
// the caller may set them (root: another user's); a new name gets the
// default.
TEST(VraSessionFile, ReplacedFilesKeepTheirPermissions) {
  namespace fs = std::filesystem;
  const FileWriters writers;
  const bool root = geteuid() == 0;
  const mode_t mask = umask(0);
  umask(mask);
  int round = 0;
  for (const unsigned mode : {0600u, 0640u, 0751u, 0666u & ~mask})
    for (const auto& writer : writers) {
      const std::string what = writer.targets[0] + " round " + std::to_string(++round);
      const fs::path folder = tempPath("kept-" + std::to_string(round)), fresh = folder / "fresh";
      fs::create_directories(fresh);
      for (const std::string& target : writer.targets) {
        std::ofstream(folder / target) << "earlier";
        handOver(folder / target, mode);
      }
      writer.write((folder / writer.targets[0]).string().c_str());
      writer.write((fresh / writer.targets[0]).string().c_str());
      for (const std::string& target : writer.targets) {
        struct stat kept {}, made {};
        ASSERT_EQ(stat((folder / target).c_str(), &kept), 0);
        ASSERT_EQ(stat((fresh / target).c_str(), &made), 0);
        EXPECT_NE(readFile((folder / target).string()), "earlier") << what;
        EXPECT_EQ(kept.st_mode & 07777, mode) << what;
        EXPECT_EQ(made.st_mode & 07777, 0666u & ~mask) << what;
        EXPECT_EQ(kept.st_uid, root ? kOtherUser : geteuid()) << what;
        EXPECT_EQ(kept.st_gid, root ? kOtherUser : getegid()) << what;
      }
    }
}

// A link is followed no further than the system follows links for the
// caller, whatever its setting: in a sticky folder that everyone may write,
// only the caller's own links and those of the folder's owner, at every
// step of a chain. Any other is refused with code 3 and a line naming it,
// and nothing is written.
TEST(VraSessionFile, LinksAreFollowedNoFurtherThanTheSystemWould) {
  namespace fs = std::filesystem;
  if (geteuid() != 0) GTEST_SKIP() << "another user's link needs root to make";
  const struct {
    unsigned folderMode, folderOwner, linkOwner;
    bool chain, followed;
  } cases[] = {
      {01777, 0, kOtherUser, false, false},  // another user's link in a folder like /tmp
      {01777, 0, kOtherUser, true, false},   // the same, reached through a link of the caller's
      {01777, kOtherUser, kOtherUser, false, true},  // the folder's owner's
      {01777, 0, 0, false, true},                    // the caller's own
      {00777, 0, kOtherUser, false, true},           // a folder that is not sticky
      {01775, 0, kOtherUser, false, true},           // nor one that others may not write
  };
  const FileWriters writers;
  int round = 0;
  for (const auto& c : cases)
    for (const auto& writer : writers) {
      const std::string what = writer.targets[0] + " round " + std::to_string(++round);
      const fs::path sticky = tempPath("sticky-" + std::to_string(round)),
                     victims = tempPath("victims-" + std::to_string(round)),
                     plain = tempPath("own-links-" + std::to_string(round));
      fs::create_directories(victims);
      fs::create_directories(plain);
      fs::create_directory(sticky);
      ASSERT_EQ(chown(sticky.c_str(), c.folderOwner, c.folderOwner), 0);
      ASSERT_EQ(chmod(sticky.c_str(), c.folderMode), 0);
      for (const std::string& target : writer.targets) {
        std::ofstream(victims / target) << "earlier";
        fs::create_symlink(victims / target, sticky / target);
        ASSERT_EQ(lchown((sticky / target).c_str(), c.linkOwner, c.linkOwner), 0);
        fs::create_symlink(sticky / target, plain / target);
      }
      const fs::path named = (c.chain ? plain : sticky) / writer.targets[0];
      ::testing::internal::CaptureStderr();
      const int code = codeWithin(0, [&] { writer.write(named.string().c_str()); });
      const std::string said = ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(code, c.followed ? 0 : 3) << what;
      for (const std::string& target : writer.targets) {
        EXPECT_EQ(readFile((victims / target).string()) == "earlier", !c.followed) << what;
        EXPECT_TRUE(fs::is_symlink(sticky / target)) << what;
      }
      EXPECT_EQ(namesIn(sticky).size(), writer.targets.size()) << what;
      const std::string refusal = "the link " + (sticky / writer.targets.back()).string() +
                                  ", in a sticky folder that others may write, belongs to another user; "
                                  "nothing written";
      EXPECT_EQ(said.find(refusal) != std::string::npos, !c.followed) << what << ": " << said;
    }
}
#endif
