#include "similarity/parameterization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/dom_support.h"
#include "tests/support/expect_message.h"

namespace {

using Values = std::map<std::string, float>;

const std::set<std::string> kClassifiers = {"A", "B", "C", "D"};

void initFrom(CParameterization& p, const std::string& text, const std::set<std::string>& ids = kClassifiers) {
  DomParser parser;
  p.init(*parser.parseMemory(text.data(), text.size()).getDocumentElement(), ids);
}

const char kConfig[] =
    "<parameterization min=\"0\" max=\"1\">"
    "  <parameter name=\"tempo\" value=\"0.5\"><cfy name=\"A\"/><cfy name=\"B\"/></parameter>"
    "  <parameter name=\"mood\" value=\" 0abc\"><cfy name=\"B\"/><cfy name=\"C\"/><cfy/></parameter>"
    "  <parameter><cfy name=\"unknown but skipped\"/></parameter>"
    "  <other name=\"x\" value=\"y\"/>"
    "</parameterization>";

// The relevances and what getRelevances wrote on standard output.
std::pair<Values, std::string> relevances(const CParameterization& p, const Values& query, bool normalise) {
  testing::internal::CaptureStdout();
  Values result = p.getRelevances(query, normalise);
  return {result, testing::internal::GetCapturedStdout()};
}

TEST(CParameterization, InitReadsParametersAndDefaults) {
  CParameterization p;
  initFrom(p, kConfig);
  EXPECT_EQ(p.getMin(), 0.0f);
  EXPECT_EQ(p.getMax(), 1.0f);
  const std::map<std::string, Values> parameters = {{"tempo", {{"A", 0.5f}, {"B", 0.5f}}},
                                                    {"mood", {{"B", 0.0f}, {"C", 0.0f}}}};
  EXPECT_EQ(p.getParameters(), parameters);
  // The first parameter naming a classifier gives its default.
  EXPECT_EQ(p.getDefaults(), (Values{{"A", 0.5f}, {"B", 0.5f}, {"C", 0.0f}}));
  EXPECT_EQ(p.selectClassifiers(), (std::set<std::string>{"B", "C"}));

  // Another element without attributes keeps min and max; a parameter read
  // again replaces its classifiers, defaults keep their first value.
  initFrom(p,
           "<parameterization><parameter name=\"tempo\" value=\"0.25\"><cfy name=\"D\"/></parameter>"
           "</parameterization>");
  EXPECT_EQ(p.getMax(), 1.0f);
  EXPECT_EQ(p.getParameters().at("tempo"), (Values{{"D", 0.25f}}));
  EXPECT_EQ(p.getDefaults(), (Values{{"A", 0.5f}, {"B", 0.5f}, {"C", 0.0f}, {"D", 0.25f}}));
}

TEST(CParameterization, MalformedElementsChangeNothing) {
  const std::string kInit = "CParameterization::init() ";
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"<parameterization min=\"0\"/>", kInit + "element \"parameterization\" lacks the attribute \"max\""},
      {"<parameterization min=\"low\" max=\"1\"/>",
       kInit + "attribute \"min\" of element \"parameterization\" holds no readable number: \"low\""},
      {"<p><parameter name=\"x\" value=\"1\"><cfy name=\"A\"/></parameter><parameter name=\"y\"/></p>",
       kInit + "element \"parameter\" lacks the attribute \"value\""},
      {"<p><parameter value=\"1\"/></p>", kInit + "element \"parameter\" lacks the attribute \"name\""},
      {"<p><parameter name=\"y\" value=\"\"/></p>",
       kInit + "attribute \"value\" of element \"parameter\" holds no readable number: \"\""},
      {"<p><parameter name=\"y\" value=\"1\"><cfy id=\"A\"/></parameter></p>",
       kInit + "element \"cfy\" lacks the attribute \"name\""},
      {"<p min=\"5\" max=\"6\"><parameter name=\"y\" value=\"1\"><cfy name=\"A\"/><cfy name=\"Q\"/></parameter></p>",
       kInit + "classifier ID not available: Q"},
  };
  for (const Case& c : cases) {
    CParameterization p;
    initFrom(p, kConfig);
    expectThrowMessage<StandardException>([&] { initFrom(p, c.text); }, c.message);
    EXPECT_EQ(p.getMin(), 0.0f) << c.text;
    EXPECT_EQ(p.getMax(), 1.0f) << c.text;
    EXPECT_EQ(p.getParameters().size(), 2u) << c.text;
    EXPECT_EQ(p.getParameters().count("x"), 0u) << c.text;
    EXPECT_EQ(p.getDefaults().size(), 3u) << c.text;
  }
}

