// The main job through the public interface alone: the demo's clips
// extracted with config/default.xml into a session configured by
// config/similarity.xml, then queried.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "examples/demo_clips.h"
#include "tests/api/api_test_support.h"
#include "tests/support/demo_signatures.h"

using namespace vemra_kivet;
using apitest::Held;

namespace {

constexpr int kRate = 22050;

Held<vraISignature> extract(demo::Clip clip, double noise = 0.0) {
  if (noise > 0.0) demo::addNoise(clip, noise, 99);
  Held<vraISignature> signature = demotest::signatureOf(clip, kRate);
  Held<vraISong>(signature->getSong())->setTitle((clip.title + (noise > 0.0 ? ", noisy" : "")).c_str());
  return signature;
}

// The ids of a query's results, best first.
std::vector<unsigned> ranked(vraIResultList* results) {
  Held<vraIResultList> held(results);
  std::vector<unsigned> ids;
  for (unsigned i = 0; i < held->size(); ++i) ids.push_back(held->getResult(i).id);
  return ids;
}

}  // namespace

TEST(VraSessionEndToEnd, EverySongIsStoredAndFoundNextToItsNoisyCopy) {
  const std::vector<demo::Clip> clips = demo::clips(kRate, 3.0);
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  std::map<std::string, unsigned> ids;
  for (const demo::Clip& clip : clips) ids[clip.title] = session->addSignature(extract(clip).get());
  ids["A minor chord, noisy"] = session->addSignature(extract(clips[3], 0.03).get());
  // A song that could not be adapted would be missing here.
  ASSERT_EQ(session->getSongCount(), clips.size() + 1);

  for (const auto& [title, id] : ids) {
    const std::vector<unsigned> found = ranked(session->queryById(id, 20));
    EXPECT_EQ(found.empty() ? 0u : found.front(), id) << title;
    EXPECT_EQ(Held<vraISong>(session->getSong(id))->getTitle(false), title);
  }
  const std::vector<unsigned> found = ranked(session->queryById(ids["A minor chord"], 20));
  const auto rank = [&](const char* title) { return std::find(found.begin(), found.end(), ids[title]) - found.begin(); };
  EXPECT_LT(rank("A minor chord, noisy"), std::min(rank("Noise swell"), rank("Click track")));

  // A query by a signature that is not stored finds its original first.
  const std::vector<unsigned> bySignature = ranked(session->queryBySignature(extract(clips[1], 0.01).get(), 5, false));
  EXPECT_EQ(bySignature.empty() ? 0u : bySignature.front(), ids["Gliding tone"]);
}

// Signatures the session cannot compare with its songs, of another extraction
// configuration and of another sampling rate (more spectrum-envelope bands),
// are refused.
TEST(VraSessionEndToEnd, SongsOfAnotherConfigurationOrRateAreRefused) {
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  for (int i : {1, 3}) session->addSignature(extract(demo::clips(kRate, 3.0)[i]).get());
  for (const auto& [config, rate] : {std::pair<const char*, unsigned>{KIVET_CONFIG_DIR "/mfcc.xml", kRate},
                                     std::pair<const char*, unsigned>{KIVET_CONFIG_DIR "/default.xml", 44100}}) {
    Held<vraISignature> other(CreateSignature(config, rate));
    const std::vector<short> pcm = demo::toPcm(demo::clips(static_cast<int>(rate), 3.0)[1]);
    other->addSamples(pcm.data(), static_cast<unsigned>(pcm.size()));
    testing::internal::CaptureStdout();
    apitest::expectCode([&] { session->addSignature(other.get()); }, 6);
    testing::internal::GetCapturedStdout();
  }
  EXPECT_EQ(session->getSongCount(), 2u);
}

