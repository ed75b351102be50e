// The track overlay's textures: the track name, artist and album rendered
// into one 512 x 128 texture, and the cover art decoded into another, each
// padded to powers of two. Built by the message handler on track changes and
// on every new context, with that context current.
//
// The drawing bitmap (BitmapContext) and the handle functions (MacMemory.h)
// stand in for the platform bitmap contexts and memory handles the overlay
// was first written against; text goes through lv/text.h (Pango) and
// pictures through lv/image.h (libjpeg-turbo, libpng).
#pragma once

#include <GL/gl.h>

#include <string>

#include "iTunesAPI.h"

// One texture padded up to powers of two, with the size of the picture in it.
// When upsideDown is false the picture fills the LAST actualHeight rows with
// its top row last (t = 1); when true, the first rows with its top row first.
// Copies share the texture: holders delete it explicitly.
struct PaddedTexture {
    GLuint texID;
    UInt32 paddedWidth;
    UInt32 paddedHeight;
    UInt32 actualWidth;
    UInt32 actualHeight;
    bool upsideDown;

    PaddedTexture() : texID(0), paddedWidth(0), paddedHeight(0), actualWidth(0), actualHeight(0), upsideDown(false) {}

    float GetLeftU() const { return 0.0f; }
    float GetRightU() const { return float(actualWidth) / float(paddedWidth); }
    float GetTopV() const { return upsideDown ? 0.0f : 1.0f; }
    float GetBottomV() const {
        return upsideDown ? float(actualHeight) / float(paddedHeight) : 1.0f - float(actualHeight) / float(paddedHeight);
    }
    void DeleteTexture() {
        if (texID != 0) glDeleteTextures(1, &texID);
        texID = 0;
    }
};

// A zero-filled drawing bitmap: premultiplied RGBA bytes, row 0 at the top,
// drawing coordinates from the bottom left with y upward. The pixel buffer
// belongs to whoever made the context: after releaseBitmapContext they free
// `data` with free().
struct BitmapContext {
    unsigned char* data;
    unsigned long width;
    unsigned long height;
    unsigned long bytesPerRow;
    double fillColor[4];   // straight RGBA, 0..1; opaque black at first
};

// Null when the width cannot be expressed in a 16-bit row length (16384 or
// more), a side is 0, or memory is short.
BitmapContext* createBitmapContext(unsigned long pixelWidth, unsigned long pixelHeight);
void releaseBitmapContext(BitmapContext* ctx);

// Draws a host string (element 0 the length, capped at 255) in the named
// font (a length-prefixed byte string) with its baseline origin at
// (posX, posY) in the bitmap's y-up coordinates, in its fill colour.
void DrawWithATSUI(BitmapContext* ctx, float posX, float posY, const unsigned short* str,
                   const unsigned char* fontName, float fontSize);

// Uploads width x height pixels (RGBA, or RGB without alpha) as a new linear,
// clamped texture; the buffer's first row becomes t = 0. Leaves the texture
// bound and 2-D texturing off. Returns 0; *textureID is 0 when the driver
// refused the picture.
int copyBitmapDataToTexture(unsigned long width, unsigned long height, bool hasAlpha, unsigned char* bitmapData,
                            GLuint* textureID);

// The 512 x 128 name texture: album, artist and track name from top to
// bottom, baselines 18, 36 and 54 rows below the top, in "GillSans" 18.
PaddedTexture CreateTrackNameTexture(const unsigned short* trackName, const unsigned short* artistName,
                                     const unsigned short* albumName);
// Asks the host for the current artwork and decodes it; texID 0 without one.
PaddedTexture CreateCoverArtTexture(void* appCookie, ITAppProcPtr appProc);
// Decodes artwork bytes held in a handle (JPEG or PNG, recognised by their
// content). texID 0 when they cannot be decoded or the picture is too large
// for a texture.
PaddedTexture CreateCoverArtTextureFromHandle(char** coverArtDataHdl, unsigned long coverArtFileType);

// The smallest power of two >= n (1 for 0 and 1); 0 above 2^31, where none fits.
unsigned int pow2Ceil(unsigned int n);
// The four characters of a code, most significant first, and a zero.
void OSTypeToString(unsigned long x, char* dest);
// A host string as UTF-8 (length capped at 255, lone surrogates as U+FFFD).
std::string ITUniStr255ToString(const unsigned short* aStringVal);
