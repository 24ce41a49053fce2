#include "com/co_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>

#include "com/co_kivet_local.h"
#include "tests/api/api_test_support.h"
#include "tests/com/com_test_support.h"
#include "tests/support/similarity_songs.h"

using namespace vemra_kivet;
using apitest::tempPath;
using comtest::asciiBstr;
using comtest::Bstr;
using comtest::ComRef;
using comtest::HostCallback;
using comtest::u32;

namespace {

// Sessions of the test configuration made through the root object, as a host
// makes them, and the test songs loaded into signature objects of the server.
class CoSession : public comtest::ComServerTest {
 protected:
  void SetUp() override {
    ComServerTest::SetUp();
    *local.out() = new coKivetLocal;
  }
  void TearDown() override {
    local.reset();
    ComServerTest::TearDown();
  }

  ComRef<ISession> session(LONG metadata, const std::vector<float>& values) {
    ComRef<ISession> made;
    EXPECT_EQ(local->CreateSession(asciiBstr(config).get(), metadata, made.out()), S_OK);
    for (size_t i = 0; i < values.size(); ++i)
      EXPECT_EQ(add(made.get(), 0, values[i], "title " + std::to_string(i + 1)), i + 1);
    return made;
  }
  ComRef<ISignature> signature(uint32_t id, float value, const std::string& title) {
    std::ostringstream bytes;
    songs::song(id, value, title)->write(bytes);
    ComRef<ISignature> made;
    EXPECT_EQ(local->CreateSignature(asciiBstr(rawConfig).get(), 44100, made.out()), S_OK);
    EXPECT_EQ(made->Load(asciiBstr(apitest::writeFile("song.sig", bytes.str())).get()), S_OK);
    return made;
  }
  unsigned add(ISession* to, uint32_t id, float value, const std::string& title = "") {
    unsigned stored = 0;
    EXPECT_EQ(to->AddSignature(signature(id, value, title).get(), &stored), S_OK);
    return stored;
  }

  const std::string config = apitest::writeFile("config.xml", songs::kConfiguration);
  const std::string rawConfig = apitest::writeFile("raw.xml", apitest::rawFramesConfig());
  ComRef<IKivetLocal> local;
};

// The ids of a result list, best first; the list is released.
std::string ranked(HRESULT result, ComRef<IResultList>& results) {
  if (FAILED(result)) return "error";
  unsigned count = 0, id = 0;
  float score = 0;
  std::string ids;
  EXPECT_EQ(results->GetCount(&count), S_OK);
  for (unsigned i = 0; i < count; ++i) ids += (results->GetAt(i, &id, &score), std::to_string(id)) + " ";
  EXPECT_EQ(u32(results->GetAt(count, &id, &score)), 0x8004020Au);
  results.reset();
  return ids;
}

// A text file read in text mode, as the text export writes it, and closed
// again: Windows does not replace a file that is open.
std::string textFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string title(ISong* song) {
  Bstr text;
  EXPECT_EQ(song->GetTitle(text.out()), S_OK);
  const std::u16string units = text.str();
  return std::string(units.begin(), units.end());
}

}  // namespace

