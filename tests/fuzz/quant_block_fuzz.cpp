// Quantizer blocks: a block either rebuilds a quantizer module or fails with
// FeatureObjException (unknown type, entry past the block) or a quantizer's
// construction error (StandardException, or the std::string of the
// polynomial kind). A module that was rebuilt quantizes and restores a row,
// restoring failing at most with the integer -3, and it writes a block that
// rebuilds the same module.

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "signature/feature_object_exception.h"
#include "signature/quant_module.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Wide enough for every code of a byte and a few columns beyond.
constexpr unsigned kColumns = 260;

std::unique_ptr<CQuantModule<float>> rebuild(const unsigned char* block, size_t length) {
  try {
    return readQuantBlock(block, static_cast<unsigned>(length), kColumns);
  } catch (const FeatureObjException&) {
  } catch (const StandardException&) {
  } catch (const std::string&) {
  }
  return nullptr;
}

std::vector<unsigned char> blockOf(const CQuantModule<float>& module) {
  std::vector<unsigned char> block(quantBlockSize(&module));
  if (writeQuantBlock(module, block.data()) != block.size())
    kivet_fuzz::finding("quantizer block written with another size than announced");
  return block;
}

void exercise(CQuantModule<float>& module) {
  HeapVector<float> row(kColumns);
  const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 1e-9f, 1e9f, -1e30f,
                            std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min()};
  const unsigned specialCount = sizeof specials / sizeof specials[0];
  for (unsigned i = 0; i < kColumns; ++i)
    row[i] = i < specialCount ? specials[i] : static_cast<float>(i) / 64.0f - 1.0f;
  module.quantize(row);

  HeapVector<unsigned char> codes(kColumns);
  for (unsigned i = 0; i < kColumns; ++i) codes[i] = static_cast<unsigned char>(i);
  try {
    module.dequantize(codes);
  } catch (int) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return kivet_fuzz::check(size, [&] {
    std::unique_ptr<CQuantModule<float>> module = rebuild(data, size);
    if (!module) return;
    exercise(*module);
    const std::vector<unsigned char> block = blockOf(*module);
    module.reset();
    std::unique_ptr<CQuantModule<float>> again = rebuild(block.data(), block.size());
    if (!again) kivet_fuzz::finding("written quantizer block does not rebuild");
    if (blockOf(*again) != block) kivet_fuzz::finding("quantizer block does not rebuild the same module");
  });
}
