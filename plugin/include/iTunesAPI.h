// The visual plug-in interface: the records that cross between a host and the
// plug-in, and the request functions the plug-in uses to call the host.
// Shared by the plug-in and by hosts (plugin/host/plugin_module.h); with
// LumenvortexHost.h and MacMemory.h it is all a host includes.
//
// Layouts. The records follow the interface's 32-bit little-endian layout
// where the build is 32-bit (asserted below). On x86-64 every record keeps
// its field order with natural alignment, so pointers take 8 bytes and the
// offsets after them move. The x86-64 offsets that differ, asserted at the
// end of this file:
//
//   PlayerMessageInfo              size 144; u at 16 (header stays 0, 4, 8)
//     registerVisualPluginMessage  handler 80, registerRefCon 88,
//                                  timeBetweenDataInMS 96, numWaveformChannels
//                                  100, numSpectrumChannels 104, minWidth 108,
//                                  ..., windowAlignmentInBytes 120; size 128
//     getCurrentTrackCoverArtMessage  coverArt 0, coverArtFormat 8
//   PluginMessageInfo.initMessage  appCookie 8, appProc 16, options 24,
//                                  refCon 32; size 40
//   VisualPluginMessageInfo        size 72
//     initMessage                  appCookie 16, appProc 24, options 32, refCon 40
//     showWindowMessage            port 0, drawRect 8, options 16
//     playMessage                  volume 16, bitRate 20, soundFormat 24,
//                                  trackInfoUnicode 56, streamInfoUnicode 64
//     changeTrackMessage           trackInfoUnicode 16
//     renderMessage                renderData 0, timeStampID 8, currentPositionInMS 12
//   RenderVisualData (2050), ITTrackInfo (4692) and EventRecord (16, 2-byte
//   packed) hold no pointers and are the same on both ABIs.
//
// messageInfoSize in a request's header is sizeof(PlayerMessageInfo) for the
// build: 124 on the 32-bit layout, 144 on x86-64.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t OSType;
typedef int32_t OSStatus;
typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef unsigned char Boolean;
typedef char** Handle;
typedef uint16_t UniChar;
typedef UniChar ITUniStr255[256];
typedef const unsigned char* ConstStringPtr;
typedef struct ITFileSpec ITFileSpec;   // opaque: the host's reference to a file

// Four-character codes, first character in the most significant byte.
constexpr OSType FourCC(const char (&s)[5]) {
    return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) |
           (OSType(uint8_t(s[2])) << 8) | OSType(uint8_t(s[3]));
}

enum : OSStatus { noErr = 0, unimpErr = -4, paramErr = -50 };

// The version of the message interface this side speaks: stamped on every
// request the plug-in sends and offered by hosts with "init".
constexpr UInt32 kPlayerMessageMajorVersion = 10;
constexpr UInt32 kPlayerMessageMinorVersion = 5;

struct NumVersion {
    UInt8 nonRelRev;
    UInt8 stage;
    UInt8 minorAndBugRev;
    UInt8 majorRev;
};

struct Rect {
    SInt16 top;
    SInt16 left;
    SInt16 bottom;
    SInt16 right;
};

struct VisualPluginMessageInfo;
struct PlayerMessageInfo;

typedef OSStatus (*ITAppProcPtr)(void* appCookie, OSType message, PlayerMessageInfo* messageInfo);
typedef OSStatus (*VisualPluginProcPtr)(OSType message, VisualPluginMessageInfo* messageInfo, void* refCon);

// ---------------------------------------------------------------- plug-in to host

struct PlayerRegisterVisualPluginMessage {
    unsigned char name[64];            // Pascal string
    UInt32 options;
    OSType creator;
    NumVersion pluginVersion;
    VisualPluginProcPtr handler;
    void* registerRefCon;
    UInt32 timeBetweenDataInMS;
    UInt32 numWaveformChannels;
    UInt32 numSpectrumChannels;
    SInt16 minWidth;
    SInt16 minHeight;
    SInt16 maxWidth;
    SInt16 maxHeight;
    UInt16 minFullScreenBitDepth;
    UInt16 maxFullScreenBitDepth;
    UInt16 windowAlignmentInBytes;
};

struct PlayerSetFullScreenMessage {
    Boolean fullScreen;
};

struct PlayerSetFullScreenOptionsMessage {
    SInt16 minBitDepth;
    SInt16 maxBitDepth;
    SInt16 preferredBitDepth;
    SInt16 desiredWidth;
    SInt16 desiredHeight;
};

struct PlayerGetCurrentTrackCoverArtMessage {
    Handle coverArt;
    OSType coverArtFormat;
};

