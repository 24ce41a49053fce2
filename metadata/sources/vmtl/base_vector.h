#pragma once
// Vectors: the non-owning view BaseVector, the owning HeapVector, WrapVector over
// foreign memory, and StrideVector, the strided view of a matrix column.
//
// Copying a view copies the pointer; assigning to a view copies elements into
// the memory it points at, and the sizes must agree.

#include <algorithm>
#include <cstdint>

#include "metadata/sources/vmtl/operations.h"
#include "metadata/sources/vmtl/vmtl_exception.h"

template <typename T>
class StrideVector {
 public:
  StrideVector() = default;
  StrideVector(T* data, unsigned stride, unsigned size) : data(data), stride(stride), size(size) {}

  T& operator[](unsigned i) const { return data[static_cast<size_t>(i) * stride]; }

  T* data = nullptr;
  unsigned stride = 0;
  unsigned size = 0;
};

template <typename T>
class BaseVector {
 public:
  BaseVector() = default;
  BaseVector(T* data, unsigned size) : data(data), size(size) {}
  BaseVector(const BaseVector&) = default;
  virtual ~BaseVector() = default;

  // Copies the elements of src into this vector's memory.
  BaseVector& operator=(const BaseVector& src) {
    if (this == &src) return *this;
    if (size != src.size) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 393);
    std::copy_n(src.data, size, data);
    return *this;
  }

  // Copies a strided column into this vector.
  void assignColumn(const StrideVector<T>& column) {
    if (size != column.size) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 402);
    for (unsigned i = 0; i < size; ++i) data[i] = column[i];
  }

  // In place a[i] * b[i].
  BaseVector& operator*=(const BaseVector& b) {
    if (size != b.size) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 356);
    multiplyElements(data, b.data, size);
    return *this;
  }

  // In place a[i] / b[i]; a zero divisor stops the pass where it stands.
  BaseVector& operator/=(const BaseVector& b) {
    if (size != b.size) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 373);
    divideElementwise(data, b.data, size);
    return *this;
  }

  BaseVector subvector(unsigned offset, unsigned length) const {
    // Summed in 64 bits so that a huge length cannot wrap past the check.
    if (static_cast<uint64_t>(offset) + length > size)
      vmtl::fail("subvector parameters out of range", vmtl::kBaseVectorHeader, 256);
    return BaseVector(data + offset, length);
  }

  // The same view as subvector, unchecked.
  BaseVector slice(unsigned offset, unsigned length) const { return BaseVector(data + offset, length); }

  T& operator[](unsigned i) const { return data[i]; }
  T* begin() const { return data; }
  T* end() const { return data + size; }
  bool empty() const { return size == 0; }

  T* data = nullptr;
  unsigned size = 0;
};

// In place a[i] - b[i].
template <typename T>
void subtractInPlace(BaseVector<T>& a, const BaseVector<T>& b) {
  if (a.size != b.size) vmtl::fail("unequal vector size", vmtl::kBaseVectorHeader, 339);
  subtractInPlace(a.data, b.data, a.size);
}

// A view over memory that somebody else owns, such as a static table.
template <typename T>
class WrapVector : public BaseVector<T> {
 public:
  WrapVector(T* data, unsigned size) : BaseVector<T>(data, size) {}
  using BaseVector<T>::operator=;
};

// The owning vector. Its block always holds at least `size` elements; there is
// no separate capacity, so every growth reallocates to exactly the new size.
template <typename T>
class HeapVector : public BaseVector<T> {
 public:
  using BaseVector<T>::data;
  using BaseVector<T>::size;

  HeapVector() = default;
  explicit HeapVector(unsigned n) : BaseVector<T>(n ? new T[n] : nullptr, n) {}
  HeapVector(const BaseVector<T>& src) : HeapVector(src.size) { std::copy_n(src.data, size, data); }
  HeapVector(const HeapVector& src) : HeapVector(static_cast<const BaseVector<T>&>(src)) {}
  HeapVector(HeapVector&& src) noexcept : BaseVector<T>(src.data, src.size) {
    src.data = nullptr;
    src.size = 0;
  }
  ~HeapVector() override { delete[] data; }

  HeapVector& operator=(const BaseVector<T>& src) {
    if (this == &src) return *this;
    if (src.size > size) {
      T* block = new T[src.size];
      std::copy_n(src.data, src.size, block);
      delete[] data;
      data = block;
    } else {
      std::copy_n(src.data, src.size, data);
    }
    size = src.size;
    return *this;
  }
  HeapVector& operator=(const HeapVector& src) { return *this = static_cast<const BaseVector<T>&>(src); }
  HeapVector& operator=(HeapVector&& src) noexcept {
    if (this != &src) {
      delete[] data;
      data = src.data;
      size = src.size;
      src.data = nullptr;
      src.size = 0;
    }
    return *this;
  }

  // Growing discards the contents; shrinking keeps the block.
  void resize(unsigned n) {
    if (n > size) {
      delete[] data;
      data = nullptr;
      size = 0;  // a failed allocation leaves an empty vector, not a size without a block
      data = new T[n];
    }
    size = n;
  }

  // Growing keeps the first `size` elements; shrinking keeps the prefix.
  void resizePreserve(unsigned n) {
    if (n > size) {
      T* block = new T[n];
      std::copy_n(data, size, block);
      delete[] data;
      data = block;
    }
    size = n;
  }

  // `v` may be a view into this vector: it is read before the old block goes.
  void append(const BaseVector<T>& v) {
    if (v.size == 0) return;
    const unsigned total = size + v.size;
    T* block = new T[total];
    std::copy_n(data, size, block);
    std::copy_n(v.data, v.size, block + size);
    delete[] data;
    data = block;
    size = total;
  }
};
