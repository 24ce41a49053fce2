// What api/kivet.h lets a host run in parallel: threads that each make and
// use objects of their own. Every thread extracts the same songs, stores them
// in a session, queries it, saves it, loads it into a new session and into
// one made afresh by reinitialize, and queries again; each thread's answers
// are those of the same work done by one thread alone afterwards.
// scripts/test.sh runs this test built with ThreadSanitizer, which must find
// nothing.

#include <gtest/gtest.h>

#include <exception>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api/kivet.h"
#include "examples/demo_clips.h"
#include "tests/api/api_test_support.h"
#include "tests/support/demo_signatures.h"

using namespace vemra_kivet;
using apitest::Held;

namespace {

constexpr int kRate = 22050;
constexpr unsigned kThreads = 4;
constexpr unsigned kSongs = 4;
constexpr const char* kSimilarity = KIVET_CONFIG_DIR "/similarity.xml";

// Every song's title and its five nearest songs with their scores, exact to
// the bit.
void answer(vraISession& session, const std::vector<unsigned>& ids, std::ostream& out) {
  for (const unsigned id : ids) {
    out << Held<vraISong>(session.getSong(id))->getTitle(false) << ':';
    Held<vraIResultList> results(session.queryById(id, 5));
    for (unsigned i = 0; i < results->size(); ++i)
      out << ' ' << results->getResult(i).id << '/' << std::hexfloat << results->getResult(i).score;
    out << '\n';
  }
}

// The whole round of one thread; name keeps its session file apart.
std::string round(const std::vector<demo::Clip>& clips, const std::string& name) {
  std::ostringstream out;
  Held<vraISession> session(CreateSession(kSimilarity, true));
  std::vector<unsigned> ids;
  for (const demo::Clip& clip : clips) {
    Held<vraISignature> signature = demotest::signatureOf(clip, kRate);
    Held<vraISong>(signature->getSong())->setTitle(clip.title.c_str());
    ids.push_back(session->addSignature(signature.get()));
  }
  answer(*session, ids, out);
  Held<vraISignature> query = demotest::signatureOf(clips.back(), kRate);
  Held<vraIResultList> found(session->queryBySignature(query.get(), 1, false));
  out << "by signature: " << found->getResult(0).id << '\n';

  const std::string path = apitest::tempPath(name + ".ses");
  session->saveSession(path.c_str());
  Held<vraISession> loaded(CreateSession(kSimilarity, true));
  loaded->loadSession(path.c_str());
  answer(*loaded, ids, out);
  loaded->reinitialize();
  loaded->loadSession(path.c_str());
  answer(*loaded, ids, out);
  return out.str();
}

}  // namespace

// The threads start first, so that they also meet every first use of the
// process: the XML platform's initialisation and every object made on
// first use.
TEST(VraThreads, ObjectsOfTheirOwnAnswerAsInOneThread) {
  const std::vector<demo::Clip> all = demo::clips(kRate, 2.0);
  const std::vector<demo::Clip> clips(all.begin(), all.begin() + kSongs);
  std::vector<std::string> answers(kThreads);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      try {
        answers[t] = round(clips, "thread" + std::to_string(t));
      } catch (const std::exception& e) {
        answers[t] = std::string("failed: ") + e.what();
      }
    });
  for (std::thread& thread : threads) thread.join();
  const std::string alone = round(clips, "alone");
  ASSERT_NE(alone.find("by signature: " + std::to_string(kSongs)), std::string::npos) << alone;
  for (unsigned t = 0; t < kThreads; ++t) EXPECT_EQ(answers[t], alone) << "thread " << t;
}
