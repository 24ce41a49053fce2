#include "com/co_signature.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "com/co_kivet_local.h"
#include "tests/api/api_test_support.h"
#include "tests/com/com_test_support.h"

using namespace vemra_kivet;
using apitest::Held;
using comtest::Bstr;
using comtest::ComRef;

namespace {

// A signature made the way a host makes one: through the root object.
class CoSignature : public comtest::ComServerTest {
 protected:
  void SetUp() override {
    ComServerTest::SetUp();
    IKivetLocal* local = new coKivetLocal;
    const Bstr config = comtest::asciiBstr(apitest::writeFile("raw.xml", apitest::rawFramesConfig()));
    ASSERT_EQ(local->CreateSignature(config.get(), 44100, signature.out()), S_OK);
    local->Release();
  }
  void TearDown() override {
    signature.reset();
    ComServerTest::TearDown();
  }
  ComRef<ISignature> signature;
};

}  // namespace

TEST_F(CoSignature, SamplesReachTheSavedSignature) {
  ComRef<ISong> song;
  ASSERT_EQ(signature->GetSong(song.out()), S_OK);
  ASSERT_EQ(song->SetTitle(Bstr(u"Caf\u00E9").get()), S_OK);

  const std::vector<short> samples = apitest::ramp(1000);
  ASSERT_EQ(signature->AddSamples(samples.data(), 1000), S_OK);  // two frames of 441
  const std::string path = apitest::tempPath("saved.sig");
  ASSERT_EQ(signature->Save(comtest::asciiBstr(path).get()), S_OK);

  CAudioSignMulti saved;
  std::ifstream in(path, std::ios::binary);
  saved.read(in, nullptr);
  const HeapMatrix<float>& rows = apitest::featureMatrix(saved, "PCM");
  ASSERT_EQ(rows.rows, 2u);
  ASSERT_EQ(rows.cols, 441u);
  for (unsigned i = 0; i < 882; ++i) ASSERT_EQ(rows.data[i], samples[i] / 32768.0f) << i;
  // The ANSI title went in as Latin-1 and is kept as UTF-8; 1000 samples at
  // 44100 Hz are 22 ms.
  EXPECT_EQ(apitest::metaText(saved, "TIT2"), "Caf\xC3\xA9");
  EXPECT_EQ(apitest::metaText(saved, "TLEN"), "22");

  // Loaded back, the file is written out unchanged.
  ASSERT_EQ(signature->Load(comtest::asciiBstr(path).get()), S_OK);
  const std::string again = apitest::tempPath("again.sig");
  EXPECT_EQ(signature->Save(comtest::asciiBstr(again).get()), S_OK);
  EXPECT_EQ(apitest::readFile(again), apitest::readFile(path));
}

TEST_F(CoSignature, FailuresArriveAsHresults) {
  const std::vector<short> samples = apitest::ramp(441);
  const std::string missingDir = apitest::tempPath("no-such-dir") + "/x.sig";
  const struct {
    const char* what;
    HRESULT result;
    uint32_t expected;
  } cases[] = {
      // A signature without data: code 6.
      {"save without samples", signature->Save(comtest::asciiBstr(apitest::tempPath("empty.sig")).get()), 0x80040206u},
      {"load of a missing file", signature->Load(comtest::asciiBstr(apitest::tempPath("missing.sig")).get()), 0x80040202u},
      {"load of no path", signature->Load(nullptr), 0x80040202u},
      {"samples without a buffer", signature->AddSamples(nullptr, 4), 0x8004020Du},
      {"no samples", signature->AddSamples(nullptr, 0), 0u},
      {"samples", signature->AddSamples(samples.data(), 441), 0u},
      {"save into a missing folder", signature->Save(comtest::asciiBstr(missingDir).get()), 0x80040203u},
  };
  for (const auto& c : cases) EXPECT_EQ(static_cast<uint32_t>(c.result), c.expected) << c.what;
}

TEST_F(CoSignature, DownmixStereo) {
  const short stereo[] = {1, 2, -1, -2, 32767, 32767, -32768, -32767};
  const std::vector<short> untouched(4, 7);
  const struct {
    const short* stereo;
    unsigned count;
    bool withMono;
    uint32_t result;
    std::vector<short> mono;
  } cases[] = {
      {stereo, 8, true, 0, {1, -1, 32767, -32767}}, {stereo, 0, false, 0, untouched},
      {stereo, 3, true, 0x8004020Eu, untouched},     {nullptr, 4, true, 0x8004020Du, untouched},
      {stereo, 4, false, 0x8004020Du, untouched},
  };
  for (const auto& c : cases) {
    std::vector<short> mono(4, 7);
    EXPECT_EQ(static_cast<uint32_t>(signature->DownmixStereo(c.stereo, c.count, c.withMono ? mono.data() : nullptr)),
              c.result)
        << c.count;
    EXPECT_EQ(mono, c.mono) << c.count;
  }
}

