#pragma once
// Pieces of session images for the similarity tests: adapted signatures as the
// similarity methods make them (float features of one row under a signature
// id), and the ten-bucket table maps of the session globals, written out by
// hand.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "signature/audio_sign_multi.h"
#include "tests/support/byte_builder.h"

using FeatureRows = std::vector<std::pair<std::string, std::vector<float>>>;

inline std::unique_ptr<CAudioSignMulti> adaptedSignature(uint64_t id, const FeatureRows& features) {
  auto data = std::make_unique<CSignDataMulti>();
  for (const auto& [name, row] : features) {
    auto* object = new CFeatureObject<float>(name, 5001);
    std::vector<float> values = row;
    object->getMatrix() = HeapMatrix<float>(BaseVector<float>(values.data(), static_cast<unsigned>(values.size())), 1);
    data->insert(object);
  }
  data->setTuid(static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32));
  return std::make_unique<CAudioSignMulti>(data.release());
}

// A map of ten buckets holding one rows x cols table under name, in bucket.
inline ByteBuilder& tableMap(ByteBuilder& b, unsigned bucket, const std::string& name, uint32_t rows, uint32_t cols,
                             std::initializer_list<float> values) {
  b.u32le(10);
  for (unsigned i = 0; i < 10; ++i) {
    if (i == bucket)
      b.u32le(1).str(name).matrix(rows, cols, values);
    else
      b.u32le(0);
  }
  return b;
}
