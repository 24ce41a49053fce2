#include "signature/sign_data_multi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "signature/fingerprint_stream.h"
#include "signature/meta_tags.h"
#include "signature/sign_data_ase_sfm.h"

namespace {

const char kUnwrapOrigin[] = "CSignDataMulti::unwrap(const std::vector<std::string>&) ";
const char kSegmentation[] = "SEGMENTATION";

const char* tagOf(EMetaTag index) { return metaTagName(index); }
unsigned tagLengthOf(EMetaTag index) { return static_cast<unsigned>(std::strlen(metaTagName(index))); }

// Calls visit with the typed object behind obj (float, unsigned char or
// unsigned int); false for an object of none of these.
template <class Visit>
bool visitTyped(CFeatureObjectBase& obj, Visit&& visit) {
  if (auto* typed = dynamic_cast<CFeatureObject<float>*>(&obj)) return visit(*typed), true;
  if (auto* typed = dynamic_cast<CFeatureObject<unsigned char>*>(&obj)) return visit(*typed), true;
  if (auto* typed = dynamic_cast<CFeatureObject<unsigned int>*>(&obj)) return visit(*typed), true;
  return false;
}

unsigned rowCount(CFeatureObjectBase& obj) {
  FeatureDataInfo info;
  return obj.getDataInfo(info).rows;
}

// One feature taking part in an unwrap, with its grouping.
struct Grouped {
  std::string name;
  CFeatureObjectBase* object;
  int64_t groupFrames;
  int64_t overlapFrames;
  unsigned rows;
};

// Output rows of a grouped feature at the base frame rate; row i comes from
// group s = i / hop, optionally mixed with the earlier groups that overlap it.
template <typename T>
void resampleGroups(const HeapMatrix<T>& from, HeapMatrix<T>& to, const Grouped& feature, unsigned maxRows,
                    bool interpolate) {
  const int64_t hop = feature.groupFrames - feature.overlapFrames;
  const int64_t steps =
      static_cast<int64_t>(std::ceil(static_cast<double>(feature.groupFrames) / static_cast<double>(hop))) - 1;
  const int64_t lastRow = static_cast<int64_t>(from.rows) - 1;
  const unsigned cols = from.cols;
  to.resize(maxRows, cols);
  std::vector<double> mixed(cols);
  for (int64_t i = 0; i < maxRows; ++i) {
    const int64_t s = i / hop;
    T* out = to.data + static_cast<size_t>(i) * cols;
    if (!interpolate || i < hop || s > lastRow) {
      const T* in = from.data + static_cast<size_t>(std::min(s, lastRow)) * cols;
      std::copy_n(in, cols, out);
      continue;
    }
    const double f = static_cast<double>(i - hop * s + 1);
    const T* row = from.data + static_cast<size_t>(s) * cols;
    for (unsigned c = 0; c < cols; ++c) mixed[c] = f * static_cast<double>(row[c]);
    double weightSum = f;
    for (int64_t j = 1; j <= steps && s - j >= 0; ++j) {
      // The weights fall with j: once one is spent, so are all further ones.
      const int64_t weight = hop * (s - j) + feature.groupFrames - i;
      if (weight <= 0) break;
      const T* earlier = from.data + static_cast<size_t>(s - j) * cols;
      for (unsigned c = 0; c < cols; ++c) mixed[c] += static_cast<double>(weight) * static_cast<double>(earlier[c]);
      weightSum += static_cast<double>(weight);
    }
    for (unsigned c = 0; c < cols; ++c) out[c] = static_cast<T>(mixed[c] / weightSum);
  }
}

// The copy of a feature that replaces it after an unwrap.
template <typename T>
CFeatureObjectBase* unwrapped(const CFeatureObject<T>& source, const Grouped& feature, unsigned maxRows,
                              float baseMs, bool interpolate) {
  std::unique_ptr<CFeatureObjectBase> copy(source.clone(0, 0));
  auto& typed = static_cast<CFeatureObject<T>&>(*copy);
  const HeapMatrix<T>& from = source.getMatrix();
  if (feature.rows == 1)
    typed.getMatrix() = HeapMatrix<T>(from.getRow(0), maxRows);
  else
    resampleGroups(from, typed.getMatrix(), feature, maxRows, interpolate);
  // Only the period changes: going through the parameter maps would run the
  // write checks of a flatness object, whose period no longer follows its
  // temporal resolution.
  typed.setMsPerRow(baseMs);
  return copy.release();
}

// ⌊value⌋ as a row index, held within a range that no matrix reaches.
int64_t rowIndex(double value) {
  constexpr double kFar = 1e15;
  return static_cast<int64_t>(std::floor(std::max(-kFar, std::min(kFar, value))));
}

using RowRange = CSignDataMulti::RowRange;

// The rows of the given segments (start and end in seconds) in a feature of
// rows rows, msPerRow apart. Segments that lie beyond the rows, or end before
// they start, add nothing.
std::vector<RowRange> rowsOfSegments(const std::vector<std::pair<float, float>>& segments, float msPerRow,
                                     unsigned rows) {
  std::vector<RowRange> ranges;
  const int64_t rowTotal = rows;
  for (const auto& segment : segments) {
    const double first = static_cast<double>(segment.first) * 1000.0 / msPerRow;
    const double last = static_cast<double>(segment.second) * 1000.0 / msPerRow;
    if (!std::isfinite(first) || !std::isfinite(last)) continue;
    const int64_t begin = rowIndex(first);
    int64_t end = rowIndex(last);
    if (end > rowTotal) end = rowTotal - 1;
    if (begin == end) {
      if (begin >= 0 && begin < rowTotal) ranges.push_back({static_cast<unsigned>(begin), 1});
      continue;
    }
    const int64_t from = std::max<int64_t>(begin, 0);
    const int64_t to = std::min(end, rowTotal);
    if (from < to) ranges.push_back({static_cast<unsigned>(from), static_cast<unsigned>(to - from)});
  }
  return ranges;
}

template <typename T>
void keepRows(CFeatureObject<T>& object, const std::vector<RowRange>& ranges) {
  const HeapMatrix<T>& from = object.getMatrix();
  uint64_t total = 0;
  for (const RowRange& range : ranges) total += range.count;
  if (total > UINT32_MAX) throw std::bad_array_new_length();
  HeapMatrix<T> kept;
  kept.resize(static_cast<unsigned>(total), from.cols);
  T* out = kept.data;
  for (const RowRange& range : ranges) {
    const size_t count = static_cast<size_t>(range.count) * from.cols;
    out = std::copy_n(from.data + static_cast<size_t>(range.first) * from.cols, count, out);
  }
  object.getMatrix() = std::move(kept);
}

}  // namespace

