#include "similarity/similarity_method.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "similarity/adapted_feature_db.h"
#include "similarity/adapted_partition_tree.h"
#include "similarity/session_globals.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"
#include "tests/support/temp_files.h"

namespace {

// Answers a query with the query's own id.
class Echo : public SimilarityMethod {
 public:
  Echo() : SimilarityMethod("m", nullptr) {}
  void process(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters&) override {
    out.add(0.0f, query.getTuid().toUInt64(), 1.0f, -1);
  }
  void adapt(const CAudioSignMulti&, CAudioSignMulti&) override {}
};

std::string rangeOf(const SimilarityMethod& method, const QueryParameters& params, const BaseVector<float>* query) {
  std::string ids;
  for (auto entry = method.partitionBegin(params, query, "c"); entry != method.partitionEnd(params, query, "c");
       ++entry)
    ids += std::to_string(entry->first) + " ";
  return ids;
}

TEST(SimilarityMethod, ReferenceRangeFromCandidatesTreeOrDatabase) {
  AdaptedFeatureDb db("Database");
  for (uint64_t id = 1; id <= 4; ++id) db.add(adaptedSignature(id, {{"c", {0.0f}}}).release());
  const AdaptedSignatureMap candidates = {{2, db.entry(2)}, {4, db.entry(4)}};
  float origin = 0.0f;
  const BaseVector<float> query(&origin, 1);
  const struct {
    const char* tree;  // null: no "TRE" block
    bool withCandidates;
    const BaseVector<float>* query;
    std::string ids;
  } cases[] = {
      {nullptr, false, &query, "1 2 3 4 "},
      {"<t><subtree id=\"other\"><node id=\"c\">3</node></subtree></t>", false, &query, "1 2 3 4 "},  // no partition
      {"<t><node id=\"c\">1 2 3<centroid>5</centroid><centroid>1</centroid><node>1</node><node>3</node></node></t>",
       false, &query, "3 "},
      {"<t><node id=\"c\">3</node></t>", true, &query, "2 4 "},  // candidates win over the tree
      {"<t><node id=\"c\">3</node></t>", false, nullptr, "1 2 3 4 "},
  };
  for (const auto& c : cases) {
    SessionGlobals globals;
    if (c.tree != nullptr) globals.setTextFromFile("TRE", testfiles::writeFile("tree.xml", c.tree));
    Echo method;
    method.init(db, globals);
    EXPECT_EQ(method.getPartitionTree() != nullptr, c.tree != nullptr);
    QueryParameters params;
    if (c.withCandidates) params.candidates = &candidates;
    EXPECT_EQ(rangeOf(method, params, c.query), c.ids) << (c.tree ? c.tree : "no tree");
  }
}

TEST(SimilarityMethod, InitProcessByIdAndTheAggregator) {
  Echo method;
  QueryParameters params;
  expectThrowMessage<StandardException>([&] { rangeOf(method, params, nullptr); },
                                        "SimilarityMethod::init() not called before a query of m");
  AdaptedFeatureDb db("Database");
  db.add(adaptedSignature(7, {{"c", {0.0f}}}).release());
  SessionGlobals globals;
  globals.setTextFromFile("TRE", testfiles::writeFile("tree.xml", "<t><node id=\"c\">7</node></t>"));
  method.init(db, globals);
  const AdaptedPartitionTree* tree = method.getPartitionTree();

  // A tree that does not load leaves the method as it was.
  AdaptedFeatureDb other("Other");
  globals.setTextFromFile("TRE", testfiles::writeFile("bad.xml", "<t><node id=\"c\">8</node></t>"));
  expectThrowMessage<StandardException>([&] { method.init(other, globals); },
                                        "AdaptedFeatureDb::entry() signature id does not exist in database: 8");
  EXPECT_EQ(method.getPartitionTree(), tree);
  EXPECT_EQ(rangeOf(method, params, nullptr), "7 ");

  SimilarityList out("", 1000);
  method.processById(7, out, params);
  expectThrowMessage<StandardException>([&] { method.processById(8, out, params); },
                                        "AdaptedFeatureDb::entry() signature id does not exist in database: 8");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out.begin()->second.id, 7u);

  EXPECT_NE(SimilarityMethod::getAggregator(), nullptr);
  EXPECT_EQ(SimilarityMethod::getAggregator(), SimilarityMethod::getAggregator());
}

}  // namespace
