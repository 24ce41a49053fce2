#pragma once
// The owning row-major matrix. It keeps the number of elements allocated as its
// capacity, so shrinking and growing back within it never reallocates.

#include <algorithm>
#include <cstdint>
#include <new>

#include "metadata/sources/vmtl/base_matrix.h"

template <typename T>
class HeapMatrix : public BaseMatrix<T> {
 public:
  using BaseMatrix<T>::data;
  using BaseMatrix<T>::rows;
  using BaseMatrix<T>::cols;

  HeapMatrix() = default;
  HeapMatrix(unsigned rows, unsigned cols, T fill) {
    allocate(elementCountOf(rows, cols));
    this->rows = rows;
    this->cols = cols;
    std::fill_n(data, capacity, fill);
  }
  HeapMatrix(const BaseMatrix<T>& src) { copyFrom(src); }
  HeapMatrix(const HeapMatrix& src) : BaseMatrix<T>() { copyFrom(src); }
  HeapMatrix(HeapMatrix&& src) noexcept : BaseMatrix<T>(src.data, src.rows, src.cols), capacity(src.capacity) {
    src.data = nullptr;
    src.rows = src.cols = src.capacity = 0;
  }
  // n rows, each a copy of `row`.
  HeapMatrix(const BaseVector<T>& row, unsigned n) {
    allocate(elementCountOf(n, row.size));
    rows = n;
    cols = row.size;
    for (unsigned r = 0; r < n; ++r) std::copy_n(row.data, cols, data + static_cast<size_t>(r) * cols);
  }
  ~HeapMatrix() override { delete[] data; }

  HeapMatrix& operator=(const BaseMatrix<T>& src) {
    if (this == &src) return *this;
    const unsigned count = elementCountOf(src.rows, src.cols);
    if (count != capacity) {
      T* block = count ? new T[count] : nullptr;
      std::copy_n(src.data, count, block);
      delete[] data;
      data = block;
      capacity = count;
    } else {
      std::copy_n(src.data, count, data);
    }
    rows = src.rows;
    cols = src.cols;
    return *this;
  }
  HeapMatrix& operator=(const HeapMatrix& src) { return *this = static_cast<const BaseMatrix<T>&>(src); }
  HeapMatrix& operator=(HeapMatrix&& src) noexcept {
    if (this != &src) {
      delete[] data;
      data = src.data;
      rows = src.rows;
      cols = src.cols;
      capacity = src.capacity;
      src.data = nullptr;
      src.rows = src.cols = src.capacity = 0;
    }
    return *this;
  }

  // Reallocates (discarding the contents) only when the new shape needs more
  // than the capacity; otherwise the elements stay where they were in the block.
  void resize(unsigned newRows, unsigned newCols) {
    const unsigned count = elementCountOf(newRows, newCols);
    if (count > capacity) {
      delete[] data;
      data = nullptr;
      capacity = 0;
      rows = cols = 0;  // a failed allocation leaves an empty matrix, not a shape without a block
      allocate(count);
    }
    rows = newRows;
    cols = newCols;
  }

  // Makes room for n rows after the present ones, keeping them. When the
  // block must grow it at least doubles (within the 32-bit element count), so
  // that a matrix collected row by row is copied a few times in all rather
  // than once per row; addRows, appendRow and appendRows then fit without
  // reallocating. Pages of the block that no row has reached yet are not
  // touched.
  void reserveMoreRows(unsigned n) {
    if (cols == 0) return;
    const uint64_t needed = static_cast<uint64_t>(rows) + n;
    if (needed * cols <= capacity) return;
    const uint64_t largest = UINT32_MAX / cols;
    reserveRows(std::max(needed, std::min(2 * static_cast<uint64_t>(rows), largest)));
  }

  // Adds n rows of undefined contents, keeping the existing rows.
  void addRows(unsigned n) {
    if (cols == 0) vmtl::fail("column size is 0", vmtl::kHeapMatrixHeader, 247);
    reserveRows(static_cast<uint64_t>(rows) + n);
    rows += n;
  }