TEST_F(CoSession, MethodsForwardAndReportTheirCodes) {
  ComRef<ISession> s = session(1, {0, 1, 5});
  comtest::HostObject foreign;
  ComRef<IResultList> results;
  ComRef<IIDList> ids;
  ComRef<ISong> song;
  unsigned value = 7;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* what;
    HRESULT result;
    uint32_t expected;
  } cases[] = {
      {"ContainsId 3", s->ContainsId(3), 0},
      {"ContainsId 9", s->ContainsId(9), 0x80004005u},
      {"AddSignature of a host's object", s->AddSignature(&foreign, &value), 0x80040206u},
      {"AddSignature of none", s->AddSignature(nullptr, &value), 0x80040206u},
      {"ReplaceSignature of a host's object", s->ReplaceSignature(1, &foreign), 0x80040206u},
      // Signatures of the server that the session cannot compare with its songs.
      {"AddSignature of a song valued NaN", s->AddSignature(signature(0, nan, "").get(), &value), 0x80040206u},
      {"ReplaceSignature by a song valued NaN", s->ReplaceSignature(1, signature(0, nan, "").get()), 0x80040206u},
      {"QueryBySignature of a host's object", s->QueryBySignature(&foreign, 5, FALSE, results.out()), 0x80040206u},
      {"QueryBySignature of a song valued NaN", s->QueryBySignature(signature(0, nan, "").get(), 5, FALSE, results.out()),
       0x80040206u},
      {"SetWhitelist of a host's list", s->SetWhitelist(&foreign), 0x80040217u},
      {"GetSong 9", s->GetSong(9, song.out()), 0x8004020Bu},
      {"RemoveSong 9", s->RemoveSong(9), 0x8004020Bu},
      {"RemoveSongAt 3", s->RemoveSongAt(3), 0x8004020Au},
      {"GetWeightKey 0", s->GetWeightKey(0, &value), 0x8004020Eu},
      {"SetWeight", s->SetWeight(1, 100), 0x8004020Eu},
      {"GetWeight", s->GetWeight(1, &value), 0x8004020Eu},
      {"Unimplemented", s->Unimplemented(1, 2, 3, 4, 5), 1},
      {"RIFF of 3 songs", s->ExportSimilarityRiff(asciiBstr(tempPath("x.riff")).get(), 3), 0x8004021Bu},
      // Merged into a session with songs: the store's own failure, no code.
      {"Load of no path", s->Load(nullptr), 0x80040201u},
      {"Save into no folder", s->Save(asciiBstr(tempPath("none") + "/x.ses").get()), 0x80040203u},
      {"Save as its own metadata file", s->Save(asciiBstr(tempPath("x.meta")).get()), 0x80040203u},
      {"GetSongCount out of reach", s->GetSongCount(nullptr), 0x80004003u},
      {"GetSongByFileName of none", s->GetSongByFileName(asciiBstr("9.wav").get(), song.out()), 1},
  };
  for (const auto& c : cases) EXPECT_EQ(u32(c.result), c.expected) << c.what;
  EXPECT_EQ(results.get(), nullptr);
  EXPECT_EQ(song.get(), nullptr);

  // Queries and lists: song 1 (value 0) is nearest to 2 (value 1); a
  // signature added by its query is not among the results.
  EXPECT_EQ(ranked(s->QueryById(1, 10, results.out()), results), "1 2 3 ");
  EXPECT_EQ(ranked(s->QueryBySignature(signature(0, 4.5f, "").get(), 2, TRUE, results.out()), results), "3 2 ");
  EXPECT_EQ(ranked(s->QueryById(4, 2, results.out()), results), "4 3 ");
  ASSERT_EQ(s->GetAllIds(ids.out()), S_OK);
  unsigned count = 0, last = 0;
  EXPECT_EQ(ids->GetCount(&count), S_OK);
  EXPECT_EQ(ids->GetAt(count - 1, &last), S_OK);
  EXPECT_EQ(count * 10 + last, 44u);
  ASSERT_EQ(s->GetSongAt(1, song.out()), S_OK);
  EXPECT_EQ(title(song.get()), "title 2");
}

TEST_F(CoSession, WhitelistIsHeldWhileSet) {
  ComRef<ISession> s = session(1, {0, 1, 5});
  ComRef<IIDList> list;
  ComRef<IResultList> results;
  ASSERT_EQ(local->CreateIDList(list.out()), S_OK);
  list->Add(3), list->Add(1), list->Add(3);
  ASSERT_EQ(s->SetWhitelist(list.get()), S_OK);
  list.reset();  // the host lets go: the session still reads the list
  EXPECT_EQ(ranked(s->QueryById(1, 10, results.out()), results), "1 3 ");
  EXPECT_EQ(u32(s->QueryById(2, 10, results.out())), 0x80040219u);
  EXPECT_EQ(s->ClearWhitelist(), S_OK);
  EXPECT_EQ(ranked(s->QueryById(2, 10, results.out()), results), "2 1 3 ");
  // A list with an id the session lacks is refused and stays set; the session
  // goes with it set.
  ASSERT_EQ(local->CreateIDList(list.out()), S_OK);
  list->Add(9);
  EXPECT_EQ(u32(s->SetWhitelist(list.get())), 0x8004021Au);
  EXPECT_EQ(u32(s->QueryById(1, 10, results.out())), 0x80040219u);
}

