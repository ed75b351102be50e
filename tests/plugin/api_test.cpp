// Requests to the host: every function's code, fields, header and answers,
// seen from a host call-back that records what arrives.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "iTunesAPI.h"

namespace {

struct Recorder {
    std::vector<OSType> codes;
    PlayerMessageInfo last{};
    OSStatus status = noErr;
    // What the host writes back.
    Handle coverArt = nullptr;
    OSType coverFormat = 0;
    UInt32 dataSize = 0;
    UInt32 trackInfoSize = 0;
};

OSStatus record(void* cookie, OSType code, PlayerMessageInfo* info) {
    auto* r = static_cast<Recorder*>(cookie);
    r->codes.push_back(code);
    r->last = *info;
    switch (code) {
    case FourCC("covr"):
        info->u.getCurrentTrackCoverArtMessage.coverArt = r->coverArt;
        info->u.getCurrentTrackCoverArtMessage.coverArtFormat = r->coverFormat;
        break;
    case FourCC("gprf"):
        info->u.getPluginDataMessage.dataSize = r->dataSize;
        break;
    case FourCC("gnpr"):
        info->u.getPluginNamedDataMessage.dataSize = r->dataSize;
        break;
    case FourCC("itsz"):
        info->u.getITTrackInfoSizeMessage.itTrackInfoSize = r->trackInfoSize;
        break;
    }
    return r->status;
}

void expectHeader(const PlayerMessageInfo& m) {
    EXPECT_EQ(m.messageMajorVersion, 10u);
    EXPECT_EQ(m.messageMinorVersion, 5u);
    EXPECT_EQ(m.messageInfoSize, sizeof(PlayerMessageInfo));
}

bool unionIsZeroFrom(const PlayerMessageInfo& m, size_t offset) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&m.u);
    for (size_t i = offset; i < sizeof m.u; ++i)
        if (bytes[i]) return false;
    return true;
}

}  // namespace

TEST(HostRequests, EachRequestSendsItsCodeFieldsAndHeader) {
    Recorder r;
    int data = 0;
    const unsigned char name[] = "\x04prefs";
    SInt8 url[] = "https://example.org";
    ITTrackInfo track{};
    ITFileSpec* spec = reinterpret_cast<ITFileSpec*>(&data);

    EXPECT_EQ(PlayerSetFullScreen(&r, record, true), noErr);
    EXPECT_EQ(r.last.u.setFullScreenMessage.fullScreen, 1);
    expectHeader(r.last);

    PlayerSetFullScreenOptions(&r, record, 8, 32, 24, 1920, 1080);
    const PlayerSetFullScreenOptionsMessage& o = r.last.u.setFullScreenOptionsMessage;
    EXPECT_EQ(std::vector<int>({o.minBitDepth, o.maxBitDepth, o.preferredBitDepth, o.desiredWidth, o.desiredHeight}),
              std::vector<int>({8, 32, 24, 1920, 1080}));

    PlayerSetPluginData(&r, record, &data, 4);
    EXPECT_EQ(r.last.u.setPluginDataMessage.dataPtr, &data);
    EXPECT_EQ(r.last.u.setPluginDataMessage.dataSize, 4u);

    PlayerSetPluginNamedData(&r, record, name, &data, 4);
    EXPECT_EQ(r.last.u.setPluginNamedDataMessage.dataName, name);
    EXPECT_EQ(r.last.u.setPluginNamedDataMessage.dataSize, 4u);

    PlayerOpenURL(&r, record, url, 19);
    EXPECT_EQ(r.last.u.openURLMessage.url, url);
    EXPECT_EQ(r.last.u.openURLMessage.length, 19u);

    PlayerGetPluginITFileSpec(&r, record, spec);
    EXPECT_EQ(r.last.u.getPluginITFileSpecMessage.fileSpec, spec);
    PlayerGetFileTrackInfo(&r, record, spec, &track);
    EXPECT_EQ(r.last.u.getFileTrackInfoMessage.trackInfo, &track);
    PlayerSetFileTrackInfo(&r, record, spec, &track);
    EXPECT_EQ(r.last.u.setFileTrackInfoMessage.fileSpec, spec);
    PlayerIdle(&r, record);
    EXPECT_TRUE(unionIsZeroFrom(r.last, 0));
    PlayerShowAbout(&r, record);

    r.dataSize = 77;
    UInt32 size = 0;
    PlayerGetPluginData(&r, record, &data, 16, &size);
    EXPECT_EQ(r.last.u.getPluginDataMessage.dataBufferSize, 16u);
    EXPECT_EQ(size, 77u);
    size = 0;
    PlayerGetPluginNamedData(&r, record, name, &data, 16, &size);
    EXPECT_EQ(r.last.u.getPluginNamedDataMessage.dataBufferSize, 16u);
    EXPECT_EQ(size, 77u);
    expectHeader(r.last);

    const std::vector<OSType> want = {FourCC("sful"), FourCC("sfop"), FourCC("sprf"), FourCC("snpr"),
                                      FourCC("url "), FourCC("itfs"), FourCC("gfti"), FourCC("sfti"),
                                      FourCC("idle"), FourCC("abou"), FourCC("gprf"), FourCC("gnpr")};
    EXPECT_EQ(r.codes, want);

    // Statuses pass through untouched; a missing host is a bad parameter.
    r.status = -1234;
    EXPECT_EQ(PlayerIdle(&r, record), -1234);
    EXPECT_EQ(PlayerIdle(&r, nullptr), paramErr);
}

