#include "signature/feature_object.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <ostream>
#include <type_traits>

#include "metadata/sources/common/saturating_cast.h"
#include "metadata/sources/common/string_util.h"

namespace {

// The integer at the start of text, as atoi reads it; values beyond the int
// range saturate.
int textToInt(const std::string& text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

// The number at the start of text, as atof reads it, narrowed to float
// (beyond the float range: infinity).
float textToFloat(const std::string& text) {
  const double value = std::strtod(text.c_str(), nullptr);
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

CQuant* requireQuantizer(CQuant* quantizer) {
  if (quantizer == nullptr) throw std::bad_alloc();
  return quantizer;
}

template <typename Map>
void dumpMap(std::ostream& out, const char* type, const Map& map) {
  if (map.empty()) return;
  out << "Parameter map <" << type << ">:" << "\n" << std::flush;
  for (const auto& entry : map) out << "\t" << entry.first << "\t = " << entry.second << "\n" << std::flush;
}

}  // namespace

CFeatureObjectBase::~CFeatureObjectBase() = default;

// ---------------------------------------------------------------- construction

template <typename T>
CFeatureObject<T>::CFeatureObject() = default;

template <typename T>
CFeatureObject<T>::CFeatureObject(const std::string& name, unsigned short featureType)
    : featureType(featureType), name(name) {}

template <typename T>
CFeatureObject<T>::CFeatureObject(const CFeatureObject& other, bool copyData)
    : CFeatureObjectBase(),
      featureType(other.featureType),
      name(other.name),
      msPerRow(other.msPerRow),
      stringParams(other.stringParams),
      intParams(other.intParams),
      quantFlag(false),
      quantBlob(other.quantBlob) {
  if (!copyData) return;
  data = other.data;
  // The copy rebuilds the same quantizer from the same block or feature type.
  if (other.storedCodesCurrent) {
    storedCodes = other.storedCodes;
    storedCodesCurrent = true;
  }
}

template <typename T>
CFeatureObject<T>::~CFeatureObject() = default;

// ---------------------------------------------------------------- simple queries

template <typename T>
void CFeatureObject<T>::storeParameters() {
  setParameter("msPerRow", msPerRow);
}

template <typename T>
int CFeatureObject<T>::getDurationMs() const {
  return toIntSaturated(static_cast<float>(data.rows) * msPerRow);
}

template <typename T>
bool CFeatureObject<T>::isEmpty() const {
  return data.elementCount() == 0;
}

template <typename T>
FeatureDataInfo& CFeatureObject<T>::getDataInfo(FeatureDataInfo& info) {
  // The elements are handed out for writing.
  storedCodesCurrent = false;
  info.elementTypeTag = elementTypeTag();
  info.rows = data.rows;
  info.cols = data.cols;
  info.data = data.data;
  return info;
}

template <typename T>
const std::string& CFeatureObject<T>::getName() const {
  return name;
}

template <typename T>
std::string CFeatureObject<T>::getElementType() const {
  return elementTypeTag();
}

template <typename T>
unsigned short CFeatureObject<T>::getFeatureType() const {
  return featureType;
}

template <typename T>
float CFeatureObject<T>::getMsPerRow() const {
  return msPerRow;
}

template <typename T>
void CFeatureObject<T>::setName(const std::string& newName) {
  name = newName;
}

template <typename T>
void CFeatureObject<T>::setDefaultMsPerRow() {
  if (msPerRow == 0.0f) msPerRow = 30.0f;
}

template <typename T>
void CFeatureObject<T>::readParameters() {
  float value;
  if (getParameter(value, "msPerRow", true))
    msPerRow = value;
  else
    setDefaultMsPerRow();
}

template <typename T>
bool CFeatureObject<T>::isCompatible(const CFeatureObjectBase& other) const {
  const auto* same = dynamic_cast<const CFeatureObject<T>*>(&other);
  return same != nullptr && same->msPerRow == msPerRow;
}

template <typename T>
void CFeatureObject<T>::dump(std::ostream& out) {
  storeParameters();
  dumpMap(out, "string", stringParams);
  dumpMap(out, "int", intParams);
}

template <typename T>
void CFeatureObject<T>::clear() {
  featureType = 0;
  name.clear();
  msPerRow = 0.0f;
  quantFlag = false;
  stringParams.clear();
  intParams.clear();
  quantBlob.clear();
  defaultQuant.reset();
  quantModule.reset();
  data.resize(0, 0);
  storedCodes = HeapMatrix<unsigned char>();
  storedCodesCurrent = false;
}

// ---------------------------------------------------------------- parameters

template <typename T>
void CFeatureObject<T>::setParameter(const char* key, int value) {
  intParams[key] = value;
}

template <typename T>
void CFeatureObject<T>::setParameter(const char* key, float value) {
  std::string text;
  stringParams[key] = formatString(text, "%g", static_cast<double>(value));
}

template <typename T>
void CFeatureObject<T>::setParameter(const char* key, const std::string& value) {
  stringParams[key] = value;
}

template <typename T>
void CFeatureObject<T>::setParameter(const std::pair<std::string, std::string>& entry) {
  stringParams[entry.first] = entry.second;
}

template <typename T>
bool CFeatureObject<T>::getParameter(int& out, const char* key, bool erase) {
  const auto number = intParams.find(key);
  if (number != intParams.end()) {
    out = number->second;
    if (erase) intParams.erase(number);
    return true;
  }
  const auto text = stringParams.find(key);
  if (text == stringParams.end()) return false;
  out = textToInt(text->second);
  if (erase) stringParams.erase(text);
  return true;
}

template <typename T>
bool CFeatureObject<T>::getParameter(float& out, const char* key, bool erase) {
  const auto text = stringParams.find(key);
  if (text == stringParams.end()) return false;
  out = textToFloat(text->second);
  if (erase) stringParams.erase(text);
  return true;
}

template <typename T>
bool CFeatureObject<T>::getParameter(std::string& out, const char* key, bool erase) {
  const auto text = stringParams.find(key);
  if (text == stringParams.end()) return false;
  out = text->second;
  if (erase) stringParams.erase(text);
  return true;
}

// ---------------------------------------------------------------- excerpts, skip, append, reserve

template <typename T>
CFeatureObjectBase* CFeatureObject<T>::clone(unsigned skipMs, unsigned durationMs) const {
  return cloneOf(*this, skipMs, durationMs);
}

template <typename T>
uint64_t CFeatureObject<T>::rowAt(uint64_t ms) const {
  if (msPerRow >= 1.0f) {
    // The whole milliseconds of the period; periods beyond 2^40 ms put every
    // time of a 32-bit range into row 0 anyway.
    constexpr uint64_t kLongestPeriod = uint64_t(1) << 40;
    const uint64_t period =
        msPerRow >= static_cast<float>(kLongestPeriod) ? kLongestPeriod : static_cast<uint64_t>(msPerRow);
    return (ms + period / 2) / period;
  }
  // A period below 1 ms has no whole milliseconds: the exact period is used.
  const double row = std::floor((static_cast<double>(ms) + msPerRow / 2.0) / msPerRow);
  return row >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(row);
}

template <typename T>
void CFeatureObject<T>::takeExcerpt(const CFeatureObject& source, unsigned skipMs, unsigned durationMs) {
  const HeapMatrix<T>& from = source.data;
  if (from.elementCount() == 0) return;
  const uint64_t first = source.rowAt(skipMs);
  if (first >= from.rows) throw FeatureObjException("not enough data to create excerpt (skip)");
  uint64_t end = from.rows;
  if (durationMs != 0) end = std::min<uint64_t>(source.rowAt(static_cast<uint64_t>(skipMs) + durationMs), from.rows);
  if (end == first) end = first + 1;
  data = from.getRows(static_cast<unsigned>(first), static_cast<unsigned>(end - first));
}

template <typename T>
unsigned CFeatureObject<T>::skip(unsigned ms) {
  if (msPerRow == 0.0f) return 0;
  const unsigned rows = toUnsignedSaturated(static_cast<float>(ms) / msPerRow);
  if (rows == 0) return 0;
  storedCodesCurrent = false;
  data.removeFirstRows(rows);
  return toUnsignedSaturated(std::floor(static_cast<double>(rows) * msPerRow + 0.5));
}

template <typename T>
unsigned CFeatureObject<T>::append(const CFeatureObjectBase& other) {
  const auto* same = dynamic_cast<const CFeatureObject<T>*>(&other);
  if (same == nullptr || !isCompatible(other))
    throw FeatureObjException("different settings, cannot append feature object");
  storedCodesCurrent = false;
  // A signature extended piece by piece grows its matrices by a share of what
  // they hold, not by exactly the new rows each time.
  if (data.cols == same->data.cols) data.reserveMoreRows(same->data.rows);
  data.appendRows(same->data);
  return data.rows;
}

template <typename T>
unsigned CFeatureObject<T>::reserve(unsigned n) {
  if (data.cols == 0) return 0;
  // Growing by n rows and giving them back leaves the block at exactly
  // (rows + n) × cols when it was smaller, with the contents kept.
  const unsigned rows = data.rows;
  data.addRows(n);
  data.rows = rows;
  return data.capacity / data.cols;
}

// ---------------------------------------------------------------- quantizers

template <typename T>
void CFeatureObject<T>::setQuantModule(CQuantModule<float>* module) {
  if (module == quantModule.get()) return;
  // The default module may be handed back to be adopted: it changes owner.
  if (module != nullptr && module == defaultQuant.get()) defaultQuant.release();
  std::unique_ptr<CQuantModule<float>> incoming(module);
  storedCodesCurrent = false;
  // The block is made before anything changes, so that a module the block
  // cannot describe leaves the object as it was.
  std::vector<unsigned char> block(quantBlockSize(module));
  if (incoming) writeQuantBlock(*incoming, block.data());
  quantModule = std::move(incoming);
  quantBlob.swap(block);
}

template <typename T>
unsigned CFeatureObject<T>::buildDefaultQuantizer(bool flag) {
  const unsigned cols = data.cols;
  if (cols == 0 || quantModule || !quantBlob.empty()) return 0;
  // A default quantizer of another flag may code differently.
  if (flag != quantFlag) storedCodesCurrent = false;
  defaultQuant.reset();
  std::unique_ptr<CQuantModule<float>> module;
  if (featureType == 2) {
    // With an odd column count the last column has no quantizer; the module
    // gives it code 0.
    module = std::make_unique<CQuantModule<float>>(cols);
    module->add(requireQuantizer(newDefaultQuantLinear(flag)), cols / 2);
    module->add(requireQuantizer(newDefaultQuantLinearTenth(flag)), cols / 2);
  } else if (featureType == 3) {
    module = std::make_unique<CQuantModule<float>>(cols);
    module->add(requireQuantizer(newDefaultQuantLog(flag)), cols);
  }
  defaultQuant = std::move(module);
  return defaultQuant ? defaultQuant->totalWidth() : 0;
}

template <typename T>
CQuantModule<float>* CFeatureObject<T>::getQuantizer() const {
  return quantModule ? quantModule.get() : defaultQuant.get();
}

template <typename T>
void CFeatureObject<T>::ensureQuantizer() {
  if (quantModule) return;
  if (!quantBlob.empty()) {
    if (data.cols != 0)
      quantModule = readQuantBlock(quantBlob.data(), static_cast<unsigned>(quantBlob.size()), data.cols);
    return;
  }
  // Only float objects store their matrix through a quantizer.
  if constexpr (std::is_same_v<T, float>) buildDefaultQuantizer(quantFlag);
}

template class CFeatureObject<float>;
template class CFeatureObject<unsigned char>;
template class CFeatureObject<unsigned int>;
