#include "plugin_host.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "MacMemory.h"
#include "track_record.h"

namespace {

constexpr char kPluginFile[] = "Lumenvortex.so";

std::string executableFolder() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    buffer[n] = 0;
    std::string path(buffer);
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Ticks of the event record's clock: sixtieths of a second.
UInt32 eventTicks() {
    using namespace std::chrono;
    return UInt32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() * 60 / 1000);
}

}  // namespace

bool PluginHost::loadFrom(const std::string& path, std::string& error) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        error = why ? why : (path + ": cannot be loaded");
        return false;
    }
    auto entry = reinterpret_cast<OSStatus (*)(OSType, PluginMessageInfo*, void*)>(dlsym(lib, "iTunesPluginMainMachO"));
    if (!entry) {
        error = path + " is not a visual plug-in (no iTunesPluginMainMachO)";
        dlclose(lib);
        return false;
    }
    mLibrary = lib;
    mEntry = entry;
    mPluginPath = path;
    return true;
}

bool PluginHost::load(std::string& error) {
    std::string beside = executableFolder() + "/" + kPluginFile;
    std::string besideError;
    if (loadFrom(beside, besideError)) return true;
    const char* env = std::getenv("LUMENVORTEX_PLUGIN");
    std::string envError = "not set";
    if (env && *env) {
        std::string path = env;
        if (isFolder(path)) path += std::string("/") + kPluginFile;
        if (loadFrom(path, envError)) return true;
    }
    error = std::string("cannot load the visualizer plug-in ") + kPluginFile + ":\n  beside the program: " + besideError +
            "\n  $LUMENVORTEX_PLUGIN: " + envError +
            "\nbuild it (scripts/build) or set LUMENVORTEX_PLUGIN to the plug-in file or its folder";
    return false;
}

