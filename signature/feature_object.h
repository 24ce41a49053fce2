#pragma once
// Feature objects: one named feature matrix of a signature (one row per
// analysis frame), its settings held as named parameters, and the quantizer
// that stores float rows at one byte per value.
//
// CFeatureObjectBase is the interface that signatures and the similarity side
// hold; CFeatureObject<T> implements it for float ("flt"), unsigned char
// ("uchr") and unsigned int ("uint") elements. Failures are FeatureObjException
// (messages prefixed "CFeatureObject: "), except the matrix library's own.
//
// The byte image of an object (the feature-object stream, version 3; all
// numbers big-endian):
//   u16 version, u16 featureType, u8 + name, u8 + element tag, then at most one
//   "Param" sub-block, at most one "Quant" sub-block and one "MAT" sub-block,
//   each introduced by a u8 tag length and the tag text:
//   "Param": u8 map count, then the "string" map and the "int" map when not
//            empty: u8 + type name, u8 entry count, entries in key order of
//            u8 + key, VLQ value length, value (integers as u32);
//   "Quant": a quantizer block (its u32 length first, see quant_module.h);
//   "MAT":   a binary matrix block, whose own "MAT\n" supplies the tag text.

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "metadata/sources/vmtl/type_info.h"
#include "signature/feature_object_exception.h"
#include "signature/quant_module.h"

class StreamReader;

// What getDataInfo reports: the element-type tag, the matrix shape and its
// elements (of the object's element type).
struct FeatureDataInfo {
  const char* elementTypeTag = nullptr;
  unsigned rows = 0;
  unsigned cols = 0;
  void* data = nullptr;
};

class CFeatureObjectBase {
 public:
  virtual ~CFeatureObjectBase();

  // Replaces the whole object by the stream image in buf; returns the bytes consumed.
  virtual unsigned read(const unsigned char* buf, unsigned len) = 0;
  // Writes the stream image; returns the bytes written (getStreamSize()).
  virtual unsigned write(unsigned char* buf, unsigned capacity) = 0;
  virtual unsigned getStreamSize() = 0;
  // Puts the member settings into the parameter maps before writing.
  virtual void storeParameters() = 0;
  // rows × msPerRow, truncated.
  virtual int getDurationMs() const = 0;
  virtual bool isEmpty() const = 0;
  virtual FeatureDataInfo& getDataInfo(FeatureDataInfo& info) = 0;
  virtual const std::string& getName() const = 0;
  virtual std::string getElementType() const = 0;
  // A whole copy (both 0) or the excerpt of the rows from skipMs on lasting
  // durationMs (0: to the end). The caller owns the result.
  virtual CFeatureObjectBase* clone(unsigned skipMs, unsigned durationMs) const = 0;
  // Drops the rows of the first ms milliseconds; returns the milliseconds dropped.
  virtual unsigned skip(unsigned ms) = 0;
  // Appends the rows of a compatible object; returns the new row count.
  virtual unsigned append(const CFeatureObjectBase& other) = 0;
  // Makes room for n more rows; returns the capacity in rows.
  virtual unsigned reserve(unsigned n) = 0;
  virtual unsigned short getFeatureType() const = 0;
  virtual void dump(std::ostream& out) = 0;
  virtual float getMsPerRow() const = 0;
  virtual void clear() = 0;
  virtual void setParameter(const char* key, int value) = 0;
  // Stored as its "%g" text.
  virtual void setParameter(const char* key, float value) = 0;
  virtual void setParameter(const char* key, const std::string& value) = 0;
  // Each returns whether key was found; out is untouched when it was not.
  virtual bool getParameter(int& out, const char* key, bool erase) = 0;
  virtual bool getParameter(float& out, const char* key, bool erase) = 0;
  virtual bool getParameter(std::string& out, const char* key, bool erase) = 0;
};

template <typename T>
class CFeatureObject : public CFeatureObjectBase {
 public:
  CFeatureObject();
  CFeatureObject(const std::string& name, unsigned short featureType);
  // Copies type, name, frame period, parameters and the stored quantizer
  // block; the matrix only when copyData is set. Quantizer modules are not
  // shared: the copy builds its own when it needs one.
  CFeatureObject(const CFeatureObject& other, bool copyData = true);
  ~CFeatureObject() override;

  CFeatureObject& operator=(const CFeatureObject&) = delete;

