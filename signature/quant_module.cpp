#include "signature/quant_module.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "metadata/sources/common/byte_stream.h"
#include "platform/byte_order.h"
#include "signature/feature_object_exception.h"
#include "signature/stream_reader.h"

// ---------------------------------------------------------------- CQuantModule

template <typename T>
CQuantModule<T>::CQuantModule(unsigned columns) : columns(columns) {}

template <typename T>
CQuantModule<T>::~CQuantModule() {
  for (CQuant* quantizer : quantizers) delete quantizer;
}

template <typename T>
int CQuantModule<T>::add(CQuant* quantizer, unsigned width) {
  if (quantizer == nullptr) return static_cast<int>(quantizers.size());
  std::unique_ptr<CQuant> owned(quantizer);
  quantizers.reserve(quantizers.size() + 1);
  widths.reserve(widths.size() + 1);
  quantizers.push_back(owned.release());
  widths.push_back(width);
  return static_cast<int>(quantizers.size());
}

template <typename T>
unsigned CQuantModule<T>::totalWidth() const {
  unsigned total = 0;
  for (unsigned width : widths) total += width;
  return total;
}

// The widths need not add up to the column count (a module may be handed
// quantizers covering more or fewer columns than it has): each quantizer gets
// the part of its range that lies inside the module, the rows given and the
// rows written, and the places left over get a defined 0. The work goes
// quantizer by quantizer over all rows, so that each quantizer is set up once
// per block rather than once per row.
template <typename T>
template <typename Out, typename Code>
void CQuantModule<T>::bySegments(unsigned rows, unsigned inCols, Out* out, unsigned outCols, Code code) const {
  const unsigned limit = std::min({columns, inCols, outCols});
  unsigned offset = 0;
  for (size_t i = 0; i < quantizers.size() && offset < limit; ++i) {
    const unsigned count = std::min(widths[i], limit - offset);
    code(i, offset, count);
    offset += count;
  }
  for (unsigned r = 0; r < rows; ++r) std::fill(out + size_t(r) * outCols + offset, out + size_t(r + 1) * outCols, Out(0));
}

template <typename T>
void CQuantModule<T>::quantize(const BaseMatrix<T>& values, unsigned char* out, unsigned outCols) const {
  bySegments(values.rows, values.cols, out, outCols, [&](size_t i, unsigned offset, unsigned count) {
    const CQuant& quantizer = *quantizers[i];
    for (unsigned r = 0; r < values.rows; ++r)
      quantizer.quantize(out + size_t(r) * outCols + offset, values.data + size_t(r) * values.cols + offset, count);
  });
}

template <typename T>
void CQuantModule<T>::dequantize(const BaseMatrix<unsigned char>& codes, T* out, unsigned outCols) const {
  bySegments(codes.rows, codes.cols, out, outCols, [&](size_t i, unsigned offset, unsigned count) {
    const CQuant& quantizer = *quantizers[i];
    for (unsigned r = 0; r < codes.rows; ++r)
      quantizer.dequantize(out + size_t(r) * outCols + offset, codes.data + size_t(r) * codes.cols + offset, count);
  });
}

template <typename T>
void CQuantModule<T>::requantize(const BaseMatrix<unsigned char>& codes, unsigned char* out, unsigned outCols) const {
  if (roundTrips.size() != quantizers.size()) {
    roundTrips.assign(quantizers.size(), std::vector<unsigned char>(256, 0));
    for (size_t i = 0; i < quantizers.size(); ++i) {
      for (unsigned c = 0; c < 256; ++c) {
        const auto code = static_cast<unsigned char>(c);
        float value;
        try {
          quantizers[i]->dequantize(&value, &code, 1);
        } catch (int) {
          continue;  // a code out of range, which no stored row holds
        }
        quantizers[i]->quantize(&roundTrips[i][c], &value, 1);
      }
    }
  }
  bySegments(codes.rows, codes.cols, out, outCols, [&](size_t i, unsigned offset, unsigned count) {
    const unsigned char* table = roundTrips[i].data();
    for (unsigned r = 0; r < codes.rows; ++r) {
      const unsigned char* from = codes.data + size_t(r) * codes.cols + offset;
      unsigned char* to = out + size_t(r) * outCols + offset;
      for (unsigned k = 0; k < count; ++k) to[k] = table[from[k]];
    }
  });
}