bool PluginHost::start(std::string& error) {
    if (!mEntry) {
        error = "no plug-in loaded";
        return false;
    }
    PluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.initMessage.majorVersion = kPlayerMessageMajorVersion;
    info.u.initMessage.minorVersion = kPlayerMessageMinorVersion;
    info.u.initMessage.appCookie = this;
    info.u.initMessage.appProc = &PluginHost::appProc;
    OSStatus status = mEntry(FourCC("init"), &info, nullptr);
    if (status != noErr || !mHandler) {
        error = mPluginPath + " did not register (status " + std::to_string(status) + ")";
        return false;
    }
    VisualPluginMessageInfo vinfo;
    std::memset(&vinfo, 0, sizeof vinfo);
    vinfo.u.initMessage.messageMajorVersion = kPlayerMessageMajorVersion;
    vinfo.u.initMessage.messageMinorVersion = kPlayerMessageMinorVersion;
    vinfo.u.initMessage.appVersion.majorRev = 1;
    vinfo.u.initMessage.appCookie = this;
    vinfo.u.initMessage.appProc = &PluginHost::appProc;
    vinfo.u.initMessage.refCon = mHandlerRefCon;
    status = send(FourCC("init"), &vinfo);
    if (status != noErr) {
        error = mPluginPath + " refused to start (status " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

bool PluginHost::setClock(LVClockNowMicros nowMicros, LVClockSleepMicros sleepMicros, void* user) {
    if (!mLibrary) return false;
    auto fn = reinterpret_cast<LumenvortexSetClockFn>(dlsym(mLibrary, "LumenvortexSetClock"));
    if (!fn) return false;
    fn(nowMicros, sleepMicros, user);
    return true;
}

bool PluginHost::attachCorvane(int port) {
    if (!mLibrary) return false;
    auto fn = reinterpret_cast<LumenvortexAttachCorvaneFn>(dlsym(mLibrary, "LumenvortexAttachCorvane"));
    return fn && fn(port) == 1;
}

OSStatus PluginHost::send(OSType message, VisualPluginMessageInfo* info) {
    if (!mHandler) return paramErr;
    if (message != FourCC("vrnd")) mMessages.push_back(message);
    return mHandler(message, info, mHandlerRefCon);
}

void PluginHost::show(LVPort* port, int width, int height, UInt32 options) {
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.showWindowMessage.port = port;
    info.u.showWindowMessage.drawRect = Rect{0, 0, SInt16(height), SInt16(width)};
    info.u.showWindowMessage.options = options;
    send(FourCC("show"), &info);
    mShown = true;
}

void PluginHost::hide() {
    if (!mShown) return;
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    send(FourCC("hide"), &info);
    mShown = false;
}

void PluginHost::setWindow(LVPort* port, int width, int height, UInt32 options) {
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.setWindowMessage.port = port;
    info.u.setWindowMessage.drawRect = Rect{0, 0, SInt16(height), SInt16(width)};
    info.u.setWindowMessage.options = options;
    send(FourCC("swin"), &info);
}

void PluginHost::render(const RenderVisualData& data, UInt32 positionMs) {
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.renderMessage.renderData = const_cast<RenderVisualData*>(&data);
    info.u.renderMessage.timeStampID = UInt32(mFramesSent);
    info.u.renderMessage.currentPositionInMS = positionMs;
    send(FourCC("vrnd"), &info);
    ++mFramesSent;
}

void PluginHost::sendTrack(OSType message, const lv::TrackMeta& track) {
    mCurrentTrack = track;
    mHasTrack = true;
    makeTrackRecord(track, mLastTrackRecord);
    // The plug-in copies the record during the call; a copy of ours keeps
    // mLastTrackRecord as it was sent.
    ITTrackInfo record = mLastTrackRecord;
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    if (message == FourCC("vply")) {
        info.u.playMessage.trackInfoUnicode = &record;
        info.u.playMessage.volume = 100;
        info.u.playMessage.bitRate = 1411;
    } else {
        info.u.changeTrackMessage.trackInfoUnicode = &record;
    }
    send(message, &info);
}

void PluginHost::play(const lv::TrackMeta& track) { sendTrack(FourCC("vply"), track); }
void PluginHost::changeTrack(const lv::TrackMeta& track) { sendTrack(FourCC("ctrk"), track); }

void PluginHost::setPaused(bool paused) {
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    send(paused ? FourCC("vpau") : FourCC("vunp"), &info);
}

void PluginHost::key(unsigned char character, bool repeat, UInt16 modifiers) {
    EventRecord event;
    std::memset(&event, 0, sizeof event);
    event.what = repeat ? autoKey : keyDown;
    event.message = character;
    event.when = eventTicks();
    event.modifiers = modifiers;
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    info.u.eventMessage.event = &event;
    send(FourCC("vevt"), &info);   // the plug-in answers -4 even for keys it used
}

void PluginHost::cleanup() {
    VisualPluginMessageInfo info;
    std::memset(&info, 0, sizeof info);
    send(FourCC("clr "), &info);
}

OSStatus PluginHost::appProc(void* appCookie, OSType message, PlayerMessageInfo* info) {
    auto* self = static_cast<PluginHost*>(appCookie);
    if (!self) return paramErr;
    self->mRequests.push_back(message);
    return self->answer(message, info);
}

OSStatus PluginHost::answer(OSType message, PlayerMessageInfo* info) {
    if (message == FourCC("rvis")) {
        if (!info) return paramErr;
        const PlayerRegisterVisualPluginMessage& r = info->u.registerVisualPluginMessage;
        if (!r.handler) return paramErr;
        mHandler = r.handler;
        mHandlerRefCon = r.registerRefCon;
        mTimeBetweenDataInMS = r.timeBetweenDataInMS;
        size_t len = r.name[0] < sizeof r.name ? r.name[0] : sizeof r.name - 1;
        mPluginName.assign(reinterpret_cast<const char*>(r.name + 1), len);
        return noErr;
    }
    if (message == FourCC("unrg")) {
        mHandler = nullptr;
        return noErr;
    }
    if (message == FourCC("sfop")) {
        if (info) mFullScreenOptions = info->u.setFullScreenOptionsMessage;
        return noErr;
    }
    if (message == FourCC("sful")) {
        if (info && mOnFullScreen) mOnFullScreen(info->u.setFullScreenMessage.fullScreen != 0);
        return noErr;
    }
    if (message == FourCC("covr")) {
        if (!info) return paramErr;
        ++mCoverRequests;
        PlayerGetCurrentTrackCoverArtMessage& c = info->u.getCurrentTrackCoverArtMessage;
        c.coverArt = nullptr;
        c.coverArtFormat = 0;
        mLastCoverAnswer.clear();
        mLastCoverFormat = 0;
        if (!mHasTrack || mCurrentTrack.cover.empty()) return noErr;   // no art: a null handle
        const std::vector<unsigned char>& bytes = mCurrentTrack.cover.bytes;
        Handle h = NewHandle(bytes.size());
        if (!h) return noErr;
        std::memcpy(*h, bytes.data(), bytes.size());
        c.coverArt = h;   // the plug-in disposes of it
        c.coverArtFormat = mCurrentTrack.cover.format == lv::ImageFormat::Png ? kCoverArtPNG : kCoverArtJPEG;
        mLastCoverAnswer = bytes;
        mLastCoverFormat = c.coverArtFormat;
        return noErr;
    }
    if (message == FourCC("idle")) return noErr;
    if (message == FourCC("itsz")) {
        if (info) info->u.getITTrackInfoSizeMessage.itTrackInfoSize = sizeof(ITTrackInfo);
        return noErr;
    }
    return unimpErr;
}