// A signature too short for any frame to reach one of its features (no
// samples, 0.5 s, or 1.2 s, short of the 1.28 s that the modulation features
// group into a row) holds no data: saving it, adding it and querying by it
// raise code 6, and neither the file nor the session changes.
TEST(VraSessionEndToEnd, SignaturesWithoutDataAreInvalid) {
  Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  const unsigned stored = session->addSignature(extract(demo::clips(kRate, 3.0)[1]).get());
  const std::vector<short> pcm = demo::toPcm(demo::clips(kRate, 2.0)[1]);
  const std::string path = apitest::writeFile("short.sig", "an earlier signature file");
  for (const double seconds : {0.0, 0.5, 1.2}) {
    Held<vraISignature> signature(CreateSignature(KIVET_CONFIG_DIR "/default.xml", kRate));
    const auto count = static_cast<unsigned>(seconds * kRate);
    if (count > 0) signature->addSamples(pcm.data(), count);
    apitest::expectCode([&] { signature->save(path.c_str()); }, 6);
    apitest::expectCode([&] { session->addSignature(signature.get()); }, 6);
    apitest::expectCode([&] { session->queryBySignature(signature.get(), 5, true); }, 6);
    EXPECT_EQ(apitest::readFile(path), "an earlier signature file") << seconds;
    EXPECT_EQ(session->getSongCount(), 1u) << seconds;
  }
  EXPECT_EQ(ranked(session->queryById(stored, 5)), std::vector<unsigned>{stored});
}

namespace {

// What keeps a listed song from being fetched, queried by its id (and found
// first) or exported; empty when nothing does.
std::string unusableSongs(vraISession& session, const std::string& exportPath) {
  std::string found;
  try {
    for (unsigned i = 0; i < session.getSongCount(); ++i) {
      found = "song at " + std::to_string(i);
      const unsigned id = Held<vraISong>(session.getSongAt(i))->getId();
      found += ", id " + std::to_string(id);
      const std::vector<unsigned> similar = ranked(session.queryById(id, 5));
      if (similar.empty() || similar.front() != id) return found + " not found first";
    }
    found = "export";
    session.exportText(exportPath.c_str(), 127);
  } catch (const vraKivetException& e) {
    return found + ": code " + std::to_string(e.getCode());
  }
  return "";
}

}  // namespace

// Each byte of each stored song id (the 8 bytes of every entry's "Tuid"
// frame) flipped by 0xFF and by 0x01, and the file loaded fresh and merged
// into a session holding a song of its own: the load raises code 29 having
// taken fewer songs, or takes them all; either way every song it lists can be
// fetched, queried and exported.
TEST(VraSessionEndToEnd, FlippedSongIdBytesLoadAsDamagedOrWhole) {
  const std::vector<demo::Clip> clips = demo::clips(kRate, 3.0);
  Held<vraISession> saved(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
  for (int i = 0; i < 4; ++i) saved->addSignature(extract(clips[i]).get());
  const std::string path = apitest::tempPath("ids.ses");
  saved->saveSession(path.c_str());
  const std::string file = apitest::readFile(path);
  apitest::writeFile("flipped.meta", apitest::readFile(apitest::tempPath("ids.meta")));
  // A frame of the signature stream: tag length, tag, data length, data.
  const std::string tuid("\x04Tuid\x08", 6);
  std::vector<size_t> idBytes;
  for (size_t at = file.find(tuid); at != std::string::npos; at = file.find(tuid, at + 1))
    for (size_t b = 0; b < 8; ++b) idBytes.push_back(at + tuid.size() + b);
  ASSERT_EQ(idBytes.size(), 4u * 8u);

  const Held<vraISignature> resident = extract(clips[4]);
  const std::string exported = apitest::tempPath("flipped.txt");
  for (const size_t at : idBytes) {
    for (const unsigned mask : {0xFFu, 0x01u}) {
      std::string damaged = file;
      damaged[at] = static_cast<char>(damaged[at] ^ mask);
      const std::string flipped = apitest::writeFile("flipped.ses", damaged);
      for (const bool merge : {false, true}) {
        SCOPED_TRACE("byte " + std::to_string(at) + " ^ " + std::to_string(mask) + (merge ? " merged" : " fresh"));
        Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
        if (merge) session->addSignature(resident.get());
        const unsigned whole = session->getSongCount() + 4;
        int code = 0;
        testing::internal::CaptureStdout();
        try {
          session->loadSession(flipped.c_str());
        } catch (const vraKivetException& e) {
          code = e.getCode();
        }
        testing::internal::GetCapturedStdout();
        const unsigned count = session->getSongCount();
        if (code == 29)
          EXPECT_LT(count, whole);
        else
          EXPECT_EQ(std::to_string(code) + " " + std::to_string(count), "0 " + std::to_string(whole));
        EXPECT_EQ(unusableSongs(*session, exported), "");
      }
    }
  }
}
