// Skin bitmaps from the module's resources, and their pixel copies.
#include <gtest/gtest.h>

#include "SkinBitmap.h"

namespace {

TEST(SkinBitmapTest, LoadSkinBitmapGivesTheResourceAtItsSize) {
    struct Case {
        int id, width, height;
    } cases[] = {{174, 100, 32}, {175, 30, 30}, {176, 100, 32}, {177, 100, 32},
                 {178, 17, 21},  {179, 17, 21}, {180, 17, 21}};
    for (const auto& c : cases) {
        HBITMAP bitmap = LoadSkinBitmap(c.id);
        ASSERT_NE(bitmap, nullptr) << c.id;
        BITMAP info{};
        GetObjectW(bitmap, sizeof(info), &info);
        EXPECT_EQ(info.bmWidth, c.width) << c.id;
        EXPECT_EQ(info.bmHeight, c.height) << c.id;
        DeleteObject(bitmap);
    }
    EXPECT_EQ(LoadSkinBitmap(9999), nullptr);
}

TEST(SkinBitmapTest, PixelsAre32BitTopDownRgbAndAReloadReplacesThem) {
    BMData data;
    EXPECT_EQ(data.hBitmap, nullptr);
    EXPECT_EQ(data.pPixels, nullptr);
    ASSERT_EQ(data.Load(176), 1);
    ASSERT_NE(data.hBitmap, nullptr);
    ASSERT_NE(data.pPixels, nullptr);
    EXPECT_EQ(data.nWidth, 100);
    EXPECT_EQ(data.nHeight, 32);
    // The button face is the header colour: red 0x4A, green 0x47, blue 0xB5.
    EXPECT_EQ(data.pPixels[16 * 100 + 50], 0x004A47B5u);
    // Rounded corners show the footer colour; the top row is the first row.
    EXPECT_EQ(data.pPixels[0], 0x00F7FBFDu);
    EXPECT_EQ(data.pPixels[31 * 100 + 99], 0x00F7FBFDu);
    for (int i = 0; i < 100 * 32; ++i) ASSERT_EQ(data.pPixels[i] >> 24, 0u) << "top byte is 0 at " << i;

    ASSERT_EQ(data.Load(175), 1);
    EXPECT_EQ(data.nWidth, 30);
    EXPECT_EQ(data.nHeight, 30);
    EXPECT_EQ(data.pPixels[8 * 30 + 8], 0x00F0A33Cu) << "the icon's amber";
    EXPECT_EQ(data.pPixels[0], 0x00FFFFFFu) << "pure white";
}

TEST(SkinBitmapTest, AFailedLoadLeavesNothingBehind) {
    BMData data;
    ASSERT_EQ(data.Load(176), 1);
    EXPECT_EQ(data.Load(9999), 0);
    EXPECT_EQ(data.hBitmap, nullptr);
    EXPECT_EQ(data.pPixels, nullptr) << "no stale pixels beside a missing bitmap";
    EXPECT_EQ(data.nWidth, 0);
    EXPECT_EQ(data.nHeight, 0);
    ASSERT_EQ(data.Load(179), 1);
    EXPECT_EQ(data.nWidth, 17);
}

}  // namespace
