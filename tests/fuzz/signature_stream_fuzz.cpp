// Signature streams ("AUID" version 5 or 64, and the older chunk format that
// the stream hands to the chunk reader) read into a signature, once without a
// verifier, as the system reads them, and once with one, so that signed
// headers are taken apart as well. A stream either becomes a signature or
// fails with the signature's AudioSignException, the stream codec's
// std::string, or what its feature objects and their matrix blocks and
// quantizers throw (FeatureObjException, VMTLException, StandardException,
// the integer -3). A signature that was read and has features writes a
// stream that reads again.

#include <cstdint>
#include <sstream>
#include <string>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object_exception.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_verifier.h"

namespace {

// Runs step; false when it failed with one of the errors a stream may cause.
template <typename Step>
bool survives(Step&& step) {
  try {
    step();
    return true;
  } catch (const AudioSignException&) {
  } catch (const std::string&) {
  } catch (const FeatureObjException&) {
  } catch (const VMTLException&) {
  } catch (const StandardException&) {
  } catch (int) {
  }
  return false;
}

void readWith(const std::string& bytes, CRsaObject* verifier) {
  std::istringstream in(bytes);
  CAudioSignMulti signature;
  if (!survives([&] { signature.read(in, verifier); })) return;
  const CSignDataMulti* data = signature.getSignData();
  if (data == nullptr || data->size() == 0) return;

  std::ostringstream out;
  if (!survives([&] { signature.write(out); })) return;
  std::istringstream written(out.str());
  CAudioSignMulti again;
  if (!survives([&] { again.read(written, nullptr); })) kivet_fuzz::finding("written signature does not read back");
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
