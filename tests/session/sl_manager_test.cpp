#include "session/sl_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "session/event_handler.h"
#include "similarity/aggregator.h"
#include "tests/support/expect_message.h"
#include "tests/support/similarity_songs.h"
#include "tests/support/temp_files.h"

namespace {

std::unique_ptr<SLManager> manager(const std::string& configuration = songs::kConfiguration) {
  auto m = std::make_unique<SLManager>(new SLManagerDefaultEventHandler);
  m->loadConfiguration(configuration.data(), static_cast<unsigned>(configuration.size()));
  return m;
}

// Songs of the values 0, 1, ... under ids 1, 2, ..., with the methods attached.
std::unique_ptr<SLManager> managerWithSongs(unsigned count) {
  std::unique_ptr<SLManager> m = manager();
  for (unsigned i = 0; i < count; ++i) m->adaptAndStore(*songs::song(i + 1, static_cast<float>(i)));
  m->initMethods();
  return m;
}

// "name:size" of every list of the chain at head.
std::string chain(const SimilarityList& head) {
  std::string text;
  for (const SimilarityList* list = &head; list != nullptr; list = list->nextList())
    text += list->name + ":" + std::to_string(list->size()) + " ";
  return text;
}

std::string ids(const SimilarityList& list) {
  std::string text;
  for (const auto& entry : list) text += std::to_string(entry.second.id) + " ";
  return text;
}

std::string methodNames(const SLManager& m) {
  std::string names;
  for (const auto& entry : m.getMethods()) {
    std::set<std::string> classifiers;
    entry.second->collectClassifierIds(classifiers);
    names += entry.first + "(";
    for (const std::string& c : classifiers) names += c + ",";
    names += ") ";
  }
  return names;
}

const char kLayerLine[] = "SLManager::loadConfiguration() more than one or no semantic layer given!\n";

}  // namespace

TEST(SLManager, ReadsMethodsParameterizationAndSemanticLayer) {
  const std::string overall = "<similaritymethod module=\"overallsimilarity\"><classifier name=\"a\"/></similaritymethod>";
  const std::string layer = "<semanticlayer><class id=\"s\"><cfy id=\"a\"/></class></semanticlayer>";
  const struct {
    std::string body;
    std::string methods;
    std::string printed;
  } cases[] = {
      {overall + "<similaritymethod module=\"aspectsimilarity\"/>" + layer + layer,
       "aspectsimilarity() overallsimilarity(a,) ", kLayerLine},
      {overall + "<similaritymethod module=\"other\"/><similaritymethod name=\"x\"/><similaritymethod/>" + layer,
       "overallsimilarity(a,) ", ""},
      {overall + "<similaritymethod module=\"overallsimilarity\"><classifier name=\"b\"/></similaritymethod>",
       "overallsimilarity(a,) ", kLayerLine},
      // A classifier outside any method still names one for the parameterisation.
      {overall + "<classifier name=\"loose\"/><parameterization min=\"0\" max=\"1\"><parameter name=\"p\" value=\"0\">"
                 "<cfy name=\"loose\"/></parameter></parameterization>" + layer,
       "overallsimilarity(a,) ", ""},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    const std::unique_ptr<SLManager> m = manager("<r>" + c.body + "</r>");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.body;
    EXPECT_EQ(methodNames(*m), c.methods) << c.body;
  }
  const std::unique_ptr<SLManager> m = manager();
  EXPECT_EQ(m->getDefaultExcluded(), std::set<std::string>{"idle"});
  EXPECT_EQ(m->getSemanticLayer().classes.at("all"), (std::set<std::string>{"far", "near"}));
  expectThrowMessage<StandardException>(
      [] { manager("<r><parameterization min=\"0\" max=\"1\"><parameter name=\"p\" value=\"1\"><cfy name=\"x\"/>"
                   "</parameter></parameterization></r>"); },
      "CParameterization::init() classifier ID not available: x");
}

TEST(SLManager, ConfigurationFileIsStoredAndParseFailuresAreReportedAndRaised) {
  const std::string good = testfiles::writeFile("good.xml", songs::kConfiguration);
  SLManager m(nullptr);
  m.loadConfiguration(good);
  uint32_t size = 0;
  const char* text = m.session().getGlobals().getText("XML", size);
  EXPECT_EQ(std::string(text, size), songs::kConfiguration);

  expectThrowMessage<StandardException>([&] { m.loadConfiguration(good + ".missing"); },
                                        "SLManager::loadConfiguration() file not found: " + good + ".missing");
  const std::string bad = testfiles::writeFile("bad.xml", "<r>\n<similaritymethod></r>");
  const struct {
    std::function<void()> load;
    std::string reported;
    std::string raised;
  } cases[] = {
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
      EXPECT_EQ(std::string(e.what()).substr(0, c.raised.size()), c.raised) << e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.reported);
  }
  // The file is kept as it is even when it cannot be parsed.
  text = m.session().getGlobals().getText("XML", size);
  EXPECT_EQ(std::string(text, size), "<r>\n<similaritymethod></r>");
  EXPECT_EQ(m.getMethods().size(), 1u);
}

