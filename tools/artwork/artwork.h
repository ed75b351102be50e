// The visualizer's compiled-in artwork, drawn from code so that it can be
// made again byte for byte: sprites from radial profiles, the ribbon
// spectrum, the grey bar, the help panel (text through Pango and Cairo) and
// the four 20 x 20 palettes. lv-artwork-gen writes these for the build;
// nothing here runs inside the visualizer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace artwork {

using Bytes = std::vector<uint8_t>;

// One embedded array: its symbol, its pixels and what a person needs to
// look at it.
struct Asset {
    std::string name;      // the C symbol, e.g. "orbImage"
    Bytes data;            // exactly what is compiled in
    int width;
    int height;
    int channels;          // 4 RGBA, 3 RGB
    bool palette;          // compiled as C++ data beside the palette table
    bool fileLocal;        // palettes private to their translation unit
};

// A smooth curve through given (x, y) points, monotone between them
// (Fritsch-Carlson cubic), flat beyond the ends.
class Profile {
public:
    struct Point { double x, y; };
    explicit Profile(std::vector<Point> points);
    double operator()(double x) const;

private:
    std::vector<Point> mPoints;
    std::vector<double> mSlopes;
};

Bytes orbImage();
Bytes haloOrbImage();
Bytes rainbowImage();
Bytes rainbowBlurImage();
Bytes gradientBarImage();
Bytes haloImage();
// 256 x 256 RGBA followed by one spare byte. versionText is shown in grey
// under the product name.
Bytes infoPanelImage(const std::string& versionText);

Bytes firePalette();
Bytes purplesPalette();
Bytes shirtPalette();

// Every image, then the palettes fire, purples, oranges (the purples
// bytes), shirt.
std::vector<Asset> allAssets(const std::string& versionText);

}  // namespace artwork
