// The grey bar is stored as RGB; textures are made from RGBA.
#include "imageBinaries.h"

void expandGradientBarToRGBA(unsigned char* dest) {
    const unsigned char* src = gradientBarImage;
    for (size_t i = 0; i < 256 * 256; ++i) {
        dest[4 * i + 0] = src[3 * i + 0];
        dest[4 * i + 1] = src[3 * i + 1];
        dest[4 * i + 2] = src[3 * i + 2];
        dest[4 * i + 3] = 255;
    }
}
