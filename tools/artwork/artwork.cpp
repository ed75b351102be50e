// Sprites, the ribbon spectrum, the grey bar and the palettes. Every image is
// a function of pixel position only (no randomness beyond a fixed hash for
// the palettes' texture), so the output is identical on every build.
#include "artwork.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace artwork {

// ---------------------------------------------------------------- Profile

Profile::Profile(std::vector<Point> points) : mPoints(std::move(points)), mSlopes(mPoints.size(), 0.0) {
    const size_t n = mPoints.size();
    if (n < 2) return;
    std::vector<double> d(n - 1);
    for (size_t k = 0; k + 1 < n; ++k) {
        d[k] = (mPoints[k + 1].y - mPoints[k].y) / (mPoints[k + 1].x - mPoints[k].x);
    }
    // The ends are flat: radial profiles then have no cusp at the centre and
    // meet their constant tails smoothly.
    for (size_t k = 1; k + 1 < n; ++k) {
        if (d[k - 1] * d[k] <= 0) continue;
        double h0 = mPoints[k].x - mPoints[k - 1].x;
        double h1 = mPoints[k + 1].x - mPoints[k].x;
        mSlopes[k] = 3.0 * (h0 + h1) / ((2.0 * h1 + h0) / d[k - 1] + (h1 + 2.0 * h0) / d[k]);
    }
}

double Profile::operator()(double x) const {
    if (mPoints.empty()) return 0;
    if (x <= mPoints.front().x) return mPoints.front().y;
    if (x >= mPoints.back().x) return mPoints.back().y;
    size_t k = 0;
    while (x > mPoints[k + 1].x) ++k;
    double h = mPoints[k + 1].x - mPoints[k].x;
    double t = (x - mPoints[k].x) / h;
    double t2 = t * t;
    double t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * mPoints[k].y + (t3 - 2 * t2 + t) * h * mSlopes[k] +
           (-2 * t3 + 3 * t2) * mPoints[k + 1].y + (t3 - t2) * h * mSlopes[k + 1];
}

namespace {

uint8_t toByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

struct RGB { double r, g, b; };

// Three channel profiles sharing their abscissae.
class ColorProfile {
public:
    ColorProfile(const std::vector<std::pair<double, RGB>>& stops)
        : mR(pick(stops, &RGB::r)), mG(pick(stops, &RGB::g)), mB(pick(stops, &RGB::b)) {}
    RGB operator()(double x) const { return {mR(x), mG(x), mB(x)}; }

private:
    static Profile pick(const std::vector<std::pair<double, RGB>>& stops, double RGB::*channel) {
        std::vector<Profile::Point> pts;
        for (const auto& s : stops) pts.push_back({s.first, s.second.*channel});
        return Profile(pts);
    }
    Profile mR, mG, mB;
};

// Writes one RGBA pixel; fully transparent pixels hold white, so that
// linear filtering at a sprite's edge never pulls in a dark fringe.
void putRGBA(Bytes& img, size_t pixel, RGB c, double alpha) {
    uint8_t a = toByte(alpha);
    uint8_t* p = img.data() + 4 * pixel;
    if (a == 0) {
        p[0] = p[1] = p[2] = 255;
    } else {
        p[0] = toByte(c.r);
        p[1] = toByte(c.g);
        p[2] = toByte(c.b);
    }
    p[3] = a;
}

// A square sprite whose colour and alpha depend only on the distance of the
// pixel's centre from the image's centre.
template <typename ColorOf, typename AlphaOf>
Bytes radialImage(int size, ColorOf colorOf, AlphaOf alphaOf) {
    Bytes img(static_cast<size_t>(size) * size * 4);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double r = std::hypot(x + 0.5 - c, y + 0.5 - c);
            putRGBA(img, static_cast<size_t>(y) * size + x, colorOf(r), alphaOf(r));
        }
    }
    return img;
}

const RGB WHITE = {255, 255, 255};

}  // namespace

// ---------------------------------------------------------------- sprites

Bytes orbImage() {
    Profile alpha({{0, 255}, {16, 245}, {32, 147}, {40, 72}, {48, 22}, {56, 3}, {63, 0}});
    return radialImage(128, [](double) { return WHITE; }, alpha);
}

