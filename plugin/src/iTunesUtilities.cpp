// The track overlay's textures. See iTunesUtilities.h.
#include "iTunesUtilities.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "MacMemory.h"
#include "lv/image.h"
#include "lv/text.h"
#include "libp5.h"
#include "renderer.h"

namespace {

// Host strings carry their length in element 0; a length past the 255
// characters the array holds is a damaged record, not a longer string.
unsigned hostStringLength(const unsigned short* str) { return str ? std::min<unsigned>(str[0], 255) : 0; }

std::u16string hostStringText(const unsigned short* str) {
    const unsigned n = hostStringLength(str);
    return n ? std::u16string(str + 1, str + 1 + n) : std::u16string();
}

const unsigned char kTrackNameFont[] = "\x08GillSans";
constexpr float kTrackNameFontSize = 18;
constexpr unsigned long kTrackNameWidth = 512;
constexpr unsigned long kTrackNameHeight = 128;

}  // namespace

// ---------------------------------------------------------------- bitmaps

BitmapContext* createBitmapContext(unsigned long pixelWidth, unsigned long pixelHeight) {
    // The row length is kept in 16 bits, as the overlay always has; the width
    // is checked before it is multiplied, so that no product wraps round.
    if (pixelWidth == 0 || pixelHeight == 0 || pixelWidth > 0xFFFF / 4) return nullptr;
    const unsigned long bytesPerRow = 4 * pixelWidth;
    auto* data = static_cast<unsigned char*>(std::calloc(pixelHeight, bytesPerRow));
    if (!data) return nullptr;
    auto* ctx = static_cast<BitmapContext*>(std::malloc(sizeof(BitmapContext)));
    if (!ctx) {
        std::free(data);
        return nullptr;
    }
    *ctx = BitmapContext{data, pixelWidth, pixelHeight, bytesPerRow, {0, 0, 0, 1}};
    return ctx;
}

void releaseBitmapContext(BitmapContext* ctx) { std::free(ctx); }

void DrawWithATSUI(BitmapContext* ctx, float posX, float posY, const unsigned short* str,
                   const unsigned char* fontName, float fontSize) {
    const std::u16string text = hostStringText(str);
    if (!ctx || text.empty()) return;
    const std::string family = fontName ? std::string(reinterpret_cast<const char*>(fontName + 1), fontName[0]) : "";
    // Sizes and positions pass through 16.16 fixed point on their way in.
    const double size = int(fontSize * 65536) / 65536.0;
    const double x = int(posX * 65536) / 65536.0;
    const double y = int(posY * 65536) / 65536.0;
    lvtext::TextStyle style;
    style.family = family.c_str();
    style.pixelSize = size;
    std::copy_n(ctx->fillColor, 4, style.rgba);
    // A missing font is not an error: the engine falls back to other faces.
    // Nor is a text engine that cannot start: the line stays blank.
    std::string ignored;
    lvtext::drawTextLine(ctx->data, int(ctx->width), int(ctx->height), int(ctx->bytesPerRow), x,
                         double(ctx->height) - y, text.data(), text.size(), style, ignored);
}

int copyBitmapDataToTexture(unsigned long width, unsigned long height, bool hasAlpha, unsigned char* bitmapData,
                            GLuint* textureID) {
    while (glGetError() != GL_NO_ERROR) {}   // earlier errors are not this upload's
    const bool es = rendererIsGles();
    setTexturing(true);
    glGenTextures(1, textureID);
    glBindTexture(GL_TEXTURE_2D, *textureID);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, textureWrap());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, textureWrap());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // ES has no client attribute stack: the unpack state is read and put back.
    const GLenum unpack[4] = {GL_UNPACK_ALIGNMENT, GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS};
    GLint saved[4] = {4, 0, 0, 0};
    if (es) {
        for (int i = 0; i < 4; ++i) glGetIntegerv(unpack[i], &saved[i]);
    } else {
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    // (ES wants the internal format to be the data's own.)
    const GLenum format = hasAlpha ? GL_RGBA : GL_RGB;
    glTexImage2D(GL_TEXTURE_2D, 0, es ? GLint(format) : GL_RGBA, GLsizei(width), GLsizei(height), 0, format,
                 GL_UNSIGNED_BYTE, bitmapData);
    // A texture without its picture (no memory for it, a size the driver
    // refuses) would draw as a white box: better no texture at all.
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, textureID);
        *textureID = 0;
    }
    if (es) {
        for (int i = 0; i < 4; ++i) glPixelStorei(unpack[i], saved[i]);
    } else {
        glPopClientAttrib();
    }
    // The new texture stays bound: with texturing left on, the next frame's
    // untextured shapes (flat wells, proximity lines) would sample the cover.
    setTexturing(false);
    return 0;
}

// ---------------------------------------------------------------- track name