template <typename T>
void CQuantModule<T>::quantize(const BaseVector<T>& row, unsigned char* out, unsigned outSize) const {
  quantize(BaseMatrix<T>(row.data, 1, row.size), out, outSize);
}

template <typename T>
void CQuantModule<T>::dequantize(const BaseVector<unsigned char>& codes, T* out, unsigned outSize) const {
  dequantize(BaseMatrix<unsigned char>(codes.data, 1, codes.size), out, outSize);
}

template <typename T>
void CQuantModule<T>::requantize(const BaseVector<unsigned char>& codes, unsigned char* out, unsigned outSize) const {
  requantize(BaseMatrix<unsigned char>(codes.data, 1, codes.size), out, outSize);
}

template <typename T>
const HeapVector<unsigned char>& CQuantModule<T>::quantize(const BaseVector<T>& row) {
  codeRow.resize(columns);
  quantize(row, codeRow.data, columns);
  return codeRow;
}

template <typename T>
const HeapVector<T>& CQuantModule<T>::dequantize(const BaseVector<unsigned char>& codes) {
  valueRow.resize(columns);
  dequantize(codes, valueRow.data, columns);
  return valueRow;
}

template class CQuantModule<float>;

// ---------------------------------------------------------------- quantizer block

namespace {

enum QuantizerType : uint8_t { kLinear = 1, kLog = 2, kSin = 3, kPolynomial = 4, kIndividual = 5 };

constexpr unsigned kBlockHeaderSize = 6;
constexpr unsigned kEntrySize = 14;
constexpr unsigned kRisingSize = 8;
constexpr uint32_t kMaxField16 = 0xFFFF;

[[noreturn]] void failTooLarge() { throw FeatureObjException("quantizer module too large for a quantizer block"); }

unsigned char* putU8(unsigned char* cursor, uint8_t value) {
  *cursor = value;
  return cursor + 1;
}

unsigned char* putU16(unsigned char* cursor, uint16_t value) {
  const uint16_t stored = platform::hostToNetwork16(value);
  std::memcpy(cursor, &stored, 2);
  return cursor + 2;
}

unsigned char* putU32(unsigned char* cursor, uint32_t value) {
  const uint32_t stored = writeUInt32BE(value);
  std::memcpy(cursor, &stored, 4);
  return cursor + 4;
}

unsigned char* putF32(unsigned char* cursor, float value) {
  uint32_t pattern;
  std::memcpy(&pattern, &value, 4);
  return putU32(cursor, pattern);
}

CQuant* requireQuantizer(CQuant* quantizer) {
  if (quantizer == nullptr) throw std::bad_alloc();
  return quantizer;
}

}  // namespace

int quantizerTypeCode(const CQuantModule<float>& module, unsigned index) {
  const CQuant* quantizer = &module.getQuantizer(index);
  if (dynamic_cast<const CQuant_log*>(quantizer)) return kLog;
  if (dynamic_cast<const CQuant_sin*>(quantizer)) return kSin;
  if (dynamic_cast<const CQuant_polynomial*>(quantizer)) return kPolynomial;
  if (dynamic_cast<const CQuant_Individual*>(quantizer)) return kIndividual;
  return kLinear;
}

