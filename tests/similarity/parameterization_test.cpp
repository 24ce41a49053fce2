#include "similarity/parameterization.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "similarity/dom_support.h"
#include "tests/support/expect_message.h"

namespace {

using Values = std::map<std::string, float>;

void initFrom(CParameterization& p, const std::string& text) {
  DomParser parser;
  p.init(*parser.parseMemory(text.data(), text.size()).getDocumentElement(), {"A", "B", "C", "D"});
}

CParameterization configured() {
  CParameterization p;
  initFrom(p,
           "<parameterization min=\"0\" max=\"1\">"
           "<parameter name=\"tempo\" value=\"0.5\"><cfy name=\"A\"/><cfy name=\"B\"/></parameter>"
           "<parameter name=\"mood\" value=\" 0abc\"><cfy name=\"B\"/><cfy name=\"C\"/><cfy/></parameter>"
           "<parameter><cfy name=\"unknown, but skipped\"/></parameter><other name=\"x\" value=\"y\"/>"
           "</parameterization>");
  return p;
}

TEST(CParameterization, InitAndMalformedElements) {
  CParameterization p = configured();
  EXPECT_EQ(std::make_pair(p.getMin(), p.getMax()), std::make_pair(0.0f, 1.0f));
  EXPECT_EQ(p.getParameters(), (std::map<std::string, Values>{{"tempo", {{"A", 0.5f}, {"B", 0.5f}}},
                                                              {"mood", {{"B", 0.0f}, {"C", 0.0f}}}}));
  EXPECT_EQ(p.getDefaults(), (Values{{"A", 0.5f}, {"B", 0.5f}, {"C", 0.0f}}));  // the first parameter's value
  EXPECT_EQ(p.selectClassifiers(), (std::set<std::string>{"B", "C"}));
  // Without attributes min and max stay; a parameter read again is replaced.
  initFrom(p, "<p><parameter name=\"tempo\" value=\"0.25\"><cfy name=\"D\"/></parameter></p>");
  EXPECT_TRUE(p.getMax() == 1.0f && p.getParameters().at("tempo") == (Values{{"D", 0.25f}}));
  EXPECT_EQ(p.getDefaults().at("A"), 0.5f);

  const std::string kInit = "CParameterization::init() ";
  const std::pair<std::string, std::string> failures[] = {
      {"<p min=\"0\"/>", "element \"p\" lacks the attribute \"max\""},
      {"<p min=\"low\" max=\"1\"/>", "attribute \"min\" of element \"p\" holds no readable number: \"low\""},
      {"<p><parameter name=\"x\" value=\"1\"><cfy name=\"A\"/></parameter><parameter name=\"y\"/></p>",
       "element \"parameter\" lacks the attribute \"value\""},
      {"<p><parameter name=\"y\" value=\"1\"><cfy id=\"A\"/></parameter></p>",
       "element \"cfy\" lacks the attribute \"name\""},
      {"<p min=\"5\" max=\"6\"><parameter name=\"x\" value=\"1\"><cfy name=\"A\"/><cfy name=\"Q\"/></parameter></p>",
       "classifier ID not available: Q"},
  };
  for (const auto& [text, message] : failures) {
    CParameterization kept = configured();
    expectThrowMessage<StandardException>([&] { initFrom(kept, text); }, kInit + message);
    EXPECT_TRUE(kept.getMin() == 0.0f && kept.getParameters() == configured().getParameters() &&
                kept.getDefaults() == configured().getDefaults())
        << text;
  }
}

TEST(CParameterization, RelevancesAndTheirReport) {
  const CParameterization p = configured();
  CParameterization equal, flat;
  initFrom(equal, "<p min=\"1\" max=\"1\"><parameter name=\"p\" value=\"1\"><cfy name=\"A\"/></parameter></p>");
  initFrom(flat,
           "<p min=\"0.5\" max=\"0.5\"><parameter name=\"p\" value=\"0.5\"><cfy name=\"A\"/></parameter>"
           "<parameter name=\"q\" value=\"0.5\"><cfy name=\"B\"/></parameter>"
           "<parameter name=\"r\" value=\"0.9\"><cfy name=\"C\"/></parameter></p>");
  const struct {
    const CParameterization& p;
    Values query;
    bool normalise;
    Values expected;
    std::string report;
  } cases[] = {
      // C is only a default: it takes its value, normalised with the rest.
      {p, {{"tempo", 0.5f}}, true, {{"A", 0.5f}, {"B", 0.5f}, {"C", 0.0f}}, "0.5 A\n0.5 B\n"},
      // mood first by name: B is 0.2, then (0.6 + 0.2) x 0.5.
      {p, {{"tempo", 0.6f}, {"mood", 0.2f}}, false, {{"A", 0.6f}, {"B", 0.4f}, {"C", 0.2f}},
       "0.2 B\n0.2 C\n0.6 A\n0.4 B\n"},
      {p, {{"zest", 1.0f}, {"tempo", 0.75f}}, false, {{"A", 0.75f}, {"B", 0.75f}},
       "0.75 A\n0.75 B\nCParameterization::getRelevances() Warning: Couldn't find parameterization of zest\n"},
      // min equal to max: all values equal to them give 1; differing values
      // (from the query or the defaults) give the sign of value - min.
      {equal, {{"p", 1.0f}}, true, {{"A", 1.0f}}, "1 A\n"},
      {flat, {{"p", 0.5f}, {"q", 0.2f}, {"r", 0.9f}}, true, {{"A", 0.0f}, {"B", -1.0f}, {"C", 1.0f}},
       "0.5 A\n0.2 B\n0.9 C\n"},
      {flat, {{"p", 0.5f}}, true, {{"A", 0.0f}, {"B", 0.0f}, {"C", 1.0f}}, "0.5 A\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.p.getRelevances(c.query, c.normalise), c.expected) << c.report;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.report);
  }
}

}  // namespace
