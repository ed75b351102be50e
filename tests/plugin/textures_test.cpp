// The overlay's textures, built in a real GL context and read back: the
// padded, flipped and premultiplied cover, and artwork or strings that must
// not be trusted.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "MacMemory.h"
#include "gl_test_env.h"
#include "iTunesUtilities.h"
#include "test_host.h"

using lvtest::RGBA;

namespace {

struct TextureImage {
    int width = 0, height = 0;
    std::vector<RGBA> rgba;   // row 0 is t = 0
    RGBA at(int x, int row) const { return rgba[size_t(row) * width + x]; }
};

TextureImage readTexture(GLuint id) {
    TextureImage t;
    glBindTexture(GL_TEXTURE_2D, id);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &t.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &t.height);
    t.rgba.resize(size_t(t.width) * t.height);
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

std::vector<uint8_t> solidPNG(int w, int h) { return lvtest::makePNG(w, h, lvtest::solid({10, 20, 30, 255})); }

class Textures : public ::testing::Test {
protected:
    void SetUp() override { lvtest::requireGL(); }
};

}  // namespace

TEST(TextureHelpers, PowersOfTwo) {
    const std::pair<unsigned, unsigned> cases[] = {{0, 1},       {1, 1},          {2, 2},           {3, 4},
                                                   {300, 512},   {512, 512},      {513, 1024},      {16383, 16384},
                                                   {1u << 31, 1u << 31}, {(1u << 31) + 1, 0}, {0xFFFFFFFFu, 0}};
    for (auto [n, want] : cases) EXPECT_EQ(pow2Ceil(n), want) << n;
}

// Padded to powers of two, not scaled: where the overlay puts it is checked
// on the screen (overlay_test).
TEST_F(Textures, CoverIsPaddedFlippedIntoTheLastRowsAndPremultiplied) {
    // 3 x 3: top row red, half-transparent green, blue; then white.
    glEnable(GL_TEXTURE_2D);
    const PaddedTexture cover = coverFrom(lvtest::makePNG(3, 3, [](int x, int y) {
        if (y > 0) return RGBA{255, 255, 255, 255};
        return x == 0 ? RGBA{255, 0, 0, 255} : x == 1 ? RGBA{0, 200, 0, 128} : RGBA{0, 0, 255, 255};
    }));
    ASSERT_NE(cover.texID, 0u);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)) << "the next frame's untextured shapes would sample the cover";
    const TextureImage t = readTexture(cover.texID);
    ASSERT_EQ(t.width, 4);
    ASSERT_EQ(t.height, 4);
    // The picture's top row is the texture's last (t = 1); the first stays empty.
    // Green is premultiplied; the padding is transparent.
    for (auto [x, row, want] : {std::tuple{0, 3, RGBA{255, 0, 0, 255}}, {1, 3, RGBA{0, 100, 0, 128}},
                                {2, 3, RGBA{0, 0, 255, 255}}, {0, 1, RGBA{255, 255, 255, 255}}, {3, 1, RGBA{}},
                                {0, 0, RGBA{}}})
        EXPECT_EQ(t.at(x, row), want) << x << ", " << row;
    PaddedTexture deleted = cover;
    deleted.DeleteTexture();
    EXPECT_TRUE(deleted.texID == 0u && !glIsTexture(cover.texID));
}

TEST_F(Textures, UnusableArtworkGivesNoTexture) {
    const std::vector<uint8_t> jpeg = lvtest::makeJPEG(64, 64, lvtest::solid({1, 2, 3, 255}));
    EXPECT_EQ(coverFrom(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 3))).texID, 0u);
    EXPECT_EQ(coverFrom({'n', 'o', 't', ' ', 'a', 'r', 't'}).texID, 0u);
    EXPECT_EQ(coverFrom({}).texID, 0u);
    EXPECT_EQ(CreateCoverArtTextureFromHandle(nullptr, kCoverArtJPEG).texID, 0u);
    // 8193 pixels would pad to 16384, a row the 16-bit bitmap cannot hold;
    // a picture so wide comes out of the decoder scaled down, and shows.
    EXPECT_EQ(createBitmapContext(16384, 1), nullptr);
    EXPECT_NE(coverFrom(solidPNG(8193, 1)).texID, 0u);
    EXPECT_EQ(createBitmapContext(1ul << (sizeof(long) * 8 - 2), 1), nullptr) << "4 x width wraps round to 0";
    // A picture the driver refuses leaves no texture behind to draw as a white box.
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    std::vector<unsigned char> row(size_t(maxSize) * 8, 0);
    GLuint id = 0;
    copyBitmapDataToTexture(unsigned(maxSize) * 2, 1, true, row.data(), &id);
    EXPECT_EQ(id, 0u);
    // The format code is advisory: the bytes say what they are.
    EXPECT_NE(coverFrom(solidPNG(4, 4), kCoverArtJPEG).texID, 0u);
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
    EXPECT_NE(CreateTrackNameTexture(str, empty, empty).texID, 0u);
    EXPECT_EQ(ITUniStr255ToString(str).size(), 255u);
    munmap(base, page * 2);

    // Lone surrogates draw as replacement characters, not as nothing.
    ITUniStr255 broken;
    lvhost::setHostString(broken, {0xD800, u'H', 0xDC00});
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
}
