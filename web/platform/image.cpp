// Covers in the page: lv/image.h over the browser's decoders. Decoding is
// asynchronous in a browser (createImageBitmap), the plug-in's call is not:
// the page decodes a track's cover before it sends the track
// (lv_web_image_prepare, from web_platform.js), with the native layer's
// limits, and decodeImage hands out the pixels prepared for the same bytes.
#include <emscripten/emscripten.h>

#include <cstring>

#include "lv/image.h"

namespace {

// The one cover prepared last: its bytes and their pixels.
struct Prepared {
    std::vector<uint8_t> bytes;
    lvimage::Image image;
};
Prepared gPrepared;

}  // namespace

// The page's decode of `bytes` (width x height straight RGBA); called before
// the track that carries them is sent.
extern "C" EMSCRIPTEN_KEEPALIVE void lv_web_image_prepare(const uint8_t* bytes, int size, const uint8_t* rgba,
                                                          int width, int height) {
    gPrepared.bytes.assign(bytes, bytes + size);
    gPrepared.image.width = width;
    gPrepared.image.height = height;
    gPrepared.image.rgba.assign(rgba, rgba + size_t(width) * size_t(height) * 4);
}

namespace lvimage {

bool decodeImage(const uint8_t* data, size_t size, Image* out, std::string& error) {
    if (!out) {
        error = "nowhere to put the picture";
        return false;
    }
    *out = Image();
    if (!data || lv::sniffImageFormat(data, size) == lv::ImageFormat::NoImage) {
        error = "not a JPEG or PNG picture";
        return false;
    }
    if (gPrepared.bytes.size() != size || std::memcmp(gPrepared.bytes.data(), data, size) != 0) {
        error = "the page has not decoded this picture: it decodes a track's cover before sending the track";
        return false;
    }
    const Image& p = gPrepared.image;
    if (p.width <= 0 || p.height <= 0 || p.width > kMaxSide || p.height > kMaxSide ||
        size_t(p.width) * size_t(p.height) > kMaxPixels) {
        error = "the picture is larger than a cover may be";
        return false;
    }
    *out = p;
    return true;
}

}  // namespace lvimage
