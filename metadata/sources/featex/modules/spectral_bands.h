#pragma once
// The band layout shared by the centroid, crest-factor and flatness
// algorithms: bands of spectrum bins between a lower and an upper frequency,
// either contiguous and of equal width (linear layout) or on a grid of rs
// bands per octave from the lower frequency (logarithmic layout, where
// neighbouring bands overlap by 5% at each edge).
//
// Parameter text keys: "lf" (Hz, default bin 4), "uf" (Hz, default 4000,
// linear layout only), "nb" (bands, default 16), "rs" (bands per octave,
// default 4), "ln" (nonzero: logarithmic layout).

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/sources/featex/modules/base_module.h"
#include "metadata/sources/vmtl/base_vector.h"

template <typename T>
class CSpectralBands : public CBaseModule<T> {
 public:
  unsigned setParameters(const SignalFormat& format, const char* params) override;
  // "lf" + lfBin + "_uf" + ufBin + "_nb" + nb.
  std::string getParameterName() override;

  struct BandRange {
    uint32_t first;  // first bin
    uint32_t last;   // last bin, inclusive
  };
  const std::vector<BandRange>& getBands() const { return bands; }

 protected:
  // Bins in band b, counted in 32-bit unsigned arithmetic as the target
  // counted them (a band whose last bin is first - 1 is empty).
  uint32_t bandLength(unsigned b) const { return bands[b].last - bands[b].first + 1; }
  // The bins of band b that the input holds: a band reaching past the end of
  // the input is cut there.
  BaseVector<T> bandOf(const BaseVector<T>& in, unsigned b) const;
  // Per-band work buffers are as long as the last band; a longer band fails
  // as copying it into such a buffer does.
  void requireFitsLastBand(uint64_t length) const;

  uint32_t lfBin = 0;
  uint32_t ufBin = 0;
  uint32_t nb = 1;
  int32_t rs = 4;
  int32_t ln = 0;
  std::vector<BandRange> bands;
  HeapVector<T> out;

 private:
  void linearLayout();
  void logLayout(float lf, uint32_t samplingRate, uint32_t transformSize);
};
