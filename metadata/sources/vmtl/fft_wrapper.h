#pragma once
// The transform wrapper of the vector library: the forward FFT of a complex
// vector, with a length the transform cannot handle reported as the library's
// exception rather than as a result code.

#include <complex>

#include "metadata/sources/vmtl/base_vector.h"
#include "metadata/sources/vmtl/fft.h"
#include "metadata/sources/vmtl/vmtl_exception.h"

// Transforms data in place: X[k] = Σ x[j]·e^(-2πi·jk/n), unscaled, for the
// lengths fftComplex accepts; any other length (1 and 0 included) throws
// "error in computing forward FFT". A std::complex<float> is laid out as its
// real and imaginary parts, so the vector is handed over as interleaved floats.
inline void forwardFFT(const BaseVector<std::complex<float>>& data) {
  float* values = reinterpret_cast<float*>(data.data);
  const int n = data.size > 0x7fffffffu ? 0 : static_cast<int>(data.size);
  if (fftComplex(values, n, -1) == 0) vmtl::fail("error in computing forward FFT", vmtl::kFftWrapperHeader, 244);
}
