// Classifier model files: the bytes are stored as a model file and loaded by
// each kind of classifier (nearest centroid, Gaussian mixture, rhythmic
// pattern), and every classifier that loads classifies a small fixed query.
// Loading either succeeds or fails with a StandardException; classifying may
// also fail with the std::string, C string and VMTLException that adaptation
// and the mixture kernel throw when a model does not fit the query.

#include <cstdint>
#include <memory>
#include <string>

#include "metadata/sources/common/standard_exception.h"
#include "metadata/sources/vmtl/vmtl_exception.h"
#include "signature/sign_data_multi.h"
#include "similarity/aspect_classifier.h"
#include "similarity/rhythmic_pattern_classifier.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

CFeatureObject<float>* feature(const char* name, unsigned rows, unsigned cols) {
  auto* object = new CFeatureObject<float>(name, 0);
  object->setMsPerRow(10.0f);
  object->getMatrix().resize(rows, cols);
  for (unsigned i = 0; i < rows * cols; ++i) object->getMatrix().data[i] = static_cast<float>(i % 7) / 7.0f;
  return object;
}

// Four frames of a two-column "MFCC" and of a 40-lag "MSE_ACF_EXC" for the
// window from 300 down to 100 BPM at 100 lags per second.
const CAudioSignMulti& query() {
  static const std::unique_ptr<CAudioSignMulti> signature = [] {
    auto data = std::make_unique<CSignDataMulti>();
    data->insert(feature("MFCC", 4, 2));
    CFeatureObject<float>* rhythm = feature("MSE_ACF_EXC", 4, 40);
    rhythm->setParameter("loBPM", 100);
    rhythm->setParameter("hiBPM", 300);
    rhythm->setParameter("groupFrames", 1);
    rhythm->setParameter("overlapFrames", 0);
    data->insert(rhythm);
    return std::make_unique<CAudioSignMulti>(data.release());
  }();
  return *signature;
}

template <typename Step>
void survive(Step&& step) {
  try {
    step();
  } catch (const StandardException&) {
  } catch (const std::string&) {
  } catch (const char*) {
  } catch (const VMTLException&) {
  }
}

template <typename Make>
void loadAndClassify(Make&& make) {
  std::unique_ptr<AspectClassifier> classifier;
  try {
    classifier = make();
  } catch (const StandardException&) {
    return;
  }
  ClassifyResult result;
  survive([&] { classifier->classify(query(), result); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = kivet_fuzz::fileOfThisRun("aspect_classifier_fuzz", "model.sig");
  const CAudioSignMulti& fixedQuery = query();  // made outside the memory budget of one input
  (void)fixedQuery;
  return kivet_fuzz::check(size, [&] {
    kivet_fuzz::writeInputFile(path, data, size);
    loadAndClassify([] { return std::make_unique<AspectClassifierNN>("nn", path, 1, 1.0f, 0); });
    loadAndClassify([] { return std::make_unique<AspectClassifierGMM>("gmm", path, 0); });
    loadAndClassify([] { return std::make_unique<RhythmicPatternClassifier>("ryt", path, 0); });
  });
}
