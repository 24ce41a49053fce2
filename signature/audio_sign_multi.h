#pragma once
// The signature of a song as the rest of the system passes it around: it owns
// one CSignDataMulti and reads and writes it as a signature stream ("AUID",
// see fingerprint_stream.h).

#include <cstdint>
#include <exception>
#include <iosfwd>
#include <memory>

#include "signature/sign_data_multi.h"

class CRsaObject;

// The error of CAudioSignMulti; the message is a constant text.
class AudioSignException : public std::exception {
 public:
  explicit AudioSignException(const char* message) : message(message) {}
  const char* what() const noexcept override { return message; }

 private:
  const char* message;
};

// A 64-bit signature id as two 32-bit words; valid when not both are zero.
// Stored as the "Tuid" frame, high word first.
class CSignatureID {
 public:
  CSignatureID() = default;
  CSignatureID(uint32_t low, uint32_t high) : low(low), high(high) {}
  explicit CSignatureID(uint64_t id) : low(static_cast<uint32_t>(id)), high(static_cast<uint32_t>(id >> 32)) {}

  bool isValid() const { return low != 0 || high != 0; }
  uint32_t getLow() const { return low; }
  uint32_t getHigh() const { return high; }
  uint64_t toUInt64() const { return static_cast<uint64_t>(high) << 32 | low; }
  bool operator==(const CSignatureID& other) const { return low == other.low && high == other.high; }
  bool operator!=(const CSignatureID& other) const { return !(*this == other); }

 private:
  uint32_t low = 0;
  uint32_t high = 0;
};

// What compare gives: a fixed score, no feature values are compared.
struct SCompareResult {
  float score;
  uint32_t reserved[3];
};

class CAudioSignMulti {
 public:
  CAudioSignMulti();
  // Adopts data (null: no data).
  explicit CAudioSignMulti(CSignDataMulti* data);
  // A deep copy of the data (all features); no data stays no data.
  CAudioSignMulti(const CAudioSignMulti& other);
  // Reads a signature stream; verifier, when given, checks a signed stream.
  CAudioSignMulti(std::istream& in, CRsaObject* verifier);
  CAudioSignMulti& operator=(const CAudioSignMulti&) = delete;
  virtual ~CAudioSignMulti();

  // Replaces the data by the signature read from in. The held data is
  // replaced only when the stream has been read and turned into signature
  // data; on any failure it stays.
  std::istream& read(std::istream& in, CRsaObject* verifier);
  // Writes the data as an unsigned stream; 0, or -1 (nothing written) without data.
  int write(std::ostream& out) const;

  // Adopts data, deleting the held data (passing the held data does nothing).
  void setSignData(CSignDataMulti* data);
  CSignDataMulti* getSignData() { return data.get(); }
  const CSignDataMulti* getSignData() const { return data.get(); }
  bool isInitialized() const { return data != nullptr; }

  void setTuid(const CSignatureID& id);
  CSignatureID getTuid() const;
  // Takes other's features: a deep copy when this holds no data, the rows of
  // its features otherwise; nothing when other holds no data.
  void append(const CAudioSignMulti& other);
  // The same, but other's data is taken over, not copied, when this holds none.
  void append(CAudioSignMulti&& other);
  // Deletes the data.
  void reset();

  // Both signatures need data and an active feature.
  virtual SCompareResult compare(const CAudioSignMulti& other) const;

 private:
  // The data of the stream that in delivers, with the checks of the stream's state.
  static std::unique_ptr<CSignDataMulti> readData(std::istream& in, CRsaObject* verifier);
  const CSignDataMulti& requireData() const;

  std::unique_ptr<CSignDataMulti> data;
};
