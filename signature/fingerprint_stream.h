#pragma once
// The signature stream codec. Its frames are the stream content; it writes
// them as an "AUID" stream and reads them back (all numbers big-endian, VLQ =
// variable-length quantity):
//   "AUID", u32 version (5 when written; 64 is read alike),
//   VLQ total (the bytes after this field), VLQ header length H,
//   H header bytes, then one "META" chunk holding all frames.
// Unsigned streams (H = 0) are what this system writes. A signed stream,
// written when a signer with a key is attached, has the header
//   0x31 ('1'), VLQ key length, key, VLQ signature length, signature,
// the signature being taken over the META chunk followed by the key.
// Older chunk-format files ("AUID" versions below 5 or above 64) are read by
// the chunk reader and converted into one "SFM" feature object ("FeatObj")
// with a "Tuid" and a "Cuid" frame.
// Failures of write and read are thrown as std::string.

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "signature/meta_vec.h"
#include "signature/rsa_object.h"

class CAuidChunkReader;

class CFingerprintStream : public CMetaVec {
 public:
  CFingerprintStream();
  CFingerprintStream(const CFingerprintStream& other);
  // Reads a stream from in; verifier, when given, checks a signed stream.
  CFingerprintStream(std::istream& in, CRsaObject* verifier);
  CFingerprintStream& operator=(const CFingerprintStream& other);
  ~CFingerprintStream();

  // Writes the frames as a stream; signed when the attached signer has a key.
  // Returns 0. Fails with "no data to write!" when there are no frames.
  int write(std::ostream& out);
  // Replaces everything by the stream read from in.
  void read(std::istream& in);
  // Attaches a signer (not owned; null detaches) and keeps a copy of its key blob.
  void setSigner(CRsaObject* signer);

  CRsaObject* getSigner() const { return signer; }
  // -1 until read; 5 or 64 for this layout; the chunk version of an older file.
  int getVersion() const { return version; }
  // The scheme byte of a signed stream; 0 otherwise.
  uint8_t getScheme() const { return scheme; }
  const std::vector<unsigned char>& getKey() const { return key; }
  const std::vector<unsigned char>& getSignature() const { return signature; }

 private:
  void readStreamLayout(std::istream& in);
  void readSignedHeader(std::istream& in, uint32_t headerLength);
  void readChunkFormat(std::istream& in, uint32_t auidField);
  void convertChunkFile(const CAuidChunkReader& reader);

  CRsaObject* signer = nullptr;
  uint8_t scheme = 0;
  std::vector<unsigned char> key;
  std::vector<unsigned char> signature;
  int version = -1;
};
