#include "plugin_module.h"

#include <dlfcn.h>

#include <chrono>
#include <cstring>

#include "MacMemory.h"

namespace {

// Ticks of the event record's clock: sixtieths of a second.
UInt32 eventTicks() {
    using namespace std::chrono;
    return UInt32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() * 60 / 1000);
}

}  // namespace

bool PluginModule::loadFrom(const std::string& path, std::string& error) {
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
    mEntry = entry;
    mSetClock = reinterpret_cast<LumenvortexSetClockFn>(dlsym(lib, "LumenvortexSetClock"));
    mAttachCorvane = reinterpret_cast<LumenvortexAttachCorvaneFn>(dlsym(lib, "LumenvortexAttachCorvane"));
    mSetRenderer = reinterpret_cast<LumenvortexSetRendererFn>(dlsym(lib, "LumenvortexSetRenderer"));
    mSetBackground = reinterpret_cast<LumenvortexSetBackgroundFn>(dlsym(lib, "LumenvortexSetBackground"));
    mSetBackgroundImage =
        reinterpret_cast<LumenvortexSetBackgroundImageFn>(dlsym(lib, "LumenvortexSetBackgroundImage"));
    mSetDrawing = reinterpret_cast<LumenvortexSetDrawingFn>(dlsym(lib, "LumenvortexSetDrawing"));
    mPluginPath = path;
    return true;
}

void PluginModule::useLinked(EntryPoint entry, LumenvortexSetClockFn setClock,
                             LumenvortexAttachCorvaneFn attachCorvane, LumenvortexSetRendererFn setRenderer,
                             const std::string& name) {
    mEntry = entry;
    mSetClock = setClock;
    mAttachCorvane = attachCorvane;
    mSetRenderer = setRenderer;
    mPluginPath = name;
}

OSStatus PluginModule::registerPlugin() {
    if (!mEntry) return paramErr;
    auto info = zeroedRecord<PluginMessageInfo>();
    info.u.initMessage.majorVersion = kPlayerMessageMajorVersion;
    info.u.initMessage.minorVersion = kPlayerMessageMinorVersion;
    info.u.initMessage.appCookie = this;
    info.u.initMessage.appProc = &PluginModule::appProc;
    return mEntry(FourCC("init"), &info, nullptr);
}

OSStatus PluginModule::initHandler() {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.initMessage.messageMajorVersion = kPlayerMessageMajorVersion;
    info.u.initMessage.messageMinorVersion = kPlayerMessageMinorVersion;
    info.u.initMessage.appVersion.majorRev = 1;
    info.u.initMessage.appCookie = this;
    info.u.initMessage.appProc = &PluginModule::appProc;
    info.u.initMessage.refCon = mHandlerRefCon;
    return send(FourCC("init"), &info);
}

