#include "similarity/aspect_similarity.h"

#include <algorithm>
#include <utility>

#include "metadata/sources/common/standard_exception.h"
#include "signature/audio_sign_multi.h"
#include "similarity/dom_support.h"
#include "similarity/rhythmic_pattern_classifier.h"
#include "similarity/segment_list.h"

using namespace xercesc;

namespace {

const std::string kOrigin = "AspectSimilarity::AspectSimilarity()";

// The value of an optional numeric attribute; fallback when it is absent.
template <typename T>
T optionalNumber(const DOMElement& element, const std::string& name, T fallback) {
  if (!hasAttribute(element, name)) return fallback;
  const std::string text = attributeText(element, name);
  T value = fallback;
  if (!readNumber(text, value)) throwNotANumber(element, name, text, kOrigin);
  return value;
}

std::unique_ptr<AspectClassifier> makeClassifier(const DOMElement& element) {
  const std::string name = requireAttribute(element, "name", kOrigin);
  const std::string type = requireAttribute(element, "type", kOrigin);
  const std::string file = attributeText(element, "file");
  const int version = optionalNumber(element, "version", 0);
  if (type == "NN")
    return std::make_unique<AspectClassifierNN>(name, file, 1, optionalNumber(element, "rejectfactor", 1.0f), version);
  if (type == "GMM") return std::make_unique<AspectClassifierGMM>(name, file, version);
  if (type == "RYT") return std::make_unique<RhythmicPatternClassifier>(name, file, version);
  throw StandardException(kOrigin + " invalid classifier type: " + type);
}

// Sum over a's length of the smaller of a[i] and b[i] (b is at least as
// long), accumulated in double.
float histogramIntersection(const BaseVector<float>& a, const BaseVector<float>& b) {
  double sum = 0.0;
  for (unsigned i = 0; i < a.size; ++i) sum += std::min(a[i], b[i]);
  return static_cast<float>(sum);
}

}  // namespace

AspectSimilarity::AspectSimilarity(const DOMElement& element, EventHandler* handler)
    : SimilarityMethod("aspectsimilarity", handler) {
  forEachChildElement(element, toXmlString("classifier"), [&](const DOMElement& classifier) {
    if (!classifier.hasAttributes()) return;
    classifiers.push_back(makeClassifier(classifier));
  });
}

AspectSimilarity::~AspectSimilarity() = default;

void AspectSimilarity::collectClassifierIds(std::set<std::string>& ids) {
  for (const auto& classifier : classifiers) ids.insert(classifier->getName());
}

void AspectSimilarity::adapt(const CAudioSignMulti& in, CAudioSignMulti& out) {
  const std::set<std::string> labels = SegmentList(in).labels();
  unsigned rows = static_cast<unsigned>(labels.size()) + 1;
  if (labels.size() == 1 && *labels.begin() == "-1") rows = 1;
  if (labels.empty()) rows = 0;
  // The segments' signatures, made once for every classifier.
  std::vector<std::unique_ptr<CAudioSignMulti>> segments;
  for (auto label = labels.begin(); segments.size() + 1 < rows; ++label) {
    float value = 0.0f;
    readNumber(*label, value);
    auto segment = std::make_unique<CSignDataMulti>();
    if (in.getSignData() != nullptr) in.getSignData()->splitSegmentation(*segment, value);
    segments.push_back(std::make_unique<CAudioSignMulti>(segment.release()));
  }

  auto data = std::make_unique<CSignDataMulti>();
  const CSignatureID id = in.getTuid();
  data->setTuid(id.getLow(), id.getHigh());
  for (const auto& classifier : classifiers) {
    const auto& aspects = classifier->getAspects();
    HeapMatrix<float> scores(rows, static_cast<unsigned>(aspects.size()), 0.0f);
    for (unsigned r = 0; r < rows; ++r) {
      ClassifyResult result;
      classifier->classify(r == 0 ? in : *segments[r - 1], result);
      if (result.empty()) continue;
      for (unsigned j = 0; j < scores.cols; ++j) scores(r, j) = result.get(aspects[j]->getName());
    }
    auto* feature =
        new CFeatureObject<float>(classifier->getName(), static_cast<unsigned short>(5000 + classifier->getVersion()));
    feature->getMatrix() = std::move(scores);
    data->insert(feature);
  }
  if (out.getSignData() != nullptr)
    out.getSignData()->append(*data);
  else
    out.setSignData(data.release());
}

void AspectSimilarity::process(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params) {
  if (params.strategy.skip != 0) return;
  const CSignDataMulti* data = query.getSignData();
  for (unsigned k = 0; k < classifiers.size(); ++k) {
    const std::string& name = classifiers[k]->getName();
    SimilarityList& list = out.empty() ? out : *out.appendList();
    if (isFiltered(name)) continue;
    const CFeatureObject<float>* feature = data != nullptr ? data->getFeature(name.c_str()) : nullptr;
    if (feature == nullptr) continue;
    list.name = name;
    if (params.resultCount != 0) list.truncate(static_cast<int>(params.resultCount));
    // A song without a whole-song row has no scores at all.
    if (feature->getMatrix().rows == 0) continue;
    const BaseVector<float> q = feature->getMatrix().getRow(0);
    const float self = histogramIntersection(q, q);
    if (self < 0.5f) continue;
    const float scale = 1.0f / self;
    const ReferenceRows& rows = referenceRows(name);
    forEachReference(referenceRange(params, nullptr, std::string()), rows, [&](unsigned i) {
      const BaseVector<float> r = rows.row(i);
      if (!rows.hasFeature(i) || r.size < q.size) return;
      const float intersection = histogramIntersection(q, r);
      const float share = scale * intersection;
      if (share > 0.5f) list.add(self - intersection, rows.id(i), share, -1);
    });
  }
}
