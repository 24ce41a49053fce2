#include "similarity/adapted_partition_tree.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

// Songs 1 to 6.
std::unique_ptr<AdaptedFeatureDb> database() {
  auto db = std::make_unique<AdaptedFeatureDb>("Database");
  for (uint64_t id = 1; id <= 6; ++id) db->add(adaptedSignature(id, {{"c", {0.0f}}}).release());
  return db;
}

// Partition "c" of method "m": centroid 0 leads to a node with one child
// (its empty sibling is no node), centroid 1 to a leaf, and centroid 2,
// as near as centroid 0 to the origin, to another leaf.
const std::string kTree =
    "<tree><subtree id=\"other\"><node id=\"c\">6</node></subtree>\n"
    "<subtree id=\"m\">\n"
    "  <node id=\"c\">1 2 3\t4\n"
    "    <centroid>0 0</centroid><centroid> 3 4 </centroid><centroid>0 0</centroid>\n"
    "    <node>1 2 <centroid>0 0</centroid><node>1</node><node/></node>\n"
    "    <node>3 4</node>\n"
    "    <node>5</node>\n"
    "  </node>\n"
    "  <node id=\"*\">5 6</node>\n"
    "  <node id=\"blind\">1<node>2</node></node>\n"
    "</subtree></tree>";

std::string idsOf(const AdaptedPartitionTreeItem& item) {
  std::string ids;
  for (const auto& entry : item.entries) ids += std::to_string(entry.first) + " ";
  return ids;
}

TEST(AdaptedPartitionTree, LoadTraverseAndPrint) {
  const auto db = database();
  AdaptedPartitionTree tree(db.get(), "m");
  tree.load(kTree.data(), static_cast<unsigned>(kTree.size()));
  ASSERT_EQ(tree.getPartitions().size(), 3u);
  EXPECT_EQ(tree.getPartitions().at("c")->childCount(), 3u);
  EXPECT_EQ(tree.getPartitions().at("c")->getItem()->entries.at(4), db->entry(4));

  const struct {
    std::vector<float> query;
    std::string partition;
    std::string ids;
  } cases[] = {
      {{0.0f, 0.0f}, "c", "1 "},  // ties go to the lower index, then down to the leaf
      {{3.0f, 4.5f}, "c", "3 4 "},
      {{9.0f, 9.0f}, "unknown", "5 6 "},  // the fallback's root, without descent
      {{9.0f, 9.0f}, "*", "5 6 "},
  };
  for (const auto& c : cases) {
    std::vector<float> values = c.query;
    EXPECT_EQ(idsOf(*tree.traverse(BaseVector<float>(values.data(), 2), c.partition)), c.ids) << c.partition;
  }
  std::vector<float> three = {0, 0, 0};
  expectThrowMessage<VMTLException>([&] { tree.traverse(BaseVector<float>(three.data(), 3), "c"); },
                                    "unequal vector size");
  expectThrowMessage<StandardException>([&] { tree.traverse(BaseVector<float>(three.data(), 3), "blind"); },
                                        "AdaptedPartitionTree::traverse() no decision could be made!");
  expectThrowMessage<StandardException>([&] { tree.getPartitions().at("c")->child(3); },
                                        "GenericTreeNode::child() child with given index could not be found");

  std::ostringstream printed;
  tree.getPartitions().at("c")->print(printed);
  EXPECT_EQ(printed.str(),
            "<node>\n<node>\n1 \n</node>\n1 2 \n<centroid> \n0 0</centroid>\n</node>\n"
            "<node>\n3 4 \n</node>\n<node>\n5 \n</node>\n"
            "1 2 3 4 \n<centroid> \n0 0</centroid>\n<centroid> \n3 4</centroid>\n<centroid> \n0 0</centroid>\n");
  expectThrowMessage<StandardException>(
      [] {
        std::ostringstream out;
        AdaptedPartitionTree::Node(nullptr).print(out);
      },
      "GenericTreeNode::print() no entry in current node-element");

  // Without a subtree of its name the document element holds the partitions:
  // here none.
  AdaptedPartitionTree other(db.get(), "x");
  other.load(kTree.data(), static_cast<unsigned>(kTree.size()));
  EXPECT_FALSE(other.hasPartitions());
}

TEST(AdaptedPartitionTree, FailedLoadsLeaveTheTreeAsItWas) {
  const auto db = database();
  AdaptedPartitionTree tree(db.get(), "m");
  tree.load(kTree.data(), static_cast<unsigned>(kTree.size()));
  const std::string load = "AdaptedPartitionTree::load() ";
  const std::string item = "AdaptedPartitionTreeItem() ";
  const std::pair<std::string, std::string> failures[] = {
      {"<t><node>1</node></t>", load + "no node-id given for classifier partitions"},
      {"<t><node id=\"c\"> <centroid>1</centroid>\n</node></t>", item + "set without any elements found"},
      {"<t><node id=\"c\">1<node>2<node>77</node></node></node></t>",
       "AdaptedFeatureDb::entry() signature id does not exist in database: 77"},
      {"<t><node id=\"c\">1 -2</node></t>", item + "signature id is not a number: -2"},
      {"<t><node id=\"c\">1<centroid>1 zz</centroid></node></t>", item + "centroid value is not a number: zz"},
      {"<t><node id=\"c\">1</node>", load + "partition tree is not well-formed XML: line 1, column "},
  };
  for (const auto& [text, message] : failures) {
    try {
      tree.load(text.data(), static_cast<unsigned>(text.size()));
      ADD_FAILURE() << text;
    } catch (const StandardException& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, message.size()), message);
    }
    EXPECT_EQ(tree.getPartitions().size(), 3u) << text;
    EXPECT_EQ(idsOf(*tree.getPartitions().at("c")->getItem()), "1 2 3 4 ") << text;
  }
}

TEST(AdaptedPartitionTree, DeepTreesNeedNoDeepStack) {
  // Loaded: a chain of nodes, each with the centroid of its one child.
  const auto db = database();
  std::string text = "<t><node id=\"c\">1<centroid>0</centroid>";
  for (unsigned i = 0; i < 2000; ++i) text += "<node>2<centroid>0</centroid>";
  for (unsigned i = 0; i < 2000; ++i) text += "</node>";
  text += "</node></t>";
  AdaptedPartitionTree tree(db.get(), "m");
  tree.load(text.data(), static_cast<unsigned>(text.size()));
  std::vector<float> query = {0.0f};
  EXPECT_EQ(idsOf(*tree.traverse(BaseVector<float>(query.data(), 1), "c")), "2 ");

  // Far deeper than any call stack could follow: printed and destroyed.
  const unsigned depth = 1000000;
  auto root = std::make_unique<AdaptedPartitionTree::Node>(std::make_unique<AdaptedPartitionTreeItem>());
  AdaptedPartitionTree::Node* last = root.get();
  for (unsigned i = 0; i < depth; ++i)
    last = last->append(std::make_unique<AdaptedPartitionTree::Node>(std::make_unique<AdaptedPartitionTreeItem>()));
  std::ostringstream printed;
  root->print(printed);
  // Every item an empty line, every child between "<node>\n" and "</node>\n".
  EXPECT_EQ(printed.str().size(), (depth + 1) * 1 + depth * 15);
  root.reset();
}

}  // namespace
