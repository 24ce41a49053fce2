#include "signature/sign_data_ase_sfm.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

template <typename Call>
void expectFeatureObjException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected FeatureObjException " << message;
  } catch (const FeatureObjException& e) {
    EXPECT_EQ(std::string(e.what()), "CFeatureObject: " + message);
  }
}

// The stream of a plain float object with the given name, type and integer
// parameters (and a text frame period when one is given), three rows of two
// columns.
std::vector<unsigned char> streamWith(const std::string& name, unsigned short type,
                                      const std::map<std::string, int>& ints, const char* msPerRow = nullptr) {
  CFeatureObject<float> object(name, type);
  for (const auto& entry : ints) object.setParameter(entry.first.c_str(), entry.second);
  if (msPerRow != nullptr) object.setParameter("msPerRow", std::string(msPerRow));
  object.getMatrix().resize(3, 2);
  for (unsigned i = 0; i < 6; ++i) object.getMatrix().data[i] = 0.01f * i;
  std::vector<unsigned char> bytes(object.getStreamSize());
  object.write(bytes.data(), static_cast<unsigned>(bytes.size()));
  return bytes;
}

std::unique_ptr<CSignDataSFM> readSfm(int lf, int uf, int sr, const char* msPerRow = nullptr) {
  auto sfm = std::make_unique<CSignDataSFM>();
  const std::vector<unsigned char> bytes = streamWith("SFM", 2, {{"lf", lf}, {"uf", uf}, {"sr", sr}}, msPerRow);
  sfm->read(bytes.data(), static_cast<unsigned>(bytes.size()));
  return sfm;
}

std::unique_ptr<CSignDataASE> readAse(int lf, int uf, int re, const char* msPerRow = nullptr) {
  auto ase = std::make_unique<CSignDataASE>();
  const std::vector<unsigned char> bytes = streamWith("ASE", 3, {{"lf", lf}, {"uf", uf}, {"re", re}}, msPerRow);
  ase->read(bytes.data(), static_cast<unsigned>(bytes.size()));
  return ase;
}

int intParameter(CFeatureObject<float>& object, const char* key) {
  int value = -1;
  EXPECT_TRUE(object.getParameter(value, key, false)) << key;
  return value;
}

// Gives a test the one setting that no stream can make differ.
class OverlappingSfm : public CSignDataSFM {
 public:
  void setWindowResolution(int resolution) { windowRes = resolution; }
};

}  // namespace

TEST(SignDataSfmTest, BandsFromEdgesAndBack) {
  const CSignDataSFM fresh;
  EXPECT_EQ(fresh.getName(), "SFM");
  EXPECT_EQ(fresh.getFeatureType(), 2);

  auto sfm = readSfm(250, 4000, 1);
  EXPECT_EQ(sfm->getLowBand(), 0);
  EXPECT_EQ(sfm->getHighBand(), 15);
  EXPECT_EQ(sfm->getTemporalResolution(), 1);
  EXPECT_EQ(sfm->getMsPerRow(), 30.0f);
  int unused;
  EXPECT_FALSE(sfm->getParameter(unused, "lf", false));  // taken out by the reader

  sfm->storeParameters();
  EXPECT_EQ(intParameter(*sfm, "lf"), 250);
  EXPECT_EQ(intParameter(*sfm, "uf"), 4000);
  EXPECT_EQ(intParameter(*sfm, "sr"), 1);
  std::string period;
  EXPECT_TRUE(sfm->getParameter(period, "msPerRow", false));
  EXPECT_EQ(period, "30");

  // Written and read again, the settings survive.
  std::vector<unsigned char> bytes(sfm->getStreamSize());
  sfm->write(bytes.data(), static_cast<unsigned>(bytes.size()));
  CSignDataSFM again;
  again.read(bytes.data(), static_cast<unsigned>(bytes.size()));
  EXPECT_EQ(again.getLowBand(), 0);
  EXPECT_EQ(again.getHighBand(), 15);
  EXPECT_TRUE(again.isCompatible(*sfm));

  // Edges that are not band edges fall to the band below (toward zero).
  EXPECT_EQ(readSfm(220, 4000, 1)->getLowBand(), 0);
  EXPECT_EQ(readSfm(200, 4000, 1)->getLowBand(), 0);
  EXPECT_EQ(readSfm(1000, 4000, 1)->getLowBand(), 8);
  EXPECT_EQ(readSfm(250, 16000, 1)->getHighBand(), 23);
  const auto mid = readSfm(300, 5000, 2);
  EXPECT_EQ(mid->getLowBand(), 1);  // 4·log2(0.3) + 8.5 = 1.55
  EXPECT_EQ(mid->getHighBand(), 16);
  EXPECT_EQ(mid->getMsPerRow(), 60.0f);
  mid->storeParameters();
  EXPECT_EQ(intParameter(*mid, "lf"), 297);  // 1000 · 2^(-7/4)
  EXPECT_EQ(intParameter(*mid, "uf"), 4756);  // 1000 · 2^(9/4)
}

