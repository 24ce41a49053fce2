#include "api/vra_signature.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/kivet.h"
#include "tests/api/api_test_support.h"

using namespace vemra_kivet;
using apitest::expectCode;
using apitest::featureMatrix;
using apitest::Held;
using apitest::ramp;
using apitest::tempPath;
using apitest::writeFile;

namespace {

using SignaturePtr = apitest::Held<vraSignature>;

SignaturePtr rawSignature(unsigned rate = 44100) {
  SignaturePtr signature(new vraSignature);
  signature->init(writeFile("raw.xml", apitest::rawFramesConfig()).c_str(), rate);
  return signature;
}

// Row r of the raw-frame feature against samples[first ...], each scaled by 2^-15.
void expectRow(const HeapMatrix<float>& rows, unsigned r, const std::vector<short>& samples, unsigned first) {
  for (unsigned c = 0; c < rows.cols; ++c) {
    ASSERT_EQ(rows.data[r * rows.cols + c], static_cast<float>(samples[first + c]) / 32768.0f)
        << "row " << r << " column " << c;
  }
}

}  // namespace

TEST(VraSignature, FramesRunAcrossCalls) {
  SignaturePtr signature = rawSignature();
  const std::vector<short> samples = ramp(1000 + 323 + 441);
  signature->addSamples(samples.data(), 1000);  // two frames of 441, 118 pending
  {
    const HeapMatrix<float>& rows = featureMatrix(*signature->toMultiSignature(), "PCM");
    ASSERT_EQ(rows.rows, 2u);
    ASSERT_EQ(rows.cols, 441u);
    expectRow(rows, 0, samples, 0);
    expectRow(rows, 1, samples, 441);
  }
  signature->addSamples(samples.data() + 1000, 323);  // completes the third frame exactly
  {
    const HeapMatrix<float>& rows = featureMatrix(*signature->toMultiSignature(), "PCM");
    ASSERT_EQ(rows.rows, 3u);
    expectRow(rows, 2, samples, 882);
  }
  signature->addSamples(samples.data() + 1323, 441);  // nothing was left pending
  const HeapMatrix<float>& rows = featureMatrix(*signature->toMultiSignature(), "PCM");
  ASSERT_EQ(rows.rows, 4u);
  expectRow(rows, 3, samples, 1323);
}

TEST(VraSignature, FullScaleSamples) {
  SignaturePtr signature = rawSignature(8000);  // 80-sample frames
  std::vector<short> samples(80, 0);
  samples[0] = -32768;
  samples[1] = 32767;
  samples[2] = -1;
  signature->addSamples(samples.data(), 80);
  const HeapMatrix<float>& rows = featureMatrix(*signature->toMultiSignature(), "PCM");
  ASSERT_EQ(rows.cols, 80u);
  EXPECT_EQ(rows.data[0], -1.0f);
  EXPECT_EQ(rows.data[1], static_cast<float>(32767.0 / 32768.0));
  EXPECT_EQ(rows.data[2], static_cast<float>(-1.0 / 32768.0));
}

TEST(VraSignature, FrameLengthFollowsTheConfiguredDuration) {
  SignaturePtr signature(new vraSignature);
  // 22050 Hz x 25 ms = 551.25 samples: 551.
  signature->init(writeFile("fd25.xml", apitest::rawFramesConfig("<param frameDuration=\"25\"/>")).c_str(), 22050);
  const std::vector<short> samples = ramp(1200);
  signature->addSamples(samples.data(), 1200);
  const HeapMatrix<float>& rows = featureMatrix(*signature->toMultiSignature(), "PCM");
  EXPECT_EQ(rows.rows, 2u);
  EXPECT_EQ(rows.cols, 551u);
}

TEST(VraSignature, SongLengthRoundsDownPerCall) {
  const std::vector<short> samples = ramp(44100);
  SignaturePtr halves = rawSignature();
  halves->addSamples(samples.data(), 22050);
  halves->addSamples(samples.data() + 22050, 22050);
  vraISong* song = halves->getSong();
  EXPECT_EQ(song->getLength(), 1000);
  song->release();

  SignaturePtr thirds = rawSignature();
  for (unsigned i = 0; i < 3; ++i) thirds->addSamples(samples.data() + i * 14700, 14700);
  song = thirds->getSong();
  EXPECT_EQ(song->getLength(), 999);  // 333 ms per call
  song->release();
  EXPECT_EQ(apitest::metaText(*thirds->toMultiSignature(), "TLEN"), "999");
}