CSignDataMulti::CSignDataMulti() = default;

CSignDataMulti::CSignDataMulti(const CSignDataMulti& src, unsigned skipMs, unsigned durationMs, const char* name)
    : CFeatObjMap(), metaFrames(src.metaFrames, META_TAG_FEATOBJ) {
  copyFrom(src, skipMs, durationMs, name);
  if (src.time != 0) time = src.time + (skipMs + 500) / 1000;
  if (name != nullptr) takeActiveFeature();
}

CSignDataMulti::CSignDataMulti(const CFingerprintStream& stream, const char* name)
    : metaFrames(stream, META_TAG_FEATOBJ) {
  // A stream that carries no feature object (a signed stream read without a
  // verifier, a chunk-format file without feature data) is a signature
  // without features rather than a failure.
  if (name != nullptr || stream.find(tagOf(META_TAG_FEATOBJ), tagLengthOf(META_TAG_FEATOBJ)) >= 0)
    readMetaVec(stream, name);
  readTime();
  if (name != nullptr) takeActiveFeature();
}

CSignDataMulti::~CSignDataMulti() = default;

CSignDataMulti& CSignDataMulti::operator=(const CSignDataMulti& src) {
  if (this == &src) return *this;
  // Built aside, so that a failing copy leaves this signature as it was.
  CSignDataMulti copy;
  const char* name = src.getFeature() != nullptr ? src.activeFeature.c_str() : nullptr;
  copy.copyFrom(src, 0, 0, name);
  copy.metaFrames.assignWithout(src.metaFrames, META_TAG_FEATOBJ);
  copy.time = src.time;
  if (name != nullptr) copy.takeActiveFeature();

  objects.swap(copy.objects);
  metaFrames = copy.metaFrames;
  time = copy.time;
  activeFeature.swap(copy.activeFeature);
  hasActiveFeature = copy.hasActiveFeature;
  return *this;
}