struct PlayerSetPluginDataMessage {
    void* dataPtr;
    UInt32 dataSize;
};

struct PlayerGetPluginDataMessage {
    void* dataPtr;
    UInt32 dataBufferSize;
    UInt32 dataSize;
};

struct PlayerSetPluginNamedDataMessage {
    ConstStringPtr dataName;
    void* dataPtr;
    UInt32 dataSize;
};

struct PlayerGetPluginNamedDataMessage {
    ConstStringPtr dataName;
    void* dataPtr;
    UInt32 dataBufferSize;
    UInt32 dataSize;
};

struct PlayerOpenURLMessage {
    SInt8* url;
    UInt32 length;
};

struct PlayerGetPluginITFileSpecMessage {
    ITFileSpec* fileSpec;
};

struct ITTrackInfo;

struct PlayerGetFileTrackInfoMessage {
    const ITFileSpec* fileSpec;
    ITTrackInfo* trackInfo;
};

struct PlayerSetFileTrackInfoMessage {
    const ITFileSpec* fileSpec;
    const ITTrackInfo* trackInfo;
};

struct PlayerGetITTrackInfoSizeMessage {
    UInt32 itTrackInfoSize;
};

struct PlayerMessageInfo {
    UInt32 messageMajorVersion;
    UInt32 messageMinorVersion;
    UInt32 messageInfoSize;
    union {
        PlayerRegisterVisualPluginMessage registerVisualPluginMessage;
        PlayerSetFullScreenMessage setFullScreenMessage;
        PlayerSetFullScreenOptionsMessage setFullScreenOptionsMessage;
        PlayerGetCurrentTrackCoverArtMessage getCurrentTrackCoverArtMessage;
        PlayerSetPluginDataMessage setPluginDataMessage;
        PlayerGetPluginDataMessage getPluginDataMessage;
        PlayerSetPluginNamedDataMessage setPluginNamedDataMessage;
        PlayerGetPluginNamedDataMessage getPluginNamedDataMessage;
        PlayerOpenURLMessage openURLMessage;
        PlayerGetPluginITFileSpecMessage getPluginITFileSpecMessage;
        PlayerGetFileTrackInfoMessage getFileTrackInfoMessage;
        PlayerSetFileTrackInfoMessage setFileTrackInfoMessage;
        PlayerGetITTrackInfoSizeMessage getITTrackInfoSizeMessage;
    } u;
};

// ---------------------------------------------------------------- host to plug-in

struct PluginInitMessage {
    UInt32 majorVersion;
    UInt32 minorVersion;
    void* appCookie;
    ITAppProcPtr appProc;
    UInt32 options;
    void* refCon;
};

struct PluginMessageInfo {
    union {
        PluginInitMessage initMessage;
    } u;
};

struct ITTrackInfo {
    UInt32 validFields;
    UInt32 recordLength;
    ITUniStr255 name;
    ITUniStr255 fileName;
    ITUniStr255 artist;
    ITUniStr255 album;
    ITUniStr255 genre;
    ITUniStr255 kind;
    ITUniStr255 eqPresetName;
    ITUniStr255 comments;
    UInt32 trackNumber;
    UInt32 numTracks;
    UInt16 year;
    SInt16 soundVolumeAdjustment;
    UInt32 totalTimeInMS;
    UInt32 startTimeInMS;
    UInt32 stopTimeInMS;
    UInt32 date;
    UInt32 sizeInBytes;
    UInt32 bitRate;
    UInt32 sampleRateFixed;
    OSType fileType;
    OSType fileCreator;
    UInt32 attributes;
    UInt32 validAttributes;
    ITUniStr255 composer;
    Boolean isCompilationTrack;
    Boolean reservedBoolean;
    UInt8 userRating;
    UInt16 discNumber;
    UInt16 numDiscs;
    UInt32 playCount;
    UInt32 lastPlayDate;
    UInt16 beatsPerMinute;
    UInt8 reserved[2];
};

struct RenderVisualData {
    UInt8 numWaveformChannels;
    UInt8 waveformData[2][512];
    UInt8 numSpectrumChannels;
    UInt8 spectrumData[2][512];
};

#pragma pack(push, 2)
struct Point {
    SInt16 v;
    SInt16 h;
};
struct EventRecord {
    UInt16 what;        // 3 key down, 5 auto-key
    UInt32 message;     // key events: the character code in the low 8 bits
    UInt32 when;
    Point where;
    UInt16 modifiers;
};
#pragma pack(pop)

enum : UInt16 { keyDown = 3, autoKey = 5 };

