#include "session/song_check.h"

#include <algorithm>
#include <cmath>

#include "session/sl_manager.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"

namespace {

// The vectors a method made of a song: a float feature with a row at least.
const CFeatureObject<float>* vectorsOf(const CAudioSignMulti& song, const std::string& classifier) {
  const CSignDataMulti* data = song.getSignData();
  const CFeatureObject<float>* feature = data != nullptr ? data->getFeature(classifier.c_str()) : nullptr;
  return feature != nullptr && feature->getMatrix().rows > 0 ? feature : nullptr;
}

bool allFinite(const HeapMatrix<float>& values) {
  return std::all_of(values.data, values.data + static_cast<size_t>(values.rows) * values.cols,
                     [](float v) { return std::isfinite(v); });
}

}  // namespace

SongCheck::SongCheck(const SLManager& manager, const CAudioSignMulti* reference) {
  std::set<std::string> fixedLength;
  for (const auto& entry : manager.getMethods()) {
    entry.second->collectClassifierIds(classifiers);
    entry.second->collectFixedLengthClassifiers(fixedLength);
  }
  if (reference == nullptr) return;
  for (const std::string& classifier : fixedLength)
    if (const CFeatureObject<float>* vectors = vectorsOf(*reference, classifier))
      lengths.emplace(classifier, vectors->getMatrix().cols);
}

bool SongCheck::admits(const CAudioSignMulti& song) const {
  const CSignDataMulti* data = song.getSignData();
  if (data == nullptr) return false;
  for (const std::string& classifier : classifiers)
    if (vectorsOf(song, classifier) == nullptr) return false;
  for (const auto& [name, object] : *data) {
    const auto* feature = dynamic_cast<const CFeatureObject<float>*>(object.get());
    if (feature != nullptr && !allFinite(feature->getMatrix())) return false;
  }
  for (const auto& [classifier, length] : lengths)
    if (vectorsOf(song, classifier)->getMatrix().cols != length) return false;
  return true;
}
