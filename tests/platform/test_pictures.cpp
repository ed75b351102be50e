#include "test_pictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <jpeglib.h>

#include "lv/video_out.h"

namespace lvtest {

std::vector<uint8_t> makeJPEG(int width, int height, const PixelFn& pixel, bool cmykAdobe, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    const int components = cmykAdobe ? 4 : 3;
    cinfo.input_components = components;
    cinfo.in_color_space = cmykAdobe ? JCS_CMYK : JCS_RGB;   // CMYK brings the Adobe marker
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    // Full-resolution chroma: colour edges stay where they were drawn.
    for (int i = 0; i < cinfo.num_components; ++i)
        cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    // Adobe CMYK is stored inverted: the colour's bytes are the inks, 255 no black.
    std::vector<uint8_t> row(size_t(width) * components, 255);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x) {
            const RGBA p = pixel(x, int(cinfo.next_scanline));
            std::memcpy(&row[size_t(x) * components], &p, 3);
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

std::vector<uint8_t> makePNG(int width, int height, const PixelFn& pixel) {
    std::vector<RGBA> rgba(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rgba[size_t(y) * width + x] = pixel(x, y);
    std::vector<uint8_t> out;
    if (!lv::encodePng(out, reinterpret_cast<const unsigned char*>(rgba.data()), width, height, 4))
        ADD_FAILURE() << "libpng could not write the test picture";
    return out;
}

namespace {

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

}  // namespace

long peakGrowthMb(const std::function<void()>& body) {
    std::ofstream reset("/proc/self/clear_refs");
    if (!(reset << "5" << std::flush)) return -1;
    const long before = statusKb("VmRSS:");
    body();
    return (statusKb("VmHWM:") - before) / 1024;
}

}  // namespace lvtest