  void appendRows(const BaseMatrix<T>& m) {
    if (cols == 0) cols = m.cols;
    if (m.cols != cols) vmtl::fail("different column sizes", vmtl::kHeapMatrixHeader, 267);
    if (aliases(m.data)) {
      const HeapMatrix copy(m);
      appendRows(copy);
      return;
    }
    const unsigned oldRows = rows;
    addRows(m.rows);
    std::copy_n(m.data, m.elementCount(), data + static_cast<size_t>(oldRows) * cols);
  }

  void appendRow(const BaseVector<T>& v) {
    if (cols == 0) cols = v.size;
    if (v.size != cols) vmtl::fail("different column sizes", vmtl::kHeapMatrixHeader, 278);
    if (aliases(v.data)) {
      const HeapVector<T> copy(v);
      appendRow(copy);
      return;
    }
    addRows(1);
    std::copy_n(v.data, cols, data + static_cast<size_t>(rows - 1) * cols);
  }

  // Drops the first n rows; the rest move to the front of the same block.
  void removeFirstRows(unsigned n) {
    if (n > rows) vmtl::fail("excerpt is too long", vmtl::kHeapMatrixHeader, 681);
    if (n > 0 && n < rows) std::copy(data + static_cast<size_t>(n) * cols, data + this->elementCount(), data);
    rows -= n;
  }

  // Becomes rowCount x colCount holding src's block starting at (firstRow,
  // firstCol). The caller guarantees that the block lies inside src.
  void assignBlock(const BaseMatrix<T>& src, unsigned firstRow, unsigned rowCount, unsigned firstCol,
                   unsigned colCount) {
    resize(rowCount, colCount);
    for (unsigned r = 0; r < rowCount; ++r)
      std::copy_n(src.data + static_cast<size_t>(firstRow + r) * src.cols + firstCol, colCount,
                  data + static_cast<size_t>(r) * colCount);
  }

  // The rows whose flag is set, in their order.
  HeapMatrix operator[](const BaseVector<bool>& selector) const {
    if (selector.size != rows)
      vmtl::fail("HeapMatrix<Type>::operator[](BaseVector<uint>) logical-vector and matrix do not fit",
                 vmtl::kHeapMatrixHeader, 82);
    const unsigned selected = static_cast<unsigned>(std::count(selector.begin(), selector.end(), true));
    HeapMatrix result;
    result.allocate(elementCountOf(selected, cols));
    result.rows = selected;
    result.cols = cols;
    T* out = result.data;
    for (unsigned r = 0; r < rows; ++r) {
      if (!selector[r]) continue;
      out = std::copy_n(data + static_cast<size_t>(r) * cols, cols, out);
    }
    return result;
  }

  // Reads a stored "MAT" block (matrix_block.h) from a buffer of exactly its
  // length (float, unsigned char, unsigned int) or from a stream (float),
  // resizing the matrix; returns the bytes consumed.
  unsigned readFromBuffer(const void* buffer, unsigned length) {
    return vmtl::readBlockFromBuffer(*this, buffer, length);
  }
  unsigned read(std::istream& in) { return vmtl::readBlockFromStream(*this, in); }

  unsigned capacity = 0;

 private:
  // Element counts are 32-bit; a shape whose count does not fit could never be
  // allocated on the original target and must not wrap into a small block here.
  static unsigned elementCountOf(uint64_t rows, uint64_t cols) {
    const uint64_t count = rows * cols;
    if (count > UINT32_MAX) throw std::bad_array_new_length();
    return static_cast<unsigned>(count);
  }

  void allocate(unsigned count) {
    data = count ? new T[count] : nullptr;
    capacity = count;
  }

  void copyFrom(const BaseMatrix<T>& src) {
    allocate(elementCountOf(src.rows, src.cols));
    rows = src.rows;
    cols = src.cols;
    std::copy_n(src.data, capacity, data);
  }

  // Grows the block to exactly newRows * cols elements when it holds fewer,
  // keeping the rows.
  void reserveRows(uint64_t newRows) {
    const unsigned count = elementCountOf(newRows, cols);
    if (count <= capacity) return;
    T* block = new T[count];
    // Rows that had no columns before appendRows / appendRow adopted a count
    // have no elements in the old block: never copy more than it holds.
    std::copy_n(data, std::min<size_t>(this->elementCount(), capacity), block);
    delete[] data;
    data = block;
    capacity = count;
  }

  bool aliases(const T* p) const { return p != nullptr && p >= data && p < data + capacity; }
};

