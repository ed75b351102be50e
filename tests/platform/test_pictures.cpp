#include "test_pictures.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <jpeglib.h>
#include <png.h>

namespace lvtest {

std::vector<uint8_t> makeJPEG(int width, int height, const PixelFn& pixel, int quality, JpegKind kind) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    const int components = kind == JpegKind::Grey ? 1 : kind == JpegKind::CMYKAdobe ? 4 : 3;
    cinfo.input_components = components;
    cinfo.in_color_space = kind == JpegKind::Grey ? JCS_GRAYSCALE : kind == JpegKind::CMYKAdobe ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // Full-resolution chroma: colour edges stay where they were drawn.
    for (int i = 0; i < cinfo.num_components; ++i)
        cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x) {
            const RGBA p = pixel(x, int(cinfo.next_scanline));
            uint8_t* out = &row[size_t(x) * components];
            if (kind == JpegKind::Grey) {
                out[0] = p.r;
            } else if (kind == JpegKind::CMYKAdobe) {
                // Adobe CMYK is stored inverted: 255 is no ink.
                out[0] = p.r;
                out[1] = p.g;
                out[2] = p.b;
                out[3] = 255;
            } else {
                out[0] = p.r;
                out[1] = p.g;
                out[2] = p.b;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

namespace {
void pngWrite(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void pngFlush(png_structp) {}
}  // namespace

std::vector<uint8_t> makePNG(int width, int height, const PixelFn& pixel, PngKind kind) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test picture";
        return {};
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    std::map<uint32_t, int> index;
    if (kind == PngKind::PaletteWithTransparency) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const RGBA p = pixel(x, y);
                const uint32_t key = uint32_t(p.r) << 24 | p.g << 16 | p.b << 8 | p.a;
                if (index.count(key) || index.size() == 256) continue;
                index[key] = int(palette.size());
                palette.push_back(png_color{p.r, p.g, p.b});
                paletteAlpha.push_back(p.a);
            }
    }
    const int colorType = kind == PngKind::RGBA8 ? PNG_COLOR_TYPE_RGBA
                          : kind == PngKind::Grey16 ? PNG_COLOR_TYPE_GRAY
                                                    : PNG_COLOR_TYPE_PALETTE;
    png_set_IHDR(png, info, width, height, kind == PngKind::Grey16 ? 16 : 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (kind == PngKind::PaletteWithTransparency) {
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
        png_set_tRNS(png, info, paletteAlpha.data(), int(paletteAlpha.size()), nullptr);
    }
    png_write_info(png, info);
    std::vector<uint8_t> row(size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const RGBA p = pixel(x, y);
            if (kind == PngKind::RGBA8) {
                std::memcpy(&row[size_t(x) * 4], &p, 4);
            } else if (kind == PngKind::Grey16) {
                row[size_t(x) * 2] = p.r;       // big-endian 16-bit: high byte first
                row[size_t(x) * 2 + 1] = p.r;
            } else {
                const uint32_t key = uint32_t(p.r) << 24 | p.g << 16 | p.b << 8 | p.a;
                row[x] = uint8_t(index.count(key) ? index[key] : 0);
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

RGBA quadrant(int x, int y, int width, int height) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    if (!right && !bottom) return {255, 0, 0, 255};
    if (right && !bottom) return {0, 255, 0, 255};
    if (!right) return {0, 0, 255, 255};
    return {255, 255, 255, 255};
}

}  // namespace lvtest
