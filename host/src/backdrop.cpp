#include "backdrop.h"

#include <algorithm>
#include <cstdint>

#include "lv/image.h"

namespace {

// Covers behind the field: an eighth of the frame is more than a blur
// needs, and the blur then costs next to nothing.
constexpr int kCoverShrink = 8;
constexpr int kCoverBlurRadius = 2;        // in those small pixels, three passes
constexpr int kCoverBrightness = 110;      // of 255: dim, so the light reads over it

// The middle of `in` with the frame's proportions, averaged down to at most
// width x height (never scaled up: the plug-in's linear filtering does that).
BackdropPicture cropToCover(const lvimage::Image& in, int width, int height) {
    // The largest centred rectangle of the frame's shape inside the picture.
    int cw = in.width, ch = int((long long)in.width * height / width);
    if (ch > in.height) {
        ch = in.height;
        cw = std::max(1, int((long long)in.height * width / height));
    }
    ch = std::max(1, ch);
    const int x0 = (in.width - cw) / 2, y0 = (in.height - ch) / 2;
    BackdropPicture out;
    out.width = std::min(cw, width);
    out.height = std::min(ch, height);
    out.rgba.resize(size_t(out.width) * size_t(out.height) * 4);
    for (int y = 0; y < out.height; ++y) {
        const int sy0 = y0 + int((long long)y * ch / out.height), sy1 = std::max(sy0 + 1, y0 + int((long long)(y + 1) * ch / out.height));
        for (int x = 0; x < out.width; ++x) {
            const int sx0 = x0 + int((long long)x * cw / out.width), sx1 = std::max(sx0 + 1, x0 + int((long long)(x + 1) * cw / out.width));
            uint32_t sum[3] = {0, 0, 0};
            for (int sy = sy0; sy < sy1; ++sy)
                for (int sx = sx0; sx < sx1; ++sx)
                    for (int k = 0; k < 3; ++k) sum[k] += in.rgba[(size_t(sy) * size_t(in.width) + size_t(sx)) * 4 + size_t(k)];
            const uint32_t n = uint32_t((sy1 - sy0) * (sx1 - sx0));
            unsigned char* o = &out.rgba[(size_t(y) * size_t(out.width) + size_t(x)) * 4];
            for (int k = 0; k < 3; ++k) o[k] = static_cast<unsigned char>((sum[k] + n / 2) / n);
            o[3] = 255;   // the background is opaque, whatever the picture's alpha
        }
    }
    return out;
}

// One box blur along rows (step 4) or columns (step 4 * width), edges held.
void boxBlur(BackdropPicture& p, bool rows) {
    const int lines = rows ? p.height : p.width, length = rows ? p.width : p.height;
    const size_t step = rows ? 4 : size_t(p.width) * 4;
    std::vector<unsigned char> line(size_t(length) * 4);
    for (int l = 0; l < lines; ++l) {
        unsigned char* base = &p.rgba[rows ? size_t(l) * size_t(p.width) * 4 : size_t(l) * 4];
        for (int i = 0; i < length; ++i) std::copy_n(base + size_t(i) * step, 4, &line[size_t(i) * 4]);
        for (int i = 0; i < length; ++i)
            for (int k = 0; k < 3; ++k) {
                int sum = 0;
                for (int d = -kCoverBlurRadius; d <= kCoverBlurRadius; ++d)
                    sum += line[size_t(std::clamp(i + d, 0, length - 1)) * 4 + size_t(k)];
                base[size_t(i) * step + size_t(k)] = static_cast<unsigned char>(sum / (2 * kCoverBlurRadius + 1));
            }
    }
}

}  // namespace

bool loadBackdropImage(const std::string& path, int width, int height, BackdropPicture& out, std::string& error) {
    std::string why;
    const lv::CoverImage file = lv::readCoverFile(path, why);
    if (file.empty()) {
        error = "--background " + path + ": " + (why.empty() ? "not a JPEG or PNG file" : why) +
                "; give a JPEG or PNG picture this user can read (of at most 64 MiB), or a colour as #RRGGBB";
        return false;
    }
    lvimage::Image picture;
    if (!lvimage::decodeImage(file.bytes.data(), file.bytes.size(), &picture, why)) {
        error = "--background " + path + ": " + why + "; give another picture, or a colour as #RRGGBB";
        return false;
    }
    out = cropToCover(picture, width, height);
    return true;
}

BackdropPicture coverBackdrop(const lv::CoverImage& cover, int width, int height) {
    lvimage::Image picture;
    std::string ignored;
    if (cover.empty() || !lvimage::decodeImage(cover.bytes.data(), cover.bytes.size(), &picture, ignored)) return {};
    BackdropPicture out =
        cropToCover(picture, std::max(1, width / kCoverShrink), std::max(1, height / kCoverShrink));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(out, true);
        boxBlur(out, false);
    }
    for (size_t i = 0; i < out.rgba.size(); ++i)
        if (i % 4 != 3) out.rgba[i] = static_cast<unsigned char>(out.rgba[i] * kCoverBrightness / 255);
    return out;
}