TEST(SignDataSfmTest, InvalidFrequencyRanges) {
  const std::string message = "invalid frequency range for MP7-SFM";
  expectFeatureObjException([] { readSfm(150, 4000, 1); }, message);   // -2.45 truncates to -2
  expectFeatureObjException([] { readSfm(250, 20000, 1); }, message);  // 24
  expectFeatureObjException([] { readSfm(1000, 500, 1); }, message);   // high below low
  expectFeatureObjException([] { readSfm(8000, 16000, 1); }, message); // low band 20
  expectFeatureObjException([] { readSfm(0, 4000, 1); }, message);
  expectFeatureObjException([] { readSfm(-250, 4000, 1); }, message);
  expectFeatureObjException([] { readSfm(250, 0, 1); }, message);
  expectFeatureObjException([] { readSfm(250, 2147483647, 1); }, message);
}

TEST(SignDataSfmTest, FramePeriodAndResolution) {
  // A stored period overrides the one of the resolution, but cannot be written back.
  auto inconsistent = readSfm(250, 4000, 2, "30");
  EXPECT_EQ(inconsistent->getMsPerRow(), 30.0f);
  expectFeatureObjException([&] { inconsistent->storeParameters(); }, "inconsistent setting (m_msPerRow<->m_tempRes)");
  auto consistent = readSfm(250, 4000, 2, "60");
  EXPECT_NO_THROW(consistent->storeParameters());

  OverlappingSfm overlapping;
  overlapping.setWindowResolution(3);
  expectFeatureObjException([&] { overlapping.storeParameters(); }, "attempt to write signature with overlap");

  // A resolution whose period does not fit an int is computed without overflow.
  auto slow = readSfm(250, 4000, 100000000);
  EXPECT_EQ(slow->getMsPerRow(), 3e9f);
}

TEST(SignDataSfmTest, ReaderChecks) {
  CSignDataSFM sfm;
  const auto readInto = [&](const std::vector<unsigned char>& bytes) {
    sfm.read(bytes.data(), static_cast<unsigned>(bytes.size()));
  };
  expectFeatureObjException([&] { readInto(streamWith("SFX", 2, {{"lf", 250}, {"uf", 4000}, {"sr", 1}})); },
                            "feature name mismatch");
  expectFeatureObjException([&] { readInto(streamWith("SFM", 2, {{"uf", 4000}, {"sr", 1}})); },
                            "missing parameter: lf");
  expectFeatureObjException([&] { readInto(streamWith("SFM", 2, {{"lf", 250}, {"sr", 1}})); },
                            "missing parameter: uf");
  expectFeatureObjException([&] { readInto(streamWith("SFM", 2, {{"lf", 250}, {"uf", 4000}})); },
                            "missing parameter: sr");
}

