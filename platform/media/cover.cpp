// Covers made small for the track overlay. See lv/media.h.
#include <algorithm>
#include <string>

#include "lv/image.h"
#include "lv/media.h"
#include "lv/video_out.h"

namespace lv {

namespace {

// Each pixel of the w x h result the average of the source pixels it
// covers, colours weighted by their opacity (a clear pixel's colour is no
// colour), so that a large picture shrinks without the shimmer of sampling.
lvimage::Image shrink(const lvimage::Image& in, int w, int h) {
    lvimage::Image out;
    out.width = w;
    out.height = h;
    out.rgba.resize(size_t(w) * h * 4);
    for (int oy = 0; oy < h; ++oy) {
        const int y0 = int(long(oy) * in.height / h), y1 = std::max(y0 + 1, int(long(oy + 1) * in.height / h));
        for (int ox = 0; ox < w; ++ox) {
            const int x0 = int(long(ox) * in.width / w), x1 = std::max(x0 + 1, int(long(ox + 1) * in.width / w));
            unsigned long long sum[4] = {0, 0, 0, 0};
            for (int y = y0; y < y1; ++y) {
                const uint8_t* row = &in.rgba[size_t(y) * in.width * 4];
                for (const uint8_t* px = row + size_t(x0) * 4; px < row + size_t(x1) * 4; px += 4) {
                    for (int k = 0; k < 3; ++k) sum[k] += px[k] * px[3];
                    sum[3] += px[3];
                }
            }
            uint8_t* dst = &out.rgba[(size_t(oy) * w + ox) * 4];
            const unsigned long long n = (unsigned long long)(y1 - y0) * (x1 - x0);
            for (int k = 0; k < 3; ++k) dst[k] = uint8_t(sum[3] ? (sum[k] + sum[3] / 2) / sum[3] : 0);
            dst[3] = uint8_t((sum[3] + n / 2) / n);
        }
    }
    return out;
}

}  // namespace

CoverImage coverForOverlay(const CoverImage& cover) {
    if (cover.empty()) return {};
    lvimage::Image picture;
    std::string ignored;   // a cover that cannot be decoded is no cover, as the overlay would find
    if (!lvimage::decodeImage(cover.bytes.data(), cover.bytes.size(), &picture, ignored)) return {};
    const int longest = std::max(picture.width, picture.height);
    if (longest <= kCoverShownSide) return cover;
    const int w = std::max(1, int(long(picture.width) * kCoverShownSide / longest));
    const int h = std::max(1, int(long(picture.height) * kCoverShownSide / longest));
    const lvimage::Image small = shrink(picture, w, h);
    CoverImage out;
    if (!encodePng(out.bytes, small.rgba.data(), w, h, 4)) return {};
    out.format = ImageFormat::Png;
    return out;
}

const CoverImage& OverlayCovers::prepare(const CoverImage& cover) {
    if (cover.bytes != mLastIn.bytes || cover.format != mLastIn.format) {
        mLastIn = cover;
        mLastOut = coverForOverlay(cover);
    }
    return mLastOut;
}

}  // namespace lv