Bytes haloOrbImage() {
    ColorProfile rim({{0, {255, 255, 255}},
                      {8, {255, 255, 255}},
                      {12, {224, 146, 49}},
                      {16, {249, 131, 87}},
                      {34, {249, 131, 87}}});
    Profile glow({{0, 255}, {8, 255}, {12, 169}, {16, 49}, {20, 15}, {27, 4}, {34, 0}});
    // The faint outer ring, a sine-squared bump peaking at r = 50.
    auto ring = [](double r) {
        if (r <= 46 || r >= 54) return 0.0;
        double s = std::sin(M_PI * (r - 46) / 8);
        return 4.0 * s * s;
    };
    return radialImage(
        128, [&](double r) { return r < 34 ? rim(r) : WHITE; },
        [&](double r) { return r < 34 ? glow(r) : ring(r); });
}

Bytes rainbowImage() {
    ColorProfile hue({{0, {33, 100, 211}},
                      {16, {75, 167, 117}},
                      {32, {196, 146, 16}},
                      {48, {247, 65, 0}},
                      {64, {255, 30, 0}}});
    Profile alpha({{0, 255}, {20, 255}, {32, 206}, {40, 111}, {48, 34}, {56, 5}, {64, 0}});
    return radialImage(128, hue, alpha);
}

// No texture is made from the faint ring and nothing draws it; it is kept
// because it is one of the seven images the plug-in carries compiled in.
Bytes haloImage() {
    Profile alpha({{0, 0}, {40, 0}, {42, 15}, {48, 9}, {56, 3}, {64, 0}});
    return radialImage(128, [](double) { return WHITE; }, alpha);
}

// The ribbon texture: the spectrum runs down the rows (the ribbon's length),
// and across the columns (its width) a soft band that is wide and strong at
// the head and thins and fades towards the tail.
Bytes rainbowBlurImage() {
    const int size = 512;
    ColorProfile spectrum({{0, {17, 8, 255}},
                           {96, {0, 128, 216}},
                           {128, {0, 158, 117}},
                           {256, {250, 252, 1}},
                           {320, {255, 121, 0}},
                           {384, {255, 0, 0}},
                           {511, {255, 0, 0}}});
    Profile peak({{0, 255}, {128, 252}, {256, 241}, {384, 156}, {480, 35}, {511, 10}});
    Profile halfWidth({{0, 205}, {32, 205}, {256, 150}, {511, 100}});
    Bytes img(static_cast<size_t>(size) * size * 4);
    const double centre = size / 2.0;
    for (int y = 0; y < size; ++y) {
        RGB c = spectrum(y);
        double a = peak(y);
        double w = halfWidth(y);
        for (int x = 0; x < size; ++x) {
            double dx = std::fabs(x + 0.5 - centre);
            double u = dx / w;
            double edge = 1.0 - std::pow(dx / centre, 6.0);   // reaches 0 at the borders
            putRGBA(img, static_cast<size_t>(y) * size + x, c, a * std::exp(-u * u * u * u) * edge);
        }
    }
    return img;
}

Bytes gradientBarImage() {
    Profile bump({{0, 0}, {32, 58}, {64, 144}, {96, 222}, {124, 255}, {127, 255}});
    Bytes img(256 * 256 * 3);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            uint8_t v = toByte(bump(std::min(x, 255 - x)));
            uint8_t* p = img.data() + 3 * (y * 256 + x);
            p[0] = p[1] = p[2] = v;
        }
    }
    return img;
}

// ---------------------------------------------------------------- palettes
//
// 20 x 20 RGB thumbnails, row 0 at the top. The first twelve pixels of row 0
// are where the background picks its colour, so they stay dark.

namespace {

// A fixed integer hash in [0, 1): grain for the thumbnails, the same on
// every platform (the C library's rand() is not).
double grain(int x, int y, uint32_t salt) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u + salt * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / 16777216.0;
}

RGB mix(RGB a, RGB b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

RGB scaleRGB(RGB c, double k) { return {c.r * k, c.g * k, c.b * k}; }

template <typename PixelOf>
Bytes thumbnail(PixelOf pixelOf) {
    Bytes img(1200);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            RGB c = pixelOf(x, y);
            uint8_t* p = img.data() + 60 * y + 3 * x;
            p[0] = toByte(c.r);
            p[1] = toByte(c.g);
            p[2] = toByte(c.b);
        }
    }
    return img;
}

}  // namespace