TEST(SignDataSfmTest, CompatibilityAndCopies) {
  auto a = readSfm(250, 4000, 1);
  auto b = readSfm(250, 4000, 1);
  EXPECT_EQ(a->append(*b), 6u);
  auto otherBand = readSfm(300, 4000, 1);
  EXPECT_FALSE(a->isCompatible(*otherBand));
  expectFeatureObjException([&] { a->append(*otherBand); }, "different settings, cannot append feature object");
  auto otherResolution = readSfm(250, 4000, 2, "30");
  expectFeatureObjException([&] { a->append(*otherResolution); }, "different settings, cannot append feature object");
  // A plain float object with the same period is not a flatness feature.
  CFeatureObject<float> plain("SFM", 2);
  EXPECT_FALSE(a->isCompatible(plain));
  // The other way round the plain object's own rule holds.
  plain.setParameter("msPerRow", 30.0f);
  plain.readParameters();
  EXPECT_TRUE(plain.isCompatible(*a));

  std::unique_ptr<CFeatureObjectBase> whole(otherBand->clone(0, 0));
  auto* copy = dynamic_cast<CSignDataSFM*>(whole.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->getLowBand(), 1);
  EXPECT_TRUE(copy->isCompatible(*otherBand));
  std::unique_ptr<CFeatureObjectBase> excerpt(otherBand->clone(30, 30));
  auto* part = dynamic_cast<CSignDataSFM*>(excerpt.get());
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->getMatrix().rows, 1u);
  EXPECT_EQ(part->getHighBand(), 15);
  const CSignDataSFM constructed(*otherBand, false);
  EXPECT_EQ(constructed.getLowBand(), 1);
  EXPECT_TRUE(constructed.isEmpty());
}

TEST(SignDataAseTest, SettingsReadAndWritten) {
  const CSignDataASE fresh;
  EXPECT_EQ(fresh.getName(), "ASE");
  EXPECT_EQ(fresh.getFeatureType(), 3);

  auto ase = readAse(62, 16000, 4, "10");
  EXPECT_EQ(ase->getLowerEdge(), 62);
  EXPECT_EQ(ase->getUpperEdge(), 16000);
  EXPECT_EQ(ase->getResolution(), 4);
  EXPECT_EQ(ase->getMsPerRow(), 10.0f);
  int unused;
  EXPECT_FALSE(ase->getParameter(unused, "re", false));
  ase->storeParameters();
  EXPECT_EQ(intParameter(*ase, "lf"), 62);
  EXPECT_EQ(intParameter(*ase, "uf"), 16000);
  EXPECT_EQ(intParameter(*ase, "re"), 4);
  std::string period;
  EXPECT_TRUE(ase->getParameter(period, "msPerRow", false));
  EXPECT_EQ(period, "10");

  // Without a stored period: 30 ms.
  EXPECT_EQ(readAse(62, 16000, 4)->getMsPerRow(), 30.0f);
}

TEST(SignDataAseTest, ReaderChecksAndCompatibility) {
  CSignDataASE ase;
  const auto readInto = [&](const std::vector<unsigned char>& bytes) {
    ase.read(bytes.data(), static_cast<unsigned>(bytes.size()));
  };
  expectFeatureObjException([&] { readInto(streamWith("Envelope", 3, {{"lf", 1}, {"uf", 2}, {"re", 3}})); },
                            "feature name mismatch");
  expectFeatureObjException([&] { readInto(streamWith("ASE", 3, {{"uf", 2}, {"re", 3}})); }, "missing parameter: lf");
  expectFeatureObjException([&] { readInto(streamWith("ASE", 3, {{"lf", 1}, {"re", 3}})); }, "missing parameter: uf");
  expectFeatureObjException([&] { readInto(streamWith("ASE", 3, {{"lf", 1}, {"uf", 2}})); }, "missing parameter: re");

  auto a = readAse(62, 16000, 4);
  auto b = readAse(62, 16000, 4);
  EXPECT_EQ(a->append(*b), 6u);
  auto finer = readAse(62, 16000, 8);
  expectFeatureObjException([&] { a->append(*finer); }, "different settings, cannot append feature object");
  auto faster = readAse(62, 16000, 4, "10");
  EXPECT_FALSE(a->isCompatible(*faster));

  std::unique_ptr<CFeatureObjectBase> excerpt(finer->clone(31, 0));
  auto* part = dynamic_cast<CSignDataASE*>(excerpt.get());
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->getResolution(), 8);
  EXPECT_EQ(part->getMatrix().rows, 2u);
  EXPECT_TRUE(part->isCompatible(*finer));
}
