// JPEG and PNG decoding from memory. See lv/image.h.
//
// Both libraries report fatal errors by longjmp. The functions that call
// setjmp hold no C++ objects with destructors of their own: everything they
// allocate is either owned by the caller's Image (which survives the jump) or
// released by hand in the error branch.
#include "lv/image.h"

#include <algorithm>
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

// Larger pictures are decoded scaled down so that no side is longer than
// this where it can be (JPEGs by libjpeg, by 1/2 to 1/8; PNGs row by row):
// a cover is drawn 64 pixels wide.
constexpr unsigned kMaxDecodedSide = 1024;

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
// whole picture (or one colour of it), so a few kilobytes of empty scans can
// keep the decoder busy for minutes. Real pictures have about ten. The work
// is bounded by the scans and by the blocks they pass over, together: a
// normal progression of the largest picture kJpegScanMemory admits passes
// over some five million blocks.
constexpr int kMaxJpegScans = 500;
constexpr long long kMaxJpegScanBlocks = 8LL << 20;
// A multi-scan JPEG keeps every block's coefficients until its last scan,
// whatever size it is decoded at: 128 bytes a block, claimed by the header.
constexpr size_t kJpegScanMemory = size_t(128) << 20;

// libjpeg's progress record, with the work done so far.
struct JpegProgress {
    jpeg_progress_mgr mgr;   // first: libjpeg sees only this
    int scan = 0;
    long long blocks = 0;
};

void jpegProgress(j_common_ptr common) {
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto* progress = reinterpret_cast<JpegProgress*>(cinfo->progress);
    if (cinfo->input_scan_number == progress->scan) return;
    // A new scan has started; its size is known from its header.
    progress->scan = cinfo->input_scan_number;
    progress->blocks += (long long)cinfo->MCUs_per_row * cinfo->MCU_rows_in_scan * cinfo->blocks_in_MCU;
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    if (progress->scan > kMaxJpegScans)
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxJpegScans);
    else if (progress->blocks > kMaxJpegScanBlocks)
        std::snprintf(err->message, sizeof err->message,
                      "%d scans over a %u x %u picture, far more work than a picture needs", progress->scan,
                      cinfo->image_width, cinfo->image_height);
    else
        return;
    longjmp(err->jump, 1);
}

// After the header: false (with `error` said) for a multi-scan JPEG whose
// coefficients would not fit kJpegScanMemory; else the scale it decodes at.
bool planJpegDecode(jpeg_decompress_struct& cinfo, std::string& error) {
    size_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i)
        blocks += size_t(cinfo.comp_info[i].width_in_blocks) * cinfo.comp_info[i].height_in_blocks;
    const size_t scanMemory = blocks * DCTSIZE2 * sizeof(JCOEF);
    if (jpeg_has_multiple_scans(&cinfo) && scanMemory > kJpegScanMemory) {
        error = "the JPEG is too large to decode: its scans need " + std::to_string(scanMemory >> 20) +
                 " MB, and at most " + std::to_string(kJpegScanMemory >> 20) + " MB are allowed";
        return false;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    const unsigned longest = std::max(cinfo.image_width, cinfo.image_height);
    while (cinfo.scale_denom < 8 && (longest + cinfo.scale_denom - 1) / cinfo.scale_denom > kMaxDecodedSide)
        cinfo.scale_denom *= 2;
    return true;
}

