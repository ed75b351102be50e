/* Which picture format a run of bytes holds, told by the bytes' own
 * signature (never by a file name or a host's type code): the one sniffer
 * of the system. Header-only, so that layers which only carry pictures (the
 * media layer's covers, hosts answering "covr") need no decoder.
 *
 * Who calls it. The image decoder (lv/image.h), the media layer (covers in
 * tags and beside tracks) and the player's host. NoImage for null, short or
 * unknown bytes; it never fails otherwise.
 */
#pragma once

#include <cstddef>
#include <cstring>

namespace lv {

enum class ImageFormat { NoImage, Jpeg, Png };

inline ImageFormat sniffImageFormat(const unsigned char* bytes, size_t size) {
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!bytes) return ImageFormat::NoImage;
    if (size >= 8 && std::memcmp(bytes, kPng, 8) == 0) return ImageFormat::Png;
    if (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return ImageFormat::Jpeg;
    return ImageFormat::NoImage;
}

}  // namespace lv
