// Pins the signatures that every configuration in config/ writes for a set of
// generated test signals: a checked-in FNV-1a 64 digest of the saved file's
// bytes, and one of the signature's feature values as they are held in memory
// after extraction. Any change of the extraction, the quantisation or the
// stream layout that alters a single byte or value fails here.
//
// Updating a digest when the output is meant to change (a new feature in a
// configuration, a corrected computation): run
//   build/dev/tests/api/vra_signature_test --gtest_filter='VraSignatureDigest.*'
// Every case that differs prints its table line with the new digests; paste
// those lines over the old ones below and say in the commit message why the
// output changed. A configuration added to config/ needs its own lines: the
// test fails until it has them.
//
// The signals are computed with +, -, *, / and floor alone (no library sine
// or exponential), so that they are the same on every platform and the
// digests hold for the Windows build as well.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "api/vra_signature.h"
#include "tests/api/api_test_support.h"

using namespace vemra_kivet;

namespace {

constexpr double kPi = 3.14159265358979323846;

// sin(x) from a reduction to [-pi/2, pi/2] and its Taylor series.
double portableSin(double x) {
  x -= 2.0 * kPi * std::floor(x / (2.0 * kPi));
  if (x > kPi) x -= 2.0 * kPi;
  if (x > kPi / 2.0) x = kPi - x;
  if (x < -kPi / 2.0) x = -kPi - x;
  const double x2 = x * x;
  double sum = 1.0;
  for (int k = 21; k >= 3; k -= 2) sum = 1.0 - x2 / (k * (k - 1)) * sum;
  return x * sum;
}

struct Lcg {
  uint32_t state;
  // Uniform in [-1, 1).
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / (1u << 24) * 2.0 - 1.0;
  }
};

double tone(double frequency, double t) { return portableSin(2.0 * kPi * frequency * t); }

// A decay over the time since a strike: 1 at the strike, 1/16 after 0.25 s.
double decay(double since) { return 1.0 / ((1.0 + 12.0 * since) * (1.0 + 12.0 * since)); }

// One sample of each signal, in [-1, 1] before clipping.
double sampleOf(const std::string& signal, unsigned i, unsigned rate, Lcg& noise) {
  const double t = static_cast<double>(i) / rate;
  if (signal == "silence") return 0.0;
  if (signal == "tones") {
    // Rising tones, 400 ms each, from 220 Hz in fifths.
    const double frequencies[] = {220.0, 330.0, 495.0, 742.5, 1113.75, 1670.625};
    return 0.5 * tone(frequencies[static_cast<unsigned>(t / 0.4) % 6], t);
  }
  if (signal == "chord") {
    // A C major chord with three harmonics, struck every second.
    double v = 0.0;
    for (double f : {261.63, 329.63, 392.0})
      for (int h = 1; h <= 3; ++h) v += tone(f * h, t) / (h * h);
    return 0.2 * v * decay(t - std::floor(t));
  }
  if (signal == "noise") return 0.6 * (0.5 + 0.5 * portableSin(kPi * t)) * noise.next();
  if (signal == "clicks") {
    // 5 ms bursts of 2 kHz at 120 beats per minute.
    const double since = t - 0.5 * std::floor(t / 0.5);
    return since < 0.005 ? 0.9 * tone(2000.0, since) * (1.0 - since / 0.005) : 0.0;
  }
  if (signal == "square") return tone(441.0, t) >= 0.0 ? 1.0 : -1.5;  // clipped to full scale
  // "mix": a bass line under the chord, clicks and a little noise.
  const double bass = 0.3 * tone(65.41 * (1 + static_cast<unsigned>(t / 2.0) % 2), t);
  return bass + 0.6 * sampleOf("chord", i, rate, noise) + 0.5 * sampleOf("clicks", i, rate, noise) +
         0.05 * noise.next();
}

std::vector<short> pcm(const std::string& signal, unsigned rate, unsigned milliseconds) {
  const unsigned n = static_cast<unsigned>(static_cast<uint64_t>(rate) * milliseconds / 1000);
  std::vector<short> samples(n);
  Lcg noise{2024};
  for (unsigned i = 0; i < n; ++i) {
    const double v = std::floor(sampleOf(signal, i, rate, noise) * 32767.0 + 0.5);
    samples[i] = static_cast<short>(v > 32767.0 ? 32767.0 : v < -32768.0 ? -32768.0 : v);
  }
  return samples;
}

struct Fnv64 {
  uint64_t hash = 14695981039346656037ull;
  void add(const void* bytes, size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
  }
};

// The feature values held in memory, in name order: name, shape and the bit
// patterns of the values.
uint64_t memoryDigest(const CSignDataMulti& data) {
  Fnv64 fnv;
  for (const auto& [name, feature] : data) {
    fnv.add(name.data(), name.size());
    FeatureDataInfo info;
    feature->getDataInfo(info);
    const uint32_t shape[2] = {info.rows, info.cols};
    fnv.add(shape, sizeof shape);
    const size_t width = std::strcmp(info.elementTypeTag, "uchr") == 0 ? 1 : 4;
    fnv.add(info.data, static_cast<size_t>(info.rows) * info.cols * width);
  }
  return fnv.hash;
}

struct DigestCase {
  const char* config;  // file name in config/
  const char* signal;
  unsigned rate;
  unsigned milliseconds;
  const char* fileDigest;    // of the saved signature file
  const char* memoryDigest;  // of the feature values in memory
};

