// lv-artwork-preview OUTDIR: writes the compiled-in artwork as PNG files for
// a person to look at. Each RGBA image is written twice: as stored
// (<name>.png) and laid over a dark checkerboard (<name>-over-dark.png), where
// white sprites and faint alphas can be seen. Palettes are scaled up 16 times.
// Exit status 1, with the reason, when a file cannot be written.
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "colors.h"
#include "imageBinaries.h"

namespace {

bool writePNG(const std::string& path, const unsigned char* pixels, int w, int h, int channels) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "lv-artwork-preview: cannot write %s: check that the folder exists and is writable\n",
                     path.c_str());
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        std::fprintf(stderr, "lv-artwork-preview: libpng failed on %s\n", path.c_str());
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        png_write_row(png, const_cast<png_bytep>(pixels + static_cast<size_t>(y) * w * channels));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// Straight-alpha RGBA over a checkerboard of two dark greys.
std::vector<unsigned char> overDark(const unsigned char* rgba, int w, int h) {
    std::vector<unsigned char> out(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned char* p = rgba + 4 * (static_cast<size_t>(y) * w + x);
            int bg = ((x / 8 + y / 8) % 2) ? 40 : 24;
            for (int c = 0; c < 3; ++c) {
                out[3 * (static_cast<size_t>(y) * w + x) + c] =
                    static_cast<unsigned char>((p[c] * p[3] + bg * (255 - p[3]) + 127) / 255);
            }
        }
    }
    return out;
}

std::vector<unsigned char> scaledUp(const unsigned char* rgb, int w, int h, int k) {
    std::vector<unsigned char> out(static_cast<size_t>(w) * k * h * k * 3);
    for (int y = 0; y < h * k; ++y) {
        for (int x = 0; x < w * k; ++x) {
            for (int c = 0; c < 3; ++c) {
                out[3 * (static_cast<size_t>(y) * w * k + x) + c] = rgb[3 * ((y / k) * w + x / k) + c];
            }
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lv-artwork-preview OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    struct Image {
        const char* name;
        const unsigned char* data;
        int size;
    };
    const Image images[] = {
        {"orbImage", orbImage, 128},         {"haloOrbImage", haloOrbImage, 128},
        {"rainbowImage", rainbowImage, 128}, {"rainbowBlurImage", rainbowBlurImage, 512},
        {"infoPanelImage", infoPanelImage, 256}, {"haloImage", haloImage, 128},
    };
    bool ok = true;
    for (const Image& im : images) {
        ok = writePNG(dir + "/" + im.name + ".png", im.data, im.size, im.size, 4) && ok;
        ok = writePNG(dir + "/" + im.name + "-over-dark.png", overDark(im.data, im.size, im.size).data(), im.size,
                      im.size, 3) && ok;
    }
    ok = writePNG(dir + "/gradientBarImage.png", gradientBarImage, 256, 256, 3) && ok;
    const char* paletteNames[4] = {"fireArray", "purplesArray", "orangesArray", "shirtArray"};
    for (int i = 0; i < 4; ++i) {
        ok = writePNG(dir + "/" + paletteNames[i] + ".png", scaledUp(imageData[i], 20, 20, 16).data(), 320, 320, 3) &&
             ok;
    }
    if (!ok) return 1;
    std::printf("lv-artwork-preview: wrote %zu images and 4 palettes to %s\n", sizeof images / sizeof images[0] + 1,
                dir.c_str());
    return 0;
}
