#pragma once
// Containers that write themselves to a binary stream and read themselves back
// through one interface, so that the session globals can keep blocks of
// different kinds under one map and store them without knowing their types.
//
// Encodings (integers 4 bytes little-endian, str = u32 length + bytes without
// a terminator, a matrix = a "bin" matrix block):
//   GenericArray<char>   u32 count, then count bytes
//   GenericVector<T>     u32 size, then size elements: a str for std::string,
//                        key str + value matrix for a pair, a nested vector in
//                        its own encoding
//   GenericMap           u32 bucket count, then per bucket u32 m and m pairs
//                        (the encoding of its vector of bucket vectors)
//
// No count read from a stream is trusted: containers grow only as the stream
// delivers their elements, and a stream that ends early fails with the
// StandardException "<Class>::read() unexpected end of stream" (a matrix block
// fails with the matrix reader's own message). A failed read leaves the
// container as it was.

#include <algorithm>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/heap_matrix.h"

class GenericContainerBase {
 public:
  virtual ~GenericContainerBase();
  virtual void read(std::istream& in) = 0;
  virtual void write(std::ostream& out) const = 0;
};

namespace generic_io {

[[noreturn]] void failEndOfStream(const char* origin);

// How one element goes to and comes from a stream; specialised per element type.
template <typename T>
struct Codec;

}  // namespace generic_io

template <typename T>
class GenericArray;

// A byte array: the configuration and partition-tree texts.
template <>
class GenericArray<char> : public GenericContainerBase {
 public:
  // A u32 count and that many bytes.
  void read(std::istream& in) override { read(in, 0); }
  // Exactly n bytes without a count; n = 0 reads the count from the stream.
  void read(std::istream& in, uint32_t n);
  // Exactly n bytes, also none.
  void readExactly(std::istream& in, uint32_t n);
  void write(std::ostream& out) const override;

  // Never null, also when empty.
  const char* data() const { return bytes.empty() ? "" : reinterpret_cast<const char*>(bytes.data()); }
  uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }

 private:
  std::vector<unsigned char> bytes;
};

template <typename K, typename V>
class GenericPair {
 public:
  GenericPair() = default;
  GenericPair(K key, V value) : key(std::move(key)), value(std::move(value)) {}
  GenericPair(const GenericPair&) = default;
  GenericPair(GenericPair&&) = default;
  GenericPair& operator=(const GenericPair&) = default;
  GenericPair& operator=(GenericPair&&) = default;
  virtual ~GenericPair() = default;

  K key;
  V value;
};

// An array with a capacity of its own: the size is set separately and never
// exceeds the capacity.
template <typename T>
class GenericVector : public GenericContainerBase {
 public:
  GenericVector() = default;
  GenericVector(const GenericVector& other) : GenericContainerBase() {
    reserve(other.capacity_);
    std::copy_n(other.elements.get(), other.size_, elements.get());
    size_ = other.size_;
  }
  GenericVector(GenericVector&& other) noexcept { swap(other); }
  GenericVector& operator=(GenericVector other) noexcept {
    swap(other);
    return *this;
  }

  // Grows only: a larger array receives the first size elements.
  void reserve(unsigned n) {
    if (n <= capacity_) return;
    std::unique_ptr<T[]> larger(new T[n]);
    std::move(elements.get(), elements.get() + size_, larger.get());
    elements = std::move(larger);
    capacity_ = n;
  }
  // Grows the capacity when n exceeds it.
  void setSize(unsigned n) {
    reserve(n);
    size_ = n;
  }
  // A full vector grows to 2n + 1.
  void pushBack(T value) {
    if (size_ == capacity_) reserve(2 * capacity_ + 1);
    elements[size_++] = std::move(value);
  }

  unsigned size() const { return size_; }
  unsigned capacity() const { return capacity_; }
  T& operator[](unsigned i) { return elements[i]; }
  const T& operator[](unsigned i) const { return elements[i]; }
  T* begin() { return elements.get(); }
  T* end() { return elements.get() + size_; }
  const T* begin() const { return elements.get(); }
  const T* end() const { return elements.get() + size_; }

  void read(std::istream& in) override { readAs(in, "GenericVector::read()"); }
  void write(std::ostream& out) const override {
    writeUInt32LE(out, size_);
    for (const T& element : *this) generic_io::Codec<T>::write(out, element);
  }

