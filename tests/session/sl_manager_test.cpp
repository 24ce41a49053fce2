#include "session/sl_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "session/event_handler.h"
#include "tests/support/expect_message.h"
#include "tests/support/similarity_songs.h"
#include "tests/support/temp_files.h"

namespace {

// Songs of the values 0, 1, ... under ids 1, 2, ..., with the methods attached.
std::unique_ptr<SLManager> manager(unsigned songCount, const std::string& configuration = songs::kConfiguration) {
  auto m = std::make_unique<SLManager>(new SLManagerDefaultEventHandler);
  m->loadConfiguration(testfiles::writeFile("c.xml", configuration));
  for (unsigned i = 0; i < songCount; ++i) m->adaptAndStore(*songs::song(i + 1, static_cast<float>(i)));
  m->initMethods();
  return m;
}

// The ids of the fused list, or "name:size" of every list of the chain.
std::string lists(const SimilarityList& head, bool fused) {
  std::string text;
  for (const auto& entry : head) text += fused ? std::to_string(entry.second.id) + " " : "";
  for (const SimilarityList* list = &head; !fused && list != nullptr; list = list->nextList())
    text += list->name + ":" + std::to_string(list->size()) + " ";
  return text;
}

std::string methods(const SLManager& m) {
  std::string names;
  for (const auto& [name, method] : m.getMethods()) {
    std::set<std::string> classifiers;
    method->collectClassifierIds(classifiers);
    names += name + "(";
    for (const std::string& c : classifiers) names += c + ",";
    names += ") ";
  }
  return names;
}

const std::string kOverall =
    "<similaritymethod module=\"overallsimilarity\"><classifier name=\"a\"/></similaritymethod>";

}  // namespace

TEST(SLManager, ReadsMethodsParameterizationAndSemanticLayer) {
  const std::string layer = "<semanticlayer><class id=\"s\"><cfy id=\"a\"/></class></semanticlayer>";
  const std::string noLayer = "SLManager::loadConfiguration() more than one or no semantic layer given!\n";
  const struct {
    std::string body, methods, printed;
  } cases[] = {
      {kOverall + "<similaritymethod module=\"aspectsimilarity\"/>" + layer + layer,
       "aspectsimilarity() overallsimilarity(a,) ", noLayer},
      {kOverall + "<similaritymethod module=\"other\"/><similaritymethod name=\"x\"/><similaritymethod/>" + layer,
       "overallsimilarity(a,) ", ""},
      {kOverall + "<similaritymethod module=\"overallsimilarity\"><classifier name=\"b\"/></similaritymethod>",
       "overallsimilarity(a,) ", noLayer},
      // A classifier outside any method still names one for the parameterisation.
      {kOverall + "<classifier name=\"loose\"/><parameterization min=\"0\" max=\"1\"><parameter name=\"p\" value=\"0\">"
                  "<cfy name=\"loose\"/></parameter></parameterization>" + layer,
       "overallsimilarity(a,) ", ""},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(methods(*manager(0, "<r>" + c.body + "</r>")), c.methods) << c.body;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.body;
  }
}

TEST(SLManager, ConfigurationFileIsKeptAndParseFailuresAreReportedAndRaised) {
  const std::string good = testfiles::writeFile("good.xml", songs::kConfiguration);
  const std::string bad = testfiles::writeFile("bad.xml", "<r>\n<similaritymethod></r>");
  const std::string folder = ::testing::TempDir();
  SLManager m(nullptr);
  m.loadConfiguration(good);
  const struct {
    std::function<void()> load;
    std::string reported, raised;
  } cases[] = {
      {[&] { m.loadConfiguration(good + "x"); }, "", "SLManager::loadConfiguration() file not found: " + good + "x"},
      {[&] { m.loadConfiguration(folder); }, "", "SLManager::loadConfiguration() file not found: " + folder},
      {[&] { m.loadConfiguration(bad); }, "\nDOM Error during parsing: '" + bad + "'\nDOMException code is:  81\n",
       "SLManager::loadConfiguration() file " + bad + " is not well-formed XML: line 2, column 21: "},
      {[&] { m.loadConfiguration("<r>", 3); }, "\nDOM Error during parsing memory config\nDOMException code is:  81\n",
       "SLManager::loadConfiguration() the stored configuration is not well-formed XML: line 1, column 4: "},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    try {
      c.load();
      ADD_FAILURE() << "no failure";
    } catch (const StandardException& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.raised.size()), c.raised);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.reported);
  }
  // The bytes of the last file read are kept even when they do not parse.
  uint32_t size = 0;
  const char* text = m.session().getGlobals().getText("XML", size);
  EXPECT_EQ(std::string(text, size), "<r>\n<similaritymethod></r>");
  EXPECT_EQ(m.getMethods().size(), 1u);
}

