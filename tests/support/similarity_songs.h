#pragma once
// Songs and a similarity-engine configuration for the session tests, made
// small enough to reason about: a song is an extracted-like signature whose
// frame feature "F" holds one constant row per frame (so its mean is the
// song's value and its distance to another song is plain arithmetic), beside
// the "MSE" onset bands that the overall similarity needs.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "signature/audio_sign_multi.h"
#include "signature/audio_sign_tag_writer.h"
#include "signature/feature_object.h"

namespace songs {

constexpr unsigned kFrames = 8;

// "near" (Euclidean) and "far" (sum of differences) compare the mean of F;
// "idle" is stored at the parameterisation's minimum, so a query without
// parameter values leaves it out. The semantic class "all" holds the first two.
inline const std::string kConfiguration =
    "<session>"
    "<similaritymethod module=\"overallsimilarity\">"
    "<classifier name=\"near\" version=\"1\"><param key=\"feature\" value=\"F\"/><param key=\"mean\" value=\"1\"/>"
    "</classifier>"
    "<classifier name=\"far\" version=\"2\"><param key=\"feature\" value=\"F\"/><param key=\"mean\" value=\"1\"/>"
    "<param key=\"metric\" value=\"l1norm\"/></classifier>"
    "<classifier name=\"idle\" version=\"3\"><param key=\"feature\" value=\"F\"/><param key=\"mean\" value=\"1\"/>"
    "</classifier>"
    "</similaritymethod>"
    "<parameterization min=\"0\" max=\"1\">"
    "<parameter name=\"p\" value=\"1\"><cfy name=\"near\"/><cfy name=\"far\"/></parameter>"
    "<parameter name=\"q\" value=\"0\"><cfy name=\"idle\"/></parameter>"
    "</parameterization>"
    "<semanticlayer><class id=\"all\"><cfy id=\"near\"/><cfy id=\"far\"/></class></semanticlayer>"
    "</session>";

inline CFeatureObject<float>* constantFeature(const char* name, unsigned rows, const std::vector<float>& row) {
  auto* feature = new CFeatureObject<float>(name, 100);
  HeapMatrix<float>& m = feature->getMatrix();
  m.resize(rows, static_cast<unsigned>(row.size()));
  for (unsigned r = 0; r < rows; ++r)
    for (unsigned c = 0; c < m.cols; ++c) m.data[r * m.cols + c] = row[c];
  return feature;
}

// A song of value under id (0: none yet), titled title when one is given.
inline std::unique_ptr<CAudioSignMulti> song(uint32_t id, float value, const std::string& title = "") {
  auto data = std::make_unique<CSignDataMulti>();
  data->insert(constantFeature("MSE", kFrames, {1.0f, 1.0f}));
  data->insert(constantFeature("F", kFrames + 2, {value}));
  if (id != 0) data->setTuid(id, 0);
  auto signature = std::make_unique<CAudioSignMulti>(data.release());
  if (!title.empty()) {
    CAudioSignTagWriter tags;
    tags.setSignature(signature.get());
    tags.setTag("TIT2", title);
  }
  return signature;
}

}  // namespace songs
