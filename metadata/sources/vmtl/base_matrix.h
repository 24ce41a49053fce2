#pragma once
// The row-major matrix view: element (r, c) is data[r * cols + c]. Rows come out
// as vector views, row ranges as matrix views and columns as strided views; all
// of them stay valid only while the memory they point into does.

#include <cstdint>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/matrix_block.h"

template <typename T>
class BaseMatrix {
 public:
  BaseMatrix() = default;
  BaseMatrix(T* data, unsigned rows, unsigned cols) : data(data), rows(rows), cols(cols) {}
  BaseMatrix(const BaseMatrix&) = default;
  // A view is never re-pointed through assignment: through a reference to an
  // owning matrix that would hand it foreign memory to free.
  BaseMatrix& operator=(const BaseMatrix&) = delete;
  virtual ~BaseMatrix() = default;

  BaseVector<T> getRow(unsigned r) const { return BaseVector<T>(data + static_cast<size_t>(r) * cols, cols); }

  BaseMatrix getRows(unsigned first, unsigned count) {
    if (static_cast<uint64_t>(first) + count > rows)
      vmtl::fail("Index exceeds matrix dimension", vmtl::kBaseMatrixHeader, 239);
    return BaseMatrix(data + static_cast<size_t>(first) * cols, count, cols);
  }
  const BaseMatrix getRows(unsigned first, unsigned count) const {
    if (static_cast<uint64_t>(first) + count > rows)
      vmtl::fail("Index exceeds matrix dimension", vmtl::kBaseMatrixHeader, 247);
    return BaseMatrix(data + static_cast<size_t>(first) * cols, count, cols);
  }

  StrideVector<T> getColumn(unsigned c) const { return StrideVector<T>(data + c, cols, rows); }

  T& operator()(unsigned r, unsigned c) const { return data[static_cast<size_t>(r) * cols + c]; }
  size_t elementCount() const { return static_cast<size_t>(rows) * cols; }
  bool empty() const { return rows == 0 || cols == 0; }

  // The stored "MAT" block (matrix_block.h): into a buffer (float, unsigned char,
  // unsigned int; returns the bytes written) or onto a stream (float; returns
  // the number of elements). mode is "bin" or "txt".
  unsigned writeToBuffer(void* buffer, unsigned bufferLength, const char* mode) const {
    return vmtl::writeBlockToBuffer(*this, buffer, bufferLength, mode);
  }
  unsigned write(std::ostream& out, const char* mode) const { return vmtl::writeBlockToStream(*this, out, mode); }

  T* data = nullptr;
  unsigned rows = 0;
  unsigned cols = 0;
};
