#include "similarity/similarity_method.h"

#include <gtest/gtest.h>

#include "similarity/adapted_feature_db.h"
#include "similarity/adapted_partition_tree.h"
#include "similarity/session_globals.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"
#include "tests/support/temp_files.h"

namespace {

// A method that does nothing but choose reference ranges.
class Ranges : public SimilarityMethod {
 public:
  Ranges() : SimilarityMethod("m", nullptr) {}
  void process(const CAudioSignMulti&, SimilarityList&, const QueryParameters&) override {}
  void adapt(const CAudioSignMulti&, CAudioSignMulti&) override {}
};

std::string rangeOf(const Ranges& method, const QueryParameters& params, const BaseVector<float>* query) {
  std::string ids;
  for (auto entry = method.partitionBegin(params, query, "c"); entry != method.partitionEnd(params, query, "c");
       ++entry)
    ids += std::to_string(entry->first) + " ";
  return ids;
}

void setTree(SessionGlobals& globals, const std::string& xml) {
  globals.setTextFromFile("TRE", testfiles::writeFile("tree.xml", xml));
}

TEST(SimilarityMethod, ReferenceRangeAndInit) {
  AdaptedFeatureDb db("Database");
  for (uint64_t id = 1; id <= 4; ++id) db.add(adaptedSignature(id, {{"c", {0.0f}}}).release());
  const AdaptedSignatureMap candidates = {{2, db.entry(2)}, {4, db.entry(4)}};
  float origin = 0.0f;
  const BaseVector<float> query(&origin, 1);
  const std::string leaf =
      "<t><node id=\"c\">1 2 3<centroid>5</centroid><centroid>1</centroid><node>1</node><node>3</node></node></t>";
  const struct {
    std::string tree;  // empty: no "TRE" block
    bool restricted;
    const BaseVector<float>* query;
    std::string ids;
  } cases[] = {
      {"", false, &query, "1 2 3 4 "},
      {"<t><subtree id=\"other\"><node id=\"c\">3</node></subtree></t>", false, &query, "1 2 3 4 "},  // no partition
      {leaf, false, &query, "3 "},
      {leaf, true, &query, "2 4 "},  // candidates win over the tree
      {leaf, false, nullptr, "1 2 3 4 "},
  };
  QueryParameters params;
  for (const auto& c : cases) {
    SessionGlobals globals;
    if (!c.tree.empty()) setTree(globals, c.tree);
    Ranges method;
    method.init(db, globals);
    params.candidates = c.restricted ? &candidates : nullptr;
    EXPECT_EQ(rangeOf(method, params, c.query), c.ids) << c.tree;
  }

  // A tree that fails to load leaves the method attached but without a tree,
  // neither a part of it nor the tree of the session before.
  params.candidates = nullptr;
  Ranges method;
  expectThrowMessage<StandardException>([&] { rangeOf(method, params, nullptr); },
                                        "SimilarityMethod::init() not called before a query of m");
  SessionGlobals globals;
  setTree(globals, leaf);
  method.init(db, globals);
  setTree(globals, "<t><node id=\"*\">1</node><node id=\"c\">8</node></t>");
  expectThrowMessage<StandardException>([&] { method.init(db, globals); },
                                        "AdaptedFeatureDb::entry() signature id does not exist in database: 8");
  EXPECT_EQ(method.getPartitionTree(), nullptr);
  EXPECT_EQ(rangeOf(method, params, &query), "1 2 3 4 ");

  EXPECT_EQ(SimilarityMethod::getAggregator(), SimilarityMethod::getAggregator());
  EXPECT_NE(SimilarityMethod::getAggregator(), nullptr);
}

}  // namespace
