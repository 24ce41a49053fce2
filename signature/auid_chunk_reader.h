#pragma once
// Reader of the older chunk format of signature files, which nothing writes
// any more:
//   "AUID", u32 v, then either (v < 64) v as the version and a VLQ content
//   length, or (v >= 64) v as the content length of a version 2 chunk; then
//   the sub-chunks "VERS", "INFO", "TUID", "FPAR" and "FEAT".
//   Optionally followed by "META" chunks and ID3v2 tags.
// Below version 3 sub-chunk lengths are u32 big-endian and odd VERS, INFO and
// FEAT contents are followed by a pad byte; from version 3 on lengths are VLQs
// without padding. The frames of every "META" chunk read are appended to this
// list.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "signature/meta_vec.h"
#include "signature/rsa_object.h"

// The feature parameters of a chunk-format file ("FPAR").
struct SFeatPara {
  float lowerFrequency;
  float upperFrequency;
  uint32_t samplingRate;
};

// The feature data of one "FEAT" sub-chunk: one matrix block. Ids count 1, 2,
// 3 ... in reading order.
struct SDataChunk {
  uint32_t id;
  uint32_t length;
  std::vector<unsigned char> data;
};

class CAuidChunkReader : public CMetaVec {
 public:
  // Results of readStream besides its flags.
  enum : int {
    kAuidChunkRead = 1,
    kMetaChunkRead = 2,
    kId3TagRead = 4,
    kKeyMismatch = 8,
    kVersionRefused = 0,
    kFormatError = -1,
    kVerificationFailed = -2,
    kBadSignatureFrame = -3,
  };

  // A given expectedVersion must be matched by the VERS text of the file.
  // The verifier, when given, checks the "dsig" frame of every "META" chunk;
  // it is not owned.
  explicit CAuidChunkReader(const char* expectedVersion = nullptr, CRsaObject* verifier = nullptr);

  // Reads chunks from in until the format's end rule is met. Returns the
  // flags of what was read (kAuidChunkRead | kMetaChunkRead | kId3TagRead |
  // kKeyMismatch), 0 for a refused version, or a negative error. What was read
  // before a failure is kept. A second "AUID" chunk is left in the stream for
  // the next reader. Throws StandardException for a second "FPAR" sub-chunk.
  int readStream(std::istream& in);
  // The same for a caller that has already taken an "AUID" tag and the u32
  // field behind it from in to recognise the format: reading resumes inside
  // that chunk with auidField as its u32, so that none of those bytes has to
  // go back into a stream, which may refuse them (a pipe, a buffer refilled
  // since they were read).
  int readStream(std::istream& in, uint32_t auidField);

  int getVersion() const { return version; }
  uint64_t getTuid() const { return tuid; }
  // The INFO text, or "NO_INFO" when none was read.
  std::string getInfo() const;
  // The numbers after the first "F" and after the first "C" of the version
  // text, as by atof; 0 without text or without such a letter.
  double getVersionF() const;
  double getVersionC() const;
  // Null until an "AUID" chunk has been read; a chunk without "FPAR" gets
  // 250 Hz, 4000 Hz and 32.
  const SFeatPara* getFeatPara() const { return featPara ? &*featPara : nullptr; }
  // The last ID3v2 tag read, whole (header, body and footer); empty when none.
  const std::vector<unsigned char>& getId3Tag() const { return id3Tag; }

  unsigned dataChunkCount() const { return static_cast<unsigned>(dataChunks.size()); }
  // The data chunk at index (id index + 1). An index beyond the data chunks
  // prints "ERROR container subscript out of range (size=<count>)" on the
  // standard error stream and yields null.
  const SDataChunk* getDataChunk(unsigned index) const;

  // The feature matrix: the first data chunk's matrix block, with the blocks
  // of the further chunks appended as rows. Without data chunks the subscript
  // message is printed, matrix becomes 0 x 0 and the result is false. Matrix
  // block errors (VMTLException) pass through.
  bool getFeatureMatrix(HeapMatrix<float>& matrix) const;
  bool getFeatureMatrix(HeapMatrix<unsigned char>& matrix) const;

 private:
  int readChunks(std::istream& in, const uint32_t* takenAuidField);
  int readAuidChunk(std::istream& in, const uint32_t* takenField, int64_t& position);
  int readSubChunks(std::istream& in, uint32_t contentLength, uint64_t& encodedSize);
  int readMetaChunk(std::istream& in, int64_t& position);
  int readId3Tag(std::istream& in, const char* tag, int64_t& position);
  int checkSignature(int& flags);
  template <typename T>
  bool readFeatureMatrix(HeapMatrix<T>& matrix) const;

  CRsaObject* verifier;
  std::vector<unsigned char> id3Tag;
  std::string info;
  std::string versionText;
  uint64_t tuid = 0;
  int version = 5;
  std::vector<unsigned char> verifyKey;
  bool verifyKeyFetched = false;
  int64_t auidLength = 0;
  std::vector<SDataChunk> dataChunks;
  std::optional<SFeatPara> featPara;
  // Distinguishes parameters read from "FPAR" from the defaults of a chunk
  // without one: only a second real "FPAR" is an error.
  bool featParaRead = false;
};