TEST_F(CoSession, HostCallbackGivesTextsAndHearsChanges) {
  HostCallback first, second;
  ComRef<ISession> s = session(0, {0, 1, 5});
  ASSERT_EQ(s->SetCallback(&first), S_OK);
  EXPECT_EQ(add(s.get(), 2, 2), 4u);  // id 2 is taken
  EXPECT_EQ(add(s.get(), 0, 3), 5u);
  ASSERT_EQ(s->SetCallback(&second), S_OK);  // the first adapter goes
  ComRef<ISong> song;
  ASSERT_EQ(s->GetSongByFileName(asciiBstr("3.wav").get(), song.out()), S_OK);
  EXPECT_EQ(title(song.get()), "Title 3");
  second.unknown = 2;

  const std::string text = tempPath("songs.txt");
  ASSERT_EQ(s->ExportText(asciiBstr(text).get(), 127), S_OK);
  const std::string lines = textFile(text);
  EXPECT_EQ(lines.substr(lines.find('\n') + 1),
            "1;\"Artist 1\";\"Title 1\";1;\"1.wav\";\"\";11;0;\n3;\"Artist 3\";\"Title 3\";3;\"3.wav\";\"\";13;0;\n"
            "4;\"Artist 4\";\"Title 4\";4;\"4.wav\";\"\";14;0;\n5;\"Artist 5\";\"Title 5\";5;\"5.wav\";\"\";15;0;\n");
  // The unknown song 2 is left out; the second extra number is never asked.
  EXPECT_EQ(first.log, "2>4 ");
  EXPECT_EQ(second.log, "20% 60% 80% 100% ");

  // Every getter is asked whatever the mask writes: one the host answers
  // with E_NOTIMPL leaves every song out, and the export succeeds.
  second.extraTextNotImplemented = true;
  ASSERT_EQ(s->ExportText(asciiBstr(text).get(), 3), S_OK);
  const std::string headerOnly = textFile(text);
  EXPECT_EQ(headerOnly.rfind("#SESSION-ID=", 0), 0u);
  EXPECT_EQ(std::count(headerOnly.begin(), headerOnly.end(), '\n'), 1);
  second.extraTextNotImplemented = false;

  second.failing = true;
  const HRESULT failed = s->ExportText(asciiBstr(text).get(), 1);
  Bstr message;
  EXPECT_EQ(local->GetErrorMessage(failed, message.out()), S_OK);
  EXPECT_EQ(message.str(), u"Callback host-error");
  ASSERT_EQ(s->SetCallback(nullptr), S_OK);
  EXPECT_EQ(u32(s->ExportText(asciiBstr(text).get(), 1)), 0x80040210u);  // no texts at all
  ASSERT_EQ(s->SetCallback(&first), S_OK);  // goes with the session
}

TEST_F(CoSession, SavedSessionLoadsIntoOneWithoutConfiguration) {
  ComRef<ISession> s = session(1, {0, 1});
  const std::string path = tempPath("two.ses");
  ASSERT_EQ(s->Save(asciiBstr(path).get()), S_OK);
  Bstr savedId, loadedId;
  ASSERT_EQ(s->GetSessionId(savedId.out()), S_OK);

  ComRef<ISession> loaded;
  ComRef<IResultList> results;
  ASSERT_EQ(local->CreateSession(nullptr, 1, loaded.out()), S_OK);
  EXPECT_EQ(u32(loaded->QueryById(1, 10, results.out())), 0x8004020Bu);
  EXPECT_EQ(u32(loaded->Load(nullptr)), 0x80040202u);
  ASSERT_EQ(loaded->Load(asciiBstr(path).get()), S_OK);
  ASSERT_EQ(loaded->GetSessionId(loadedId.out()), S_OK);
  EXPECT_EQ(loadedId.str(), savedId.str());
  EXPECT_EQ(ranked(loaded->QueryById(2, 10, results.out()), results), "2 1 ");
}
