#pragma once
// Helpers for the tests of the spectral, loudness and cepstrum modules: real
// spectra (a chord and white noise through the windowing and spectrum
// modules) handed to a module inside a graph read from XML, the power
// spectrum it received delivered beside its output so that a test can
// recompute the result in double precision, and an assertion on
// CModuleException.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "metadata/sources/featex/modules/base_module.h"
#include "tests/support/fex_graph.h"
#include "tests/support/signals.h"

namespace spectest {

// The front end's frames at 44100 Hz: 441 samples, transformed with 512
// points into 257 bins.
inline constexpr unsigned kRate = 44100;
inline constexpr unsigned kWindow = 441;
inline constexpr unsigned kTransform = 512;
inline constexpr unsigned kBins = kTransform / 2 + 1;

// Three frames of an A major chord over a faint noise floor, then three of
// white noise.
inline std::vector<std::vector<float>> testFrames() {
  std::vector<float> chord = testsignals::noise(kWindow * 3, 3, 0.003);
  for (const double f : {440.0, 554.365, 659.255}) {
    const std::vector<float> tone = testsignals::sine(kWindow * 3, f, kRate, 0.3);
    for (size_t i = 0; i < chord.size(); ++i) chord[i] += tone[i];
  }
  std::vector<std::vector<float>> result = testsignals::frames(chord, kWindow);
  for (auto& frame : testsignals::frames(testsignals::noise(kWindow * 3, 7), kWindow)) result.push_back(frame);
  return result;
}

// Hann window, spectrum and power spectrum; under the power spectrum a
// splitter leaf copying it, then the module of moduleXml (a leaf).
inline std::string psdGraph(const std::string& moduleXml) {
  return "<featex><module name=\"fex_time_to_weighted_time\" instance=\"w\" window=\"Hann\">"
         "<module name=\"fex_weighted_time_to_complex_spectrum\" instance=\"s\">"
         "<module name=\"fex_complex_spectrum_to_psd\" instance=\"p\">"
         "<module name=\"fex_splitter\" instance=\"copy\" endIndex=\"0\"/>" +
         moduleXml + "</module></module></module></featex>";
}

// The loudness chain from the power spectrum down to summaryXml.
inline std::string loudnessChain(const std::string& summaryXml) {
  return "<module name=\"fex_psd_to_ear_transfer\" instance=\"e\">"
         "<module name=\"fex_ear_transfer_to_critical_band\" instance=\"c\">"
         "<module name=\"fex_critical_band_to_spreaded_energy\" instance=\"s\">"
         "<module name=\"fex_spreaded_energy_to_specific_loudness\" instance=\"l\">" +
         summaryXml + "</module></module></module></module>";
}

// Every test frame through the graph of psdGraph(moduleXml); check gets the
// power spectrum in double precision and the module's output.
template <typename Check>
void onSpectra(const std::string& moduleXml, unsigned outputs, Check&& check,
               const Settings& globals = fextest::frontEndGlobals(kRate)) {
  fextest::Graph graph(psdGraph(moduleXml), globals);
  for (const std::vector<float>& frame : testFrames()) {
    const std::vector<float> out = graph.push(frame);
    ASSERT_EQ(out.size(), kBins + outputs);
    const std::vector<double> psd(out.begin(), out.begin() + kBins);
    check(psd, std::vector<float>(out.begin() + kBins, out.end()));
  }
}

// Each value within tolerance of the expected one, relative to the larger of
// its magnitude and floor.
inline void expectClose(const std::vector<float>& actual, const std::vector<double>& expected, double tolerance,
                        double floor = 1.0) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance * std::fmax(std::fabs(expected[i]), floor)) << "value " << i;
}

template <typename Call>
void expectModuleException(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected CModuleException \"" << message << "\"";
  } catch (const CModuleException& e) {
    EXPECT_EQ(e.getMessage(), message);
  }
}

// round(x) of the band layouts: x + 0.5 truncated.
inline long roundHalfUp(double x) { return static_cast<long>(std::floor(x + 0.5)); }

// The loudness chain in double precision: ear weighting, critical bands at
// 44100 Hz, spreading and the power 0.22, from a power spectrum.
inline std::vector<double> referenceSpecificLoudness(const std::vector<double>& psd) {
  const size_t n = psd.size();
  std::vector<double> ear(n, 0.0);
  for (size_t k = 1; k < n; ++k) {
    const double f = double(k) * kRate / (n * 1000.0);
    const double a = 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) - 0.001 * std::pow(f, 4) - 1.82 * std::pow(f, -0.8);
    ear[k] = psd[k] * std::pow(10.0, a / 10);
  }
  const unsigned edges[] = {0,  4,  8,   12,  16,  20,  24,  28,  34,  40,  46,  52,  58, 66,
                            76, 88, 102, 118, 136, 158, 220, 264, 318, 382, 466, 582, 744};
  std::vector<double> bands(26, 0.0);
  for (unsigned b = 0; b < 26; ++b)
    for (size_t i = edges[b] * n / 1024; i < edges[b + 1] * n / 1024; ++i) bands[b] += ear[i];
  const double tapsDb[23] = {-100, -76, -48, 0,   -16, -25, -37, -43, -52, -58, -63, -70,
                             -77,  -80, -80, -81, -85, -90, -90, -90, -90, -92, -98};
  std::vector<double> loudness(26, 0.0);
  for (int j = 0; j < 26; ++j) {
    double spread = 0.0;
    for (int i = 0; i < 26; ++i)
      if (j + 3 - i >= 0 && j + 3 - i < 23) spread += std::pow(10.0, tapsDb[j + 3 - i] / 10) * bands[i];
    loudness[j] = std::pow(j == 0 ? bands[0] : spread, 0.22);
  }
  return loudness;
}

}  // namespace spectest
