// Requests from the plug-in to its host. Each one fills a PlayerMessageInfo,
// stamps the header and hands it to the host's call-back; answers are copied
// out whatever the host's status, which is passed back unchanged.
#include "iTunesAPI.h"

#include <cstring>

namespace {

constexpr UInt32 kITTrackInfoSizeMax = sizeof(ITTrackInfo);   // 4692

void stampHeader(PlayerMessageInfo* info) {
    info->messageMajorVersion = kPlayerMessageMajorVersion;
    info->messageMinorVersion = kPlayerMessageMinorVersion;
    info->messageInfoSize = sizeof(PlayerMessageInfo);
}

// A host that is missing cannot be asked anything.
OSStatus send(void* appCookie, ITAppProcPtr appProc, OSType message, PlayerMessageInfo* info) {
    stampHeader(info);
    if (!appProc) return paramErr;
    return appProc(appCookie, message, info);
}

}  // namespace

OSStatus ITCallApplication(void* appCookie, ITAppProcPtr handler, OSType message, PlayerMessageInfo* messageInfo) {
    PlayerMessageInfo localMessageInfo;
    if (!messageInfo) {
        std::memset(&localMessageInfo, 0, sizeof localMessageInfo);
        messageInfo = &localMessageInfo;
    }
    return send(appCookie, handler, message, messageInfo);
}

void SetNumVersion(NumVersion* numVersion, UInt8 majorRev, UInt8 minorAndBugRev, UInt8 stage, UInt8 nonRelRev) {
    if (!numVersion) return;
    numVersion->majorRev = majorRev;
    numVersion->minorAndBugRev = minorAndBugRev;
    numVersion->stage = stage;
    numVersion->nonRelRev = nonRelRev;
}

OSStatus PlayerRegisterVisualPlugin(void* appCookie, ITAppProcPtr appProc, PlayerMessageInfo* messageInfo) {
    return ITCallApplication(appCookie, appProc, FourCC("rvis"), messageInfo);
}

OSStatus PlayerUnregisterPlugin(void* appCookie, ITAppProcPtr appProc, PlayerMessageInfo* messageInfo) {
    return ITCallApplication(appCookie, appProc, FourCC("unrg"), messageInfo);
}

namespace {

// The record for requests that never take the caller's: zeroed in full.
struct LocalMessage {
    PlayerMessageInfo info;
    LocalMessage() { std::memset(&info, 0, sizeof info); }
};

}  // namespace

OSStatus PlayerSetFullScreen(void* appCookie, ITAppProcPtr appProc, Boolean fullScreen) {
    LocalMessage m;
    m.info.u.setFullScreenMessage.fullScreen = fullScreen;
    return send(appCookie, appProc, FourCC("sful"), &m.info);
}

OSStatus PlayerSetFullScreenOptions(void* appCookie, ITAppProcPtr appProc, SInt16 minBitDepth, SInt16 maxBitDepth,
                                    SInt16 preferredBitDepth, SInt16 desiredWidth, SInt16 desiredHeight) {
    LocalMessage m;
    PlayerSetFullScreenOptionsMessage& o = m.info.u.setFullScreenOptionsMessage;
    o.minBitDepth = minBitDepth;
    o.maxBitDepth = maxBitDepth;
    o.preferredBitDepth = preferredBitDepth;
    o.desiredWidth = desiredWidth;
    o.desiredHeight = desiredHeight;
    return send(appCookie, appProc, FourCC("sfop"), &m.info);
}

OSStatus PlayerGetCurrentTrackCoverArt(void* appCookie, ITAppProcPtr appProc, Handle* coverArt, OSType* coverArtFormat) {
    LocalMessage m;
    m.info.u.getCurrentTrackCoverArtMessage.coverArt = nullptr;
    OSStatus status = send(appCookie, appProc, FourCC("covr"), &m.info);
    if (coverArt) *coverArt = m.info.u.getCurrentTrackCoverArtMessage.coverArt;
    if (coverArtFormat) *coverArtFormat = m.info.u.getCurrentTrackCoverArtMessage.coverArtFormat;
    return status;
}

OSStatus PlayerGetPluginData(void* appCookie, ITAppProcPtr appProc, void* dataPtr, UInt32 dataBufferSize,
                             UInt32* dataSize) {
    LocalMessage m;
    m.info.u.getPluginDataMessage.dataPtr = dataPtr;
    m.info.u.getPluginDataMessage.dataBufferSize = dataBufferSize;
    OSStatus status = send(appCookie, appProc, FourCC("gprf"), &m.info);
    if (dataSize) *dataSize = m.info.u.getPluginDataMessage.dataSize;
    return status;
}

