#include "signature/sign_data_ase_sfm.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace {

// Takes an integer parameter out of the object's maps; a missing one fails
// with "missing parameter: " and its key.
int takeParameter(CFeatureObject<float>& object, const char* key) {
  int value = 0;
  if (!object.getParameter(value, key, true)) {
    const std::string message = std::string("missing parameter: ") + key;
    throw FeatureObjException(message.c_str());
  }
  return value;
}

// The integer part (toward zero) of a band position; positions that are not
// finite or lie beyond the int range (edges of 0 Hz or less, absurdly high
// ones) saturate, so that the range check refuses them.
int bandIndex(double position) {
  if (std::isnan(position) || position <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (position >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(position);
}

// The frame period of a temporal resolution; computed in 64 bits, as a
// resolution read from a stream may be any int.
float periodOf(int temporalResolution) { return static_cast<float>(static_cast<int64_t>(temporalResolution) * 30); }

}  // namespace

// ---------------------------------------------------------------- CSignDataASE

CSignDataASE::CSignDataASE() : CFeatureObject<float>("ASE", 3) {}

CSignDataASE::CSignDataASE(const CSignDataASE& other, bool copyData)
    : CFeatureObject<float>(other, copyData), lf(other.lf), uf(other.uf), re(other.re) {}

CSignDataASE::~CSignDataASE() = default;

void CSignDataASE::storeParameters() {
  setParameter("lf", lf);
  setParameter("uf", uf);
  setParameter("re", re);
  setParameter("msPerRow", msPerRow);
}

CFeatureObjectBase* CSignDataASE::clone(unsigned skipMs, unsigned durationMs) const {
  return cloneOf(*this, skipMs, durationMs);
}

void CSignDataASE::readParameters() {
  if (name != "ASE") throw FeatureObjException("feature name mismatch");
  lf = takeParameter(*this, "lf");
  uf = takeParameter(*this, "uf");
  re = takeParameter(*this, "re");
  CFeatureObject<float>::readParameters();
}

bool CSignDataASE::isCompatible(const CFeatureObjectBase& other) const {
  const auto* ase = dynamic_cast<const CSignDataASE*>(&other);
  return ase != nullptr && ase->msPerRow == msPerRow && ase->lf == lf && ase->uf == uf && ase->re == re;
}

// ---------------------------------------------------------------- CSignDataSFM

CSignDataSFM::CSignDataSFM() : CFeatureObject<float>("SFM", 2) { quantFlag = false; }

CSignDataSFM::CSignDataSFM(const CSignDataSFM& other, bool copyData)
    : CFeatureObject<float>(other, copyData),
      m_tempRes(other.m_tempRes),
      windowRes(other.windowRes),
      loBand(other.loBand),
      hiBand(other.hiBand) {}

CSignDataSFM::~CSignDataSFM() = default;

void CSignDataSFM::storeParameters() {
  if (windowRes != m_tempRes) throw FeatureObjException("attempt to write signature with overlap");
  setParameter("lf", static_cast<int>(1000.0 * std::pow(2.0, (loBand - 8) / 4.0)));
  setParameter("uf", static_cast<int>(1000.0 * std::pow(2.0, (hiBand - 7) / 4.0)));
  setParameter("sr", m_tempRes);
  if (msPerRow != periodOf(m_tempRes)) throw FeatureObjException("inconsistent setting (m_msPerRow<->m_tempRes)");
  setParameter("msPerRow", msPerRow);
}

CFeatureObjectBase* CSignDataSFM::clone(unsigned skipMs, unsigned durationMs) const {
  return cloneOf(*this, skipMs, durationMs);
}

void CSignDataSFM::setDefaultMsPerRow() { msPerRow = periodOf(m_tempRes); }

void CSignDataSFM::readParameters() {
  if (name != "SFM") throw FeatureObjException("feature name mismatch");
  const int lowerEdge = takeParameter(*this, "lf");
  const int upperEdge = takeParameter(*this, "uf");
  const int resolution = takeParameter(*this, "sr");
  m_tempRes = windowRes = resolution;
  loBand = bandIndex(4.0 * std::log2(lowerEdge / 1000.0) + 8.5);
  hiBand = bandIndex(4.0 * std::log2(upperEdge / 1000.0) + 7.5);
  if (!(loBand >= 0 && loBand < 20 && hiBand < 24 && hiBand >= loBand))
    throw FeatureObjException("invalid frequency range for MP7-SFM");
  CFeatureObject<float>::readParameters();
}

bool CSignDataSFM::isCompatible(const CFeatureObjectBase& other) const {
  const auto* sfm = dynamic_cast<const CSignDataSFM*>(&other);
  return sfm != nullptr && sfm->msPerRow == msPerRow && sfm->m_tempRes == m_tempRes &&
         sfm->windowRes == windowRes && sfm->loBand == loBand && sfm->hiBand == hiBand;
}