  // read, failing in origin's name: the containers built on vectors report
  // the failure as their own.
  void readAs(std::istream& in, const char* origin) {
    uint32_t n;
    if (!readUInt32LE(in, n)) generic_io::failEndOfStream(origin);
    GenericVector fresh;
    while (fresh.size_ < n) {
      // Grown as elements arrive, so a forged count costs at most twice what
      // the stream really holds.
      if (fresh.size_ == fresh.capacity_)
        fresh.reserve(static_cast<unsigned>(std::min<uint64_t>(n, 2 * uint64_t{fresh.capacity_} + 1)));
      generic_io::Codec<T>::read(in, fresh.elements[fresh.size_], origin);
      ++fresh.size_;
    }
    swap(fresh);
  }

 private:
  void swap(GenericVector& other) noexcept {
    std::swap(capacity_, other.capacity_);
    std::swap(size_, other.size_);
    std::swap(elements, other.elements);
  }

  unsigned capacity_ = 0;
  unsigned size_ = 0;
  std::unique_ptr<T[]> elements;
};

class GenericHash {
 public:
  virtual ~GenericHash();
  virtual uint32_t operator()(uint32_t key) const { return key; }
  // The sum of the characters taken as signed bytes, wrapping in 32 bits.
  virtual uint32_t operator()(const std::string& key) const;
};

// A hash map with a fixed number of buckets. Its entries come only from a
// stream, and stay in the bucket they were written in: nothing is rehashed.
template <typename K, typename V, typename H>
class GenericMap : public GenericContainerBase {
 public:
  using Pair = GenericPair<K, V>;
  using Bucket = GenericVector<Pair>;

  explicit GenericMap(unsigned bucketCount) : bucketCount(bucketCount) { buckets.setSize(bucketCount); }

  // Fails with "GenericMap::operator[]() key not found in map".
  V& operator[](const K& key) { return const_cast<V&>(find(key)); }
  const V& operator[](const K& key) const { return find(key); }

  // Every key, bucket by bucket, in stored order within a bucket.
  GenericVector<K> keys() const {
    GenericVector<K> all;
    for (const Bucket& bucket : buckets)
      for (const Pair& pair : bucket) all.pushBack(pair.key);
    return all;
  }

  // A stream may bring another number of buckets than the map hashes into;
  // lookups still hash into the constructor's count.
  void read(std::istream& in) override { buckets.readAs(in, "GenericMap::read()"); }
  void write(std::ostream& out) const override { buckets.write(out); }

 private:
  const V& find(const K& key) const {
    if (bucketCount != 0) {
      const unsigned index = hash(key) % bucketCount;
      if (index < buckets.size())
        for (const Pair& pair : buckets[index])
          if (pair.key == key) return pair.value;
    }
    throw StandardException("GenericMap::operator[]() key not found in map");
  }

  unsigned bucketCount;
  GenericVector<Bucket> buckets;
  H hash;
};

namespace generic_io {

template <>
struct Codec<std::string> {
  static void write(std::ostream& out, const std::string& text) { writeString(out, text); }
  static void read(std::istream& in, std::string& text, const char* origin);
};

template <>
struct Codec<HeapMatrix<float>> {
  static void write(std::ostream& out, const HeapMatrix<float>& m) { writeMatrixValue(out, m); }
  static void read(std::istream& in, HeapMatrix<float>& m, const char*) { m.read(in); }
};

template <typename K, typename V>
struct Codec<GenericPair<K, V>> {
  static void write(std::ostream& out, const GenericPair<K, V>& pair) {
    Codec<K>::write(out, pair.key);
    Codec<V>::write(out, pair.value);
  }
  static void read(std::istream& in, GenericPair<K, V>& pair, const char* origin) {
    Codec<K>::read(in, pair.key, origin);
    Codec<V>::read(in, pair.value, origin);
  }
};

template <typename T>
struct Codec<GenericVector<T>> {
  static void write(std::ostream& out, const GenericVector<T>& v) { v.write(out); }
  static void read(std::istream& in, GenericVector<T>& v, const char* origin) { v.readAs(in, origin); }
};

}  // namespace generic_io