// A fire at night seen from the side: embers and dark reds on the left,
// flames rising in the middle, a pale blue sky on the right.
Bytes firePalette() {
    return thumbnail([](int x, int y) -> RGB {
        double n = grain(x, y, 1);
        if (y == 0 && x < 12) {
            // Smoke above the fire: near-blacks and dark reds.
            return (x % 3 == 1) ? RGB{70 + 20 * n, 12 + 8 * n, 6} : RGB{14 + 16 * n, 8 + 6 * n, 6 + 4 * n};
        }
        const double skyEdge = 14.5 + 1.5 * std::sin(y * 0.9);
        if (x > skyEdge) {
            RGB sky = mix({196, 224, 246}, {128, 178, 222}, y / 19.0);
            return scaleRGB(sky, 0.94 + 0.06 * n);
        }
        if (x < 6) {
            RGB ember = mix({40, 8, 4}, {190, 52, 10}, (y / 19.0) * (0.6 + 0.4 * n));
            return mix(ember, {232, 96, 18}, n > 0.85 ? 0.7 : 0.0);
        }
        // Flames: hotter towards the bottom and the middle column.
        double heat = (y / 19.0) * 0.8 + (1.0 - std::fabs(x - 10.0) / 5.0) * 0.35 + 0.15 * n;
        if (heat < 0.35) return mix({60, 10, 6}, {170, 36, 8}, heat / 0.35);
        if (heat < 0.65) return mix({170, 36, 8}, {246, 120, 20}, (heat - 0.35) / 0.3);
        if (heat < 0.9) return mix({246, 120, 20}, {255, 208, 70}, (heat - 0.65) / 0.25);
        return mix({255, 208, 70}, {255, 246, 200}, (heat - 0.9) / 0.3);
    });
}

// Diagonal folds of purple, magenta and lavender over dark blues.
Bytes purplesPalette() {
    return thumbnail([](int x, int y) -> RGB {
        double n = grain(x, y, 2);
        if (y == 0 && x < 12) {
            return (x % 4 == 2) ? RGB{110 + 25 * n, 24 + 12 * n, 58 + 16 * n}   // maroon
                                : RGB{22 + 14 * n, 20 + 12 * n, 92 + 40 * n};   // dark blue
        }
        double fold = 0.5 + 0.5 * std::sin((x + y) * 0.55 + 0.8 * n);
        double depth = 0.5 + 0.5 * std::sin(x * 0.3 - y * 0.45);
        RGB deep = mix({28, 24, 104}, {96, 40, 150}, depth);
        RGB bright = mix({200, 52, 168}, {178, 134, 226}, depth);
        return mix(deep, bright, fold * fold);
    });
}

// Woven dark fabric with red stripes; a pale grey band runs along row 1.
Bytes shirtPalette() {
    return thumbnail([](int x, int y) -> RGB {
        double n = grain(x, y, 3);
        if (y == 0 && x < 12) {
            return x < 9 ? RGB{6 + 10 * n, 6 + 8 * n, 8 + 10 * n} : RGB{72 + 12 * n, 8 + 6 * n, 18 + 8 * n};
        }
        if (y == 1) return RGB{196 + 14 * n, 196 + 14 * n, 200 + 14 * n};
        RGB fabric = {26 + 14 * n, 22 + 12 * n, 30 + 14 * n};
        int column = x % 6;
        if (column == 2 || column == 3) return mix({176, 22, 34}, {226, 48, 52}, n);
        if (column == 4) return mix(fabric, {120, 14, 24}, 0.5);   // the stripe's shadow
        return fabric;
    });
}

std::vector<Asset> allAssets(const std::string& versionText) {
    Bytes purples = purplesPalette();
    return {
        {"orbImage", orbImage(), 128, 128, 4, false, false},
        {"haloOrbImage", haloOrbImage(), 128, 128, 4, false, false},
        {"rainbowImage", rainbowImage(), 128, 128, 4, false, false},
        {"rainbowBlurImage", rainbowBlurImage(), 512, 512, 4, false, false},
        {"gradientBarImage", gradientBarImage(), 256, 256, 3, false, false},
        {"infoPanelImage", infoPanelImage(versionText), 256, 256, 4, false, false},
        {"haloImage", haloImage(), 128, 128, 4, false, false},
        {"fireArray", firePalette(), 20, 20, 3, true, true},
        {"purplesArray", purples, 20, 20, 3, true, true},
        {"orangesArray", purples, 20, 20, 3, true, false},
        {"shirtArray", shirtPalette(), 20, 20, 3, true, false},
    };
}

}  // namespace artwork
