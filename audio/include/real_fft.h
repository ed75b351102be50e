// The real forward FFT under the spectrum analysis: one interface, so that
// the analysis (fft_spectrum_analyzer) is one code path whichever library
// transforms. Natively FFTW; in the page Eigen's FFT module (KISS FFT
// inside, header only), because FFTW does not build with Emscripten here.
// tests/audio check that both give the same spectrum bytes within 1.
#pragma once

#include <memory>

class RealFft {
public:
    virtual ~RealFft() = default;
    // The n samples to transform; written by the caller before forward().
    virtual float* input() = 0;
    // The first n / 2 + 1 bins, unscaled (as FFTW's r2c): out[k] = {re, im}.
    virtual void forward(float (*out)[2]) = 0;
};

std::unique_ptr<RealFft> makeFftwRealFft(int n);    // real_fft_fftw.cpp, native builds only
std::unique_ptr<RealFft> makeEigenRealFft(int n);   // real_fft_eigen.cpp
// The build's choice: FFTW natively, Eigen in the page.
std::unique_ptr<RealFft> makeRealFft(int n);
