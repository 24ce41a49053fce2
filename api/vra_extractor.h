#pragma once
// The bridge between a signature object and the feature-extraction framework:
// the global settings computed from the sampling rate, a module registry and
// a FeatureExtractor for the host's configuration file; frames of float
// samples go in, and the meta-sink leaves' feature objects come out as a
// CAudioSignMulti. Framework failures while the graph is built become
// vraKivetException codes.

#include <cstdint>

#include "metadata/sources/featex/feature_extractor.h"
#include "metadata/sources/featex/fex_module_registry.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"
#include "signature/audio_sign_multi.h"

namespace vemra_kivet {

class vraExtractor {
 public:
  vraExtractor() = default;
  vraExtractor(const vraExtractor&) = delete;
  vraExtractor& operator=(const vraExtractor&) = delete;
  virtual ~vraExtractor();

  // Replaces whatever was set up before. Codes: 4 when the configuration file
  // cannot be opened, 12 when the framework refuses the configuration (syntax,
  // unknown or unloadable module type, graph checks, module settings), 9 when
  // no extractor could be made.
  void init(const char* configPath, unsigned samplingRate);

  // The configuration's "frameDuration" in milliseconds; -1 when it sets none
  // (or before init).
  int32_t getFrameDuration() const;

  // One frame through the module graph. The graph's float output is dropped:
  // the signature's features arrive only through the meta-sink leaves.
  void processFrame(const BaseVector<float>& frame);

  // The feature objects collected so far, which the leaves then forget. Code 6
  // when no leaf delivered one, or a leaf could not build its feature
  // because no frame reached it; then every leaf keeps its rows, so that more
  // frames and a later call give what one call over all the frames gives.
  CAudioSignMulti getSignature();

  // Measures each module's frame processing into timer (null stops it); see
  // FeatureExtractor::setModuleTimer.
  void setModuleTimer(CFexModuleTimer* timer);

  // Deletes the extractor, then the global settings, then the registry.
  void release();

  // The samples of a 10 ms frame at the rate, rounded half up: the window
  // and hop that the modules see unless the configuration overrides them.
  static int32_t windowSizeFor(unsigned samplingRate);

 private:
  void requireExtractor() const;

  FeatureExtractor* extractor = nullptr;
  Settings* globals = nullptr;
  CFexModuleRegistry* registry = nullptr;
  // Reused by every frame.
  HeapVector<float> output;
};

}  // namespace vemra_kivet