bool PluginModule::start(std::string& error) {
    if (!mEntry) {
        error = "no plug-in loaded: load one first";
        return false;
    }
    OSStatus status = registerPlugin();
    if (status != noErr || !mHandler) {
        error = mPluginPath + " did not register (status " + std::to_string(status) + ")";
        return false;
    }
    status = initHandler();
    if (status != noErr) {
        error = mPluginPath + " refused to start (status " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

bool PluginModule::setClock(LVClockNowMicros nowMicros, LVClockSleepMicros sleepMicros, void* user) {
    if (!mSetClock) return false;
    mSetClock(nowMicros, sleepMicros, user);
    return true;
}

bool PluginModule::attachCorvane(int port) { return mAttachCorvane && mAttachCorvane(port) == 1; }

bool PluginModule::setRenderer(const std::string& name) { return mSetRenderer && mSetRenderer(name.c_str()) == 1; }
bool PluginModule::setDrawing(bool on) {
    if (!mSetDrawing) return false;
    mSetDrawing(on ? 1 : 0);
    return true;
}
bool PluginModule::setBackground(long rgb) { return mSetBackground && mSetBackground(rgb) == 1; }
bool PluginModule::setBackgroundImage(const unsigned char* rgba, int width, int height) {
    return mSetBackgroundImage && mSetBackgroundImage(rgba, width, height) == 1;
}

// ---------------------------------------------------------------- messages

OSStatus PluginModule::send(OSType message, VisualPluginMessageInfo* info) {
    if (!mHandler) return paramErr;
    if (message != FourCC("vrnd")) mMessages.push_back(message);
    return mHandler(message, info, mHandlerRefCon);
}

OSStatus PluginModule::show(LVPort* port, Rect canvas, UInt32 options) {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.showWindowMessage.port = port;
    info.u.showWindowMessage.drawRect = canvas;
    info.u.showWindowMessage.options = options;
    mShown = true;
    return send(FourCC("show"), &info);
}

OSStatus PluginModule::show(LVPort* port, int width, int height, UInt32 options) {
    return show(port, Rect{0, 0, SInt16(height), SInt16(width)}, options);
}

OSStatus PluginModule::hide() {
    if (!mShown) return noErr;
    mShown = false;
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    return send(FourCC("hide"), &info);
}

OSStatus PluginModule::setWindow(LVPort* port, Rect canvas, UInt32 options) {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.setWindowMessage.port = port;
    info.u.setWindowMessage.drawRect = canvas;
    info.u.setWindowMessage.options = options;
    return send(FourCC("swin"), &info);
}

OSStatus PluginModule::setWindow(LVPort* port, int width, int height, UInt32 options) {
    return setWindow(port, Rect{0, 0, SInt16(height), SInt16(width)}, options);
}

OSStatus PluginModule::render(const RenderVisualData& data, UInt32 positionMs) {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.renderMessage.renderData = const_cast<RenderVisualData*>(&data);
    info.u.renderMessage.timeStampID = UInt32(mFramesSent);
    info.u.renderMessage.currentPositionInMS = positionMs;
    ++mFramesSent;
    return send(FourCC("vrnd"), &info);
}

OSStatus PluginModule::idle() {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    return send(FourCC("null"), &info);
}

OSStatus PluginModule::sendTrack(OSType message, const ITTrackInfo& record) {
    mLastTrackRecord = record;
    ITTrackInfo copy = record;
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    if (message == FourCC("vply")) {
        info.u.playMessage.trackInfoUnicode = &copy;
        info.u.playMessage.volume = 100;
        info.u.playMessage.bitRate = 1411;
    } else {
        info.u.changeTrackMessage.trackInfoUnicode = &copy;
    }
    const OSStatus status = send(message, &info);
    std::memset(static_cast<void*>(&copy), 0xEE, sizeof copy);   // the record lived for the call only
    return status;
}

OSStatus PluginModule::play(const ITTrackInfo& record) { return sendTrack(FourCC("vply"), record); }
OSStatus PluginModule::changeTrack(const ITTrackInfo& record) { return sendTrack(FourCC("ctrk"), record); }

OSStatus PluginModule::event(UInt16 what, UInt32 message, UInt16 modifiers) {
    auto event = zeroedRecord<EventRecord>();
    event.what = what;
    event.message = message;
    event.when = eventTicks();
    event.modifiers = modifiers;
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    info.u.eventMessage.event = &event;
    return send(FourCC("vevt"), &info);   // the plug-in answers -4 even for keys it used
}

OSStatus PluginModule::setPaused(bool paused) {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    return send(paused ? FourCC("vpau") : FourCC("vunp"), &info);
}

OSStatus PluginModule::cleanup() {
    auto info = zeroedRecord<VisualPluginMessageInfo>();
    return send(FourCC("clr "), &info);
}

// ---------------------------------------------------------------- requests

OSStatus PluginModule::appProc(void* appCookie, OSType message, PlayerMessageInfo* info) {
    auto* self = static_cast<PluginModule*>(appCookie);
    if (!self) return paramErr;
    self->mRequests.push_back(message);
    return self->answer(message, info);
}

OSStatus PluginModule::answer(OSType message, PlayerMessageInfo* info) {
    // Every answered request but "idle" and "unrg" reads or writes its record.
    const bool needsRecord = message != FourCC("idle") && message != FourCC("unrg");
    if (needsRecord && !info) return paramErr;
    switch (message) {
    case FourCC("rvis"): {
        const PlayerRegisterVisualPluginMessage& r = info->u.registerVisualPluginMessage;
        if (!r.handler) return paramErr;
        mRegisterRecord = *info;
        mHandler = r.handler;
        mHandlerRefCon = r.registerRefCon;
        mTimeBetweenDataInMS = r.timeBetweenDataInMS;
        const size_t length = r.name[0] < sizeof r.name ? r.name[0] : sizeof r.name - 1;
        mPluginName.assign(reinterpret_cast<const char*>(r.name + 1), length);
        return noErr;
    }
    case FourCC("unrg"):
        mHandler = nullptr;
        return noErr;
    case FourCC("sfop"):
        mFullScreenOptions = info->u.setFullScreenOptionsMessage;
        return noErr;
    case FourCC("sful"):
        if (mOnFullScreen) mOnFullScreen(info->u.setFullScreenMessage.fullScreen != 0);
        return noErr;
    case FourCC("covr"):
        return answerCoverArt(info->u.getCurrentTrackCoverArtMessage);
    case FourCC("idle"):
        return noErr;
    case FourCC("itsz"):
        info->u.getITTrackInfoSizeMessage.itTrackInfoSize = sizeof(ITTrackInfo);
        return noErr;
    default:
        return unimpErr;
    }
}

OSStatus PluginModule::answerCoverArt(PlayerGetCurrentTrackCoverArtMessage& c) {
    ++mCoverRequests;
    c.coverArt = nullptr;
    c.coverArtFormat = 0;
    mLastCoverAnswer.clear();
    mLastCoverFormat = 0;
    if (mCoverArt.empty()) return mCoverArtStatus;   // no art: a null handle
    Handle h = NewHandle(mCoverArt.size());
    if (!h) return mCoverArtStatus;
    std::memcpy(*h, mCoverArt.data(), mCoverArt.size());
    c.coverArt = h;   // the plug-in disposes of it
    c.coverArtFormat = mCoverArtFormat;
    mLastCoverAnswer = mCoverArt;
    mLastCoverFormat = mCoverArtFormat;
    return mCoverArtStatus;
}
