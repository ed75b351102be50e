// The overlay's textures, built in a real GL context and read back: padding,
// texture coordinates, the flipped and premultiplied cover, the name
// texture's line layout, and artwork or strings that must not be trusted.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "MacMemory.h"
#include "gl_test_env.h"
#include "iTunesUtilities.h"
#include "test_pictures.h"

using lvtest::RGBA;

namespace {

struct TextureImage {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;   // row 0 is t = 0
    RGBA at(int x, int row) const {
        const uint8_t* p = &rgba[(size_t(row) * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    bool rowHasInk(int row) const {
        for (int x = 0; x < width; ++x)
            if (at(x, row).a > 40) return true;
        return false;
    }
};

TextureImage readTexture(GLuint id) {
    TextureImage t;
    glBindTexture(GL_TEXTURE_2D, id);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &t.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &t.height);
    t.rgba.resize(size_t(t.width) * t.height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, t.rgba.data());
    return t;
}

PaddedTexture coverFrom(const std::vector<uint8_t>& bytes, OSType type = kCoverArtPNG) {
    Handle h = NewHandle(bytes.size());
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    PaddedTexture t = CreateCoverArtTextureFromHandle(h, type);
    DisposeHandle(h);
    return t;
}

std::vector<uint8_t> solidPNG(int w, int h) {
    return lvtest::makePNG(w, h, [](int, int) { return RGBA{10, 20, 30, 255}; });
}

class Textures : public ::testing::Test {
protected:
    void SetUp() override { lvtest::requireGL(); }
};

}  // namespace

TEST(TextureHelpers, PowersOfTwoAndCodes) {
    const std::pair<unsigned, unsigned> cases[] = {{0, 1},       {1, 1},          {2, 2},           {3, 4},
                                                   {300, 512},   {512, 512},      {513, 1024},      {16383, 16384},
                                                   {1u << 31, 1u << 31}, {(1u << 31) + 1, 0}, {0xFFFFFFFFu, 0}};
    for (auto [n, want] : cases) EXPECT_EQ(pow2Ceil(n), want) << n;

    char s[5];
    std::memset(s, 'x', sizeof s);
    OSTypeToString(FourCC("grip"), s);
    EXPECT_STREQ(s, "grip");

    ITUniStr255 str;
    str[0] = 2, str[1] = 'o', str[2] = 'k';
    EXPECT_EQ(ITUniStr255ToString(str), "ok");
}

TEST(TextureHelpers, BitmapContextsStopAtSixteenBitRows) {
    BitmapContext* ctx = createBitmapContext(16383, 2);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->bytesPerRow, 16383u * 4);
    bool zero = true;
    for (size_t i = 0; i < ctx->bytesPerRow * 2; ++i) zero &= ctx->data[i] == 0;
    EXPECT_TRUE(zero);
    unsigned char* data = ctx->data;
    releaseBitmapContext(ctx);
    std::free(data);
    EXPECT_EQ(createBitmapContext(16384, 2), nullptr);
    EXPECT_EQ(createBitmapContext(0, 2), nullptr);
    EXPECT_EQ(createBitmapContext(2, 0), nullptr);
}

TEST_F(Textures, CoverIsPaddedNotScaledWithItsCoordinates) {
    const PaddedTexture jpeg =
        coverFrom(lvtest::makeJPEG(300, 300, [](int x, int y) { return lvtest::quadrant(x, y, 300, 300); }),
                  kCoverArtJPEG);
    ASSERT_NE(jpeg.texID, 0u);
    EXPECT_EQ(jpeg.paddedWidth, 512u);
    EXPECT_EQ(jpeg.paddedHeight, 512u);
    EXPECT_EQ(jpeg.actualWidth, 300u);
    EXPECT_EQ(jpeg.actualHeight, 300u);
    EXPECT_FALSE(jpeg.upsideDown);
    const TextureImage t = readTexture(jpeg.texID);
    EXPECT_EQ(t.width, 512);
    EXPECT_EQ(t.height, 512);

    const PaddedTexture wide = coverFrom(solidPNG(640, 480));
    EXPECT_EQ(wide.paddedWidth, 1024u);
    EXPECT_EQ(wide.paddedHeight, 512u);
    EXPECT_FLOAT_EQ(wide.GetLeftU(), 0.0f);
    EXPECT_FLOAT_EQ(wide.GetRightU(), 0.625f);
    EXPECT_FLOAT_EQ(wide.GetTopV(), 1.0f);
    EXPECT_FLOAT_EQ(wide.GetBottomV(), 0.0625f);

    const PaddedTexture dot = coverFrom(solidPNG(1, 1));
    EXPECT_EQ(dot.paddedWidth, 1u);
    EXPECT_FLOAT_EQ(dot.GetRightU(), 1.0f);
    EXPECT_FLOAT_EQ(dot.GetBottomV(), 0.0f);

    PaddedTexture flipped = wide;
    flipped.upsideDown = true;
    EXPECT_FLOAT_EQ(flipped.GetTopV(), 0.0f);
    EXPECT_FLOAT_EQ(flipped.GetBottomV(), 0.9375f);

    for (PaddedTexture p : {jpeg, wide, dot}) {
        const GLuint id = p.texID;
        p.DeleteTexture();
        EXPECT_EQ(p.texID, 0u);
        EXPECT_FALSE(glIsTexture(id));
    }
}

TEST_F(Textures, CoverIsFlippedIntoTheLastRowsAndPremultiplied) {
    // 3 x 2: top row red, half-transparent green, blue; bottom row white.
    auto pixel = [](int x, int y) {
        if (y == 1) return RGBA{255, 255, 255, 255};
        return x == 0 ? RGBA{255, 0, 0, 255} : x == 1 ? RGBA{0, 200, 0, 128} : RGBA{0, 0, 255, 255};
    };
    const PaddedTexture cover = coverFrom(lvtest::makePNG(3, 2, pixel));
    ASSERT_NE(cover.texID, 0u);
    const TextureImage t = readTexture(cover.texID);
    ASSERT_EQ(t.width, 4);
    ASSERT_EQ(t.height, 2);
    // The picture's top row is the texture's last (t = 1).
    EXPECT_EQ(t.at(0, 1), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(t.at(1, 1), (RGBA{0, 100, 0, 128}));   // premultiplied
    EXPECT_EQ(t.at(2, 1), (RGBA{0, 0, 255, 255}));
    EXPECT_EQ(t.at(0, 0), (RGBA{255, 255, 255, 255}));
    EXPECT_EQ(t.at(3, 0), (RGBA{0, 0, 0, 0})) << "padding is transparent";

    const PaddedTexture tall = coverFrom(solidPNG(2, 3));
    const TextureImage u = readTexture(tall.texID);
    ASSERT_EQ(u.height, 4);
    EXPECT_EQ(u.at(0, 0).a, 0) << "the picture fills the LAST rows; the first stays empty";
    EXPECT_EQ(u.at(0, 1).a, 255);
}

TEST_F(Textures, UnusableArtworkGivesNoTexture) {
    const std::vector<uint8_t> jpeg = lvtest::makeJPEG(64, 64, [](int x, int y) { return lvtest::quadrant(x, y, 64, 64); });
    EXPECT_EQ(coverFrom(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 3))).texID, 0u);
    EXPECT_EQ(coverFrom({'n', 'o', 't', ' ', 'a', 'r', 't'}).texID, 0u);
    EXPECT_EQ(coverFrom({}).texID, 0u);
    EXPECT_EQ(CreateCoverArtTextureFromHandle(nullptr, kCoverArtJPEG).texID, 0u);
    // 8193 pixels pad to 16384, a row the 16-bit bitmap cannot hold; 8192 fits.
    EXPECT_EQ(coverFrom(solidPNG(8193, 1)).texID, 0u);
    EXPECT_NE(coverFrom(solidPNG(8192, 1)).texID, 0u);
    // The format code is advisory: the bytes say what they are.
    EXPECT_NE(coverFrom(solidPNG(4, 4), kCoverArtJPEG).texID, 0u);
}