unsigned quantBlockSize(const CQuantModule<float>* module) {
  if (module == nullptr) return 0;
  if (module->quantizerCount() > kMaxField16) failTooLarge();
  uint64_t length = kBlockHeaderSize;
  for (unsigned i = 0; i < module->quantizerCount(); ++i) {
    if (module->getWidth(i) > kMaxField16) failTooLarge();
    length += kEntrySize;
    const int type = quantizerTypeCode(*module, i);
    if (type == kPolynomial) length += kRisingSize;
    if (type == kIndividual) {
      // The thresholds follow the stored step count; more of them than the
      // field can count would make the block unreadable.
      const size_t thresholds = module->getQuantizer(i).getTable().size();
      if (thresholds > kMaxField16) failTooLarge();
      length += 4 * static_cast<uint64_t>(thresholds);
    }
  }
  if (length > UINT32_MAX) failTooLarge();
  return static_cast<unsigned>(length);
}

unsigned writeQuantBlock(const CQuantModule<float>& module, unsigned char* buffer) {
  const unsigned length = quantBlockSize(&module);
  unsigned char* cursor = buffer;
  cursor = putU32(cursor, length);
  cursor = putU16(cursor, static_cast<uint16_t>(module.quantizerCount()));
  for (unsigned i = 0; i < module.quantizerCount(); ++i) {
    const CQuant& quantizer = module.getQuantizer(i);
    const int type = quantizerTypeCode(module, i);
    cursor = putU8(cursor, static_cast<uint8_t>(type));
    cursor = putF32(cursor, quantizer.getMin());
    cursor = putF32(cursor, quantizer.getMax());
    cursor = putU16(cursor, static_cast<uint16_t>(module.getWidth(i)));
    cursor = putU16(cursor, static_cast<uint16_t>(quantizer.getSteps()));
    cursor = putU8(cursor, quantizer.getFlag() ? 1 : 0);
    if (type == kPolynomial) {
      cursor = putF32(cursor, quantizer.getRising1());
      cursor = putF32(cursor, quantizer.getRising2());
    }
    if (type == kIndividual)
      for (float threshold : quantizer.getTable()) cursor = putF32(cursor, threshold);
  }
  return static_cast<unsigned>(cursor - buffer);
}

std::unique_ptr<CQuantModule<float>> readQuantBlock(const unsigned char* block, unsigned length, unsigned columns) {
  auto module = std::make_unique<CQuantModule<float>>(columns);
  StreamReader reader(block, length);
  reader.readU32();  // the total length, which the caller has already used to cut the block
  const unsigned count = reader.readU16();
  std::vector<float> thresholds;
  for (unsigned i = 0; i < count; ++i) {
    const uint8_t type = reader.readU8();
    const float min = reader.readF32();
    const float max = reader.readF32();
    const unsigned width = reader.readU16();
    const int steps = reader.readU16();
    const bool flag = reader.readU8() != 0;
    CQuant* quantizer = nullptr;
    switch (type) {
      case kLinear:
        quantizer = requireQuantizer(newQuantLinear(min, max, steps, flag));
        break;
      case kLog:
        quantizer = requireQuantizer(newQuantLog(min, max, steps, flag));
        break;
      case kSin:
        quantizer = requireQuantizer(newQuantSin(min, max, steps, flag));
        break;
      case kPolynomial: {
        const float rising1 = reader.readF32();
        const float rising2 = reader.readF32();
        quantizer = requireQuantizer(newQuantPolynomial(min, max, steps, flag, rising1, rising2));
        break;
      }
      case kIndividual:
        // The thresholds must be in the block before room is made for them.
        if (reader.remaining() / 4 < static_cast<unsigned>(steps)) StreamReader::fail();
        thresholds.resize(static_cast<size_t>(steps));
        for (float& threshold : thresholds) threshold = reader.readF32();
        quantizer = requireQuantizer(newQuantIndividual(thresholds.data(), static_cast<unsigned>(steps), min, max));
        break;
      default:
        throw FeatureObjException("unknown type of quantizer found");
    }
    module->add(quantizer, width);
  }
  return module;
}
