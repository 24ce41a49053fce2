#pragma once
// The quantizer module: turns one row of a feature matrix into one byte code
// per value and back by handing consecutive column ranges to a sequence of
// quantizers. Its stored form is the quantizer block (all numbers big-endian):
//   u32 total length (this field included), u16 quantizer count, then per
//   quantizer: u8 type (1 linear, 2 log, 3 sine, 4 polynomial, 5 individual),
//   f32 min, f32 max, u16 width, u16 steps, u8 flag,
//   f32 rising1 and f32 rising2 (type 4 only), steps × f32 thresholds (type 5 only).

#include <memory>
#include <vector>

#include "metadata/sources/vmtl/base_matrix.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "signature/quant.h"

template <typename T>
class CQuantModule {
 public:
  explicit CQuantModule(unsigned columns);
  virtual ~CQuantModule();

  CQuantModule(const CQuantModule&) = delete;
  CQuantModule& operator=(const CQuantModule&) = delete;

  // Appends quantizer (taking ownership) for the next width columns; returns
  // the number of quantizers. A null quantizer (a factory out of memory) is
  // not appended.
  int add(CQuant* quantizer, unsigned width);
  unsigned totalWidth() const;

  // The codes of row, columns long. Each quantizer codes its own column range;
  // columns that no quantizer covers, or that row does not have, get code 0.
  // The result stays valid until the next call.
  const HeapVector<unsigned char>& quantize(const BaseVector<T>& row);
  // The values of codes, columns long; columns without a quantizer or a code
  // get 0. Throws the integer -3 for a code out of a quantizer's range.
  const HeapVector<T>& dequantize(const BaseVector<unsigned char>& codes);
  // The same into a row of outSize places: what the forms above give, cut
  // or padded with 0 to that length.
  void quantize(const BaseVector<T>& row, unsigned char* out, unsigned outSize) const;
  void dequantize(const BaseVector<unsigned char>& codes, T* out, unsigned outSize) const;
  // The codes that the values of codes quantize to again: what a stored row
  // becomes when it is read (dequantized) and written (quantized) once more.
  // Each quantizer answers from a table of its 256 codes, made at the first
  // call, instead of computing both ways for every value. codes must have
  // been dequantized without error.
  void requantize(const BaseVector<unsigned char>& codes, unsigned char* out, unsigned outSize) const;
  // The three forms for all rows of a matrix at once, into rows of outCols
  // places (rows × outCols in all), each row as the row forms give it.
  void quantize(const BaseMatrix<T>& values, unsigned char* out, unsigned outCols) const;
  void dequantize(const BaseMatrix<unsigned char>& codes, T* out, unsigned outCols) const;
  void requantize(const BaseMatrix<unsigned char>& codes, unsigned char* out, unsigned outCols) const;

  unsigned getColumns() const { return columns; }
  unsigned quantizerCount() const { return static_cast<unsigned>(quantizers.size()); }
  const CQuant& getQuantizer(unsigned index) const { return *quantizers[index]; }
  unsigned getWidth(unsigned index) const { return widths[index]; }

 private:
  // Calls code(quantizer index, first column, column count) for the columns
  // of each quantizer that lie inside the module, inCols and outCols, then
  // sets the other places of the rows rows of out to 0.
  template <typename Out, typename Code>
  void bySegments(unsigned rows, unsigned inCols, Out* out, unsigned outCols, Code code) const;

  unsigned columns;
  std::vector<CQuant*> quantizers;
  std::vector<unsigned> widths;
  HeapVector<unsigned char> codeRow;
  HeapVector<T> valueRow;
  // Per quantizer, the code that each code comes back as; made by requantize.
  mutable std::vector<std::vector<unsigned char>> roundTrips;
};

// The block type code of quantizer index, by its dynamic type.
int quantizerTypeCode(const CQuantModule<float>& module, unsigned index);

// The length of module's quantizer block; 0 for no module. Throws
// FeatureObjException "quantizer module too large for a quantizer block" when
// a count, a width or a threshold count does not fit its 16-bit field.
unsigned quantBlockSize(const CQuantModule<float>* module);
// Writes module's block into buffer, which holds quantBlockSize(module) bytes;
// returns the bytes written.
unsigned writeQuantBlock(const CQuantModule<float>& module, unsigned char* buffer);
// A module of the given column count rebuilt from the block of length bytes.
// Throws FeatureObjException "unknown type of quantizer found" for an unknown
// type and "format error in input stream" when an entry runs past the block;
// quantizer construction errors pass through. Nothing is kept on failure.
std::unique_ptr<CQuantModule<float>> readQuantBlock(const unsigned char* block, unsigned length, unsigned columns);