TEST(VraSignature, SongLengthWrapsAt32Bits) {
  // At 1 Hz every sample is a second: 3000000 samples are 3000000000 ms,
  // beyond a signed 32-bit count.
  SignaturePtr signature(new vraSignature);
  signature->init(writeFile("slow.xml",
                            "<featex><param frameDuration=\"100000\"/>"
                            "<module name=\"fex_zerocrossing\" instance=\"zc\"/></featex>")
                      .c_str(),
                  1);
  const std::vector<short> samples(3000000, 0);
  signature->addSamples(samples.data(), 3000000);
  vraISong* song = signature->getSong();
  EXPECT_EQ(song->getLength(), -1294967296);  // 3000000000 - 2^32
  signature->addSamples(samples.data(), 2000000);
  EXPECT_EQ(song->getLength(), 705032704);  // 5000000000 - 2^32
  song->release();
}

TEST(VraSignature, TextTagsInUtf8) {
  SignaturePtr signature = rawSignature();
  vraISong* song = signature->getSong();
  song->setTitle("Caf\xE9");  // Latin-1
  song->setArtist("Ma\xC3\xAF" "a");
  song->setFileName("/music/caf\xC3\xA9.wav");
  song->release();
  const std::vector<short> samples = ramp(882);
  signature->addSamples(samples.data(), 882);
  const CAudioSignMulti& result = *signature->toMultiSignature();
  EXPECT_EQ(apitest::metaText(result, "TIT2"), "Caf\xC3\xA9");
  EXPECT_EQ(apitest::metaText(result, "TPE1"), "Ma\xC3\xAF" "a");
  EXPECT_EQ(apitest::metaText(result, "FILENAME"), "/music/caf\xC3\xA9.wav");
  EXPECT_EQ(apitest::metaText(result, "TLEN"), "20");
}

// A saved signature holds the song's texts in UTF-8, one whose only
// characters beyond ASCII take four bytes as given: META frames of a tag
// length byte, the tag, a VLQ length and the bytes.
TEST(VraSignature, SavedTagsHoldTheTextsInUtf8) {
  SignaturePtr signature = rawSignature();
  {
    Held<vraISong> song(signature->getSong());
    song->setTitle("\xF0\x9F\x8E\xB5 Night Drive");
    song->setArtist("Caf\xE9");
    song->setFileName("/music/\xF0\xA0\x80\x8B.wav");
  }
  const std::vector<short> samples = ramp(441);
  signature->addSamples(samples.data(), 441);
  const std::string path = tempPath("texts.sig");
  signature->save(path.c_str());
  const std::string bytes = apitest::readFile(path);
  for (const std::string frame : {"\x04" "TIT2" "\x10" "\xF0\x9F\x8E\xB5 Night Drive",
                                  "\x04" "TPE1" "\x05" "Caf\xC3\xA9",
                                  "\x08" "FILENAME" "\x0F" "/music/\xF0\xA0\x80\x8B.wav"})
    EXPECT_NE(bytes.find(frame), std::string::npos) << frame;
  SignaturePtr loaded(new vraSignature);
  loaded->load(path.c_str());
  EXPECT_EQ(apitest::metaText(*loaded->toMultiSignature(), "TIT2"), "\xF0\x9F\x8E\xB5 Night Drive");
}

TEST(VraSignature, DownmixStereo) {
  vraSignature signature;  // needs no configuration
  const short stereo[] = {1, 2, -1, -2, 32767, 32767, -32768, -32768, -3, 0, 3, 0};
  short mono[6] = {9, 9, 9, 9, 9, 9};
  signature.downmixStereo(stereo, 12, mono);
  const short expected[] = {1, -1, 32767, -32768, -1, 1};  // truncated toward zero
  for (int i = 0; i < 6; ++i) EXPECT_EQ(mono[i], expected[i]) << i;

  short untouched[1] = {42};
  signature.downmixStereo(nullptr, 0, untouched);
  EXPECT_EQ(untouched[0], 42);
  expectCode([&] { signature.downmixStereo(stereo, 3, mono); }, 14);
  expectCode([&] { signature.downmixStereo(nullptr, 4, mono); }, 13);
  expectCode([&] { signature.downmixStereo(stereo, 4, nullptr); }, 13);
}

TEST(VraSignature, CodesBeforeInit) {
  vraSignature signature;
  const short samples[4] = {};
  expectCode([&] { signature.addSamples(samples, 4); }, 8);
  expectCode([&] { signature.save(tempPath("never.sig").c_str()); }, 8);
  expectCode([&] { signature.toMultiSignature(); }, 8);
}