TEST(HostRequests, RegistrationUsesTheCallersRecordOrAZeroedOne) {
    Recorder r;
    EXPECT_EQ(PlayerRegisterVisualPlugin(&r, record, nullptr), noErr);
    EXPECT_EQ(r.codes.back(), FourCC("rvis"));
    expectHeader(r.last);
    EXPECT_TRUE(unionIsZeroFrom(r.last, 0));

    PlayerMessageInfo mine;
    std::memset(&mine, 0xAB, sizeof mine);   // a header full of rubbish is stamped over
    mine.u.registerVisualPluginMessage.options = 8;
    PlayerUnregisterPlugin(&r, record, &mine);
    EXPECT_EQ(r.codes.back(), FourCC("unrg"));
    expectHeader(r.last);
    EXPECT_EQ(r.last.u.registerVisualPluginMessage.options, 8u);

    ITCallApplication(&r, record, FourCC("abcd"), nullptr);
    EXPECT_EQ(r.codes.back(), FourCC("abcd"));

    NumVersion v;
    SetNumVersion(&v, 1, 2, 3, 4);
    const unsigned char bytes[4] = {4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(&v, bytes, 4), 0);
}

TEST(HostRequests, CoverArtAnswers) {
    Recorder r;
    char data[4] = {1, 2, 3, 4};
    char* block = data;
    r.coverArt = &block;
    r.coverFormat = FourCC("PNGf");
    Handle got = reinterpret_cast<Handle>(1);
    OSType format = 0;
    EXPECT_EQ(PlayerGetCurrentTrackCoverArt(&r, record, &got, &format), noErr);
    EXPECT_EQ(got, &block);
    EXPECT_EQ(format, FourCC("PNGf"));
    EXPECT_EQ(r.last.u.getCurrentTrackCoverArtMessage.coverArt, nullptr) << "the request goes out with a null handle";

    // Without a format pointer only the handle is written.
    got = nullptr;
    EXPECT_EQ(PlayerGetCurrentTrackCoverArt(&r, record, &got, nullptr), noErr);
    EXPECT_EQ(got, &block);

    // A failing host leaves the null the request carried.
    r.coverArt = nullptr;
    r.status = -4;
    got = reinterpret_cast<Handle>(1);
    EXPECT_EQ(PlayerGetCurrentTrackCoverArt(&r, record, &got, &format), -4);
    EXPECT_EQ(got, nullptr);
}

TEST(HostRequests, TrackInfoSizeFromTheHostOrItsVersion) {
    Recorder r;
    UInt32 size = 99;
    r.trackInfoSize = 4000;
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 5, &size), noErr);
    EXPECT_EQ(size, 4000u);
    r.trackInfoSize = 5000;
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 5, &size), noErr);
    EXPECT_EQ(size, 4692u);

    r.status = unimpErr;   // a host that predates the request
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 3, &size), noErr);
    EXPECT_EQ(size, 4688u);
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 2, &size), noErr);
    EXPECT_EQ(size, 4160u);
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 4, &size), paramErr);
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 9, 3, &size), paramErr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 3, nullptr), paramErr);
}
