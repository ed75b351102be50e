// The compiled-in artwork: raw pixels, no header, row 0 first. RGBA images
// hold straight (not premultiplied) alpha. Generated at build time by
// tools/artwork; the running system reads no files.
#pragma once

#include <cstddef>

extern unsigned char orbImage[];          // 128 x 128 RGBA
extern unsigned char haloOrbImage[];      // 128 x 128 RGBA
extern unsigned char rainbowImage[];      // 128 x 128 RGBA
extern unsigned char rainbowBlurImage[];  // 512 x 512 RGBA
extern unsigned char gradientBarImage[];  // 256 x 256 RGB (three bytes a pixel)
extern unsigned char infoPanelImage[];    // 256 x 256 RGBA, then one spare byte
extern unsigned char haloImage[];         // 128 x 128 RGBA

extern const size_t orbImageSize;
extern const size_t haloOrbImageSize;
extern const size_t rainbowImageSize;
extern const size_t rainbowBlurImageSize;
extern const size_t gradientBarImageSize;
extern const size_t infoPanelImageSize;
extern const size_t haloImageSize;

// gradientBarImage expanded to RGBA (alpha 255) for upload: 256 x 256 x 4
// bytes into dest. Reads only the 196608 bytes of the RGB array.
void expandGradientBarToRGBA(unsigned char* dest);
