#include "test_host.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "MacMemory.h"

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
    mModule = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!mModule) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror() << " (build the Lumenvortex target)";
        return;
    }
    mEntry = reinterpret_cast<decltype(mEntry)>(dlsym(mModule, "iTunesPluginMainMachO"));
    auto setClock = reinterpret_cast<LumenvortexSetClockFn>(dlsym(mModule, "LumenvortexSetClock"));
    mAttachCorvane = reinterpret_cast<LumenvortexAttachCorvaneFn>(dlsym(mModule, "LumenvortexAttachCorvane"));
    if (!mEntry || !setClock || !mAttachCorvane) {
        ADD_FAILURE() << "Lumenvortex.so lacks its exported entry points";
        mEntry = nullptr;
        return;
    }
    setClock([](void* self) { return static_cast<TestHost*>(self)->mMicros; },
             [](void* self, long long micros) { static_cast<TestHost*>(self)->mMicros += std::max(micros, 0LL); },
             this);
}

TestHost::~TestHost() {
    if (mShown) hide();
}

OSStatus TestHost::appProc(void* appCookie, OSType message, PlayerMessageInfo* info) {
    auto* host = static_cast<TestHost*>(appCookie);
    switch (message) {
    case FourCC("rvis"):
        ++host->mRegisterCount;
        host->mRegisterRecord = *info;
        host->mHandler = info->u.registerVisualPluginMessage.handler;
        host->mHandlerRefCon = info->u.registerVisualPluginMessage.registerRefCon;
        return host->mRegisterStatus;
    case FourCC("sfop"):
        ++host->mFullScreenOptionsCount;
        host->mFullScreenOptions = info->u.setFullScreenOptionsMessage;
        return noErr;
    case FourCC("covr"): {
        ++host->mCoverArtCount;
        Handle h = nullptr;
        if (!host->mCoverBytes.empty()) {
            h = NewHandle(host->mCoverBytes.size());
            std::memcpy(*h, host->mCoverBytes.data(), host->mCoverBytes.size());
        }
        info->u.getCurrentTrackCoverArtMessage.coverArt = h;
        info->u.getCurrentTrackCoverArtMessage.coverArtFormat = host->mCoverFormat;
        return host->mCoverStatus;
    }
    default:
        ++host->mOtherRequestCount;
        return unimpErr;
    }
}

OSStatus TestHost::init(OSStatus registerStatus) {
    mRegisterStatus = registerStatus;
    auto entryInfo = zeroed<PluginMessageInfo>();
    entryInfo.u.initMessage = {kPlayerMessageMajorVersion, kPlayerMessageMinorVersion, this, appProc, 0, nullptr};
    const OSStatus status = mEntry(FourCC("init"), &entryInfo, nullptr);
    auto info = zeroed<VisualPluginMessageInfo>();
    info.u.initMessage = {kPlayerMessageMajorVersion, kPlayerMessageMinorVersion, {}, this, appProc, 0, nullptr};
    if (mHandler) send(FourCC("init"), &info);
    return status;
}

OSStatus TestHost::send(OSType message, VisualPluginMessageInfo* info) {
    if (!mHandler) {
        ADD_FAILURE() << "no handler registered: send init first";
        return unimpErr;
    }
    return mHandler(message, info, mHandlerRefCon);
}

OSStatus TestHost::show(int portWidth, int portHeight, Rect canvas, UInt32 options) {
    if (canvas.right <= canvas.left || canvas.bottom <= canvas.top)
        canvas = Rect{0, 0, SInt16(portHeight), SInt16(portWidth)};
    mPixels.resize(size_t(portWidth) * portHeight * 4);
    for (size_t i = 0; i < mPixels.size(); i += 4) std::memcpy(&mPixels[i], &kUntouched, 4);
    mPort = LVPort{LV_PORT_OFFSCREEN, nullptr, 0, portWidth, portHeight, mPixels.data(), 0};
    return showOn(&mPort, canvas, options);
}

OSStatus TestHost::showOn(LVPort* port, Rect canvas, UInt32 options) {
    mCanvas = canvas;
    auto info = zeroed<VisualPluginMessageInfo>();
    info.u.showWindowMessage.port = port;
    info.u.showWindowMessage.drawRect = canvas;
    info.u.showWindowMessage.options = options;
    mShown = true;
    return send(FourCC("show"), &info);
}

OSStatus TestHost::hide() {
    mShown = false;
    return send(FourCC("hide"), nullptr);
}

OSStatus TestHost::render(uint8_t spectrumLevel) {
    auto data = zeroed<RenderVisualData>();
    data.numSpectrumChannels = 2;
    data.numWaveformChannels = 2;
    for (int channel = 0; channel < 2; ++channel)
        for (int bin = 0; bin < 512; ++bin)
            data.spectrumData[channel][bin] = uint8_t(spectrumLevel * std::exp(-bin / 64.0));
    auto info = zeroed<VisualPluginMessageInfo>();
    info.u.renderMessage.renderData = &data;
    return send(FourCC("vrnd"), &info);
}

void TestHost::renderFrames(int frames, int millisEach) {
    for (int i = 0; i < frames; ++i) {
        advanceMillis(millisEach);
        ASSERT_EQ(render(), noErr) << "frame " << i;
    }
}

OSStatus TestHost::idle() {
    auto info = zeroed<VisualPluginMessageInfo>();
    return send(FourCC("null"), &info);
}

OSStatus TestHost::play(const ITTrackInfo& track) {
    ITTrackInfo copy = track;
    auto info = zeroed<VisualPluginMessageInfo>();
    info.u.playMessage.trackInfoUnicode = &copy;
    const OSStatus status = send(FourCC("vply"), &info);
    std::memset(&copy, 0xEE, sizeof copy);   // the plug-in must have kept its own copy
    return status;
}

OSStatus TestHost::changeTrack(const ITTrackInfo& track) {
    ITTrackInfo copy = track;
    auto info = zeroed<VisualPluginMessageInfo>();
    info.u.changeTrackMessage.trackInfoUnicode = &copy;
    return send(FourCC("ctrk"), &info);
}

OSStatus TestHost::key(char c, UInt16 what) {
    auto event = zeroed<EventRecord>();
    event.what = what;
    event.message = UInt32(uint8_t(c));
    auto info = zeroed<VisualPluginMessageInfo>();
    info.u.eventMessage.event = &event;
    return send(FourCC("vevt"), &info);
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