struct VisualPluginInitMessage {
    UInt32 messageMajorVersion;
    UInt32 messageMinorVersion;
    NumVersion appVersion;
    void* appCookie;
    ITAppProcPtr appProc;
    UInt32 options;
    void* refCon;
};

// options of show and set-window
enum : UInt32 { kWindowIsFullScreen = 1, kWindowIsStretched = 2 };

struct VisualPluginShowWindowMessage {
    void* port;          // an LVPort* (lv/port.h)
    Rect drawRect;
    UInt32 options;
};

struct VisualPluginSetWindowMessage {
    void* port;
    Rect drawRect;
    UInt32 options;
};

struct VisualPluginPlayMessage {
    void* trackInfo;              // older record, not read
    void* streamInfo;
    SInt32 volume;
    UInt32 bitRate;
    UInt8 soundFormat[28];
    ITTrackInfo* trackInfoUnicode;
    void* streamInfoUnicode;
};

struct VisualPluginChangeTrackMessage {
    void* trackInfo;              // older record, not read
    void* streamInfo;
    ITTrackInfo* trackInfoUnicode;
    void* streamInfoUnicode;
};

struct VisualPluginRenderMessage {
    RenderVisualData* renderData;
    UInt32 timeStampID;
    UInt32 currentPositionInMS;
};

struct VisualPluginEventMessage {
    EventRecord* event;
};

struct VisualPluginMessageInfo {
    union {
        VisualPluginInitMessage initMessage;
        VisualPluginShowWindowMessage showWindowMessage;
        VisualPluginSetWindowMessage setWindowMessage;
        VisualPluginPlayMessage playMessage;
        VisualPluginChangeTrackMessage changeTrackMessage;
        VisualPluginRenderMessage renderMessage;
        VisualPluginEventMessage eventMessage;
    } u;
};

// ---------------------------------------------------------------- request functions

OSStatus ITCallApplication(void* appCookie, ITAppProcPtr handler, OSType message, PlayerMessageInfo* messageInfo);
void SetNumVersion(NumVersion* numVersion, UInt8 majorRev, UInt8 minorAndBugRev, UInt8 stage, UInt8 nonRelRev);
OSStatus PlayerRegisterVisualPlugin(void* appCookie, ITAppProcPtr appProc, PlayerMessageInfo* messageInfo);
OSStatus PlayerUnregisterPlugin(void* appCookie, ITAppProcPtr appProc, PlayerMessageInfo* messageInfo);
OSStatus PlayerSetFullScreen(void* appCookie, ITAppProcPtr appProc, Boolean fullScreen);
OSStatus PlayerSetFullScreenOptions(void* appCookie, ITAppProcPtr appProc, SInt16 minBitDepth, SInt16 maxBitDepth,
                                    SInt16 preferredBitDepth, SInt16 desiredWidth, SInt16 desiredHeight);
OSStatus PlayerGetCurrentTrackCoverArt(void* appCookie, ITAppProcPtr appProc, Handle* coverArt, OSType* coverArtFormat);
OSStatus PlayerGetPluginData(void* appCookie, ITAppProcPtr appProc, void* dataPtr, UInt32 dataBufferSize, UInt32* dataSize);
OSStatus PlayerSetPluginData(void* appCookie, ITAppProcPtr appProc, void* dataPtr, UInt32 dataSize);
OSStatus PlayerGetPluginNamedData(void* appCookie, ITAppProcPtr appProc, ConstStringPtr dataName, void* dataPtr,
                                  UInt32 dataBufferSize, UInt32* dataSize);
OSStatus PlayerSetPluginNamedData(void* appCookie, ITAppProcPtr appProc, ConstStringPtr dataName, void* dataPtr,
                                  UInt32 dataSize);
OSStatus PlayerIdle(void* appCookie, ITAppProcPtr appProc);
void PlayerShowAbout(void* appCookie, ITAppProcPtr appProc);
void PlayerOpenURL(void* appCookie, ITAppProcPtr appProc, SInt8* string, UInt32 length);
OSStatus PlayerGetPluginITFileSpec(void* appCookie, ITAppProcPtr appProc, ITFileSpec* pluginFileSpec);
OSStatus PlayerGetFileTrackInfo(void* appCookie, ITAppProcPtr appProc, const ITFileSpec* fileSpec, ITTrackInfo* trackInfo);
OSStatus PlayerSetFileTrackInfo(void* appCookie, ITAppProcPtr appProc, const ITFileSpec* fileSpec,
                                const ITTrackInfo* trackInfo);
OSStatus PlayerGetITTrackInfoSize(void* appCookie, ITAppProcPtr appProc, UInt32 appPluginMajorVersion,
                                  UInt32 appPluginMinorVersion, UInt32* itTrackInfoSize);