// clang-format off
const DigestCase kCases[] = {
  {"default.xml", "tones",   44100,  4000, "283e210f8cf71227", "192769f3824fc788"},
  {"default.xml", "chord",   44100,  3003, "4a93761676f55c50", "adb61a4c446eb884"},
  {"default.xml", "noise",   44100,  2500, "509630de02e45458", "530d696eb336fac5"},
  {"default.xml", "clicks",  44100,  3000, "8189745ddc107f0e", "8e9c7b57b19a858f"},
  {"default.xml", "silence", 44100,  1500, "748e314b79e6e1e9", "186808fa8b8587e5"},
  {"default.xml", "square",  44100,  1505, "95dcf9c3c17fd5cf", "715b3396a923365c"},
  {"default.xml", "mix",     44100, 20000, "25644bcca490be07", "c89689040aa52e61"},
  {"default.xml", "mix",     48000,  3000, "ebc8a548f73383db", "51707e1447614e8b"},
  {"default.xml", "chord",   32000,  2500, "380b8f5905044f84", "8dd2abec6a9e4897"},
  {"default.xml", "chord",   22050,  3000, "6a942884c53600f8", "6e493e1c37d2eda0"},
  {"default.xml", "noise",   16000,  2000, "367edcd897cd007e", "f707ee291f437418"},
  {"default.xml", "tones",   11025,  3000, "0dc088174fa1bda9", "ea1da627088625fc"},
  {"default.xml", "clicks",   8000,  2007, "187744538430411c", "b82bdacec9f4c688"},
  {"mfcc.xml",    "chord",   44100,  2000, "50bb4b8a3fdb2dd2", "384ea1d9a9edd80d"},
  {"mfcc.xml",    "noise",   22050,  1500, "c2f20dd288895766", "5eb59810107d0160"},
  {"mfcc.xml",    "mix",     48000,  2000, "4c957f8fed48e2e1", "4e6770a1676a95fe"},
};
// clang-format on

std::string hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

TEST(VraSignatureDigest, SignaturesOfGeneratedAudio) {
  for (const DigestCase& c : kCases) {
    const std::string name = std::string(c.config) + " " + c.signal + " " + std::to_string(c.rate) + " Hz " +
                             std::to_string(c.milliseconds) + " ms";
    SCOPED_TRACE(name);
    const std::vector<short> samples = pcm(c.signal, c.rate, c.milliseconds);
    apitest::Held<vraISignature> signature(
        CreateSignature((std::string(KIVET_CONFIG_DIR) + "/" + c.config).c_str(), c.rate));
    vraISong* song = signature->getSong();
    song->setTitle(c.signal);
    song->setArtist("kivet tests");
    song->release();
    // Pieces of changing sizes, so that frames run across the calls.
    const unsigned pieces[] = {4096, 1000, 333, 7919};
    for (size_t at = 0, k = 0; at < samples.size(); ++k) {
      const unsigned count = static_cast<unsigned>(std::min<size_t>(pieces[k % 4], samples.size() - at));
      signature->addSamples(samples.data() + at, count);
      at += count;
    }
    const std::string path = apitest::tempPath(std::string(c.signal) + ".sig");
    signature->save(path.c_str());
    const std::string bytes = apitest::readFile(path);
    std::remove(path.c_str());
    ASSERT_GT(bytes.size(), 100u);

    Fnv64 file;
    file.add(bytes.data(), bytes.size());
    const uint64_t memory = memoryDigest(*static_cast<vraSignature*>(signature.get())->toMultiSignature()->getSignData());
    EXPECT_TRUE(hex(file.hash) == c.fileDigest && hex(memory) == c.memoryDigest)
        << "new table line:\n  {\"" << c.config << "\", \"" << c.signal << "\", " << c.rate << ", "
        << c.milliseconds << ", \"" << hex(file.hash) << "\", \"" << hex(memory) << "\"},";
  }
}

namespace {

// The name of a document's root element, past its declaration and comments.
std::string rootElement(const std::string& text) {
  for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    if (text.compare(at, 4, "<!--") == 0) at = text.find("-->", at);
    if (at == std::string::npos) break;
    if (text[at] == '<' && text[at + 1] != '?' && text[at + 1] != '!')
      return text.substr(at + 1, text.find_first_of(" \t\r\n/>", at) - at - 1);
  }
  return "";
}

}  // namespace

// Every extraction configuration shipped in config/ (a "featex" document; the
// similarity-engine configuration is another kind) is pinned, and every case
// names one that exists.
TEST(VraSignatureDigest, EveryConfigurationHasCases) {
  std::set<std::string> shipped;
  std::set<std::string> roots;
  for (const auto& entry : std::filesystem::directory_iterator(KIVET_CONFIG_DIR)) {
    if (entry.path().extension() != ".xml") continue;
    const std::string root = rootElement(apitest::readFile(entry.path().string()));
    roots.insert(root);
    if (root == "featex") shipped.insert(entry.path().filename().string());
  }
  EXPECT_EQ(roots, (std::set<std::string>{"featex", "similarity"}));
  std::set<std::string> pinned;
  for (const DigestCase& c : kCases) pinned.insert(c.config);
  EXPECT_EQ(pinned, shipped);
}
