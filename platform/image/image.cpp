// JPEG and PNG decoding from memory. See lv/image.h.
//
// Both libraries report fatal errors by longjmp. The functions that call
// setjmp hold no C++ objects with destructors of their own: everything they
// allocate is either owned by the caller's Image (which survives the jump) or
// released by hand in the error branch.
#include "lv/image.h"

#include <csetjmp>
#include <cstdio>   // before jpeglib.h, which uses FILE
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <cstring>
#include <string>

namespace lvimage {
namespace {

bool sizeAcceptable(unsigned long w, unsigned long h, std::string& error) {
    if (w == 0 || h == 0) {
        error = "the picture has no pixels";
        return false;
    }
    if (w > unsigned(kMaxSide) || h > unsigned(kMaxSide) || size_t(w) * h > kMaxPixels) {
        error = "the picture is too large: at most 32767 pixels a side and 64 megapixels in all";
        return false;
    }
    return true;
}

bool allocate(Image* out, int w, int h, std::string& error) noexcept {
    try {
        out->rgba.assign(size_t(w) * h * 4, 0);
    } catch (...) {
        error = "out of memory for the picture's pixels";
        return false;
    }
    out->width = w;
    out->height = h;
    return true;
}

// ---------------------------------------------------------------- JPEG

struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool dataEnded;
};

void jpegFatal(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    err->mgr.format_message(cinfo, err->message);
    longjmp(err->jump, 1);
}

void jpegWarning(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    // Level -1 is a warning about the data; the one that matters is the
    // stream ending early, after which the rest of the picture is made up.
    if (level < 0 && err->mgr.msg_code == JWRN_JPEG_EOF) err->dataEnded = true;
    if (level < 0) err->mgr.num_warnings++;
}

// A progressive stream may hold any number of scans, each a pass over the
// whole picture, so a few kilobytes of empty scans can keep the decoder busy
// for minutes. Real pictures have about ten.
constexpr int kMaxJpegScans = 500;

void jpegProgress(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxJpegScans) return;
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxJpegScans);
    longjmp(err->jump, 1);
}

bool decodeJpeg(const uint8_t* data, size_t size, Image* out, std::string& error) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    std::memset(&err, 0, sizeof err);
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegFatal;
    err.mgr.emit_message = jpegWarning;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpegProgress;
    JSAMPROW row[1];
    unsigned char* volatile cmykRow = nullptr;   // volatile: read after a longjmp
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(cmykRow);
        error = std::string("corrupt JPEG: ") + err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, (unsigned long)size);
    jpeg_read_header(&cinfo, TRUE);
    if (!sizeAcceptable(cinfo.image_width, cinfo.image_height, error)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);
    const int w = int(cinfo.output_width), h = int(cinfo.output_height);
    if (!allocate(out, w, h, error)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (cmyk) {
        cmykRow = static_cast<unsigned char*>(std::malloc(size_t(w) * 4));
        if (!cmykRow) {
            jpeg_destroy_decompress(&cinfo);
            error = "out of memory decoding a JPEG";
            return false;
        }
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        unsigned char* dst = out->rgba.data() + size_t(cinfo.output_scanline) * w * 4;
        unsigned char* cmykPixels = cmykRow;
        row[0] = cmyk ? cmykPixels : dst;
        jpeg_read_scanlines(&cinfo, row, 1);
        if (cmyk) {
            // Adobe writes CMYK inverted; the product with K gives RGB.
            const bool inverted = cinfo.saw_Adobe_marker;
            for (int x = 0; x < w; ++x) {
                int c = cmykPixels[x * 4], m = cmykPixels[x * 4 + 1], y = cmykPixels[x * 4 + 2], k = cmykPixels[x * 4 + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                dst[x * 4] = uint8_t(c * k / 255);
                dst[x * 4 + 1] = uint8_t(m * k / 255);
                dst[x * 4 + 2] = uint8_t(y * k / 255);
                dst[x * 4 + 3] = 255;
            }
        }
        if (err.dataEnded) break;
    }
    const bool ended = err.dataEnded;
    if (!ended) jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::free(cmykRow);
    if (ended) {
        error = "truncated JPEG: the data ends before the picture does";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- PNG

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t offset;
    char message[200];
};

void pngRead(png_structp png, png_bytep dst, png_size_t n) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (n > src->size - src->offset) png_error(png, "the data ends before the picture does");
    std::memcpy(dst, src->data + src->offset, n);
    src->offset += n;
}

void pngFatal(png_structp png, png_const_charp message) {
    auto* src = static_cast<PngSource*>(png_get_error_ptr(png));
    if (src) std::snprintf(src->message, sizeof src->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

bool decodePng(const uint8_t* data, size_t size, Image* out, std::string& error) {
    PngSource src{data, size, 0, {0}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, pngFatal, pngWarning);
    if (!png) {
        error = "out of memory decoding a PNG";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    png_bytep* volatile rows = nullptr;   // volatile: read after a longjmp
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::free(rows);
        error = std::string("corrupt PNG: ") + (src.message[0] ? src.message : "out of memory");
        return false;
    }
    png_set_read_fn(png, &src, pngRead);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (!sizeAcceptable(w, h, error)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    const int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    if (png_get_bit_depth(png, info) < 8) png_set_expand(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    png_set_strip_16(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "unsupported PNG pixel layout";
        return false;
    }
    if (!allocate(out, int(w), int(h), error)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    png_bytep* rowList = rows;
    if (!rowList) png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < h; ++y) rowList[y] = out->rgba.data() + size_t(y) * w * 4;
    png_read_image(png, rowList);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    return true;
}

}  // namespace

bool decodeImage(const uint8_t* data, size_t size, Image* out, std::string& error) {
    if (!out) {
        error = "no picture to decode into: pass an Image";
        return false;
    }
    *out = Image();
    bool ok = false;
    switch (lv::sniffImageFormat(data, size)) {
    case lv::ImageFormat::Jpeg:
        ok = decodeJpeg(data, size, out, error);
        break;
    case lv::ImageFormat::Png:
        ok = decodePng(data, size, out, error);
        break;
    case lv::ImageFormat::NoImage:
        error = "not a JPEG or PNG picture";
        break;
    }
    if (!ok) *out = Image();
    return ok;
}

}  // namespace lvimage
