#pragma once
// Classifier model files and query signatures for the tests, written with the
// library's own signature writer: feature objects from row lists with text and
// integer parameters, whole signatures from them, and files on disk.

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"
#include "signature/sign_data_multi.h"

namespace models {

using Rows = std::vector<std::vector<float>>;
using Texts = std::map<std::string, std::string>;
using Integers = std::map<std::string, int>;

inline CFeatureObject<float>* object(const std::string& name, const Rows& rows, const Texts& texts = {},
                                     const Integers& integers = {}, float msPerRow = 10.0f) {
  auto* feature = new CFeatureObject<float>(name, 0);
  feature->setMsPerRow(msPerRow);
  const unsigned cols = rows.empty() ? 0 : static_cast<unsigned>(rows[0].size());
  feature->getMatrix().resize(static_cast<unsigned>(rows.size()), cols);
  for (unsigned r = 0; r < rows.size(); ++r)
    for (unsigned c = 0; c < cols; ++c) feature->getMatrix()(r, c) = rows[r][c];
  for (const auto& text : texts) feature->setParameter(text.first.c_str(), text.second);
  for (const auto& integer : integers) feature->setParameter(integer.first.c_str(), integer.second);
  return feature;
}

inline std::unique_ptr<CAudioSignMulti> signature(const std::vector<CFeatureObjectBase*>& features) {
  auto data = std::make_unique<CSignDataMulti>();
  for (CFeatureObjectBase* feature : features) data->insert(feature);
  return std::make_unique<CAudioSignMulti>(data.release());
}

// Writes the signature of features to path and returns the path (a
// testfiles::tempPath, so that tests running side by side never share it).
inline std::string file(const std::string& path, const std::vector<CFeatureObjectBase*>& features) {
  std::ofstream out(path, std::ios::binary);
  signature(features)->write(out);
  return path;
}

inline Rows identity(unsigned n) {
  Rows rows(n, std::vector<float>(n, 0.0f));
  for (unsigned i = 0; i < n; ++i) rows[i][i] = 1.0f;
  return rows;
}

// The three adaptation objects of a model that passes features of dim
// columns through unchanged: FTM and FDM identities, FSM offsets 0 and
// divisors 1, no grouping.
inline std::vector<CFeatureObjectBase*> passThrough(const std::string& features, unsigned dim) {
  return {object("FTM", identity(dim), {{"features", features}}, {{"groupframes", 1}, {"hopframes", 1}, {"usevar", 0}}),
          object("FSM", {std::vector<float>(dim, 0.0f), std::vector<float>(dim, 1.0f)}),
          object("FDM", identity(dim))};
}

}  // namespace models
