// Feature-object streams read into every class that reads them: the three
// element types and the two band-carrying float kinds. A stream either reads
// or fails with the errors of the stream, its matrix block, its quantizer
// block and its quantizers: FeatureObjException, VMTLException,
// StandardException, the std::string of the polynomial quantizer and the
// integer -3 of a code out of range. An object that reads is written again
// at exactly its announced size, and what is written reads again.

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/feature_object.h"
#include "signature/sign_data_ase_sfm.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Runs step; false when it failed with one of the errors a stream may cause.
template <typename Step>
bool survives(Step&& step) {
  try {
    step();
    return true;
  } catch (const FeatureObjException&) {
  } catch (const VMTLException&) {
  } catch (const StandardException&) {
  } catch (const std::string&) {
  } catch (int) {
  }
  return false;
}

// Reads the stream into an Object and, when that works, writes the object
// into written; false when either fails with an error a stream may cause.
template <typename Object>
bool readAndWrite(const uint8_t* data, size_t size, std::vector<unsigned char>& written) {
  Object object;
  unsigned consumed = 0;
  if (!survives([&] { consumed = object.read(data, static_cast<unsigned>(size)); })) return false;
  if (consumed > size) kivet_fuzz::finding("feature object reader consumed more than its buffer");

  // Writing an object as it was read may still fail on its own terms: a
  // stored quantizer block is only built when it is needed, and the band
  // kinds refuse settings they could not read back.
  unsigned length = 0;
  const bool wrote = survives([&] {
    object.storeParameters();
    written.resize(object.getStreamSize());
    length = object.write(written.data(), static_cast<unsigned>(written.size()));
  });
  if (wrote && length != written.size()) kivet_fuzz::finding("feature object written with another size than announced");
  return wrote;
}

template <typename Object>
void readAs(const uint8_t* data, size_t size) {
  std::vector<unsigned char> written;
  if (!readAndWrite<Object>(data, size, written)) return;
  Object again;
  survives([&] {
    if (again.read(written.data(), static_cast<unsigned>(written.size())) != written.size())
      kivet_fuzz::finding("written feature object not read whole");
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    readAs<CFeatureObject<float>>(data, size);
    readAs<CFeatureObject<unsigned char>>(data, size);
    readAs<CFeatureObject<unsigned int>>(data, size);
    readAs<CSignDataASE>(data, size);
    readAs<CSignDataSFM>(data, size);
  });
}