CFeatureObjectBase* CSignDataMulti::newFeatureObject(unsigned short featureType,
                                                     const std::string& elementTag) const {
  if (featureType == 1 || featureType == 2) return new CSignDataSFM();
  if (featureType == 3) return new CSignDataASE();
  return CFeatObjMap::newFeatureObject(featureType, elementTag);
}

CFeatureObject<float>* CSignDataMulti::getFeature(const char* name) const {
  if (name == nullptr) {
    if (!hasActiveFeature) return nullptr;
    name = activeFeature.c_str();
  }
  return dynamic_cast<CFeatureObject<float>*>(find(name));
}

void CSignDataMulti::takeActiveFeature() {
  hasActiveFeature = false;
  activeFeature.clear();
  if (objects.empty()) return;
  const auto& first = *objects.begin();
  if (dynamic_cast<const CFeatureObject<float>*>(first.second.get()) == nullptr) return;
  activeFeature = first.first;
  hasActiveFeature = true;
}

void CSignDataMulti::setMetaVec(const CMetaVec& frames) {
  metaFrames.assignWithout(frames, META_TAG_FEATOBJ);
  readTime();
}

void CSignDataMulti::readTime() {
  if (time != 0) return;
  const int index = metaFrames.find(tagOf(META_TAG_TIME), tagLengthOf(META_TAG_TIME));
  const SMetaFrame* frame = metaFrames.frame(index);
  // A frame too short to hold a time is no time value.
  if (frame == nullptr || frame->data == nullptr || frame->dataLen < 4) return;
  time = decodeUInt32BE(frame->data);
  metaFrames.remove(index);
}

void CSignDataMulti::writeTime(CMetaVec& frames) const {
  if (time == 0) return;
  const int index = frames.find(tagOf(META_TAG_TIME), tagLengthOf(META_TAG_TIME));
  if (index >= 0) frames.remove(index);
  const uint32_t stored = writeUInt32BE(time);
  frames.add(tagLengthOf(META_TAG_TIME), tagOf(META_TAG_TIME), 4, reinterpret_cast<const unsigned char*>(&stored));
}

void CSignDataMulti::setTuid(uint32_t low, uint32_t high) {
  const int index = metaFrames.find(tagOf(META_TAG_TUID), tagLengthOf(META_TAG_TUID));
  if (index >= 0) metaFrames.remove(index);
  unsigned char bytes[8];
  encodeUInt64BE(bytes, static_cast<uint64_t>(high) << 32 | low);
  metaFrames.add(tagLengthOf(META_TAG_TUID), tagOf(META_TAG_TUID), sizeof bytes, bytes);
}

uint64_t CSignDataMulti::getTuid() const {
  const SMetaFrame* frame = findMetaFrame(tagOf(META_TAG_TUID));
  if (frame == nullptr || frame->data == nullptr || frame->dataLen < 8) return 0;
  const unsigned char* cursor = frame->data;
  return readUInt64BE(cursor);
}

bool CSignDataMulti::tuidFramesAgree() const {
  const char* tag = tagOf(META_TAG_TUID);
  const unsigned tagLength = tagLengthOf(META_TAG_TUID);
  const SMetaFrame* first = nullptr;
  for (int at = metaFrames.find(tag, tagLength); at >= 0; at = metaFrames.find(tag, tagLength, at + 1)) {
    const SMetaFrame* frame = metaFrames.frame(at);
    if (frame->data == nullptr || frame->dataLen != 8) return false;
    if (first == nullptr)
      first = frame;
    else if (std::memcmp(first->data, frame->data, 8) != 0)
      return false;
  }
  return true;
}

SMetaFrame* CSignDataMulti::findMetaFrame(const char* tag) {
  const CSignDataMulti& self = *this;
  return const_cast<SMetaFrame*>(self.findMetaFrame(tag));
}

const SMetaFrame* CSignDataMulti::findMetaFrame(const char* tag) const {
  if (tag == nullptr) return nullptr;
  return metaFrames.frame(metaFrames.find(tag, static_cast<unsigned>(std::strlen(tag))));
}

unsigned CSignDataMulti::addMetaFrame(const SMetaFrame& frame) {
  metaFrames.add(frame);
  return metaFrames.size();
}

