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

void setHostString(ITUniStr255 dest, const std::u16string& text) {
    std::memset(dest, 0, sizeof(ITUniStr255));
    const size_t n = std::min<size_t>(text.size(), 255);
    dest[0] = UniChar(n);
    for (size_t i = 0; i < n; ++i) dest[i + 1] = text[i];
}

ITTrackInfo makeTrack(const std::u16string& name, const std::u16string& artist, const std::u16string& album) {
    ITTrackInfo t;
    std::memset(&t, 0, sizeof t);
    t.recordLength = sizeof t;
    setHostString(t.name, name);
    setHostString(t.artist, artist);
    setHostString(t.album, album);
    return t;
}

// ---------------------------------------------------------------- host

TestHost::TestHost() {
    // The module lands beside the test programs in build/bin.
    std::string path;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        self[n] = 0;
        path = std::filesystem::path(self).parent_path() / "Lumenvortex.so";
    }
    if (path.empty() || !std::filesystem::exists(path)) {
        const char* bin = std::getenv("LV_BINARY_DIR");
        path = std::string(bin ? bin : ".") + "/bin/Lumenvortex.so";
    }
    mModule = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!mModule) {
        ADD_FAILURE() << "cannot load " << path << ": " << dlerror() << " (build the Lumenvortex target)";
        return;
    }
    mEntry = reinterpret_cast<decltype(mEntry)>(dlsym(mModule, "iTunesPluginMainMachO"));
    mSetClock = reinterpret_cast<LumenvortexSetClockFn>(dlsym(mModule, "LumenvortexSetClock"));
    mAttachCorvane = reinterpret_cast<LumenvortexAttachCorvaneFn>(dlsym(mModule, "LumenvortexAttachCorvane"));
    if (!mEntry || !mSetClock || !mAttachCorvane) {
        ADD_FAILURE() << "Lumenvortex.so lacks its exported entry points";
        mEntry = nullptr;
        return;
    }
    mSetClock(nowMicros, sleepMicros, this);
}

TestHost::~TestHost() {
    if (mShown) hide();
    // Unloading is left to the end of the child process: the plug-in's scene
    // lives until then, as under a real host.
}

long long TestHost::nowMicros(void* user) { return static_cast<TestHost*>(user)->mMicros; }
void TestHost::sleepMicros(void* user, long long micros) {
    if (micros > 0) static_cast<TestHost*>(user)->mMicros += micros;
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
    PluginMessageInfo entryInfo;
    std::memset(&entryInfo, 0, sizeof entryInfo);
    entryInfo.u.initMessage.majorVersion = 10;
    entryInfo.u.initMessage.minorVersion = 5;
    entryInfo.u.initMessage.appCookie = this;
    entryInfo.u.initMessage.appProc = appProc;
    const OSStatus status = mEntry(FourCC("init"), &entryInfo, nullptr);
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.initMessage.messageMajorVersion = 10;
    info.u.initMessage.messageMinorVersion = 5;
    info.u.initMessage.appCookie = this;
    info.u.initMessage.appProc = appProc;
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
    mCanvas = canvas;
    mPixels.assign(size_t(portWidth) * portHeight * 4, 0);
    for (size_t i = 0; i < mPixels.size(); i += 4) std::memcpy(&mPixels[i], &kUntouched, 4);
    mPort = LVPort{};
    mPort.kind = LV_PORT_OFFSCREEN;
    mPort.width = portWidth;
    mPort.height = portHeight;
    mPort.pixels = mPixels.data();
    return showOn(&mPort, canvas, options);
}

OSStatus TestHost::showOn(LVPort* port, Rect canvas, UInt32 options) {
    mCanvas = canvas;
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
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
    RenderVisualData data;
    std::memset(&data, 0, sizeof data);
    data.numSpectrumChannels = 2;
    data.numWaveformChannels = 2;
    for (int channel = 0; channel < 2; ++channel)
        for (int bin = 0; bin < 512; ++bin)
            data.spectrumData[channel][bin] = uint8_t(spectrumLevel * std::exp(-bin / 64.0));
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.renderMessage.renderData = &data;
    return send(FourCC("vrnd"), &info);
}

OSStatus TestHost::idle() {
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    return send(FourCC("null"), &info);
}

OSStatus TestHost::play(const ITTrackInfo& track) {
    ITTrackInfo copy = track;
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.playMessage.trackInfoUnicode = &copy;
    const OSStatus status = send(FourCC("vply"), &info);
    std::memset(&copy, 0xEE, sizeof copy);   // the plug-in must have kept its own copy
    return status;
}

OSStatus TestHost::changeTrack(const ITTrackInfo& track) {
    ITTrackInfo copy = track;
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.changeTrackMessage.trackInfoUnicode = &copy;
    return send(FourCC("ctrk"), &info);
}

OSStatus TestHost::key(char c, UInt16 what) {
    EventRecord event;
    std::memset(&event, 0, sizeof event);
    event.what = what;
    event.message = UInt32(uint8_t(c));
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
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
