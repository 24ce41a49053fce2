#include "similarity/overall_similarity.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "metadata/sources/common/saturating_cast.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/matrix_func.h"
#include "metadata/sources/vmtl/vector_func.h"
#include "signature/audio_sign_multi.h"
#include "similarity/adapted_feature_db.h"
#include "similarity/distance_scan.h"
#include "similarity/dom_support.h"
#include "similarity/segment_list.h"
#include "similarity/session_globals.h"
#include "similarity/session_utils.h"

using namespace xercesc;

namespace {

const std::string kAdapt = "OverallSimilarity::adapt() ";
const std::string kProcess = "OverallSimilarity::process() ";

// Per band of the "MSE" feature, the rise of the smoothed log energy from one
// frame to the next that counts as an onset (before the factor 1.1).
constexpr float kOnsetLevels[] = {0.3587f, 0.0822f, 0.3982f, 0.4976f, 0.2946f, 0.4977f, 0.3044f,
                                  0.3643f, 0.2950f, 0.2498f, 0.2302f, 0.1888f, 0.1543f, 0.2284f};
constexpr unsigned kOnsetBands = sizeof(kOnsetLevels) / sizeof(kOnsetLevels[0]);
constexpr unsigned kOnsetWindowLength = 7;
constexpr float kOnsetDecay = 0.9f;

// v as the next row of m. A row without values is kept as such, so that a
// song whose vector is empty (a melody of one note) still has its row.
void appendVectorRow(HeapMatrix<float>& m, const BaseVector<float>& v) {
  if (m.rows > 0 && v.size != m.cols) vmtl::fail("different column sizes", vmtl::kHeapMatrixHeader, 278);
  if (v.size == 0)
    m.resize(m.rows + 1, 0);
  else
    m.appendRow(v);
}

// The first column read as a pitch track, cut into notes (runs of one value;
// a run of -1, no note, counts only at the end): the pitch intervals between
// consecutive notes, then the absolute log ratios of their lengths.
HeapVector<float> melodicPiece(const HeapMatrix<float>& m) {
  struct Note {
    int32_t pitch;
    uint32_t length;
  };
  std::vector<Note> notes;
  if (m.rows > 0 && m.cols > 0) {
    float run = m(0, 0);
    uint32_t length = 1;
    for (unsigned t = 1; t < m.rows; ++t) {
      const float value = m(t, 0);
      if (value == run) {
        ++length;
        continue;
      }
      if (run != -1.0f) notes.push_back({toIntSaturated(run), length});
      run = value;
      length = 1;
    }
    notes.push_back({toIntSaturated(run), length});
  }
  if (notes.size() < 2) return HeapVector<float>();
  const unsigned steps = static_cast<unsigned>(notes.size() - 1);
  HeapVector<float> piece(2 * steps);
  for (unsigned i = 0; i < steps; ++i) {
    piece[i] = static_cast<float>(static_cast<int64_t>(notes[i + 1].pitch) - notes[i].pitch);
    piece[steps + i] =
        static_cast<float>(std::fabs(std::log(static_cast<double>(notes[i + 1].length) / notes[i].length)));
  }
  return piece;
}

// m without the columns listed in drop (each below the column count, none
// twice).
HeapMatrix<float> dropColumns(const HeapMatrix<float>& m, const HeapVector<int>& drop, const std::string& feature,
                              const std::string& classifier) {
  std::vector<bool> dropped(m.cols, false);
  for (const int index : drop) {
    if (index < 0 || static_cast<unsigned>(index) >= m.cols || dropped[index])
      throw StandardException(kAdapt + "dropidx " + std::to_string(index) + " does not fit the " +
                              std::to_string(m.cols) + " columns of feature " + feature + " in: " + classifier);
    dropped[index] = true;
  }
  HeapMatrix<float> kept(m.rows, m.cols - drop.size, 0.0f);
  for (unsigned r = 0; r < m.rows; ++r) {
    float* out = kept.getRow(r).data;
    for (unsigned c = 0; c < m.cols; ++c)
      if (!dropped[c]) *out++ = m(r, c);
  }
  return kept;
}

// Every column to mean 0 and, where it varies, deviation 1. A column that does
// not vary (or of one row, whose variance is 0 / 0) is only shifted.
void normalizeColumns(HeapMatrix<float>& m) {
  const HeapVector<float> means = mean(m, 1);
  const HeapVector<float> variances = var(m);
  for (unsigned c = 0; c < m.cols; ++c) {
    const float deviation = std::sqrt(variances[c]);
    const float scale = deviation > 0.0f && std::isfinite(deviation) ? 1.0f / deviation : 1.0f;
    for (unsigned r = 0; r < m.rows; ++r) m(r, c) = (m(r, c) - means[c]) * scale;
  }
}

// Each run of concat rows as one row; a last incomplete run is left out.
HeapMatrix<float> stackRows(const HeapMatrix<float>& m, unsigned concat, const std::string& classifier) {
  const uint64_t cols = static_cast<uint64_t>(m.cols) * concat;
  if (cols > UINT32_MAX) throw StandardException(kAdapt + "concat too large in: " + classifier);
  HeapMatrix<float> stacked(m.rows / concat, static_cast<unsigned>(cols), 0.0f);
  std::copy_n(m.data, stacked.elementCount(), stacked.data);
  return stacked;
}

// The column means of the column variances of the blocks of n rows (one
// block of all rows when there are fewer than n).
HeapVector<float> blockVariances(const HeapMatrix<float>& m, unsigned n) {
  // Each row of the groups: the block's column means, then its variances.
  const HeapVector<float> means = mean(group(m, n, n, true), 1);
  HeapVector<float> piece(m.cols);
  std::copy_n(means.data + m.cols, m.cols, piece.data);
  return piece;
}

}  // namespace

