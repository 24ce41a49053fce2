#pragma once
// Helpers of the programming-interface tests: interface objects held as a host
// holds them, coded-exception assertions,
// temporary files, configuration texts, PCM signals and access to the
// feature matrices of a signature.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/held.h"
#include "api/vra_kivet_exception.h"
#include "signature/audio_sign_multi.h"
#include "signature/feature_object.h"
#include "tests/support/temp_files.h"

namespace apitest {

using vemra_kivet::Held;

template <typename Call>
void expectCode(Call&& call, int code) {
  try {
    call();
    ADD_FAILURE() << "expected vraKivetException code " << code;
  } catch (const vemra_kivet::vraKivetException& e) {
    EXPECT_EQ(e.getCode(), code) << e.what();
  }
}

using testfiles::readFile;
using testfiles::tempPath;
using testfiles::writeFile;

// A configuration whose only leaf collects the raw frames as the feature
// "PCM" (unquantised): each row is one frame exactly as the graph got it.
inline std::string rawFramesConfig(const std::string& frameDurationParam = "<param frameDuration=\"10\"/>") {
  return "<featex>" + frameDurationParam +
         "<module name=\"fex_feature_object\" instance=\"raw\" featname=\"PCM\" featver=\"100\"/>"
         "</featex>";
}

// n samples of a ramp that wraps around the 16-bit range: every sample is
// different from its neighbours, so a shifted frame shows.
inline std::vector<short> ramp(unsigned n, unsigned start = 0) {
  std::vector<short> samples(n);
  for (unsigned i = 0; i < n; ++i)
    samples[i] = static_cast<short>(static_cast<int32_t>(((start + i) * 997u) % 65536u) - 32768);
  return samples;
}

inline const HeapMatrix<float>& featureMatrix(const CAudioSignMulti& signature, const char* name) {
  const CSignDataMulti* data = signature.getSignData();
  if (!data) throw std::runtime_error("signature holds no data");
  const auto* feature = dynamic_cast<const CFeatureObject<float>*>(data->find(name));
  if (!feature) throw std::runtime_error(std::string("no float feature ") + name);
  return feature->getMatrix();
}

inline std::string metaText(const CAudioSignMulti& signature, const char* tag) {
  const SMetaFrame* frame = signature.getSignData()->findMetaFrame(tag);
  if (!frame || !frame->data) return "<none>";
  return std::string(reinterpret_cast<const char*>(frame->data), frame->dataLen);
}

}  // namespace apitest