bool decodeJpeg(const uint8_t* data, size_t size, Image* out, std::string& error) {
    jpeg_decompress_struct cinfo;
    JpegError err;
    std::memset(&err, 0, sizeof err);
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = jpegFatal;
    err.mgr.emit_message = jpegWarning;
    JpegProgress progress{};
    progress.mgr.progress_monitor = jpegProgress;
    JSAMPROW row[1];
    unsigned char* volatile cmykRow = nullptr;   // volatile: read after a longjmp
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(cmykRow);
        error = std::string("corrupt JPEG: ") + err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.mgr;
    // libjpeg's own backstop, a little above the check below for its other needs.
    cinfo.mem->max_memory_to_use = long(kJpegScanMemory + (size_t(16) << 20));
    jpeg_mem_src(&cinfo, data, (unsigned long)size);
    jpeg_read_header(&cinfo, TRUE);
    if (!sizeAcceptable(cinfo.image_width, cinfo.image_height, error) || !planJpegDecode(cinfo, error)) {
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

constexpr png_uint_32 kPngChunkCacheMax = 32;
constexpr png_alloc_size_t kPngChunkMallocMax = 1 << 20;

// Rows of a PNG `factor` times larger than `out` on each side, read one at a
// time into `row` and averaged a factor x factor block to a pixel through
// `sums`: the full-size picture is never held.
void readPngScaled(png_structp png, png_uint_32 w, png_uint_32 h, png_uint_32 factor, png_bytep row, uint32_t* sums,
                   Image* out) {
    const size_t outW = size_t(out->width);
    for (png_uint_32 y = 0; y < h; ++y) {
        png_read_row(png, row, nullptr);
        for (png_uint_32 x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) sums[size_t(x / factor) * 4 + c] += row[size_t(x) * 4 + c];
        if ((y + 1) % factor != 0 && y + 1 != h) continue;
        const png_uint_32 rows = y % factor + 1;
        uint8_t* dst = out->rgba.data() + size_t(y / factor) * outW * 4;
        for (size_t ox = 0; ox < outW; ++ox) {
            const uint32_t n = rows * std::min<png_uint_32>(factor, w - png_uint_32(ox) * factor);
            for (int c = 0; c < 4; ++c) dst[ox * 4 + c] = uint8_t((sums[ox * 4 + c] + n / 2) / n);
        }
        std::fill(sums, sums + outW * 4, 0u);
    }
}

bool decodePng(const uint8_t* data, size_t size, Image* out, std::string& error) {
    PngSource src{data, size, 0, {0}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, pngFatal, pngWarning);
    if (!png) {
        error = "out of memory decoding a PNG";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    void* volatile scratch = nullptr;   // volatile: read after a longjmp
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        std::free(scratch);
        error = std::string("corrupt PNG: ") + (src.message[0] ? src.message : "out of memory");
        return false;
    }
    png_set_read_fn(png, &src, pngRead);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    // Only the pixels are used. Every other chunk (text, colour profiles,
    // unknown ones) is skipped without being inflated or kept, since a file
    // of compressed text can take minutes and gigabytes to unpack, and no
    // chunk may ask for much memory.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(png, kPngChunkCacheMax);
    png_set_chunk_malloc_max(png, kPngChunkMallocMax);
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
    const bool interlaced = png_set_interlace_handling(png) > 1;
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "unsupported PNG pixel layout";
        return false;
    }
    // An interlaced picture's passes each cover the whole of it, so it is
    // only decoded at full size, and only up to kMaxFullSizePixels.
    const png_uint_32 factor = interlaced ? 1 : (std::max(w, h) + kMaxDecodedSide - 1) / kMaxDecodedSide;
    if (interlaced && size_t(w) * h > kMaxFullSizePixels) {
        png_destroy_read_struct(&png, &info, nullptr);
        error = "the picture is too large: an interlaced PNG may have at most " +
                std::to_string(kMaxFullSizePixels >> 20) + " megapixels (save it without interlacing)";
        return false;
    }
    if (!allocate(out, int((w + factor - 1) / factor), int((h + factor - 1) / factor), error)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    if (factor > 1) {
        const size_t sumsBytes = size_t(out->width) * 4 * sizeof(uint32_t);
        scratch = std::calloc(1, sumsBytes + size_t(w) * 4);
        if (!scratch) png_error(png, "out of memory");
        uint32_t* sums = static_cast<uint32_t*>(scratch);
        readPngScaled(png, w, h, factor, reinterpret_cast<png_bytep>(sums) + sumsBytes, sums, out);
    } else {
        scratch = std::malloc(sizeof(png_bytep) * h);
        png_bytep* rowList = static_cast<png_bytep*>(scratch);
        if (!rowList) png_error(png, "out of memory");
        for (png_uint_32 y = 0; y < h; ++y) rowList[y] = out->rgba.data() + size_t(y) * w * 4;
        png_read_image(png, rowList);
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(scratch);
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
