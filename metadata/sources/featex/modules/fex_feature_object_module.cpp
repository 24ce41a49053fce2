#include "metadata/sources/featex/modules/fex_feature_object_module.h"

#include <cfloat>
#include <cmath>

#include "metadata/sources/featex/fex_module_registry.h"
#include "signature/meta_frame.h"
#include "signature/meta_tags.h"
#include "signature/quant.h"

namespace {

const CFexFeatureObjectModuleInfo moduleInfo;

// Every quantiser of the feature has 256 steps: one byte per value.
constexpr int kQuantSteps = 256;

// A setting read as a double and truncated toward zero as the 32-bit target
// converts: a value beyond the int range, or NaN, gives INT32_MIN.
int32_t truncatedSetting(const SettingsBase& settings, const std::string& key, double dflt) {
  const double value = settings.getDouble(key, dflt);
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

float floatSetting(const SettingsBase& settings, const std::string& key, double dflt) {
  return static_cast<float>(settings.getDouble(key, dflt));
}

// Equal ends are widened by 0.00001 so that the quantiser has a range. Beyond a
// magnitude of about 256 that step is lost in the float's rounding and the
// quantiser would refuse a constant feature; the ends are then widened by the
// same fraction of their magnitude (downwards where upwards would overflow).
// Infinite ends have no range to widen into and stay as they are.
void widenEqualEnds(float& lo, float& hi) {
  hi = hi + 0.00001f;
  if (hi > lo || !std::isfinite(lo)) return;
  const float step = std::fabs(lo) * 0.00001f;
  if (std::isfinite(lo + step))
    hi = lo + step;
  else
    lo = lo - step;
}

// The quantiser of the characteristic name over [lo, hi]; null for an
// unknown name.
CQuant* newQuantizer(const std::string& line, float lo, float hi, float rising1, float rising2) {
  if (line == "uniform") return new CQuant(lo, hi, kQuantSteps, false);
  if (line == "log") return new CQuant_log(lo, hi, kQuantSteps, false);
  if (line == "sin") return new CQuant_sin(lo, hi, kQuantSteps, false);
  if (line == "polynomial") return new CQuant_polynomial(lo, hi, kQuantSteps, false, rising1, rising2);
  return nullptr;
}

}  // namespace

KIVET_FEX_BUILTIN_MODULE(CFexFeatureObjectModule, "fex_feature_object");

CFexFeatureObjectModuleInfo::CFexFeatureObjectModuleInfo()
    : CFexProjectModuleInfo("... create feature object", "Aug 14 2007") {}

CFexFeatureObjectModule::CFexFeatureObjectModule(SettingsBase* local, SettingsBase* global)
    : CFexMetaSinkModule(local, global, &moduleInfo) {
  const std::string featname = local->getString("featname");
  if (featname.empty()) throw simpleException("unspecified param: featname");
  const int32_t featver = local->getLong("featver", -1);
  if (featver < 0) throw simpleException("unspecified param: featver");

  startColumn = local->getLong("sc", -1);
  endColumn = local->getLong("ec", -1);
  quantLine = local->getString("quantLine");
  quantMin = floatSetting(*local, "quantMin", -1.0);
  quantMax = floatSetting(*local, "quantMax", -1.0);
  rising1 = floatSetting(*local, "rising1", -1.0);
  rising2 = floatSetting(*local, "rising2", -1.0);
  const int32_t divisions = local->getLong("nrOfDivisions", -1);
  nrOfDivisions = divisions < 0 ? 1u : static_cast<uint32_t>(divisions);
  auf = floatSetting(*global, "auf", 0.0);
  // The band-limit setting belongs to the feature below the band module that
  // wrote it; a later branch must not take it for its own.
  if (auf != 0.0f) global->remove("auf");
  firstBandEx = local->getBool("firstBandEx");
  frameDuration = truncatedSetting(*global, "frameDuration", 30.0);
  frameOverlap = truncatedSetting(*global, "frameOverlap", 0.0);
  groupFrames = truncatedSetting(*local, "groupFrames", 1.0);
  overlapFrames = truncatedSetting(*local, "overlapFrames", 0.0);
  msPerRow = truncatedSetting(*local, "msPerRow", 0.0);

  // The absent default -1 counts as given: "polynomial" passes only with one
  // of the slopes explicitly 0.
  if (rising1 != 0.0f && rising2 != 0.0f && quantLine == "polynomial")
    throw simpleException("rising1 and rising2 are parameters only for polynomial quantizer");
  rangeSet = startColumn != -1 && endColumn != -1;
  if (rangeSet && startColumn >= endColumn) throw simpleException("invalid range border in featureObject");

  templateObject = std::make_unique<CFeatureObject<float>>(featname, static_cast<unsigned short>(featver));
  std::string key;
  for (unsigned i = 0, n = local->size(); i < n; ++i) {
    key = local->getNextKey(key);
    if (key == "featname" || key == "featver" || key == "name" || key == "instance") continue;
    templateObject->setParameter(std::make_pair(key, local->getString(key)));
  }
}

CFexFeatureObjectModule::~CFexFeatureObjectModule() = default;

CFexModule* CFexFeatureObjectModule::newInstance(SettingsBase* local, SettingsBase* global) {
  return new CFexFeatureObjectModule(local, global);
}

const CFexModuleInfo* CFexFeatureObjectModule::getModuleInfo() { return &moduleInfo; }

const std::string& CFexFeatureObjectModule::getInputSignalSpace() { return inputSpace; }
const std::string& CFexFeatureObjectModule::getOutputSignalSpace() { return outputSpace; }

unsigned CFexFeatureObjectModule::process(void** output, const void* input) {
  *output = nullptr;
  const auto& in = *static_cast<const BaseVector<float>*>(input);
  if (in.size == 0) return 0;

  if (collected.elementCount() == 0) {
    // Computed in 32 bits like the range itself; a range that does not fit
    // the input is refused by subvector below.
    const unsigned columns =
        rangeSet ? static_cast<uint32_t>(endColumn) - static_cast<uint32_t>(startColumn) + 1u : in.size;
    collected.resize(0, columns);
  }
  // Growing by a share of what is there keeps the cost of a song linear in
  // its length.
  collected.reserveMoreRows(1);
  collected.appendRow(rangeSet ? in.subvector(static_cast<uint32_t>(startColumn), collected.cols) : in);
  return 0;
}

unsigned CFexFeatureObjectModule::getOutputSize(unsigned inputSize) {
  // Compared unsigned: a negative last column is as much out of range as one
  // beyond the input.
  if (rangeSet && static_cast<uint32_t>(endColumn) >= inputSize)
    throw simpleException("invalid range border \"ec\" in featureObject");
  return 0;
}

void CFexFeatureObjectModule::divisionColumns(unsigned columns, unsigned i, unsigned& start, unsigned& end) const {
  const unsigned width = columns / nrOfDivisions;
  start = width * i;
  end = width * (i + 1);
  if (firstBandEx) {
    if (i == 0) end = 1;
    if (i == 1) start = 1;
  }
  if (i + 1 == nrOfDivisions) end = columns;
}

std::unique_ptr<CQuantModule<float>> CFexFeatureObjectModule::makeQuantModule(const HeapMatrix<float>& rows) const {
  if (quantLine.empty()) return nullptr;
  auto block = std::make_unique<CQuantModule<float>>(rows.cols);
  const bool autoRange = quantMin == -1.0f && quantMax == -1.0f;
  for (unsigned i = 0; i < nrOfDivisions; ++i) {
    unsigned start, end;
    divisionColumns(rows.cols, i, start, end);
    float lo = quantMin;
    float hi = quantMax;
    if (autoRange) {
      lo = FLT_MAX;
      hi = -FLT_MAX;
      for (unsigned r = 0; r < rows.rows; ++r) {
        const float* row = rows.data + static_cast<size_t>(r) * rows.cols;
        for (unsigned c = start; c < end; ++c) {
          const float value = row[c];
          if (lo > value) lo = value;
          if (hi < value) hi = value;
        }
      }
    }
    if (lo == hi) widenEqualEnds(lo, hi);
    // A given range serves every division alike, but each quantiser still
    // covers only its own division's columns: the block codes exactly the
    // columns of a row, never past its end.
    CQuant* quantizer = newQuantizer(quantLine, lo, hi, rising1, rising2);
    if (quantizer) block->add(quantizer, end - start);
  }
  return block;
}

float CFexFeatureObjectModule::rowPeriod() const {
  if (msPerRow != 0) return static_cast<float>(msPerRow);
  const uint32_t group = groupFrames != 0 ? static_cast<uint32_t>(groupFrames) : 1u;
  // The product is an int of the 32-bit target: it wraps rather than widens.
  const uint32_t period = (group - static_cast<uint32_t>(overlapFrames)) *
                          (static_cast<uint32_t>(frameDuration) - static_cast<uint32_t>(frameOverlap));
  return static_cast<float>(static_cast<int32_t>(period));
}

void CFexFeatureObjectModule::getMetaFrame(SMetaFrame& frame, int final) {
  deliver(frame, final);
  forgetSetAside();
}

void CFexFeatureObjectModule::deliverFinalSettingAside(SMetaFrame& frame) { deliver(frame, 1); }

void CFexFeatureObjectModule::restoreSetAside() noexcept { collected = std::move(setAside); }

void CFexFeatureObjectModule::forgetSetAside() noexcept { setAside = HeapMatrix<float>(); }

void CFexFeatureObjectModule::deliver(SMetaFrame& frame, int final) {
  CFeatureObject<float> object(*templateObject, true);
  if (nrOfDivisions > collected.cols)
    throw simpleException("not more number of divisions than number of bands are allowed");
  // The last delivery hands the rows over instead of copying them; should it
  // fail, they are given back, as they stay when a delivery fails otherwise.
  HeapMatrix<float>& rows = object.getMatrix();
  const bool handOver = final && collected.cols != 0;
  if (handOver)
    rows = std::move(collected);
  else
    rows.appendRows(collected);
  try {
    if (auf != 0.0f) object.setParameter("auf", auf);

    std::unique_ptr<CQuantModule<float>> block = makeQuantModule(rows);
    if (frameDuration != 0) object.setParameter("msPerRow", rowPeriod());
    if (block) object.setQuantModule(block.release());

    const unsigned size = object.getStreamSize();
    const char* tag = metaTagName(META_TAG_FEATOBJ);
    unsigned char* data = frame.set(7, size, tag, nullptr);
    object.write(data, size);
  } catch (...) {
    if (handOver) collected = std::move(rows);
    throw;
  }
  if (!final) return;
  setAside = std::move(rows);
  collected.resize(0, 0);
}
