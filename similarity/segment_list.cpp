#include "similarity/segment_list.h"

#include <cmath>
#include <locale>
#include <sstream>

#include "metadata/sources/common/saturating_cast.h"
#include "signature/audio_sign_multi.h"

namespace {

// Segments shorter than this on average per distinct label are not used.
constexpr float kShortestMeanSegmentSeconds = 12.0f;

uint32_t roundedSeconds(double seconds) { return toUnsignedSaturated(std::floor(seconds + 0.5)); }

// The song's length in whole seconds, from its first feature (in name order);
// 0 for a signature without features.
uint32_t songSeconds(const CSignDataMulti* data) {
  if (data == nullptr || data->empty()) return 0;
  CFeatureObjectBase& first = *data->begin()->second;
  FeatureDataInfo info;
  const float ms = static_cast<float>(first.getDataInfo(info).rows) * first.getMsPerRow();
  return roundedSeconds(ms * 0.001);
}

// The number of distinct labels in column 2. NaN labels count as one value of
// their own: no order can place them, and a set ordered by < would take in or
// drop them depending on where they stand.
size_t distinctLabels(const HeapMatrix<float>& table) {
  std::set<float> distinct;
  bool notANumber = false;
  for (unsigned r = 0; r < table.rows; ++r) {
    if (std::isnan(table(r, 2)))
      notANumber = true;
    else
      distinct.insert(table(r, 2));
  }
  return distinct.size() + (notANumber ? 1 : 0);
}

}  // namespace

SegmentList::SegmentList(const CAudioSignMulti& signature) {
  const CSignDataMulti* data = signature.getSignData();
  // Only a float table with the label column can be read: any other
  // "SEGMENTATION" (of another element type, too few columns or no rows) is
  // taken as absent.
  const CFeatureObject<float>* segmentation = data != nullptr ? data->getFeature("SEGMENTATION") : nullptr;
  if (segmentation == nullptr || segmentation->getMatrix().rows == 0 || segmentation->getMatrix().cols < 3) {
    append(songSeconds(data), "-1");
    return;
  }
  const HeapMatrix<float>& table = segmentation->getMatrix();
  const float songEnd = table(table.rows - 1, 1);
  if (songEnd / static_cast<float>(distinctLabels(table)) >= kShortestMeanSegmentSeconds) {
    for (unsigned r = 0; r < table.rows; ++r) append(toUnsignedSaturated(table(r, 1)), floatToString(table(r, 2)));
  } else {
    append(roundedSeconds(songEnd), "-1");
  }
}

std::set<std::string> SegmentList::labels() const {
  std::set<std::string> distinct;
  for (const SegmentRecord& segment : segments) distinct.insert(segment.label);
  return distinct;
}

void SegmentList::append(uint32_t end, const std::string& label) {
  SegmentRecord segment;
  segment.start = segments.empty() ? 0 : segments.back().end;
  segment.end = end;
  segment.label = label;
  segments.push_back(segment);
}

std::string floatToString(float value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << value;
  return out.str();
}