TEST(VraSignature, InitCodes) {
  expectCode([] { CreateSignature(tempPath("missing.xml").c_str(), 44100); }, 4);
  expectCode([] { CreateSignature(writeFile("bad.xml", "<featex><module").c_str(), 44100); }, 12);
  // A configuration must give a positive frame duration, and the rate must
  // make a frame of at least one sample.
  expectCode([] { CreateSignature(writeFile("nofd.xml", apitest::rawFramesConfig("")).c_str(), 44100); }, 14);
  expectCode(
      [] {
        CreateSignature(writeFile("fd0.xml", apitest::rawFramesConfig("<param frameDuration=\"0\"/>")).c_str(),
                        44100);
      },
      14);
  expectCode(
      [] {
        CreateSignature(writeFile("fdneg.xml", apitest::rawFramesConfig("<param frameDuration=\"-5\"/>")).c_str(),
                        44100);
      },
      14);
  expectCode([] { CreateSignature(writeFile("raw.xml", apitest::rawFramesConfig()).c_str(), 0); }, 14);
  // A rate of 0 is refused before the configuration is read: no module of
  // it is built, nor is the file looked for.
  expectCode([] { CreateSignature(KIVET_CONFIG_DIR "/default.xml", 0); }, 14);
  expectCode([] { CreateSignature(tempPath("missing.xml").c_str(), 0); }, 14);
  expectCode(
      [] {
        CreateSignature(
            writeFile("fdhuge.xml", apitest::rawFramesConfig("<param frameDuration=\"2000000000\"/>")).c_str(),
            44100);
      },
      14);

  // A failed init leaves an object that takes no samples.
  SignaturePtr signature = rawSignature();
  expectCode([&] { signature->init(writeFile("nofd2.xml", apitest::rawFramesConfig("")).c_str(), 44100); }, 14);
  const short samples[4] = {};
  expectCode([&] { signature->addSamples(samples, 4); }, 8);
}

TEST(VraSignature, OperationCodes) {
  SignaturePtr signature = rawSignature();
  expectCode([&] { signature->addSamples(nullptr, 10); }, 13);
  signature->addSamples(nullptr, 0);
  // Nothing extracted yet: a signature without data.
  expectCode([&] { signature->save(tempPath("empty.sig").c_str()); }, 6);

  const std::vector<short> samples = ramp(441);
  signature->addSamples(samples.data(), 441);
  expectCode([&] { signature->save(tempPath("no such dir/x.sig").c_str()); }, 3);
  expectCode([&] { signature->save(nullptr); }, 3);
  expectCode([&] { signature->load(tempPath("missing.sig").c_str()); }, 2);
  expectCode([&] { signature->load(nullptr); }, 2);
  // A file that is no signature: code 1, and the signature stays as it was.
  expectCode([&] { signature->load(writeFile("garbage.sig", "this is not a signature").c_str()); }, 1);
  EXPECT_EQ(featureMatrix(*signature->toMultiSignature(), "PCM").rows, 1u);
}

TEST(VraSignature, FrameFailureIsCode1) {
  // The window is overridden to 100 samples while frames stay 441 long.
  SignaturePtr signature(new vraSignature);
  signature->init(writeFile("mismatch.xml",
                            "<featex><param frameDuration=\"10\" windowSize=\"100\"/>"
                            "<module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"Hann\">"
                            "<module name=\"fex_feature_object\" instance=\"o\" featname=\"W\" featver=\"100\"/>"
                            "</module></featex>")
                      .c_str(),
                  44100);
  const std::vector<short> samples = ramp(500);
  expectCode([&] { signature->addSamples(samples.data(), 500); }, 1);
  // The failed call added nothing to the song.
  vraISong* song = signature->getSong();
  EXPECT_EQ(song->getLength(), 0);
  song->release();
}

TEST(VraSignature, SaveTwiceExtractsOnceAndLoadNeedsNoInit) {
  SignaturePtr signature = rawSignature();
  const std::vector<short> samples = ramp(441 * 3 + 100);
  signature->addSamples(samples.data(), static_cast<unsigned>(samples.size()));
  const std::string first = tempPath("first.sig");
  const std::string second = tempPath("second.sig");
  signature->save(first.c_str());
  // A second extraction would find no new rows and fail; the second save
  // writes the same signature.
  signature->save(second.c_str());
  EXPECT_FALSE(apitest::readFile(first).empty());
  EXPECT_EQ(apitest::readFile(first), apitest::readFile(second));

  SignaturePtr loaded(new vraSignature);
  loaded->load(first.c_str());
  const HeapMatrix<float>& rows = featureMatrix(*loaded->toMultiSignature(), "PCM");
  EXPECT_EQ(rows.rows, 3u);
  expectRow(rows, 2, samples, 882);
  // A loaded signature saves without a configuration.
  const std::string third = tempPath("third.sig");
  loaded->save(third.c_str());
  EXPECT_EQ(apitest::readFile(first), apitest::readFile(third));
}

