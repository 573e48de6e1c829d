#include "controls/GdiPlusBitmap.h"

#include <gtest/gtest.h>

TEST(GdiPlusBitmapResource, LoadsAButtonFaceWithItsTransparentCorners) {
    CGdiPlusBitmapResource bitmap;
    ASSERT_TRUE(bitmap.LoadFromResource(169));
    const QImage* picture = bitmap;
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), QSize(181, 41));
    EXPECT_EQ(qAlpha(picture->pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(picture->pixel(90, 20)), 255);
}

TEST(GdiPlusBitmapResource, AnIdWithoutAPngFailsAndHoldsNothing) {
    CGdiPlusBitmapResource bitmap;
    ASSERT_TRUE(bitmap.LoadFromResource(174));
    EXPECT_FALSE(bitmap.LoadFromResource(179));  // the background: a bitmap, not a PNG
    EXPECT_EQ(bitmap.bitmap(), nullptr);
    EXPECT_FALSE(bitmap.holdsBytes());
    EXPECT_FALSE(bitmap.LoadFromResource(999));
}

TEST(GdiPlusBitmapResource, LoadingAgainReplacesThePicture) {
    CGdiPlusBitmapResource bitmap;
    ASSERT_TRUE(bitmap.LoadFromResource(170));
    const QImage first = *bitmap.bitmap();
    ASSERT_TRUE(bitmap.LoadFromResource(174));
    EXPECT_NE(*bitmap.bitmap(), first);
    bitmap.Clear();
    EXPECT_EQ(bitmap.bitmap(), nullptr);
    CGdiPlusBitmapResource neverLoaded;  // ends without anything to release
}
