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
#include "signature/rsa_object.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Accepts the signatures of even length; reads every byte it is handed, so
// that a span reaching outside its data is caught.
class FuzzVerifier : public CRsaObject {
 public:
  bool hasKey() override { return false; }
  uint32_t getSignKey(const unsigned char*& key) override {
    key = nullptr;
    return 0;
  }
  int initSign() override { return 1; }
  void update(const unsigned char* bytes, uint32_t length) override {
    for (uint32_t i = 0; i < length; ++i) sum += bytes[i];
  }
  int sign(const unsigned char*& signature, uint32_t& length) override {
    signature = nullptr;
    length = 0;
    return 1;
  }
  uint32_t getVerifyKey(const unsigned char*& key) override {
    key = reinterpret_cast<const unsigned char*>(kKey);
    return sizeof kKey - 1;
  }
  bool canVerify() override { return true; }
  int initVerify() override { return 0; }
  int verify(const unsigned char* signature, uint32_t length) override {
    update(signature, length);
    return length % 2;
  }

  static constexpr char kKey[] = "kivet";
  unsigned sum = 0;
};

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
