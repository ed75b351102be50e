// A track record and its cover art through the plug-in's message handler,
// down to the pixels that reach the overlay's textures.
//
// The harness is the host: it calls the entry point, shows the plug-in on an
// offscreen port once, and for each input sends a play or change-track
// message with the input's record, answers the plug-in's cover request with
// the input's bytes, and may render a frame (the overlay draws the new
// textures) or press q (a new context: both textures built again).
//
// Texture uploads are watched on their way to the driver (glTexImage2D is
// wrapped here, below): Mesa is not built with AddressSanitizer, so a pixel
// buffer shorter than the picture it claims would go unseen without this.
// Every upload's buffer must be addressable in full; the name texture is
// 512 x 128 premultiplied RGBA; the cover texture is the decoded picture,
// premultiplied, upside down in the last rows of its power-of-two padding,
// with transparent black around it.
#include <GL/gl.h>
#include <dlfcn.h>
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LumenvortexHost.h"
#include "MacMemory.h"
#include "fuzz_check.h"
#include "iTunesAPI.h"
#include "inputs.h"
#include "lv/image.h"
#include "lv/port.h"

extern "C" OSStatus iTunesPluginMainMachO(OSType message, PluginMessageInfo* messageInfo, void* refCon);

namespace {

constexpr int kPortWidth = 200, kPortHeight = 150;

struct Host {
    VisualPluginProcPtr handler = nullptr;
    void* refCon = nullptr;
    long long micros = 0;
    std::vector<uint8_t> cover;
    bool coverFails = false;
    LVPort port{};
    std::vector<uint8_t> pixels;
} gHost;

// What the uploads of one message must show.
struct Watch {
    bool active = false;
    bool coverExpected = false;
    lvimage::Image cover;   // as decoded here, straight alpha
    unsigned paddedWidth = 0, paddedHeight = 0;
    int uploads = 0;
    bool nameSeen = false, coverSeen = false;
} gWatch;

template <class T>
T zeroed() {
    T t;
    std::memset(static_cast<void*>(&t), 0, sizeof t);
    return t;
}

unsigned pow2AtLeast(unsigned n) {
    unsigned p = 1;
    while (p < n) p <<= 1;
    return p;
}

OSStatus appProc(void*, OSType message, PlayerMessageInfo* info) {
    switch (message) {
    case FourCC("rvis"):
        gHost.handler = info->u.registerVisualPluginMessage.handler;
        gHost.refCon = info->u.registerVisualPluginMessage.registerRefCon;
        return noErr;
    case FourCC("covr"): {
        Handle h = nullptr;
        if (!gHost.cover.empty()) {
            h = NewHandle(gHost.cover.size());
            std::memcpy(*h, gHost.cover.data(), gHost.cover.size());
        }
        info->u.getCurrentTrackCoverArtMessage.coverArt = h;
        info->u.getCurrentTrackCoverArtMessage.coverArtFormat = FourCC("PNGf");
        return gHost.coverFails ? OSStatus(-1) : noErr;
    }
    default:
        return noErr;
    }
}

OSStatus send(OSType message, VisualPluginMessageInfo* info) { return gHost.handler(message, info, gHost.refCon); }

bool premultiplied(const uint8_t* rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, rgba += 4)
        if (rgba[0] > rgba[3] || rgba[1] > rgba[3] || rgba[2] > rgba[3]) return false;
    return true;
}

bool near(int a, int b) { return a - b <= 1 && b - a <= 1; }

// The cover as the overlay must hold it; see the file's comment.
bool isExpectedCover(const uint8_t* tex, unsigned width, unsigned height) {
    const Watch& w = gWatch;
    if (!w.coverExpected || width != w.paddedWidth || height != w.paddedHeight) return false;
    const unsigned iw = unsigned(w.cover.width), ih = unsigned(w.cover.height);
    for (unsigned y = 0; y < height; ++y) {
        const bool pictureRow = y >= height - ih;
        const uint8_t* src = pictureRow ? &w.cover.rgba[size_t(height - 1 - y) * iw * 4] : nullptr;
        const uint8_t* dst = tex + size_t(y) * width * 4;
        for (unsigned x = 0; x < width; ++x, dst += 4) {
            if (!pictureRow || x >= iw) {
                if (dst[0] | dst[1] | dst[2] | dst[3]) return false;
                continue;
            }
            const uint8_t* s = src + size_t(x) * 4;
            if (dst[3] != s[3]) return false;
            for (int c = 0; c < 3; ++c)
                if (!near(dst[c], s[c] * s[3] / 255)) return false;
        }
    }
    return true;
}

void inspectUpload(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels) {
    if (!pixels || width <= 0 || height <= 0) return;
    const size_t channels = format == GL_RGBA ? 4 : format == GL_RGB ? 3 : format == GL_LUMINANCE_ALPHA ? 2 : 1;
    FUZZ_CHECK(type == GL_UNSIGNED_BYTE);
    FUZZ_CHECK(__asan_region_is_poisoned(const_cast<void*>(pixels), size_t(width) * size_t(height) * channels) == nullptr);
    if (!gWatch.active || format != GL_RGBA) return;
    ++gWatch.uploads;
    const auto* rgba = static_cast<const uint8_t*>(pixels);
    if (isExpectedCover(rgba, unsigned(width), unsigned(height))) gWatch.coverSeen = true;
    else if (width == 512 && height == 128 && premultiplied(rgba, 512 * 128)) gWatch.nameSeen = true;
}