  unsigned read(const unsigned char* buf, unsigned len) override;
  unsigned write(unsigned char* buf, unsigned capacity) override;
  unsigned getStreamSize() override;
  void storeParameters() override;
  int getDurationMs() const override;
  bool isEmpty() const override;
  FeatureDataInfo& getDataInfo(FeatureDataInfo& info) override;
  const std::string& getName() const override;
  std::string getElementType() const override;
  CFeatureObjectBase* clone(unsigned skipMs, unsigned durationMs) const override;
  unsigned skip(unsigned ms) override;
  unsigned append(const CFeatureObjectBase& other) override;
  unsigned reserve(unsigned n) override;
  unsigned short getFeatureType() const override;
  void dump(std::ostream& out) override;
  float getMsPerRow() const override;
  // Sets the frame period alone, without the parameter checks of a subclass
  // (an unwrapped flatness object no longer follows its temporal resolution).
  void setMsPerRow(float ms) { msPerRow = ms; }
  void clear() override;
  void setParameter(const char* key, int value) override;
  void setParameter(const char* key, float value) override;
  void setParameter(const char* key, const std::string& value) override;
  bool getParameter(int& out, const char* key, bool erase) override;
  bool getParameter(float& out, const char* key, bool erase) override;
  bool getParameter(std::string& out, const char* key, bool erase) override;

  virtual void setName(const std::string& name);
  // msPerRow 0 becomes 30.
  virtual void setDefaultMsPerRow();
  // Runs at the end of every read: takes "msPerRow" out of the parameters.
  virtual void readParameters();
  // True for an object of this instantiation (or derived) with the same msPerRow.
  virtual bool isCompatible(const CFeatureObjectBase& other) const;

  // Adopts module (taking ownership; null drops the held one) and keeps its
  // quantizer block for the stream.
  void setQuantModule(CQuantModule<float>* module);
  void setParameter(const std::pair<std::string, std::string>& entry);
  // Builds the default quantizer module of the feature type (2: linear 0..1
  // and 0..0.1 over the two column halves; 3: logarithmic 10^-9..10^-1);
  // returns its total width, 0 when none is built.
  unsigned buildDefaultQuantizer(bool flag);

  // The matrix for changing: the codes it was read from no longer stand for it.
  HeapMatrix<T>& getMatrix() {
    storedCodesCurrent = false;
    return data;
  }
  const HeapMatrix<T>& getMatrix() const { return data; }
  // The quantizer that write and read use: the adopted or rebuilt module,
  // else the default one; null when there is none yet.
  CQuantModule<float>* getQuantizer() const;
  const std::vector<unsigned char>& getQuantBlob() const { return quantBlob; }
  // "flt", "uchr" or "uint".
  static const char* elementTypeTag() { return vmtl::TypeInfo<T>::tag; }

 protected:
  // A whole copy (of the source's own class) or the excerpt of it.
  template <class Object>
  static CFeatureObjectBase* cloneOf(const Object& source, unsigned skipMs, unsigned durationMs);
  // Replaces this (matrix-less) copy's matrix by the excerpt of source.
  void takeExcerpt(const CFeatureObject& source, unsigned skipMs, unsigned durationMs);
  // The row at which a time falls, rounded to the nearest row.
  uint64_t rowAt(uint64_t ms) const;
  // Rebuilds the quantizer module from the stored block, or the default
  // module, when none is held; done before the stream is sized or written.
  void ensureQuantizer();
  // Reads a "Param" sub-block of a stream of the given version.
  void readParameterBlock(StreamReader& reader, int version);
  // Reads the "MAT" sub-block whose tag text starts at block.
  unsigned readMatrixBlock(const unsigned char* block, unsigned length);
  unsigned parameterBlockSize() const;

  unsigned short featureType = 0;
  std::string name;
  float msPerRow = 0.0f;
  std::map<std::string, std::string> stringParams;
  std::map<std::string, int> intParams;
  bool quantFlag = false;
  std::vector<unsigned char> quantBlob;
  HeapMatrix<T> data;
  std::unique_ptr<CQuantModule<float>> defaultQuant;
  std::unique_ptr<CQuantModule<float>> quantModule;
  // The codes a float matrix was read from, kept while the matrix and the
  // quantizer are unchanged: writing it again then takes its codes from them
  // (through the quantizer's round-trip tables) instead of quantizing every
  // value anew. Everything that may change the matrix or the quantizer drops them.
  HeapMatrix<unsigned char> storedCodes;
  bool storedCodesCurrent = false;
};

template <typename T>
template <class Object>
CFeatureObjectBase* CFeatureObject<T>::cloneOf(const Object& source, unsigned skipMs, unsigned durationMs) {
  // A frame period that is not positive has no rows to count in: such an
  // object is always copied whole.
  if ((skipMs == 0 && durationMs == 0) || !(source.msPerRow > 0.0f)) return new Object(source, true);
  std::unique_ptr<Object> copy(new Object(source, false));
  copy->takeExcerpt(source, skipMs, durationMs);
  return copy.release();
}

extern template class CFeatureObject<float>;
extern template class CFeatureObject<unsigned char>;
extern template class CFeatureObject<unsigned int>;
