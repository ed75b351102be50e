// The compiled-in help panel: white type on a translucent black backdrop.
#include <gtest/gtest.h>

#include "imageBinaries.h"

TEST(KitArtwork, HelpPanelIsWhiteTypeOnTranslucentBlack) {
    // The corners are bare backdrop; no pixel is thinner than it, and there
    // is near-white ink in the title block and in the key lines below.
    int bareCorners = 0, thinner = 0, ink[2] = {0, 0};
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const unsigned char* p = infoPanelImage + 4 * (256 * y + x);
            bareCorners += (x % 255 == 0 && y % 255 == 0) && p[0] + p[1] + p[2] == 0 && p[3] == 112;
            thinner += p[3] < 112;
            ink[y >= 64] += p[3] >= 200 && p[0] >= 200 && p[1] >= 200 && p[2] >= 200;
        }
    }
    EXPECT_EQ(bareCorners, 4);
    EXPECT_EQ(thinner, 0);
    EXPECT_GT(ink[0], 300);
    EXPECT_GT(ink[1], 7 * 30);
}