// The onset mask of the frames that one segment row reads. Row 0 reads the
// whole song and its whole mask. A segment row reads the rows that the
// segmentation split keeps of each feature, which depend on the feature's
// frame period, so it takes the same rows of the mask: they fit the feature's
// rows wherever the song's mask fits the song's.
class OverallSimilarity::RowOnsets {
 public:
  // segmented: the song when the row reads the segments labelled label, null
  // for row 0.
  RowOnsets(const HeapVector<bool>& song, const CSignDataMulti* segmented, float label)
      : song(song), segmented(segmented), label(label) {}

  // The mask of the rows of a feature msPerRow apart.
  const HeapVector<bool>& of(float msPerRow) {
    if (segmented == nullptr || !segmented->segmentRows(label, msPerRow, song.size, ranges)) return song;
    uint64_t total = 0;
    for (const CSignDataMulti::RowRange& range : ranges) total += range.count;
    if (total > UINT32_MAX) throw std::bad_array_new_length();
    part.resize(static_cast<unsigned>(total));
    bool* out = part.data;
    for (const CSignDataMulti::RowRange& range : ranges) out = std::copy_n(song.data + range.first, range.count, out);
    return part;
  }

 private:
  const HeapVector<bool>& song;
  const CSignDataMulti* segmented;
  float label;
  std::vector<CSignDataMulti::RowRange> ranges;
  HeapVector<bool> part;
};

OverallSimilarity::OverallSimilarity(const DOMElement& element, EventHandler* handler)
    : SimilarityMethod("overallsimilarity", handler), onsetThresholds(kOnsetBands), onsetWindow(kOnsetWindowLength) {
  const int32_t low = OverallClassifierSettings::lowbpm;
  const int32_t high = OverallClassifierSettings::highbpm;
  try {
    forEachChildElement(element, toXmlString("classifier"), [&](const DOMElement& classifier) {
      if (!classifier.hasAttributes()) return;
      int64_t version = 0;
      if (hasAttribute(classifier, "version")) {
        const std::string text = attributeText(classifier, "version");
        if (!readNumber(text, version))
          throwNotANumber(classifier, "version", text, "OverallSimilarity::OverallSimilarity()");
      }
      classifiers.emplace_back(classifier, static_cast<uint32_t>(version));
    });
  } catch (...) {
    OverallClassifierSettings::lowbpm = low;
    OverallClassifierSettings::highbpm = high;
    throw;
  }
  for (unsigned b = 0; b < kOnsetBands; ++b) onsetThresholds[b] = 1.1f * kOnsetLevels[b];
  for (unsigned k = 0; k < kOnsetWindowLength; ++k)
    onsetWindow[k] = static_cast<float>((1.0 - std::cos((k + 1) * 0.125 * 6.2832)) * 0.5);
}

OverallSimilarity::~OverallSimilarity() = default;

void OverallSimilarity::collectClassifierIds(std::set<std::string>& ids) {
  for (const OverallClassifierSettings& classifier : classifiers) ids.insert(classifier.name);
}