TEST(VraSignature, ReferenceCounts) {
  vraISignature* signature = CreateSignature(writeFile("raw.xml", apitest::rawFramesConfig()).c_str(), 44100);
  static_cast<vraSignature*>(signature)->addRef();
  signature->release();  // still held once
  vraISong* song = signature->getSong();
  song->setTitle("still here");
  song->release();
  song = signature->getSong();
  EXPECT_STREQ(song->getTitle(false), "still here");
  song->release();
  signature->release();  // gone; the sanitizer build reports a leak otherwise
}

// The song is part of its signature: a reference to either keeps both, and
// the memory goes with the last one, whichever it is (the sanitizer build
// reports a use after free or a leak otherwise).
TEST(VraSignature, SongKeepsItsSignatureAlive) {
  for (const bool signatureFirst : {true, false}) {
    SCOPED_TRACE(signatureFirst ? "signature released first" : "song released first");
    vraISignature* signature = CreateSignature(writeFile("raw.xml", apitest::rawFramesConfig()).c_str(), 44100);
    vraISong* song = signature->getSong();
    song->setTitle("kept");
    Held<vraISong> again(signature->getSong());
    EXPECT_EQ(again.get(), song);
    again.reset();
    if (signatureFirst) {
      signature->release();
      EXPECT_STREQ(song->getTitle(false), "kept");
      song->setArtist("set later");
      EXPECT_STREQ(song->getArtist(false), "set later");
      song->release();
    } else {
      song->release();
      EXPECT_STREQ(Held<vraISong>(signature->getSong())->getTitle(false), "kept");
      signature->release();
    }
  }
}

namespace {

// Music-like test audio at 44100 Hz: an A major chord with a slow tremolo,
// quiet noise and a click every half second.
std::vector<short> chordWithClicks(unsigned seconds = 3) {
  const unsigned rate = 44100;
  const unsigned n = seconds * rate;
  std::vector<short> samples(n);
  const double pi = 3.14159265358979323846;
  uint32_t noise = 12345;
  for (unsigned i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    double v = 0.0;
    for (double f : {220.0, 277.18, 329.63}) v += 0.15 * std::sin(2 * pi * f * t);
    v *= 1.0 + 0.3 * std::sin(2 * pi * 4.0 * t);
    noise = noise * 1664525u + 1013904223u;
    v += 0.02 * (static_cast<double>(noise >> 8) / (1u << 24) * 2.0 - 1.0);
    if (i % (rate / 2) < 40) v += 0.5;
    samples[i] = static_cast<short>(std::lround(std::fmax(-1.0, std::fmin(1.0, v)) * 32767.0));
  }
  return samples;
}

}  // namespace