TEST(SLManager, ClassifiersTakePartByDefaultOrRelevanceAndListsAreFusedAndCut) {
  const std::unique_ptr<SLManager> m = manager(7);
  const std::string unknown = "AdaptedFeatureDb::entry() signature id does not exist in database: 99";
  const struct {
    std::map<std::string, float> parameters;
    bool fused;
    uint32_t resultCount;
    std::string found, printed;
    uint64_t id = 1;
    std::vector<uint64_t> candidates = {};
  } cases[] = {
      // An excluded classifier's list stays empty and nameless; when it is
      // the first, the next classifier writes into it.
      {{}, false, 10, "near:7 far:7 :0 ", ""},
      // Any relevance but 0 takes a classifier in, even one stored at the minimum.
      {{{"q", 0.5f}}, false, 10, "near:7 far:7 idle:7 ",
       "0.5 idle\nParameterization\n  far  1\n  idle  0.5\n  near  1\n"},
      {{{"p", 0.0f}, {"q", 0.5f}}, false, 10, "idle:7 ", "0 far\n0 near\n0.5 idle\nParameterization\n  far  0\n"
                                                           "  idle  0.5\n  near  0\n"},
      // Distances 0 to 6: without a result count each list keeps the head
      // that reaches a fifth of their sum 21 (0 + 1 + 2 + 3).
      {{}, true, 0, "1 2 3 4 ", ""},
      {{}, true, 3, "1 2 3 ", ""},
      // Restricted to candidates, one given twice. An unknown id, among them
      // or queried, fails; the candidate map ends with the query either way.
      {{}, true, 10, "3 5 ", "", 1, {5, 3, 5}},
      {{}, true, 10, unknown, "", 1, {3, 99}},
      {{}, true, 10, unknown, "", 99, {3}},
  };
  for (const auto& c : cases) {
    QueryParameters params(c.parameters);
    params.noFusion = !c.fused;
    params.resultCount = c.resultCount;
    params.candidateIds = c.candidates;
    SimilarityList out("", 1000);
    testing::internal::CaptureStdout();
    std::string found;
    try {
      m->query(c.id, out, params);
      found = lists(out, c.fused);
    } catch (const StandardException& e) {
      found = e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(params.candidates, nullptr);
  }
  // By signature, adapted by each method: no relevance report.
  QueryParameters params({{"q", 0.5f}});
  params.resultCount = 2;
  SimilarityList out("", 1000);
  testing::internal::CaptureStdout();
  m->query(*songs::song(0, 3.6f), out, params);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0.5 idle\n");
  EXPECT_EQ(lists(out, true), "5 4 ");

  std::vector<SimilarityCandidates> classes;
  m->applySemanticLayer(3, classes, params);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].name + " " + std::to_string(classes[0].lists) + " " + std::to_string(classes[0].entries.size()),
            "all 2 2");
}

TEST(SLManager, AdaptationFailuresAreReportedAndNoMethodsFailQueries) {
  EventHandler handler("host handler");
  {
    SLManager m(&handler);
    m.loadConfiguration(songs::kConfiguration.data(), static_cast<unsigned>(songs::kConfiguration.size()));
    testing::internal::CaptureStdout();
    m.adaptAndStore(CAudioSignMulti(new CSignDataMulti));
    m.adaptAndStore(*songs::song(4, 1.0f));
    m.adaptAndStore(*songs::song(4, 2.0f));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "OverallSimilarity::adapt() MSE could not be found in signature to create onset mask\n"
              "AdaptedFeatureDb::add() signature id already exists in database: 4\n");
    EXPECT_EQ(m.session().songCount(), 1);
  }
  // A handler of another name stays the caller's, and every start was stopped.
  handler.startEvent("SLManager::adaptSignature");
  SimilarityList out("", 1000);
  expectThrowMessage<StandardException>([&] { SLManager(nullptr).query(uint64_t(1), out, QueryParameters()); },
                                        "SLManager::query() no similarity methods specified or enabled");
}

TEST(SLManager, LoadsTheConfigurationKeptInTheSessionAndAttachesTheMethods) {
  const std::string path = testfiles::tempPath("s.ses");
  std::ofstream out(path, std::ios::binary);
  writeUInt32LE(writeString(out, "SES"), 0);
  manager(3)->session().save(out, nullptr);
  out.close();
  const std::string whole = testfiles::readFile(path);
  // The last entry cut short: the others load and answer, then the failure is raised.
  const std::string cut = testfiles::writeFile("cut.ses", whole.substr(0, whole.size() - 4));
  for (const std::string& file : {path, cut}) {
    SLManager m(nullptr);
    testing::internal::CaptureStdout();
    std::string raised;
    try {
      m.loadSession(file, "");
    } catch (const StandardException& e) {
      raised = e.what();
    }
    testing::internal::GetCapturedStdout();
    QueryParameters params;
    params.resultCount = 5;
    SimilarityList list("", 1000);
    m.query(uint64_t(1), list, params);
    EXPECT_EQ(raised + lists(list, true), file == path ? "1 2 3 " : std::string(Session::kCorruptedStream) + "1 2 ");
  }
  // A method of a name already held stays; the parameterisation is read again.
  testing::internal::CaptureStdout();
  const std::unique_ptr<SLManager> m = manager(0, "<r>" + kOverall + "</r>");
  m->loadSession(path, "");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(methods(*m) + std::to_string(m->getDefaultExcluded().size()), "overallsimilarity(a,) 1");
}
