// The compiled-in help panel: white type on a translucent black backdrop.
#include <gtest/gtest.h>

#include <utility>

#include "imageBinaries.h"

TEST(KitArtwork, HelpPanelIsWhiteTypeOnTranslucentBlack) {
    auto px = [](int x, int y) { return infoPanelImage + 4 * (256 * y + x); };
    for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {0, 255}, {255, 255}, {128, 64}, {4, 140}}) {
        const unsigned char* p = px(x, y);
        EXPECT_EQ(p[0] + p[1] + p[2], 0) << x << "," << y;
        EXPECT_EQ(p[3], 112) << x << "," << y;
    }
    // Nothing but ink over the backdrop: no pixel is thinner than it, and
    // there is near-white ink in the title block and in the key lines below.
    int thinner = 0, titleInk = 0, keyInk = 0;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const unsigned char* p = px(x, y);
            thinner += p[3] < 112;
            bool ink = p[3] >= 200 && p[0] >= 200 && p[1] >= 200 && p[2] >= 200;
            (y < 64 ? titleInk : keyInk) += ink;
        }
    }
    EXPECT_EQ(thinner, 0);
    EXPECT_GT(titleInk, 300);
    EXPECT_GT(keyInk, 7 * 30);
}
