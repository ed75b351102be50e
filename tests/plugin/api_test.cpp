// Requests to the host, seen from a host call-back that records what arrives:
// each one's code and header, and the answers the helpers read back.
#include <gtest/gtest.h>

#include <algorithm>
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
    UInt32 size = 0;
};

OSStatus record(void* cookie, OSType code, PlayerMessageInfo* info) {
    auto* r = static_cast<Recorder*>(cookie);
    EXPECT_EQ(info->messageMajorVersion, 10u);
    EXPECT_EQ(info->messageMinorVersion, 5u);
    EXPECT_EQ(info->messageInfoSize, sizeof(PlayerMessageInfo));
    r->codes.push_back(code);
    r->last = *info;
    if (code == FourCC("covr")) {
        info->u.getCurrentTrackCoverArtMessage.coverArt = r->coverArt;
        info->u.getCurrentTrackCoverArtMessage.coverArtFormat = FourCC("PNGf");
    }
    if (code == FourCC("itsz")) info->u.getITTrackInfoSizeMessage.itTrackInfoSize = r->size;
    return r->status;
}

bool unionIsZero(const PlayerMessageInfo& m) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&m.u);
    return std::all_of(bytes, bytes + sizeof m.u, [](unsigned char b) { return b == 0; });
}

}  // namespace

// The recorder checks every request's header; these are the requests the
// plug-in makes, with the caller's record or a zeroed one of their own.
TEST(HostRequests, RecordsGoOutStampedAndZeroedAndTheHostsStatusComesBack) {
    Recorder r;
    EXPECT_EQ(PlayerRegisterVisualPlugin(&r, record, nullptr), noErr);
    EXPECT_TRUE(unionIsZero(r.last));
    PlayerMessageInfo mine;
    std::memset(&mine, 0xAB, sizeof mine);   // a header full of rubbish is stamped over
    mine.u.registerVisualPluginMessage.options = 8;
    PlayerRegisterVisualPlugin(&r, record, &mine);
    EXPECT_EQ(r.last.u.registerVisualPluginMessage.options, 8u);
    EXPECT_EQ(r.codes, std::vector<OSType>({FourCC("rvis"), FourCC("rvis")}));
    r.status = -1234;
    EXPECT_EQ(PlayerIdle(&r, record), -1234);
    EXPECT_TRUE(unionIsZero(r.last));
    EXPECT_EQ(PlayerIdle(&r, nullptr), paramErr) << "no host";
}

TEST(HostRequests, CoverArtAndTrackInfoSizeAnswers) {
    Recorder r;
    char block[4] = {1, 2, 3, 4};
    char* pointer = block;
    r.coverArt = &pointer;
    Handle got = reinterpret_cast<Handle>(1);
    OSType format = 0;
    EXPECT_EQ(PlayerGetCurrentTrackCoverArt(&r, record, &got, &format), noErr);
    EXPECT_TRUE(got == &pointer && format == FourCC("PNGf"));
    EXPECT_EQ(r.last.u.getCurrentTrackCoverArtMessage.coverArt, nullptr) << "the request goes out with a null handle";
    got = nullptr;
    EXPECT_EQ(PlayerGetCurrentTrackCoverArt(&r, record, &got, nullptr), noErr) << "the format pointer is optional";
    EXPECT_EQ(got, &pointer);
    // A failing host leaves the null the request carried.
    r.coverArt = nullptr;
    r.status = -4;
    got = reinterpret_cast<Handle>(1);
    EXPECT_EQ(PlayerGetCurrentTrackCoverArt(&r, record, &got, &format), -4);
    EXPECT_EQ(got, nullptr);

    // The host's own size up to the version's; without the request (a host
    // that predates it), by version.
    const struct {
        OSStatus hostStatus;
        UInt32 hostSize, major, minor;
        OSStatus status;
        UInt32 size;
    } cases[] = {{noErr, 4000, 10, 5, noErr, 4000},    {noErr, 5000, 10, 5, noErr, 4692},
                 {unimpErr, 0, 10, 3, noErr, 4688},    {unimpErr, 0, 10, 2, noErr, 4160},
                 {unimpErr, 0, 10, 4, paramErr, 0},    {unimpErr, 0, 9, 3, paramErr, 0}};
    for (const auto& c : cases) {
        r.status = c.hostStatus;
        r.size = c.hostSize;
        UInt32 size = 99;
        EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, c.major, c.minor, &size), c.status) << c.major << "." << c.minor;
        EXPECT_EQ(size, c.size) << c.major << "." << c.minor << " from " << c.hostSize;
    }
    EXPECT_EQ(PlayerGetITTrackInfoSize(&r, record, 10, 3, nullptr), paramErr);
}
