// lv-icon OUTDIR: the application icon, in the hicolor theme's sizes
// (OUTDIR/<N>x<N>/apps/lumenvortex.png), composed from the compiled-in
// artwork: the coloured orb of the ribbon spectrum, a spiral of particle
// sprites and the glowing orb, on a dark disc. Each size is drawn on its own
// from the sprites rather than scaled down from the largest, so that the
// small ones stay sharp.
#include <cairo.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "imageBinaries.h"

namespace {

constexpr int kSpriteSize = 128;
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};
constexpr int kSpiralSprites = 14;

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// A straight-alpha RGBA sprite as the premultiplied surface Cairo draws.
Surface sprite(const unsigned char* rgba) {
    Surface s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kSpriteSize, kSpriteSize), cairo_surface_destroy);
    cairo_surface_flush(s.get());
    unsigned char* data = cairo_image_surface_get_data(s.get());
    const int stride = cairo_image_surface_get_stride(s.get());
    for (int y = 0; y < kSpriteSize; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        for (int x = 0; x < kSpriteSize; ++x) {
            const unsigned char* p = rgba + 4 * (y * kSpriteSize + x);
            auto pre = [a = p[3]](unsigned char c) { return uint32_t((c * a + 127) / 255); };
            row[x] = uint32_t(p[3]) << 24 | pre(p[0]) << 16 | pre(p[1]) << 8 | pre(p[2]);
        }
    }
    cairo_surface_mark_dirty(s.get());
    return s;
}

struct Colour {
    double r, g, b;
};

// `s` centred on (x, y), `size` across, added to what is there; white
// sprites take `tint`.
void glow(cairo_t* cr, cairo_surface_t* s, double x, double y, double size, double alpha,
          const Colour* tint = nullptr) {
    cairo_save(cr);
    cairo_translate(cr, x - size / 2, y - size / 2);
    cairo_scale(cr, size / kSpriteSize, size / kSpriteSize);
    cairo_set_operator(cr, CAIRO_OPERATOR_ADD);
    if (tint) {
        cairo_set_source_rgba(cr, tint->r, tint->g, tint->b, alpha);
        cairo_pattern_t* mask = cairo_pattern_create_for_surface(s);
        cairo_pattern_set_filter(mask, CAIRO_FILTER_BEST);
        cairo_mask(cr, mask);
        cairo_pattern_destroy(mask);
    } else {
        cairo_set_source_surface(cr, s, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
        cairo_paint_with_alpha(cr, alpha);
    }
    cairo_restore(cr);
}

// The ribbon spectrum's colour at `t` (0 the top of it, blue, 1 the foot, red).
Colour spectrumColour(double t) {
    constexpr int kSize = 512;
    const int y = int(kSize * (0.1 + 0.7 * t));
    const unsigned char* p = rainbowBlurImage + 4 * (y * kSize + kSize / 2);
    return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0};
}

void drawIcon(cairo_t* cr, int size, cairo_surface_t* rainbow, cairo_surface_t* orb, cairo_surface_t* haloOrb) {
    const double c = size / 2.0, r = size * 0.47;
    cairo_arc(cr, c, c, r, 0, 2 * M_PI);
    cairo_clip(cr);
    cairo_pattern_t* night = cairo_pattern_create_radial(c, c, 0, c, c, r);
    cairo_pattern_add_color_stop_rgb(night, 0.0, 0.10, 0.09, 0.22);
    cairo_pattern_add_color_stop_rgb(night, 1.0, 0.02, 0.02, 0.07);
    cairo_set_source(cr, night);
    cairo_paint(cr);
    cairo_pattern_destroy(night);

    glow(cr, rainbow, c, c, 2.0 * r, 0.6);
    // The vortex: particles on a spiral arm, shrinking and warming as they
    // fall inward.
    for (int i = 0; i < kSpiralSprites; ++i) {
        const double t = double(i) / (kSpiralSprites - 1);
        const double angle = 0.5 + 2.6 * M_PI * t;
        const double radius = r * (0.8 - 0.55 * t);
        const Colour tint = spectrumColour(t);
        glow(cr, orb, c + radius * std::cos(angle), c - radius * std::sin(angle), r * (0.5 - 0.25 * t), 0.9, &tint);
    }
    glow(cr, haloOrb, c, c, 1.3 * r, 1.0);
}

bool makeFolders(const std::string& path) {
    for (size_t at = 1; at != std::string::npos; ++at) {
        at = path.find('/', at);
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (at == std::string::npos) break;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lv-icon OUTDIR\n");
        return 2;
    }
    Surface rainbow = sprite(rainbowImage), orb = sprite(orbImage), haloOrb = sprite(haloOrbImage);
    for (int size : kSizes) {
        const std::string side = std::to_string(size);
        const std::string folder = std::string(argv[1]) + "/" + side + "x" + side + "/apps";
        if (!makeFolders(folder)) {
            std::fprintf(stderr, "lv-icon: cannot make %s: %s\n", folder.c_str(), std::strerror(errno));
            return 1;
        }
        Surface icon(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size), cairo_surface_destroy);
        Context cr(cairo_create(icon.get()), cairo_destroy);
        drawIcon(cr.get(), size, rainbow.get(), orb.get(), haloOrb.get());
        const std::string path = folder + "/lumenvortex.png";
        if (cairo_status_t s = cairo_surface_write_to_png(icon.get(), path.c_str()); s != CAIRO_STATUS_SUCCESS) {
            std::fprintf(stderr, "lv-icon: cannot write %s: %s\n", path.c_str(), cairo_status_to_string(s));
            return 1;
        }
    }
    return 0;
}