void OverallSimilarity::collectFixedLengthClassifiers(std::set<std::string>& ids) {
  for (const OverallClassifierSettings& classifier : classifiers)
    if (!classifier.isMelodic()) ids.insert(classifier.name);
}

bool OverallSimilarity::createOnsetMask(const BaseMatrix<float>& mse, HeapVector<bool>& mask, float decay) const {
  if (mse.cols > onsetThresholds.size)
    throw StandardException("OverallSimilarity::createOnsetMask() MSE has " + std::to_string(mse.cols) +
                            " bands, more than the " + std::to_string(onsetThresholds.size) + " onset thresholds");
  const unsigned frames = mse.rows;
  HeapVector<float> band(frames);
  std::vector<double> rise(frames, 0.0);
  for (unsigned b = 0; b < mse.cols; ++b) {
    band.assignColumn(mse.getColumn(b));
    util::conv(band, onsetWindow);
    for (float& e : band) e = static_cast<float>(std::log(static_cast<double>(e) + 1e-5));
    for (unsigned t = 0; t + 1 < frames; ++t) band[t] = band[t + 1] - band[t];
    if (frames > 0) band[frames - 1] = 0.0f;
    // An onset holds on, fading, over the frames after it.
    const float threshold = onsetThresholds[b];
    float held = 0.0f;
    for (unsigned t = 0; t < frames; ++t) {
      if (band[t] > threshold)
        held = band[t];
      else
        band[t] = held > threshold ? held : 0.0f;
      held *= decay;
      rise[t] += band[t];
    }
  }
  mask.resize(frames + 2);
  std::fill(mask.begin(), mask.end(), false);
  bool none = true;
  for (unsigned t = 0; t < frames; ++t) {
    if (rise[t] > 0.0) {
      mask[t + 2] = true;
      none = false;
    }
  }
  return none;
}

HeapVector<float> OverallSimilarity::summarise(const CSignDataMulti& row, const OverallClassifierSettings& c,
                                               RowOnsets& onsets) const {
  const bool melodic = c.isMelodic();
  if (!melodic && !c.mean && c.variance == 0)
    throw StandardException(kAdapt + "invalid classifier settings, no grouping given in: " + c.name);
  if (!melodic && (c.concat < 0 || c.variance < 0))
    throw StandardException(kAdapt + "invalid classifier settings, negative concat or variance in: " + c.name);
  HeapVector<float> vector;
  for (const std::string& name : c.features) {
    const CFeatureObject<float>* feature = row.getFeature(name.c_str());
    if (feature == nullptr) throw StandardException(kAdapt + "feature not found in signature " + name);
    if (melodic) {
      vector.append(melodicPiece(feature->getMatrix()));
      continue;
    }
    HeapMatrix<float> m =
        c.dropidx.size > 0 ? dropColumns(feature->getMatrix(), c.dropidx, name, c.name) : feature->getMatrix();
    if (c.normalization) normalizeColumns(m);
    if (c.pruning) {
      // The selection checks that the mask and the frames fit, also when it
      // is not used: a feature of another frame count is a configuration
      // error whatever the song.
      const HeapVector<bool>& mask = onsets.of(feature->getMsPerRow());
      HeapMatrix<float> kept = m[mask];
      if (std::find(mask.begin(), mask.end(), true) != mask.end()) m = std::move(kept);
    }
    if (c.concat != 0) m = stackRows(m, static_cast<unsigned>(c.concat), c.name);
    if (c.mean) vector.append(mean(m, 1));
    if (c.variance == 1) vector.append(var(m));
    if (c.variance > 1) vector.append(blockVariances(m, static_cast<unsigned>(c.variance)));
  }
  return vector;
}

