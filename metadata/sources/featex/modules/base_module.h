#pragma once
// The algorithm layer of the two-layer spectral, loudness and cepstrum
// modules. An algorithm (a class template instantiated for float, derived
// from CBaseModule) knows nothing of settings or graphs: its module reads and
// checks the settings, writes them as a small key=value text and hands that,
// with the signal's format, to setParameters; every frame it passes the input
// to process and hands the algorithm's output vector on.
//
// Also here: the exception of the algorithm layer, the reading of parameter
// texts, the quarter-octave grid with its adaptation to the Nyquist limit, and
// CFexAlgorithmModule, the module side shared by every module with an
// algorithm base.

#include <complex>
#include <cstdint>
#include <string>
#include <utility>

#include "metadata/sources/featex/fex_module.h"
#include "metadata/sources/featex/settings.h"
#include "metadata/sources/vmtl/base_vector.h"

// The exception of the algorithm layer and of a few module checks. It has no
// base class: callers catch it by its own type.
class CModuleException {
 public:
  explicit CModuleException(const char* message) : message(message) {}
  CModuleException(const CModuleException&) = default;
  virtual ~CModuleException() = default;

  const std::string& getMessage() const { return message; }

 private:
  std::string message;
};

// The signal's format as a module builds it from the global settings; each
// module fills the fields its algorithm reads and leaves the others 0.
struct SignalFormat {
  uint32_t samplingRate;      // Hz
  uint32_t windowSize;        // samples
  uint32_t overlapSize;       // samples
  uint32_t transformSize;     // FFT length N; the spectrum has N/2 + 1 bins
  uint32_t numCriticalBands;  // filled only by the loudness modules
};

template <typename T>
class CBaseModule {
 public:
  virtual ~CBaseModule() = default;

  // Configures the algorithm from a parameter text; returns the number of
  // values it produces per frame.
  virtual unsigned setParameters(const SignalFormat& format, const char* params) = 0;
  // A short tag naming the configuration.
  virtual std::string getParameterName() = 0;
  // One frame; the result is the algorithm's own vector, valid until the next
  // call.
  virtual const BaseVector<T>& process(const BaseVector<T>& in) = 0;
  virtual const BaseVector<T>& processComplex(const BaseVector<std::complex<T>>& in) = 0;
};

// Parameter texts are key=value items separated by blanks. A key is found by
// a plain substring search for the key followed by "=", so "uf=" is also found
// inside "(uf=". The value is read right after the "=". A null text holds no
// keys.
const char* findParameterValue(const char* params, const char* key);
// The value as atof reads it; false, value untouched, when the key is absent.
bool readFloatParameter(const char* params, const char* key, float& value);
// The value as the 32-bit atoi reads it (saturating at the 32-bit limits).
bool readIntParameter(const char* params, const char* key, int32_t& value);

// A number truncated toward zero and taken as a 32-bit value the way the
// 32-bit target converted it (through a 64-bit integer, keeping the low 32
// bits): -5.5 becomes 4294967291 as unsigned. NaN and magnitudes beyond the
// 64-bit range give 0.
uint32_t truncToUnsigned(double x);
int32_t truncToInt(double x);

// The upper edge in Hz of nb quarter-octave bands from 250 Hz:
// 1000 * 2^((nb - 8) / 4) truncated (8 bands end at 1000 Hz, 16 at 4000,
// 24 at 16000).
int32_t quarterOctaveUpperEdge(int64_t nb);

// Lowers nb one band at a time, recomputing uf on the quarter-octave grid,
// until uf is below samplingRate/2 (integer half, compared unsigned). The
// adapted uf is written to the global settings as "auf" and, with writeBands,
// nb as "anb". Below a sampling rate of 2 no frequency lies under the limit:
// the lowering then stops at the first uf of 0.
void adaptToNyquist(int64_t& nb, int32_t& uf, uint32_t samplingRate, SettingsBase* global, bool writeBands);

// The module side of a module with an algorithm base: signal-space names,
// the output count returned by setParameters, and the real-to-real slot that
// runs the algorithm. A module reading complex input overrides the complex
// query and its processing slot.
template <class Algorithm>
class CFexAlgorithmModule : public CFexModuleOld, public Algorithm {
 public:
  CFexAlgorithmModule(SettingsBase* local, SettingsBase* global, const CFexModuleInfo* info, std::string inputSpace,
                      std::string outputSpace)
      : CFexModuleOld(local, global, info),
        inputSignalSpace(std::move(inputSpace)),
        outputSignalSpace(std::move(outputSpace)) {}

  unsigned processRR(void** output, const void* input) override {
    return handOn(output, Algorithm::process(*static_cast<const BaseVector<float>*>(input)));
  }
  const std::string& getInputSignalSpace() override { return inputSignalSpace; }
  const std::string& getOutputSignalSpace() override { return outputSignalSpace; }
  unsigned getOutputSize(unsigned) override { return outputCount; }
  bool isInputComplex() override { return false; }
  bool isOutputComplex() override { return false; }

 protected:
  void configure(const SignalFormat& format, const std::string& params) {
    outputCount = Algorithm::setParameters(format, params.c_str());
  }

  static unsigned handOn(void** output, const BaseVector<float>& result) {
    // The children only read the vector; the graph's interface carries it as
    // a plain pointer.
    *output = const_cast<BaseVector<float>*>(&result);
    return result.size;
  }

 private:
  std::string inputSignalSpace;
  std::string outputSignalSpace;
  unsigned outputCount = 0;
};
