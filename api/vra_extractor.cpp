#include "api/vra_extractor.h"

#include <cmath>
#include <new>
#include <utility>
#include <vector>

#include "api/vra_kivet_exception.h"
#include "metadata/sources/common/byte_stream.h"
#include "metadata/sources/featex/fex_module.h"
#include "signature/meta_frame.h"
#include "signature/fingerprint_stream.h"
#include "signature/sign_data_multi.h"

namespace vemra_kivet {

vraExtractor::~vraExtractor() { release(); }

void vraExtractor::release() {
  delete extractor;
  extractor = nullptr;
  delete globals;
  globals = nullptr;
  delete registry;
  registry = nullptr;
}

int32_t vraExtractor::windowSizeFor(unsigned samplingRate) {
  return static_cast<int32_t>(static_cast<uint32_t>(std::floor(samplingRate * 10.0 * 0.001 + 0.5)));
}

void vraExtractor::init(const char* configPath, unsigned samplingRate) {
  release();
  if (!configPath || !fileExists(configPath)) throw vraKivetException(VRA_FILE_DOES_NOT_EXIST);

  globals = new Settings;
  const int32_t windowSize = windowSizeFor(samplingRate);
  const int32_t overlapSize = 0;
  globals->setLong("channels", 1);
  globals->setLong("samplingRate", static_cast<int32_t>(samplingRate));
  globals->setLong("windowSize", windowSize);
  globals->setLong("overlapSize", overlapSize);
  globals->setLong("hopSize", windowSize - overlapSize);

  registry = new CFexModuleRegistry;

  try {
    extractor = new (std::nothrow)
        FeatureExtractor(configPath, true, *globals, "TimeMono", registry, nullptr, nullptr);
  } catch (const simpleException&) {
    throw vraKivetException(VRA_LOADING_SHARED_LIBRARY_FAILED);
  }
  if (!extractor) throw vraKivetException(VRA_OUT_OF_MEMORY);
}

void vraExtractor::requireExtractor() const {
  if (!extractor) throw vraKivetException(VRA_SIGNATURE_NOT_INITIALIZED);
}

int32_t vraExtractor::getFrameDuration() const { return extractor ? extractor->getFrameDuration() : -1; }

void vraExtractor::processFrame(const BaseVector<float>& frame) {
  requireExtractor();
  int inputType = FTI_none;
  extractor->computeFeatures(output, &frame, &inputType);
}

void vraExtractor::setModuleTimer(CFexModuleTimer* timer) {
  requireExtractor();
  extractor->setModuleTimer(timer);
}

CAudioSignMulti vraExtractor::getSignature() {
  requireExtractor();
  CAudioSignMulti result;
  std::vector<SMetaFrame> frames;
  unsigned delivered = 0;
  try {
    delivered = extractor->collectMetaFrames(frames, 1);
  } catch (const simpleException&) {
    // A leaf that no frame reached (no samples, or fewer than it groups
    // into one row) has no feature to build, and says so this way: the
    // signature would hold no data for it.
    throw vraKivetException(VRA_INVALID_SIGNATURE);
  }
  if (delivered > 0) {
    CFingerprintStream stream;
    for (SMetaFrame& frame : frames) stream.add(std::move(frame));
    result.setSignData(new CSignDataMulti(stream, nullptr));
  }
  if (!result.isInitialized()) throw vraKivetException(VRA_INVALID_SIGNATURE);
  return result;
}

}  // namespace vemra_kivet