TEST(VraSignatureEndToEnd, DefaultConfigurationSavesAndLoadsTheSameFeatures) {
  const std::vector<short> samples = chordWithClicks();
  SignaturePtr extracted(static_cast<vraSignature*>(CreateSignature(KIVET_CONFIG_DIR "/default.xml", 44100)));
  vraISong* song = extracted->getSong();
  song->setTitle("Chord with clicks");
  song->setArtist("kivet tests");
  song->release();
  // Blocks of 100 ms, so that the song length adds up without rounding.
  for (size_t at = 0; at < samples.size(); at += 4410) extracted->addSamples(samples.data() + at, 4410);
  const std::string path = tempPath("default.sig");
  extracted->save(path.c_str());

  SignaturePtr loaded(new vraSignature);
  loaded->load(path.c_str());

  const CSignDataMulti& a = *extracted->toMultiSignature()->getSignData();
  const CSignDataMulti& b = *loaded->toMultiSignature()->getSignData();
  std::vector<std::string> names;
  for (const auto& [name, feature] : a) names.push_back(name);
  const std::vector<std::string> expectedNames = {"ASE",           "LogLoudness",      "MFCC",
                                                  "MSE",           "ModulationHigh",   "ModulationLow",
                                                  "ModulationMid", "NormLoudness",     "SFM",
                                                  "SpectralCentroid", "SpectralCrest", "ZCR"};
  EXPECT_EQ(names, expectedNames);
  ASSERT_EQ(b.size(), a.size());

  // 300 frames of 10 ms; the onset bands start with frame 3; the flatness
  // rows are 30 ms apart; the modulation features come at frames 128, 192
  // and 256.
  const struct {
    const char* name;
    unsigned rows;
    unsigned cols;
  } shapes[] = {{"ZCR", 300, 1},        {"MFCC", 300, 13},         {"LogLoudness", 300, 6},
                {"NormLoudness", 300, 6}, {"SpectralCentroid", 300, 6}, {"SpectralCrest", 300, 8},
                {"SFM", 100, 32},       {"ModulationLow", 3, 8},   {"MSE", 298, 14}};
  for (const auto& shape : shapes) {
    const HeapMatrix<float>& m = featureMatrix(*extracted->toMultiSignature(), shape.name);
    EXPECT_EQ(m.rows, shape.rows) << shape.name;
    EXPECT_EQ(m.cols, shape.cols) << shape.name;
  }

  for (const auto& [name, feature] : a) {
    SCOPED_TRACE(name);
    const CFeatureObjectBase* other = b.find(name.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->getFeatureType(), feature->getFeatureType());
    EXPECT_EQ(other->getMsPerRow(), feature->getMsPerRow());
    const HeapMatrix<float>& x = featureMatrix(*extracted->toMultiSignature(), name.c_str());
    const HeapMatrix<float>& y = featureMatrix(*loaded->toMultiSignature(), name.c_str());
    ASSERT_EQ(x.rows, y.rows);
    ASSERT_EQ(x.cols, y.cols);
    ASSERT_GT(x.rows * x.cols, 0u);
    for (unsigned i = 0; i < x.rows * x.cols; ++i) ASSERT_EQ(x.data[i], y.data[i]) << "element " << i;
  }
  EXPECT_EQ(apitest::metaText(*loaded->toMultiSignature(), "TIT2"), "Chord with clicks");
  EXPECT_EQ(apitest::metaText(*loaded->toMultiSignature(), "TLEN"), "3000");
}

namespace {

SignaturePtr defaultSignature() {
  return SignaturePtr(static_cast<vraSignature*>(CreateSignature(KIVET_CONFIG_DIR "/default.xml", 44100)));
}

std::string savedBytes(vraSignature& signature, const char* name) {
  const std::string path = tempPath(name);
  signature.save(path.c_str());
  return apitest::readFile(path);
}

}  // namespace

// 1 s is too short for the modulation features, which group 1.28 s into a
// row: whichever call finds that out, the extraction stays as it was, and 3 s
// more give the signature of the 4 s fed at once, which a session takes and
// finds again.
TEST(VraSignatureEndToEnd, RefusedFinishLeavesTheExtractionAsItWas) {
  const unsigned second = 44100;
  const std::vector<short> samples = chordWithClicks(4);
  SignaturePtr whole = defaultSignature();
  whole->addSamples(samples.data(), 4 * second);
  const std::string expected = savedBytes(*whole, "whole.sig");

  // Another song, so that finding itself first means something.
  SignaturePtr other = defaultSignature();
  const std::vector<short> otherSamples = ramp(4 * second);
  other->addSamples(otherSamples.data(), 4 * second);

  const struct {
    const char* refused;
    std::function<void(vraISession&, vraSignature&)> call;
  } cases[] = {
      {"save", [](vraISession&, vraSignature& s) { s.save(tempPath("refused.sig").c_str()); }},
      {"addSignature", [](vraISession& session, vraSignature& s) { session.addSignature(&s); }},
      {"queryBySignature",
       [](vraISession& session, vraSignature& s) { Held<vraIResultList>(session.queryBySignature(&s, 5, false)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused);
    Held<vraISession> session(CreateSession(KIVET_CONFIG_DIR "/similarity.xml", true));
    session->addSignature(other.get());
    SignaturePtr signature = defaultSignature();
    signature->addSamples(samples.data(), second);
    expectCode([&] { c.call(*session, *signature); }, 6);
    EXPECT_EQ(session->getSongCount(), 1u);

    signature->addSamples(samples.data() + second, 3 * second);
    const std::string bytes = savedBytes(*signature, "rest.sig");
    EXPECT_TRUE(bytes == expected) << "saved " << bytes.size() << " bytes, " << expected.size() << " expected";
    try {
      const unsigned id = session->addSignature(signature.get());
      Held<vraIResultList> found(session->queryBySignature(signature.get(), 5, false));
      EXPECT_EQ(found->size() > 0 ? found->getResult(0).id : 0u, id);
    } catch (const vraKivetException& e) {
      ADD_FAILURE() << "code " << e.getCode() << " adding it or querying by it";
    }
  }
}