TEST_F(CoSignature, SongKeepsItsSignatureAlive) {
  ComRef<ISong> song;
  ASSERT_EQ(signature->GetSong(song.out()), S_OK);
  ComRef<ISong> again;
  ASSERT_EQ(signature->GetSong(again.out()), S_OK);
  EXPECT_EQ(song.get(), again.get());
  again.reset();
  void* other = nullptr;
  EXPECT_EQ(song->QueryInterface(IID_ISignature, &other), E_NOINTERFACE);
  EXPECT_EQ(signature->GetSong(nullptr), E_POINTER);
  // Only the server's own signatures answer their private identifier.
  EXPECT_EQ(ownObject<coSignature>(signature.get(), IID_coSignature), signature.get());
  EXPECT_EQ(ownObject<coSignature>(song.get(), IID_coSignature), nullptr);
  EXPECT_EQ(ownObject<coSignature>(nullptr, IID_coSignature), nullptr);

  // The host lets the signature go first: the song still works, and the
  // signature goes with the song's last reference.
  signature.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(song->SetArtist(Bstr(u"Ma\u00EFa").get()), S_OK);
  Bstr artist;
  EXPECT_EQ(song->GetArtistLatin1(artist.out()), S_OK);
  EXPECT_EQ(artist.str(), u"Ma\u00EFa");
  song.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// The other order: the song goes first, and the signature keeps its record.
TEST_F(CoSignature, SongReleasedBeforeItsSignature) {
  ComRef<ISong> song;
  ASSERT_EQ(signature->GetSong(song.out()), S_OK);
  ASSERT_EQ(song->SetTitle(Bstr(u"first").get()), S_OK);
  song.reset();
  ASSERT_EQ(signature->GetSong(song.out()), S_OK);
  Bstr title;
  EXPECT_EQ(song->GetTitle(title.out()), S_OK);
  EXPECT_EQ(title.str(), u"first");
  song.reset();
  signature.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(CoSignature, SongTextsCrossTheAnsiCodePage) {
  ComRef<ISong> song;
  ASSERT_EQ(signature->GetSong(song.out()), S_OK);
  Held<vraISong> inner(static_cast<coSignature*>(signature.get())->inner().getSong());
  using Setter = HRESULT (STDMETHODCALLTYPE ISong::*)(BSTR);
  using Getter = HRESULT (STDMETHODCALLTYPE ISong::*)(BSTR*);
  using Stored = const char* (vraISong::*)(bool);
  const struct {
    Setter set;
    Getter get;
    Getter getLatin1;
    Stored stored;
    const char16_t* given;
    const char* utf8;
    const char16_t* utf8AsAnsi;
    const char16_t* latin1;
  } cases[] = {
      // Latin-1 in, stored as UTF-8: the plain getter gives its two bytes.
      {&ISong::SetTitle, &ISong::GetTitle, &ISong::GetTitleLatin1, &vraISong::getTitle, u"Caf\u00E9", "Caf\xC3\xA9",
       u"Caf\u00C3\u00A9", u"Caf\u00E9"},
      // The euro sign is byte 0x80 of the code page, stored as C2 80.
      {&ISong::SetArtist, &ISong::GetArtist, &ISong::GetArtistLatin1, &vraISong::getArtist, u"5\u20AC", "5\xC2\x80",
       u"5\u00C2\u20AC", u"5\u20AC"},
      // Bytes that make UTF-8 are taken as such: C3 A9 is stored as it is.
      {&ISong::SetArtist, &ISong::GetArtist, &ISong::GetArtistLatin1, &vraISong::getArtist, u"\u00C3\u00A9",
       "\xC3\xA9", u"\u00C3\u00A9", u"\u00E9"},
      // A character the code page lacks arrives as '?'.
      {&ISong::SetExtraText, &ISong::GetExtraText, &ISong::GetExtraTextLatin1, &vraISong::getExtraText, u"a\u4E2Db",
       "a?b", u"a?b", u"a?b"},
      // A null BSTR is the empty text.
      {&ISong::SetFileName, &ISong::GetFileName, &ISong::GetFileNameLatin1, &vraISong::getFileName, nullptr, "", u"",
       u""},
      // An emoji cannot cross the code page, but the code page's bytes of its
      // UTF-8 form ("ðŸŽµ", F0 9F 8E B5) do: they are kept as UTF-8 and come
      // back as they went; the Latin-1 getter drops the character.
      {&ISong::SetTitle, &ISong::GetTitle, &ISong::GetTitleLatin1, &vraISong::getTitle,
       u"\u00F0\u0178\u017D\u00B5 Night Drive", "\xF0\x9F\x8E\xB5 Night Drive",
       u"\u00F0\u0178\u017D\u00B5 Night Drive", u" Night Drive"},
  };
  for (const auto& c : cases) {
    const Bstr given = c.given ? Bstr(c.given) : Bstr();
    ASSERT_EQ((song.get()->*c.set)(given.get()), S_OK);
    EXPECT_EQ(std::string((inner.get()->*c.stored)(false)), c.utf8);
    Bstr text;
    ASSERT_EQ((song.get()->*c.get)(text.out()), S_OK);
    EXPECT_EQ(text.str(), c.utf8AsAnsi);
    ASSERT_EQ((song.get()->*c.getLatin1)(text.out()), S_OK);
    EXPECT_EQ(text.str(), c.latin1);
    EXPECT_NE(text.get(), nullptr);
    EXPECT_EQ((song.get()->*c.get)(nullptr), E_POINTER);
  }
  unsigned id = 7;
  int value = 7;
  EXPECT_EQ(song->GetId(&id), S_OK);
  EXPECT_EQ(song->GetSongValue(&value), S_OK);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(song->GetLength(nullptr), E_POINTER);
}