TEST(CParameterization, RelevancesAndTheirReport) {
  CParameterization p;
  initFrom(p, kConfig);
  struct Case {
    const char* what;
    Values query;
    bool normalise;
    Values expected;
    std::string report;
  };
  const std::vector<Case> cases = {
      {"one parameter; C only by default",
       {{"tempo", 0.5f}},
       true,
       {{"A", 0.5f}, {"B", 0.5f}, {"C", 0.0f}},
       "0.5 A\n0.5 B\n"},
      // mood comes first by name: B is 0.2, then (0.6 + 0.2) x 0.5.
      {"two parameters naming B",
       {{"tempo", 0.6f}, {"mood", 0.2f}},
       false,
       {{"A", 0.6f}, {"B", 0.4f}, {"C", 0.2f}},
       "0.2 B\n0.2 C\n0.6 A\n0.4 B\n"},
      {"a parameter without parameterization",
       {{"zest", 1.0f}, {"tempo", 0.75f}},
       false,
       {{"A", 0.75f}, {"B", 0.75f}},
       "0.75 A\n0.75 B\nCParameterization::getRelevances() Warning: Couldn't find parameterization of zest\n"},
      {"no parameters: the defaults", {}, true, {{"A", 0.5f}, {"B", 0.5f}, {"C", 0.0f}}, ""},
  };
  for (const Case& c : cases) {
    const auto [result, report] = relevances(p, c.query, c.normalise);
    EXPECT_EQ(report, c.report) << c.what;
    ASSERT_EQ(result.size(), c.expected.size()) << c.what;
    for (const auto& [id, value] : c.expected) EXPECT_FLOAT_EQ(result.at(id), value) << c.what << " " << id;
  }

  // min 2, max 4: scaled from [2, 4].
  initFrom(p, "<p min=\"2\" max=\"4\"><parameter name=\"s\" value=\"3\"><cfy name=\"D\"/></parameter></p>");
  EXPECT_FLOAT_EQ(relevances(p, {{"s", 3.5f}}, true).first.at("D"), 0.75f);
}

TEST(CParameterization, RangeWithoutWidth) {
  // Every value equal to min and max: every relevance 1.
  CParameterization equal;
  initFrom(equal,
           "<p min=\"1\" max=\"1\"><parameter name=\"p\" value=\"1\"><cfy name=\"A\"/><cfy name=\"B\"/>"
           "</parameter></p>");
  EXPECT_EQ(relevances(equal, {{"p", 1.0f}}, true).first, (Values{{"A", 1.0f}, {"B", 1.0f}}));
  EXPECT_EQ(relevances(equal, {}, true).first, (Values{{"A", 1.0f}, {"B", 1.0f}}));

  // Differing values: no division by zero; the sign of value - min, so that
  // exactly the values at min are left out.
  CParameterization degenerate;
  initFrom(degenerate,
           "<p min=\"0.5\" max=\"0.5\"><parameter name=\"p\" value=\"0.5\"><cfy name=\"A\"/></parameter>"
           "<parameter name=\"q\" value=\"0.5\"><cfy name=\"B\"/></parameter>"
           "<parameter name=\"r\" value=\"0.5\"><cfy name=\"C\"/></parameter></p>");
  EXPECT_EQ(relevances(degenerate, {{"p", 0.5f}, {"q", 0.2f}, {"r", 0.9f}}, true).first,
            (Values{{"A", 0.0f}, {"B", -1.0f}, {"C", 1.0f}}));
  // A query value equal to min, the defaults at min too: all 1.
  EXPECT_EQ(relevances(degenerate, {{"q", 0.5f}}, true).first, (Values{{"A", 1.0f}, {"B", 1.0f}, {"C", 1.0f}}));
}

}  // namespace