TEST_F(Textures, TrackNameLinesStackAlbumArtistName) {
    ITUniStr255 name, artist, album;
    auto set = [](ITUniStr255 s, const std::u16string& text) {
        std::memset(s, 0, sizeof(ITUniStr255));
        s[0] = UniChar(text.size());
        std::copy(text.begin(), text.end(), s + 1);
    };
    set(name, u"NNN");
    set(artist, u"");
    set(album, u"AAA");
    const PaddedTexture t = CreateTrackNameTexture(name, artist, album);
    ASSERT_NE(t.texID, 0u);
    EXPECT_EQ(t.paddedWidth, 512u);
    EXPECT_EQ(t.paddedHeight, 128u);
    EXPECT_EQ(t.actualWidth, 512u);
    EXPECT_EQ(t.actualHeight, 54u);
    const TextureImage img = readTexture(t.texID);
    ASSERT_EQ(img.width, 512);
    ASSERT_EQ(img.height, 128);
    // Capitals end on the row above each baseline: album at 18, the empty
    // artist at 36, the track name at 54 (rows from the top, t = 0).
    EXPECT_TRUE(img.rowHasInk(17));
    EXPECT_FALSE(img.rowHasInk(18));
    for (int row = 19; row < 40; ++row) EXPECT_FALSE(img.rowHasInk(row)) << "artist line should be blank: " << row;
    EXPECT_TRUE(img.rowHasInk(53));
    EXPECT_FALSE(img.rowHasInk(54));
    for (int row = 56; row < 128; ++row) ASSERT_FALSE(img.rowHasInk(row)) << row;
    // White, premultiplied, one pixel in from the left.
    int firstInk = 512;
    for (int x = 0; x < 512 && firstInk == 512; ++x)
        if (img.at(x, 50).a > 40) firstInk = x;
    EXPECT_GE(firstInk, 1);
    EXPECT_LE(firstInk, 4);
    const RGBA p = img.at(firstInk, 50);
    EXPECT_EQ(p.r, p.a);
    EXPECT_EQ(p.b, p.a);
}

