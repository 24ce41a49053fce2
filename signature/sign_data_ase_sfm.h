#pragma once
// The two feature kinds that carry band settings of their own and check them
// when read: the spectrum envelope (CSignDataASE, feature type 3) and the
// spectral flatness over quarter-octave bands (CSignDataSFM, types 1 and 2).
//
// Band index k of the flatness feature stands for 1000 · 2^((k - 8) / 4) Hz as
// a lower edge and 1000 · 2^((k - 7) / 4) Hz as an upper edge.

#include <string>

#include "signature/feature_object.h"

class CSignDataASE : public CFeatureObject<float> {
 public:
  CSignDataASE();
  CSignDataASE(const CSignDataASE& other, bool copyData = true);
  ~CSignDataASE() override;

  // Integer "lf", "uf", "re", then the frame period.
  void storeParameters() override;
  CFeatureObjectBase* clone(unsigned skipMs, unsigned durationMs) const override;
  // The name must be "ASE"; takes "lf", "uf" and "re" out of the parameters.
  void readParameters() override;
  bool isCompatible(const CFeatureObjectBase& other) const override;

  int getLowerEdge() const { return lf; }
  int getUpperEdge() const { return uf; }
  int getResolution() const { return re; }

 protected:
  int lf = 0;
  int uf = 0;
  int re = 0;
};

class CSignDataSFM : public CFeatureObject<float> {
 public:
  CSignDataSFM();
  CSignDataSFM(const CSignDataSFM& other, bool copyData = true);
  ~CSignDataSFM() override;

  // Integer "lf", "uf" (the band edges in Hz) and "sr", then the frame period;
  // refuses settings that a reader could not take back.
  void storeParameters() override;
  CFeatureObjectBase* clone(unsigned skipMs, unsigned durationMs) const override;
  // msPerRow = m_tempRes × 30.
  void setDefaultMsPerRow() override;
  // The name must be "SFM"; takes "lf", "uf" and "sr" out of the parameters
  // and turns the edges into band indices.
  void readParameters() override;
  bool isCompatible(const CFeatureObjectBase& other) const override;

  int getTemporalResolution() const { return m_tempRes; }
  int getLowBand() const { return loBand; }
  int getHighBand() const { return hiBand; }

 protected:
  int m_tempRes = 0;  // rows are m_tempRes × 30 ms apart
  int windowRes = 0;
  int loBand = 0;     // 0 .. 19
  int hiBand = 0;     // loBand .. 23
};