CFingerprintStream& CSignDataMulti::writeStream(CFingerprintStream& out, CRsaObject* signer) const {
  static_cast<CMetaVec&>(out).assignWithout(metaFrames, META_TAG_FEATOBJ);
  writeTime(out);
  if (writeMetaVec(out) == 0) throw FeatureObjException("no feature object to stream");
  if (signer != nullptr) out.setSigner(signer);
  return out;
}

void CSignDataMulti::unwrap(const std::vector<std::string>& names, bool interpolate) {
  std::vector<Grouped> features;
  for (const std::string& name : names) {
    CFeatureObjectBase* object = find(name.c_str());
    if (object == nullptr)
      throw StandardException(std::string(kUnwrapOrigin) + "featre not found int container: " + name);
    if (name == kSegmentation) continue;
    // A name listed twice is one feature: it is brought to the base rate once.
    const bool listed = std::any_of(features.begin(), features.end(),
                                    [&](const Grouped& feature) { return feature.object == object; });
    if (listed) continue;
    int groupFrames = 1;
    int overlapFrames = 0;
    object->getParameter(groupFrames, "groupFrames", false);
    object->getParameter(overlapFrames, "overlapFrames", false);
    features.push_back({name, object, groupFrames, overlapFrames, rowCount(*object)});
  }

  float baseMs = 0.0f;
  unsigned maxRows = 0;
  bool uniform = true;
  for (size_t k = 0; k < features.size(); ++k) {
    const float msPerRow = features[k].object->getMsPerRow();
    if (msPerRow != 0.0f && (baseMs == 0.0f || msPerRow < baseMs)) baseMs = msPerRow;
    maxRows = std::max(maxRows, features[k].rows);
    if (k > 0 && msPerRow != features[k - 1].object->getMsPerRow()) uniform = false;
  }
  if (uniform) return;

  // Every grouping is checked before anything changes.
  for (const Grouped& feature : features) {
    if (feature.rows > 1 && feature.groupFrames != 1 && feature.groupFrames - feature.overlapFrames <= 0)
      throw StandardException(std::string(kUnwrapOrigin) + "overlapFrames must be below groupFrames in feature: " +
                              feature.name);
  }

  for (const Grouped& feature : features) {
    if (feature.rows == 0 || (feature.rows > 1 && feature.groupFrames == 1)) continue;
    CFeatureObjectBase* replacement = nullptr;
    visitTyped(*feature.object, [&](auto& typed) {
      replacement = unwrapped(typed, feature, maxRows, baseMs, interpolate);
    });
    if (replacement != nullptr) insert(replacement);
  }
}

std::vector<std::pair<float, float>> CSignDataMulti::labelledSegments(float label) const {
  std::vector<std::pair<float, float>> segments;
  const CFeatureObject<float>* segmentation = getFeature(kSegmentation);
  if (segmentation == nullptr) return segments;
  const HeapMatrix<float>& table = segmentation->getMatrix();
  if (table.cols >= 3) {
    for (unsigned r = 0; r < table.rows; ++r) {
      if (table(r, 2) == label) segments.emplace_back(table(r, 0), table(r, 1));
    }
  }
  return segments;
}

bool CSignDataMulti::segmentRows(float label, float msPerRow, unsigned rows, std::vector<RowRange>& ranges) const {
  ranges.clear();
  if (msPerRow == 0.0f) return false;
  const std::vector<std::pair<float, float>> segments = labelledSegments(label);
  if (segments.empty()) return false;
  ranges = rowsOfSegments(segments, msPerRow, rows);
  return true;
}

bool CSignDataMulti::splitSegmentation(CSignDataMulti& out, float label) const {
  // Taken before out changes: out may be this very signature.
  const std::vector<std::pair<float, float>> segments = labelledSegments(label);
  out = *this;
  if (segments.empty()) return false;

  for (const auto& entry : out.objects) {
    CFeatureObjectBase& object = *entry.second;
    const float msPerRow = object.getMsPerRow();
    if (msPerRow == 0.0f) continue;
    const std::vector<RowRange> ranges = rowsOfSegments(segments, msPerRow, rowCount(object));
    visitTyped(object, [&](auto& typed) { keepRows(typed, ranges); });
  }
  return true;
}
