// The partition-tree reader: any text either loads into a tree or fails with
// StandardException, leaving the fresh tree without partitions. A loaded
// tree's items hold only signatures of the database under their own ids; it
// is traversed with queries of several lengths through every partition and
// printed.

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/adapted_partition_tree.h"
#include "similarity/dom_support.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/session_blocks.h"

namespace {

// Songs 1 to 8 and one id beyond 32 bits.
std::unique_ptr<AdaptedFeatureDb> makeDatabase() {
  auto db = std::make_unique<AdaptedFeatureDb>("Database");
  for (uint64_t id = 1; id <= 8; ++id) db->add(adaptedSignature(id, {{"c", {static_cast<float>(id)}}}).release());
  db->add(adaptedSignature(uint64_t{1} << 32 | 1, {{"c", {0.5f}}}).release());
  return db;
}

void checkItem(const AdaptedPartitionTreeItem& item, const AdaptedFeatureDb& db) {
  for (const auto& entry : item.entries)
    if (!db.contains(entry.first) || db.entry(entry.first) != entry.second)
      kivet_fuzz::finding("a tree item holds a signature that is not the database's under its id");
}

void useTree(const AdaptedPartitionTree& tree, const AdaptedFeatureDb& db) {
  std::vector<std::string> ids = {"*", "none"};
  for (const auto& partition : tree.getPartitions()) ids.push_back(partition.first);
  std::vector<float> values = {0.0f, 1.0f, 2.5f, -3.0f};
  for (unsigned length = 0; length <= values.size(); ++length) {
    for (const std::string& id : ids) {
      try {
        checkItem(*tree.traverse(BaseVector<float>(values.data(), length), id), db);
      } catch (const StandardException&) {
      } catch (const VMTLException&) {
      }
    }
  }
  std::ostringstream printed;
  for (const auto& partition : tree.getPartitions()) partition.second->print(printed);
}

// The reader buffers of one parse (a single allocation of about 160 KiB), the
// parser's own tables, and the document's node heap, which Xerces grows in
// blocks that double up to 512 KiB: a document of a few thousand elements
// takes one whole block.
constexpr size_t kXercesFixedCost = 768 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Both live between inputs: the platform's first initialisation and the
  // database are no part of any input's memory budget.
  static DomParser platform;
  static const std::unique_ptr<AdaptedFeatureDb> db = makeDatabase();
  return kivet_fuzz::check(
      size,
      [&] {
        AdaptedPartitionTree tree(db.get(), "overallsimilarity");
        try {
          tree.load(reinterpret_cast<const char*>(data), static_cast<unsigned>(size));
        } catch (const StandardException&) {
          if (tree.hasPartitions()) kivet_fuzz::finding("a failed load left partitions behind");
          return;
        }
        useTree(tree, *db);
      },
      kXercesFixedCost);
}