void OverallSimilarity::adapt(const CAudioSignMulti& in, CAudioSignMulti& out) {
  const std::set<std::string> labels = SegmentList(in).labels();
  const unsigned rows = labels.size() == 1 && *labels.begin() == "-1" ? 1 : static_cast<unsigned>(labels.size()) + 1;
  const CSignDataMulti* source = in.getSignData();
  const CFeatureObject<float>* mse = source != nullptr ? source->getFeature("MSE") : nullptr;
  if (mse == nullptr) throw StandardException(kAdapt + "MSE could not be found in signature to create onset mask");
  HeapVector<bool> mask;
  createOnsetMask(mse->getMatrix(), mask, kOnsetDecay);

  auto data = std::make_unique<CSignDataMulti>();
  auto label = labels.begin();
  for (unsigned r = 0; r < rows; ++r) {
    std::unique_ptr<CSignDataMulti> segment;
    float value = 0.0f;
    if (r > 0) {
      readNumber(*label++, value);
      segment = std::make_unique<CSignDataMulti>();
      source->splitSegmentation(*segment, value);
    }
    const CSignDataMulti& row = r == 0 ? *source : *segment;
    RowOnsets onsets(mask, r == 0 ? nullptr : source, value);
    for (const OverallClassifierSettings& c : classifiers) {
      if (r == 0) data->insert(new CFeatureObject<float>(c.name, static_cast<unsigned short>(5000 + c.version)));
      appendVectorRow(data->getFeature(c.name.c_str())->getMatrix(), summarise(row, c, onsets));
    }
  }
  const CSignatureID id = in.getTuid();
  data->setTuid(id.getLow(), id.getHigh());
  if (out.getSignData() != nullptr)
    out.getSignData()->append(*data);
  else
    out.setSignData(data.release());
}

void OverallSimilarity::process(const CAudioSignMulti& query, SimilarityList& out, const QueryParameters& params) {
  transformQuery(const_cast<CAudioSignMulti&>(query));
  if (params.strategy.skip != 0) return;

  const CSignDataMulti* data = query.getSignData();
  for (const OverallClassifierSettings& c : classifiers) {
    SimilarityList& list = out.empty() ? out : *out.appendList();
    const CFeatureObject<float>* feature = data != nullptr ? data->getFeature(c.name.c_str()) : nullptr;
    if (feature != nullptr && isFiltered(c.name)) continue;
    if (feature == nullptr)
      throw StandardException(kProcess + "could not find classifier-id in query-signature: " + c.name);
    list.name = c.name;
    if (params.resultCount != 0) list.truncate(static_cast<int>(params.resultCount));

    const HeapMatrix<float>& vectors = feature->getMatrix();
    const BaseVector<float> q(vectors.data, vectors.rows == 0 ? 0 : vectors.cols);
    const AdaptedSignatureMap& range = referenceRange(params, &q, c.name);
    const ReferenceRows& rows = referenceRows(c.name);
    DistanceScan scan(c, q, list, scratch);
    if (coversDatabase(range))
      scan.all(rows);
    else
      forEachReference(range, rows, [&](unsigned i) { scan.one(rows, i); });
    if (params.resultCount == 0) list.keepCumulativeFraction(0.2f);
  }
}

void OverallSimilarity::transformQuery(CAudioSignMulti& query) {
  const uint8_t flags = SessionUtils::transformFlags(query);
  const bool linearize = (flags & SessionUtils::kLinearizedFlag) == 0 && globals != nullptr && globals->hasLLT();
  const bool normalize = (flags & SessionUtils::kNormalizedFlag) == 0 && globals != nullptr && globals->hasNRM();
  if (!linearize && !normalize) return;
  // The flags say that every vector of the query has been transformed, so
  // all are, whether or not this query compares them (a classifier left out
  // of it, a skipped query).
  if (linearize) SessionUtils::setTransformFlag(query, SessionUtils::kLinearizedFlag);
  if (normalize) SessionUtils::setTransformFlag(query, SessionUtils::kNormalizedFlag);
  CSignDataMulti* data = query.getSignData();
  if (data == nullptr) return;
  const std::set<std::string> linearized = linearize ? globals->linearizationNames() : std::set<std::string>();
  const std::set<std::string> normalized = normalize ? globals->normalizationNames() : std::set<std::string>();
  const uint64_t id = query.getTuid().toUInt64();
  bool stored = database != nullptr && database->contains(id) && database->entry(id) == &query;
  for (const OverallClassifierSettings& c : classifiers) {
    CFeatureObject<float>* feature = data->getFeature(c.name.c_str());
    const bool lookup = linearized.count(c.name) != 0;
    const bool scale = normalized.count(c.name) != 0;
    if (feature == nullptr || feature->getMatrix().rows == 0 || !(lookup || scale)) continue;
    // Noted before the first change, which may stop half-way: the
    // references' copies read the stored row again before they are next read.
    if (stored) database->markChanged(id);
    stored = false;
    BaseVector<float> q = feature->getMatrix().getRow(0);
    if (lookup) SessionUtils::applyLinearizationLookup(q, *globals->getLinearizationTable(c.name));
    if (scale) SessionUtils::applyNormalization(q, *globals->getNormalizationTable(c.name));
  }
}