PaddedTexture CreateTrackNameTexture(const unsigned short* trackName, const unsigned short* artistName,
                                     const unsigned short* albumName) {
    PaddedTexture result;
    BitmapContext* ctx = createBitmapContext(kTrackNameWidth, kTrackNameHeight);
    if (!ctx) return result;
    ctx->fillColor[0] = ctx->fillColor[1] = ctx->fillColor[2] = ctx->fillColor[3] = 1.0;

    // Baselines measured upward from the bitmap's bottom edge.
    DrawWithATSUI(ctx, 1, 74, trackName, kTrackNameFont, kTrackNameFontSize);
    DrawWithATSUI(ctx, 1, 92, artistName, kTrackNameFont, kTrackNameFontSize);
    DrawWithATSUI(ctx, 1, 110, albumName, kTrackNameFont, kTrackNameFontSize);

    copyBitmapDataToTexture(kTrackNameWidth, kTrackNameHeight, true, ctx->data, &result.texID);
    unsigned char* data = ctx->data;
    releaseBitmapContext(ctx);
    std::free(data);

    result.paddedWidth = kTrackNameWidth;
    result.paddedHeight = kTrackNameHeight;
    result.actualWidth = kTrackNameWidth;
    result.actualHeight = 54;   // down to the track name's baseline
    return result;
}

// ---------------------------------------------------------------- cover art

PaddedTexture CreateCoverArtTexture(void* appCookie, ITAppProcPtr appProc) {
    PaddedTexture result;
    Handle handle = nullptr;
    OSType fileType = 0;
    if (PlayerGetCurrentTrackCoverArt(appCookie, appProc, &handle, &fileType) != noErr) {
        // A failing host may still have handed something over.
        DisposeHandle(handle);
        return result;
    }
    HLock(handle);
    const size_t size = GetHandleSize(handle);
    HUnlock(handle);
    if (size != 0) result = CreateCoverArtTextureFromHandle(handle, fileType);
    DisposeHandle(handle);
    return result;
}

PaddedTexture CreateCoverArtTextureFromHandle(char** coverArtDataHdl, unsigned long /*coverArtFileType*/) {
    PaddedTexture result;
    if (!coverArtDataHdl || !*coverArtDataHdl) return result;
    HLock(coverArtDataHdl);
    lvimage::Image picture;
    std::string ignored;   // artwork that cannot be decoded is left out of the overlay
    const bool decoded = lvimage::decodeImage(reinterpret_cast<const uint8_t*>(*coverArtDataHdl),
                                              GetHandleSize(coverArtDataHdl), &picture, ignored);
    HUnlock(coverArtDataHdl);
    // Sizes a signed 16-bit description cannot hold count as no artwork.
    if (!decoded || picture.width <= 0 || picture.height <= 0 || picture.width > lvimage::kMaxSide ||
        picture.height > lvimage::kMaxSide)
        return result;

    const unsigned imageWidth = unsigned(picture.width), imageHeight = unsigned(picture.height);
    const unsigned paddedWidth = pow2Ceil(imageWidth), paddedHeight = pow2Ceil(imageHeight);
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    if (paddedWidth == 0 || paddedHeight == 0 || maxTextureSize <= 0 || paddedWidth > unsigned(maxTextureSize) ||
        paddedHeight > unsigned(maxTextureSize))
        return result;

    BitmapContext* ctx = createBitmapContext(paddedWidth, paddedHeight);
    if (!ctx) return result;
    // The picture goes upside down into the last imageHeight rows, so that its
    // top row is the texture's last (t = 1), and premultiplied, as a drawing
    // into the bitmap leaves it.
    for (unsigned row = 0; row < imageHeight; ++row) {
        const uint8_t* src = picture.rgba.data() + size_t(row) * imageWidth * 4;
        unsigned char* dst = ctx->data + size_t(paddedHeight - 1 - row) * ctx->bytesPerRow;
        for (unsigned col = 0; col < imageWidth; ++col, src += 4, dst += 4) {
            const unsigned a = src[3];
            dst[0] = uint8_t((src[0] * a + 127) / 255);
            dst[1] = uint8_t((src[1] * a + 127) / 255);
            dst[2] = uint8_t((src[2] * a + 127) / 255);
            dst[3] = uint8_t(a);
        }
    }
    copyBitmapDataToTexture(paddedWidth, paddedHeight, true, ctx->data, &result.texID);
    result.actualWidth = imageWidth;
    result.actualHeight = imageHeight;
    result.paddedWidth = paddedWidth;
    result.paddedHeight = paddedHeight;
    unsigned char* data = ctx->data;
    releaseBitmapContext(ctx);
    std::free(data);
    return result;
}

// ---------------------------------------------------------------- small helpers

unsigned int pow2Ceil(unsigned int n) {
    if (n > (1u << 31)) return 0;
    unsigned int p = 1;
    while (p < n) p <<= 1;
    return p;
}

void OSTypeToString(unsigned long x, char* dest) {
    dest[0] = char((x >> 24) & 0xFF);
    dest[1] = char((x >> 16) & 0xFF);
    dest[2] = char((x >> 8) & 0xFF);
    dest[3] = char(x & 0xFF);
    dest[4] = 0;
}

std::string ITUniStr255ToString(const unsigned short* aStringVal) {
    const std::u16string text = hostStringText(aStringVal);
    return lvtext::utf16ToUtf8(text.data(), text.size());
}