TEST_F(Textures, DamagedHostStringsStayInsideTheirArrays) {
    // The string ends exactly at a page the process cannot read: a length
    // element above 255 must not send the text engine past element 255.
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    auto* base = static_cast<uint8_t*>(mmap(nullptr, page * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    auto* str = reinterpret_cast<UniChar*>(base + page - sizeof(ITUniStr255));
    for (int i = 1; i < 256; ++i) str[i] = u'W';
    str[0] = 40000;
    ITUniStr255 empty = {0};
    const PaddedTexture t = CreateTrackNameTexture(str, empty, empty);
    EXPECT_NE(t.texID, 0u);
    EXPECT_EQ(ITUniStr255ToString(str).size(), 255u);

    // Lone surrogates draw as replacement characters, not as nothing.
    const UniChar broken[256] = {3, 0xD800, u'H', 0xDC00};
    const PaddedTexture b = CreateTrackNameTexture(broken, empty, empty);
    ASSERT_NE(b.texID, 0u);
    const TextureImage img = readTexture(b.texID);
    int inkColumns = 0;
    for (int x = 0; x < 512; ++x) {
        bool ink = false;
        for (int row = 36; row < 56; ++row) ink |= img.at(x, row).a > 40;
        inkColumns += ink;
    }
    EXPECT_GT(inkColumns, 20) << "three glyphs expected";
    munmap(base, page * 2);
}

TEST_F(Textures, UploadsPutBackTheStateTheyBorrow) {
    unsigned char pixels[2 * 2 * 3] = {0};
    GLuint id = 0;
    glDisable(GL_TEXTURE_2D);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    EXPECT_EQ(copyBitmapDataToTexture(2, 2, false, pixels, &id), 0);
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLint alignment = 0, bound = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(alignment, 4);
    EXPECT_EQ(GLuint(bound), id) << "the new texture stays bound";
    glEnable(GL_TEXTURE_2D);
    copyBitmapDataToTexture(2, 2, false, pixels, &id);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
    glDisable(GL_TEXTURE_2D);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
