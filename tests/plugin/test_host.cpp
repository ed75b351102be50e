#include "test_host.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace lvhost {

void runIsolated(const std::function<void()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
        body();
        // The child leaves without exit-time handlers, and so without a leak
        // check: in a forked child LeakSanitizer (GCC 12) can crash on the
        // bookkeeping of thread-local storage that libraries loaded later
        // (the GL driver's) keep. The plug-in's code is leak-checked by the
        // in-process tests of lv_plugin and the platform layers.
        std::fflush(stdout);
        std::fflush(stderr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the plug-in's process died with signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failures in the plug-in's process (see above)";
}

void runWithHost(const std::function<void(TestHost&)>& body) {
    runIsolated([&] {
        unsetenv("DISPLAY");
        TestHost host;
        ASSERT_TRUE(host.loaded());
        ASSERT_EQ(host.init(), noErr);
        body(host);
    });
}

void setHostString(ITUniStr255 dest, const std::u16string& text) {
    std::memset(dest, 0, sizeof(ITUniStr255));
    const size_t n = std::min<size_t>(text.size(), 255);
    dest[0] = UniChar(n);
    std::copy(text.begin(), text.begin() + long(n), dest + 1);
}

ITTrackInfo makeTrack(const std::u16string& name, const std::u16string& artist, const std::u16string& album) {
    ITTrackInfo t = zeroed<ITTrackInfo>();
    t.recordLength = sizeof t;
    setHostString(t.name, name);
    setHostString(t.artist, artist);
    setHostString(t.album, album);
    return t;
}

// ---------------------------------------------------------------- host

TestHost::TestHost() {
    // The module lands beside the test programs in build/bin.
    const auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "Lumenvortex.so";
    std::string error;
    if (!loadFrom(path, error)) {
        ADD_FAILURE() << error << " (build the Lumenvortex target)";
        return;
    }
    const bool extensions =
        mAttachCorvane && setClock([](void* self) { return static_cast<TestHost*>(self)->mMicros; },
                                   [](void* self, long long micros) {
                                       static_cast<TestHost*>(self)->mMicros += std::max(micros, 0LL);
                                   },
                                   this);
    if (!extensions) ADD_FAILURE() << "Lumenvortex.so lacks its host extensions";
}

TestHost::~TestHost() { hide(); }

OSStatus TestHost::init() {
    const OSStatus status = registerPlugin();
    if (mHandler) initHandler();
    return status;
}

OSStatus TestHost::show(int portWidth, int portHeight, Rect canvas, UInt32 options) {
    if (canvas.right <= canvas.left || canvas.bottom <= canvas.top)
        canvas = Rect{0, 0, SInt16(portHeight), SInt16(portWidth)};
    mPixels.resize(size_t(portWidth) * portHeight * 4);
    for (size_t i = 0; i < mPixels.size(); i += 4) std::memcpy(&mPixels[i], &kUntouched, 4);
    mPort = LVPort{};
    mPort.kind = LV_PORT_OFFSCREEN;
    mPort.width = portWidth;
    mPort.height = portHeight;
    mPort.pixels = mPixels.data();
    if (mFramesAsAnExport) {
        mPort.frameUser = this;
        mPort.frameReady = [](void* user, const unsigned char* rgba, int w, int h, long stride, unsigned long) {
            auto* self = static_cast<TestHost*>(user);
            EXPECT_EQ(w, self->mPort.width);
            EXPECT_EQ(h, self->mPort.height);
            for (int y = 0; y < std::min(h, self->mPort.height) && w == self->mPort.width; ++y)
                std::memcpy(&self->mPixels[size_t(y) * w * 4], rgba + y * stride, size_t(w) * 4);
        };
    }
    mCanvas = canvas;
    return PluginModule::show(&mPort, canvas, options);
}

OSStatus TestHost::render(uint8_t spectrumLevel) {
    auto data = zeroed<RenderVisualData>();
    data.numSpectrumChannels = 2;
    data.numWaveformChannels = 2;
    for (int channel = 0; channel < 2; ++channel)
        for (int bin = 0; bin < 512; ++bin)
            data.spectrumData[channel][bin] = uint8_t(spectrumLevel * std::exp(-bin / 64.0));
    return PluginModule::render(data, 0);
}

void TestHost::renderFrames(int frames, int millisEach) {
    for (int i = 0; i < frames; ++i) {
        advanceMillis(millisEach);
        ASSERT_EQ(render(), noErr) << "frame " << i;
    }
}

lvtest::RGBA TestHost::pixel(int x, int y) const {
    lvtest::RGBA p{};
    if (x < 0 || y < 0 || x >= mPort.width || y >= mPort.height) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is outside the port";
        return p;
    }
    std::memcpy(&p, &mPixels[(size_t(y) * mPort.width + x) * 4], 4);
    return p;
}

lvtest::RGBA TestHost::canvasPixel(int x, int y) const { return pixel(mCanvas.left + x, mCanvas.top + y); }

std::vector<uint8_t> TestHost::canvasPixels() const {
    const int w = mCanvas.right - mCanvas.left, h = mCanvas.bottom - mCanvas.top;
    std::vector<uint8_t> out(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        std::memcpy(&out[size_t(y) * w * 4], &mPixels[(size_t(mCanvas.top + y) * mPort.width + mCanvas.left) * 4],
                    size_t(w) * 4);
    return out;
}

bool TestHost::writeCanvasPNG(const std::string& name) const {
    std::vector<uint8_t> rgba = canvasPixels();
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;   // the frame as a screen shows it
    return lvtest::writePNG(lvtest::outputDir() + "/" + name, rgba.data(), mCanvas.right - mCanvas.left,
                            mCanvas.bottom - mCanvas.top);
}

}  // namespace lvhost