// ---------------------------------------------------------------- layout checks

static_assert(sizeof(NumVersion) == 4 && sizeof(Rect) == 8);
static_assert(sizeof(RenderVisualData) == 2050 && offsetof(RenderVisualData, spectrumData) == 1026);
static_assert(sizeof(ITTrackInfo) == 4692);
static_assert(offsetof(ITTrackInfo, name) == 8 && offsetof(ITTrackInfo, artist) == 1032 &&
              offsetof(ITTrackInfo, album) == 1544 && offsetof(ITTrackInfo, trackNumber) == 4104 &&
              offsetof(ITTrackInfo, composer) == 4160 && offsetof(ITTrackInfo, isCompilationTrack) == 4672);
static_assert(sizeof(EventRecord) == 16 && offsetof(EventRecord, message) == 2 && offsetof(EventRecord, when) == 6 &&
              offsetof(EventRecord, where) == 10 && offsetof(EventRecord, modifiers) == 14);
static_assert(offsetof(PlayerRegisterVisualPluginMessage, options) == 64 &&
              offsetof(PlayerRegisterVisualPluginMessage, creator) == 68 &&
              offsetof(PlayerRegisterVisualPluginMessage, pluginVersion) == 72 &&
              offsetof(PlayerRegisterVisualPluginMessage, handler) == 76 + (sizeof(void*) == 8 ? 4 : 0));

#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
static_assert(sizeof(PlayerMessageInfo) == 124 && offsetof(PlayerMessageInfo, u) == 12);
static_assert(sizeof(PlayerRegisterVisualPluginMessage) == 112);
static_assert(offsetof(PlayerRegisterVisualPluginMessage, registerRefCon) == 80 &&
              offsetof(PlayerRegisterVisualPluginMessage, timeBetweenDataInMS) == 84 &&
              offsetof(PlayerRegisterVisualPluginMessage, minWidth) == 96 &&
              offsetof(PlayerRegisterVisualPluginMessage, windowAlignmentInBytes) == 108);
static_assert(offsetof(PlayerGetCurrentTrackCoverArtMessage, coverArtFormat) == 4);
static_assert(sizeof(PluginMessageInfo) == 24 && offsetof(PluginInitMessage, appProc) == 12);
static_assert(sizeof(VisualPluginMessageInfo) == 52);
static_assert(offsetof(VisualPluginInitMessage, appCookie) == 12 && offsetof(VisualPluginInitMessage, refCon) == 24);
static_assert(offsetof(VisualPluginShowWindowMessage, drawRect) == 4 &&
              offsetof(VisualPluginShowWindowMessage, options) == 12);
static_assert(offsetof(VisualPluginPlayMessage, soundFormat) == 16 &&
              offsetof(VisualPluginPlayMessage, trackInfoUnicode) == 44);
static_assert(offsetof(VisualPluginChangeTrackMessage, trackInfoUnicode) == 8);
static_assert(offsetof(VisualPluginRenderMessage, currentPositionInMS) == 8);
#elif defined(__x86_64__)
static_assert(sizeof(PlayerMessageInfo) == 144 && offsetof(PlayerMessageInfo, u) == 16);
static_assert(sizeof(PlayerRegisterVisualPluginMessage) == 128);
static_assert(offsetof(PlayerRegisterVisualPluginMessage, registerRefCon) == 88 &&
              offsetof(PlayerRegisterVisualPluginMessage, timeBetweenDataInMS) == 96 &&
              offsetof(PlayerRegisterVisualPluginMessage, minWidth) == 108 &&
              offsetof(PlayerRegisterVisualPluginMessage, windowAlignmentInBytes) == 120);
static_assert(offsetof(PlayerGetCurrentTrackCoverArtMessage, coverArtFormat) == 8);
static_assert(sizeof(PluginMessageInfo) == 40 && offsetof(PluginInitMessage, appProc) == 16);
static_assert(sizeof(VisualPluginMessageInfo) == 72);
static_assert(offsetof(VisualPluginInitMessage, appCookie) == 16 && offsetof(VisualPluginInitMessage, refCon) == 40);
static_assert(offsetof(VisualPluginShowWindowMessage, drawRect) == 8 &&
              offsetof(VisualPluginShowWindowMessage, options) == 16);
static_assert(offsetof(VisualPluginPlayMessage, soundFormat) == 24 &&
              offsetof(VisualPluginPlayMessage, trackInfoUnicode) == 56);
static_assert(offsetof(VisualPluginChangeTrackMessage, trackInfoUnicode) == 16);
static_assert(offsetof(VisualPluginRenderMessage, currentPositionInMS) == 12);
#endif
