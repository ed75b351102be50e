// Cover-art bytes through the picture decoder (libjpeg-turbo, libpng): any
// bytes give a whole picture within the size limits, or a refusal that
// leaves nothing behind and says why.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "lv/image.h"

namespace {

// The one place that knows how the decoder reports its failures.
bool decode(const uint8_t* data, size_t size, lvimage::Image* picture, std::string* why) {
    return lvimage::decodeImage(data, size, picture, *why);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lvimage::Image picture;
    std::string why;
    if (!decode(data, size, &picture, &why)) {
        FUZZ_CHECK(!why.empty());
        FUZZ_CHECK(picture.rgba.empty());
        return 0;
    }
    FUZZ_CHECK(lv::sniffImageFormat(data, size) != lv::ImageFormat::NoImage);
    FUZZ_CHECK(picture.width > 0 && picture.height > 0);
    FUZZ_CHECK(picture.width <= lvimage::kMaxSide && picture.height <= lvimage::kMaxSide);
    FUZZ_CHECK(size_t(picture.width) * size_t(picture.height) <= lvimage::kMaxPixels);
    FUZZ_CHECK(picture.rgba.size() == size_t(picture.width) * size_t(picture.height) * 4);
    return 0;
}
