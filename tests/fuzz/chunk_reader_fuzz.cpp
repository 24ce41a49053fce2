// The chunk format of older signature files ("AUID" with sub-chunks, "META"
// chunks, ID3v2 tags), read once as the signature stream reader does it
// (no verifier) and once with a verifier attached, so that the "dsig" frames
// are taken apart as well. readStream reports by its result and throws only
// the StandardException of a second "FPAR"; the feature matrix built from
// what was read fails at most with the matrix blocks' VMTLException.

#include <cstdint>
#include <sstream>
#include <string>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/heap_matrix.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/auid_chunk_reader.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_verifier.h"

namespace {

template <typename T>
void featureMatrix(const CAuidChunkReader& reader) {
  HeapMatrix<T> matrix;
  try {
    reader.getFeatureMatrix(matrix);
  } catch (const VMTLException&) {
  }
}

void readWith(const std::string& bytes, CRsaObject* verifier) {
  std::istringstream in(bytes);
  CAuidChunkReader reader(nullptr, verifier);
  int result;
  try {
    result = reader.readStream(in);
  } catch (const StandardException&) {
    return;
  }
  if (result < 0) return;
  featureMatrix<float>(reader);
  featureMatrix<unsigned char>(reader);
  reader.getInfo();
  reader.getVersionF();
  reader.getVersionC();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    readWith(bytes, nullptr);
    FuzzVerifier verifier;
    readWith(bytes, &verifier);
  });
}
