#include "similarity/adapted_partition_tree.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "tests/support/expect_message.h"
#include "tests/support/session_blocks.h"

namespace {

// Partition "c" of method "m": centroid 0 leads to a node with two children
// (an empty sibling is no node) but one centroid, centroid 1 to a leaf, and
// centroid 2, as near as centroid 0 to the origin, to another leaf.
const std::string kTree =
    "<tree><subtree id=\"other\"><node id=\"c\">6</node></subtree>\n"
    "<subtree id=\"m\">\n"
    "  <node id=\"c\">1 2 3\t4\n"
    "    <centroid>0 0</centroid><centroid> 3 4 </centroid><centroid>0 0</centroid>\n"
    "    <node>1 2 <centroid>9 9</centroid><node>1</node><node/><node>2</node></node>\n"
    "    <node>3 4</node>\n"
    "    <node>5</node>\n"
    "  </node>\n"
    "  <node id=\"*\">5 6</node>\n"
    "  <node id=\"blind\">1<node>2</node></node>\n"
    "</subtree></tree>";

class PartitionTree : public testing::Test {
 protected:
  void SetUp() override {
    for (uint64_t id = 1; id <= 6; ++id) db.add(adaptedSignature(id, {{"c", {0.0f}}}).release());
    tree.load(kTree.data(), static_cast<unsigned>(kTree.size()));
  }
  std::string traverse(std::vector<float> query, const std::string& partition) {
    std::string ids;
    for (const auto& entry : tree.traverse(BaseVector<float>(query.data(), query.size()), partition)->entries)
      ids += std::to_string(entry.first) + " ";
    return ids;
  }

  AdaptedFeatureDb db{"Database"};
  AdaptedPartitionTree tree{&db, "m"};
};

TEST_F(PartitionTree, LoadTraverseAndPrint) {
  ASSERT_EQ(tree.getPartitions().size(), 3u);
  EXPECT_EQ(tree.getPartitions().at("c")->getItem()->entries.at(4), db.entry(4));
  // Ties go to the lower index; a child without a centroid is never chosen.
  EXPECT_EQ(traverse({0, 0}, "c"), "1 ");
  EXPECT_EQ(traverse({3, 4.5f}, "c"), "3 4 ");
  EXPECT_EQ(traverse({9, 9}, "unknown") + traverse({9}, "*"), "5 6 5 6 ");  // the fallback's root, no descent
  AdaptedPartitionTree other(&db, "other");  // only partition "c" of subtree "other"
  other.load(kTree.data(), static_cast<unsigned>(kTree.size()));
  expectThrowMessage<StandardException>(
      [&] { other.traverse(BaseVector<float>(), "*"); },
      "AdaptedPartitionTree::traverse() no partition with given id could be found: *");
  expectThrowMessage<VMTLException>([&] { traverse({0, 0, 0}, "c"); }, "unequal vector size");
  expectThrowMessage<StandardException>([&] { traverse({0}, "blind"); },
                                        "AdaptedPartitionTree::traverse() no decision could be made!");
  expectThrowMessage<StandardException>([&] { tree.getPartitions().at("c")->child(3); },
                                        "GenericTreeNode::child() child with given index could not be found");
  std::ostringstream printed;
  tree.getPartitions().at("c")->print(printed);
  EXPECT_EQ(printed.str(),
            "<node>\n<node>\n1 \n</node>\n<node>\n2 \n</node>\n1 2 \n<centroid> \n9 9</centroid>\n</node>\n"
            "<node>\n3 4 \n</node>\n<node>\n5 \n</node>\n"
            "1 2 3 4 \n<centroid> \n0 0</centroid>\n<centroid> \n3 4</centroid>\n<centroid> \n0 0</centroid>\n");
  expectThrowMessage<StandardException>([&] { AdaptedPartitionTree::Node(nullptr).print(printed); },
                                        "GenericTreeNode::print() no entry in current node-element");
}

TEST_F(PartitionTree, FailedLoadsLeaveTheTreeAsItWas) {
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
    EXPECT_EQ(tree.getPartitions().at("c")->getItem()->entries.size(), 4u) << text;
  }
}

TEST(GenericTreeNode, FarDeeperThanACallStackCouldFollow) {
  using Node = AdaptedPartitionTree::Node;
  auto root = std::make_unique<Node>(std::make_unique<AdaptedPartitionTreeItem>());
  Node* last = root.get();
  for (unsigned i = 0; i < 1000000; ++i)
    last = last->append(std::make_unique<Node>(std::make_unique<AdaptedPartitionTreeItem>()));
  std::ostringstream printed;
  root->print(printed);
  // Every item an empty line, every child between "<node>\n" and "</node>\n".
  EXPECT_EQ(printed.str().size(), 1000001u + 1000000u * 15);
}

}  // namespace
