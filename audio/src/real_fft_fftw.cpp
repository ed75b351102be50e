#include <fftw3.h>

#include <mutex>

#include "real_fft.h"

namespace {

// FFTW's planner keeps global state: plans are made and destroyed one at a
// time. Executing a plan on its own arrays is safe from any thread.
std::mutex gPlannerMutex;

static_assert(sizeof(fftwf_complex) == 2 * sizeof(float));

class FftwRealFft : public RealFft {
public:
    explicit FftwRealFft(int n) : mN(n) {
        mIn = static_cast<float*>(fftwf_malloc(sizeof(float) * size_t(n)));
        mScratch = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * size_t(n / 2 + 1)));
        std::lock_guard<std::mutex> lock(gPlannerMutex);
        mPlan = fftwf_plan_dft_r2c_1d(n, mIn, mScratch, FFTW_ESTIMATE);
    }
    ~FftwRealFft() override {
        {
            std::lock_guard<std::mutex> lock(gPlannerMutex);
            fftwf_destroy_plan(mPlan);
        }
        fftwf_free(mIn);
        fftwf_free(mScratch);
    }
    float* input() override { return mIn; }
    void forward(float (*out)[2]) override {
        // FFTW wants its own aligned arrays: the plan was made for them.
        fftwf_execute_dft_r2c(mPlan, mIn, mScratch);
        for (int k = 0; k <= mN / 2; ++k) {
            out[k][0] = mScratch[k][0];
            out[k][1] = mScratch[k][1];
        }
    }

private:
    int mN;
    float* mIn;
    fftwf_complex* mScratch;
    fftwf_plan mPlan;
};

}  // namespace

std::unique_ptr<RealFft> makeFftwRealFft(int n) { return std::make_unique<FftwRealFft>(n); }

std::unique_ptr<RealFft> makeRealFft(int n) { return makeFftwRealFft(n); }
