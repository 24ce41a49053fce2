#include "similarity/semantic_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "similarity/dom_support.h"
#include "similarity/similarity_list.h"

namespace {

using Hits = std::map<uint64_t, std::pair<uint32_t, float>>;

void loadText(SemanticLayer& layer, const std::string& text) {
  DomParser parser;
  layer.load(*parser.parseMemory(text.data(), text.size()).getDocumentElement());
}

TEST(SemanticLayer, LoadsClassesFromCfyElements) {
  SemanticLayer layer;
  loadText(layer,
           "<semanticlayer><class id=\"timbre\"><cfy id=\"mfcc\"/><cfy id=\"mfcc\"/><cfy id=\"sfm\"/></class>"
           "<class id=\"energy\"><cfy id=\"mfcc\"/><group><cfy id=\"loud\"/></group></class>"
           "<class><cfy id=\"orphan\"/></class><class id=\"nameless\"><cfy/></class></semanticlayer>");
  // A "cfy" belongs to the class its parent names; no id reads as "".
  const std::map<std::string, std::set<std::string>> expected = {
      {"timbre", {"mfcc", "sfm"}}, {"energy", {"mfcc"}}, {"", {"orphan", "loud"}}, {"nameless", {""}}};
  EXPECT_EQ(layer.classes, expected);
  loadText(layer, "<semanticlayer><class id=\"timbre\"><cfy id=\"ase\"/></class></semanticlayer>");
  EXPECT_EQ(layer.classes.at("timbre"), (std::set<std::string>{"ase", "mfcc", "sfm"}));  // added to
}

TEST(SemanticLayer, AppliesDenseRankStatisticsPerClass) {
  SemanticLayer layer;
  layer.classes = {{"a", {"one", "two"}}, {"b", {"two"}}, {"silent", {"none", "empty"}}};
  SimilarityList head("one", 1000);  // D = 2: rank values 0, 0, 0.5
  for (const auto& [distance, id] : {std::pair{1.0f, 10}, {1.0f, 11}, {2.0f, 12}}) head.add(distance, id, 0, -1);
  SimilarityList* two = head.appendList();  // D = 3, song 10 twice: 0, 1/3, 2/3
  two->name = "two";
  for (const auto& [distance, id] : {std::pair{0.1f, 12}, {0.2f, 10}, {0.3f, 10}}) two->add(distance, id, 0, -1);
  head.appendList()->name = "empty";

  const auto statistics = [&](unsigned n) {
    std::vector<SimilarityCandidates> out(5);
    out[0].entries[99] = {7, 7.0f};  // what out held before goes
    layer.apply(head, out, n);
    std::vector<std::tuple<std::string, uint32_t, Hits>> result;
    for (const SimilarityCandidates& c : out) {
      result.emplace_back(c.name, c.lists, Hits());
      for (const auto& [id, entry] : c.entries) std::get<2>(result.back())[id] = {entry.hits, entry.sum};
    }
    return result;
  };
  std::tuple<std::string, uint32_t, Hits> a{"a", 2, {{10, {3, 1.0f}}, {11, {1, 0.0f}}, {12, {2, 0.5f}}}};
  const std::tuple<std::string, uint32_t, Hits> b{"b", 1, {{10, {2, 1.0f}}, {12, {1, 0.0f}}}};
  const std::tuple<std::string, uint32_t, Hits> silent{"silent", 0, {}};
  EXPECT_EQ(statistics(0), (std::vector<std::tuple<std::string, uint32_t, Hits>>{a, b, silent}));
  // With n 1, "a" keeps song 10 (3 hits in 2 lists: d -1/12) and song 12
  // (d 0.125), not song 11 (d 0.25).
  std::get<2>(a).erase(11);
  EXPECT_EQ(std::get<2>(statistics(1)[0]), std::get<2>(a));
}

}  // namespace