TEST(SLManager, ClassifierFilterFollowsDefaultsAndRelevances) {
  const std::unique_ptr<SLManager> m = managerWithSongs(3);
  const struct {
    std::map<std::string, float> parameters;
    std::string lists;
  } cases[] = {
      // An excluded classifier's list stays empty and nameless; when it is
      // the first, the next classifier writes into it.
      {{}, "near:3 far:3 :0 "},
      // Any relevance but 0 takes a classifier in, even one stored at the minimum.
      {{{"q", 0.5f}}, "near:3 far:3 idle:3 "},
      {{{"p", 0.0f}, {"q", 0.5f}}, "idle:3 "},
  };
  for (const auto& c : cases) {
    QueryParameters params(c.parameters);
    params.noFusion = true;
    params.resultCount = 10;
    SimilarityList out("", 1000);
    testing::internal::CaptureStdout();
    m->query(uint64_t(1), out, params);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(chain(out), c.lists);
  }
}

TEST(SLManager, RelevanceReportOnlyForQueriesById) {
  const std::unique_ptr<SLManager> m = managerWithSongs(3);
  const QueryParameters params({{"q", 0.5f}});
  SimilarityList out("", 1000);
  testing::internal::CaptureStdout();
  m->query(uint64_t(2), out, params);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0.5 idle\nParameterization\n  far  1\n  idle  0.5\n  near  1\n");
  testing::internal::CaptureStdout();
  m->query(*songs::song(0, 1.0f), out, params);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "0.5 idle\n");
}

TEST(SLManager, FusionTruncationCandidatesAndSemanticLayer) {
  const std::unique_ptr<SLManager> m = managerWithSongs(7);
  // Distances 0 to 6 from song 1: without a result count each list keeps
  // the head that reaches a fifth of their sum 21 (0 + 1 + 2 + 3).
  const struct {
    uint32_t resultCount;
    std::vector<uint64_t> candidates;
    std::string found;
  } cases[] = {{0, {}, "1 2 3 4 "}, {3, {}, "1 2 3 "}, {250, {6, 1, 6}, "1 6 "}};
  for (const auto& c : cases) {
    QueryParameters params;
    params.resultCount = c.resultCount;
    params.candidateIds = c.candidates;
    SimilarityList out("", 1000);
    m->query(uint64_t(1), out, params);
    EXPECT_EQ(ids(out), c.found) << c.resultCount;
    EXPECT_EQ(params.candidates, nullptr);
    EXPECT_TRUE(SimilarityMethod::getAggregator()->relevances.empty());
  }
  // By signature: adapted by each method first; the best are songs 4 and 5.
  QueryParameters params;
  params.resultCount = 2;
  SimilarityList out("", 1000);
  m->query(*songs::song(0, 3.6f), out, params);
  EXPECT_EQ(ids(out), "5 4 ");

  std::vector<SimilarityCandidates> classes;
  m->applySemanticLayer(3, classes, params);
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].name + " " + std::to_string(classes[0].lists), "all 2");
  EXPECT_EQ(classes[0].entries.size(), 2u);
}

TEST(SLManager, AdaptationFailuresAreReportedAndNoMethodsFailQueries) {
  EventHandler handler("host handler");
  {
    SLManager m(&handler);
    const std::string configuration = songs::kConfiguration;
    m.loadConfiguration(configuration.data(), static_cast<unsigned>(configuration.size()));
    CAudioSignMulti noOnsetBands(new CSignDataMulti);
    testing::internal::CaptureStdout();
    m.adaptAndStore(noOnsetBands);
    m.adaptAndStore(*songs::song(4, 1.0f));
    m.adaptAndStore(*songs::song(4, 2.0f));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "OverallSimilarity::adapt() MSE could not be found in signature to create onset mask\n"
              "AdaptedFeatureDb::add() signature id already exists in database: 4\n");
    EXPECT_EQ(m.session().songCount(), 1);
  }
  // A handler of another name stays the caller's, and every start was stopped.
  handler.startEvent("SLManager::adaptSignature");

  SLManager none(nullptr);
  SimilarityList out("", 1000);
  expectThrowMessage<StandardException>([&] { none.query(uint64_t(1), out, QueryParameters()); },
                                        "SLManager::query() no similarity methods specified or enabled");
}

TEST(SLManager, LoadSessionReadsTheStoredConfigurationAndReportsCorruptionLast) {
  const std::string path = testfiles::tempPath("s.ses");
  {
    const std::string config = testfiles::writeFile("c.xml", songs::kConfiguration);
    SLManager m(nullptr);
    m.loadConfiguration(config);
    for (uint32_t id : {1u, 2u, 3u}) m.adaptAndStore(*songs::song(id, static_cast<float>(id)));
    std::ofstream out(path, std::ios::binary);
    writeUInt32LE(writeString(out, "SES"), 0);
    m.session().save(out, path, false);
  }
  // The last entry cut short.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) - 5);
  SLManager loaded(nullptr);
  testing::internal::CaptureStdout();
  expectThrowMessage<StandardException>([&] { loaded.loadSession(path, ""); }, Session::kCorruptedStream);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(methodNames(loaded), "overallsimilarity(far,idle,near,) ");
  QueryParameters params;
  params.resultCount = 250;
  SimilarityList out("", 1000);
  loaded.query(uint64_t(2), out, params);
  EXPECT_EQ(ids(out), "2 1 ");
}