OSStatus PlayerSetPluginData(void* appCookie, ITAppProcPtr appProc, void* dataPtr, UInt32 dataSize) {
    LocalMessage m;
    m.info.u.setPluginDataMessage.dataPtr = dataPtr;
    m.info.u.setPluginDataMessage.dataSize = dataSize;
    return send(appCookie, appProc, FourCC("sprf"), &m.info);
}

OSStatus PlayerGetPluginNamedData(void* appCookie, ITAppProcPtr appProc, ConstStringPtr dataName, void* dataPtr,
                                  UInt32 dataBufferSize, UInt32* dataSize) {
    LocalMessage m;
    m.info.u.getPluginNamedDataMessage.dataName = dataName;
    m.info.u.getPluginNamedDataMessage.dataPtr = dataPtr;
    m.info.u.getPluginNamedDataMessage.dataBufferSize = dataBufferSize;
    OSStatus status = send(appCookie, appProc, FourCC("gnpr"), &m.info);
    if (dataSize) *dataSize = m.info.u.getPluginNamedDataMessage.dataSize;
    return status;
}

OSStatus PlayerSetPluginNamedData(void* appCookie, ITAppProcPtr appProc, ConstStringPtr dataName, void* dataPtr,
                                  UInt32 dataSize) {
    LocalMessage m;
    m.info.u.setPluginNamedDataMessage.dataName = dataName;
    m.info.u.setPluginNamedDataMessage.dataPtr = dataPtr;
    m.info.u.setPluginNamedDataMessage.dataSize = dataSize;
    return send(appCookie, appProc, FourCC("snpr"), &m.info);
}

OSStatus PlayerIdle(void* appCookie, ITAppProcPtr appProc) {
    LocalMessage m;
    return send(appCookie, appProc, FourCC("idle"), &m.info);
}

void PlayerShowAbout(void* appCookie, ITAppProcPtr appProc) {
    LocalMessage m;
    send(appCookie, appProc, FourCC("abou"), &m.info);
}

void PlayerOpenURL(void* appCookie, ITAppProcPtr appProc, SInt8* string, UInt32 length) {
    LocalMessage m;
    m.info.u.openURLMessage.url = string;
    m.info.u.openURLMessage.length = length;
    send(appCookie, appProc, FourCC("url "), &m.info);
}

OSStatus PlayerGetPluginITFileSpec(void* appCookie, ITAppProcPtr appProc, ITFileSpec* pluginFileSpec) {
    LocalMessage m;
    m.info.u.getPluginITFileSpecMessage.fileSpec = pluginFileSpec;
    return send(appCookie, appProc, FourCC("itfs"), &m.info);
}

OSStatus PlayerGetFileTrackInfo(void* appCookie, ITAppProcPtr appProc, const ITFileSpec* fileSpec,
                                ITTrackInfo* trackInfo) {
    LocalMessage m;
    m.info.u.getFileTrackInfoMessage.fileSpec = fileSpec;
    m.info.u.getFileTrackInfoMessage.trackInfo = trackInfo;
    return send(appCookie, appProc, FourCC("gfti"), &m.info);
}

OSStatus PlayerSetFileTrackInfo(void* appCookie, ITAppProcPtr appProc, const ITFileSpec* fileSpec,
                                const ITTrackInfo* trackInfo) {
    LocalMessage m;
    m.info.u.setFileTrackInfoMessage.fileSpec = fileSpec;
    m.info.u.setFileTrackInfoMessage.trackInfo = trackInfo;
    return send(appCookie, appProc, FourCC("sfti"), &m.info);
}

OSStatus PlayerGetITTrackInfoSize(void* appCookie, ITAppProcPtr appProc, UInt32 appPluginMajorVersion,
                                  UInt32 appPluginMinorVersion, UInt32* itTrackInfoSize) {
    if (!itTrackInfoSize) return paramErr;
    *itTrackInfoSize = 0;
    LocalMessage m;
    OSStatus status = send(appCookie, appProc, FourCC("itsz"), &m.info);
    if (status == noErr) {
        *itTrackInfoSize = m.info.u.getITTrackInfoSizeMessage.itTrackInfoSize;
    } else {
        // Hosts that predate the request: the record's size follows from
        // the message version they speak.
        if (appPluginMajorVersion != 10) return paramErr;
        switch (appPluginMinorVersion) {
        case 2:
            *itTrackInfoSize = 4160;
            break;
        case 3:
            *itTrackInfoSize = 4688;
            break;
        default:
            return paramErr;
        }
    }
    if (*itTrackInfoSize > kITTrackInfoSizeMax) *itTrackInfoSize = kITTrackInfoSizeMax;
    return noErr;
}
