#include <unsupported/Eigen/FFT>

#include <complex>
#include <vector>

#include "real_fft.h"

namespace {

class EigenRealFft : public RealFft {
public:
    explicit EigenRealFft(int n) : mIn(size_t(n)), mOut(size_t(n / 2 + 1)) {
        mFft.SetFlag(Eigen::FFT<float>::HalfSpectrum);
    }
    float* input() override { return mIn.data(); }
    void forward(float (*out)[2]) override {
        mFft.fwd(mOut.data(), mIn.data(), Eigen::Index(mIn.size()));
        for (size_t k = 0; k < mOut.size(); ++k) {
            out[k][0] = mOut[k].real();
            out[k][1] = mOut[k].imag();
        }
    }

private:
    Eigen::FFT<float> mFft;
    std::vector<float> mIn;
    std::vector<std::complex<float>> mOut;
};

}  // namespace

std::unique_ptr<RealFft> makeEigenRealFft(int n) { return std::make_unique<EigenRealFft>(n); }

#ifdef __EMSCRIPTEN__
std::unique_ptr<RealFft> makeRealFft(int n) { return makeEigenRealFft(n); }
#endif