void setUpHost() {
    unsetenv("DISPLAY");   // the screen's size comes from the port
    LumenvortexSetClock([](void*) { return gHost.micros; }, [](void*, long long us) { gHost.micros += us > 0 ? us : 0; },
                        nullptr);
    auto entry = zeroed<PluginMessageInfo>();
    entry.u.initMessage = {10, 5, nullptr, appProc, 0, nullptr};
    iTunesPluginMainMachO(FourCC("init"), &entry, nullptr);
    FUZZ_CHECK(gHost.handler);
    auto init = zeroed<VisualPluginMessageInfo>();
    init.u.initMessage = {10, 5, {}, nullptr, appProc, 0, nullptr};
    FUZZ_CHECK(send(FourCC("init"), &init) == noErr);

    gHost.pixels.assign(size_t(kPortWidth) * kPortHeight * 4, 0);
    gHost.port = LVPort{};
    gHost.port.kind = LV_PORT_OFFSCREEN;
    gHost.port.width = kPortWidth;
    gHost.port.height = kPortHeight;
    gHost.port.pixels = gHost.pixels.data();
    auto show = zeroed<VisualPluginMessageInfo>();
    show.u.showWindowMessage.port = &gHost.port;
    show.u.showWindowMessage.drawRect = Rect{0, 0, kPortHeight, kPortWidth};
    FUZZ_CHECK(send(FourCC("show"), &show) == noErr);
}

// The record as a host fills it: zeroed, the three strings with their
// declared lengths (which a damaged record may put past 255).
ITTrackInfo* makeRecord(const lvfuzz::TrackInput& in) {
    // Exactly one record's worth of memory: a read past it is caught.
    auto* record = static_cast<ITTrackInfo*>(std::calloc(1, sizeof(ITTrackInfo)));
    record->recordLength = sizeof(ITTrackInfo);
    UniChar* fields[3] = {record->name, record->artist, record->album};
    for (int i = 0; i < 3; ++i) {
        fields[i][0] = in.declared[i];
        std::copy(in.text[i].begin(), in.text[i].end(), fields[i] + 1);
    }
    return record;
}

void expectCover(const lvfuzz::TrackInput& in) {
    gWatch = Watch{};
    gWatch.active = true;
    if (in.cover.empty() || (in.flags & lvfuzz::kTrackCoverFails)) return;
    std::string error;   // a refused cover is the plug-in's business: it shows none
    if (!lvimage::decodeImage(in.cover.data(), in.cover.size(), &gWatch.cover, error)) return;
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    gWatch.paddedWidth = pow2AtLeast(unsigned(gWatch.cover.width));
    gWatch.paddedHeight = pow2AtLeast(unsigned(gWatch.cover.height));
    gWatch.coverExpected = gWatch.paddedWidth <= unsigned(maxSize) && gWatch.paddedHeight <= unsigned(maxSize);
}

// A rebuild without any play message before it has no record to build from.
bool gPlayed = false;

void checkUploads(bool rebuilt) {
    if (rebuilt && !gPlayed) {
        gWatch = Watch{};
        return;
    }
    FUZZ_CHECK(gWatch.nameSeen);
    FUZZ_CHECK(gWatch.coverSeen == gWatch.coverExpected);
    if (!rebuilt) FUZZ_CHECK(gWatch.uploads == 1 + (gWatch.coverExpected ? 1 : 0));
    gWatch = Watch{};
}

}  // namespace

// Every texture upload of the process passes here on its way to the driver.
extern "C" void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                             GLint border, GLenum format, GLenum type, const void* pixels) {
    using Real = void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "glTexImage2D"));
    if (level == 0) inspectUpload(width, height, format, type, pixels);
    real(target, level, internalFormat, width, height, border, format, type, pixels);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpHost();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const lvfuzz::TrackInput in = lvfuzz::readTrack(data, size);
    gHost.cover = in.cover;
    gHost.coverFails = (in.flags & lvfuzz::kTrackCoverFails) != 0;
    ITTrackInfo* record = makeRecord(in);

    // Texture uploads go to the plug-in's context, current after the show.
    expectCover(in);
    auto message = zeroed<VisualPluginMessageInfo>();
    if (in.flags & lvfuzz::kTrackChange) {
        message.u.changeTrackMessage.trackInfoUnicode = record;
        FUZZ_CHECK(send(FourCC("ctrk"), &message) == noErr);
    } else {
        message.u.playMessage.trackInfoUnicode = record;
        FUZZ_CHECK(send(FourCC("vply"), &message) == noErr);
        gPlayed = true;
    }
    checkUploads(false);
    std::free(record);

    if (in.flags & lvfuzz::kTrackRender) {
        const unsigned long before = gHost.port.frameCount;
        auto render = zeroed<RenderVisualData>();
        render.numSpectrumChannels = 2;
        auto info = zeroed<VisualPluginMessageInfo>();
        info.u.renderMessage.renderData = &render;
        gHost.micros += 17000;
        FUZZ_CHECK(send(FourCC("vrnd"), &info) == noErr);
        FUZZ_CHECK(gHost.port.frameCount == before + 1);
    }
    if (in.flags & lvfuzz::kTrackRebuild) {
        // The rebuild asks for the cover again and names the last play's
        // record, which a change-track message leaves as it was.
        expectCover(in);
        auto event = zeroed<EventRecord>();
        event.what = keyDown;
        event.message = 'q';
        auto info = zeroed<VisualPluginMessageInfo>();
        info.u.eventMessage.event = &event;
        FUZZ_CHECK(send(FourCC("vevt"), &info) == unimpErr);
        checkUploads(true);
    }
    return 0;
}
