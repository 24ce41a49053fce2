#pragma once
// Partition trees narrow the reference range of a query. For each classifier
// (partition id) a tree's nodes hold the ids of a part of the database and one
// centroid per child node; a query vector descends from the partition's root
// to the child whose centroid is nearest, down to a leaf, and is compared only
// with the leaf's signatures.
//
// The trees are stored as XML text in the session globals ("TRE"):
//
//   <anything>
//     <subtree id="overallsimilarity">          (optional; the last one whose
//       <node id="timbre">                        id is the method's name holds
//         1 2 3 4                                 its partitions, else the
//         <centroid>0.1 0.2</centroid>            document element does)
//         <centroid>0.7 0.9</centroid>
//         <node>1 2 <centroid>..</centroid> ...</node>
//         <node>3 4</node>
//       </node>
//       <node id="*">1 2 3 4</node>            (fallback partition)
//     </subtree>
//   </anything>
//
// A node's text holds signature ids (decimal, separated by white space), its
// "centroid" elements one centroid each (floats separated by white space), in
// the order of its child nodes.

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/base_vector.h"
#include "similarity/adapted_signature_map.h"
#include "similarity/generic_tree_node.h"

class AdaptedFeatureDb;

class AdaptedPartitionTreeItem {
 public:
  AdaptedPartitionTreeItem();
  virtual ~AdaptedPartitionTreeItem();

  // Every id followed by a blank, a line end; then per centroid "<centroid> ",
  // a line end, its values separated by blanks, "</centroid>" and a line end.
  void print(std::ostream& out) const;

  // The node's signatures by their own ids. The signatures are the feature
  // database's; an entry outlives its signature when the database drops it
  // later, so the similarity methods go back to the database by id.
  AdaptedSignatureMap entries;
  // One per child node, in child order.
  std::vector<HeapVector<float>> centroids;
};

class AdaptedPartitionTree {
 public:
  using Node = GenericTreeNode<AdaptedPartitionTreeItem>;

  // An empty tree; database (not owned) resolves the nodes' ids, name (the
  // method's) selects the "subtree" to load.
  AdaptedPartitionTree(AdaptedFeatureDb* database, const std::string& name);
  AdaptedPartitionTree(const AdaptedPartitionTree&) = delete;
  AdaptedPartitionTree& operator=(const AdaptedPartitionTree&) = delete;
  virtual ~AdaptedPartitionTree();

  // Parses length bytes of XML at text and adds its partitions (a partition
  // id already held is replaced). Every failure is a StandardException: text
  // that is not well-formed, a partition without "id", a node without ids,
  // an id the database does not hold, a value that is not a number. After a
  // failure the tree is as it was.
  void load(const char* text, unsigned length);

  // The item whose entries form the reference range of query: the leaf of
  // partition id that the descent reaches, else the root item of partition
  // "*". A centroid of another length than query fails with the vector
  // library's "unequal vector size".
  const AdaptedPartitionTreeItem* traverse(const BaseVector<float>& query, const std::string& id) const;

  bool hasPartitions() const { return !partitions.empty(); }
  const std::map<std::string, std::unique_ptr<Node>>& getPartitions() const { return partitions; }
  const std::string& getName() const { return name; }

 private:
  std::map<std::string, std::unique_ptr<Node>> partitions;
  AdaptedFeatureDb* database;
  std::string name;
};
