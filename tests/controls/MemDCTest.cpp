#include "controls/MemDC.h"

#include <gtest/gtest.h>

TEST(XCMemDC, ShowsTheDrawingOnlyWhenItEnds) {
    QImage target(100, 60, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::white);
    QPainter painter(&target);
    {
        XCMemDC offScreen(painter, QRect(20, 10, 30, 20));
        offScreen.painter().fillRect(QRect(20, 10, 30, 20), Qt::blue);
        offScreen.painter().fillRect(QRect(20, 10, 5, 5), Qt::red);  // target coordinates
        EXPECT_EQ(target.pixel(30, 15), qRgb(255, 255, 255));
    }
    painter.end();
    EXPECT_EQ(target.pixel(30, 15), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(20, 10), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(19, 10), qRgb(255, 255, 255));
    EXPECT_EQ(target.pixel(50, 30), qRgb(255, 255, 255));
}

TEST(XCMemDC, AnAllZeroAreaCoversTheClipArea) {
    QImage target(100, 60, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::white);
    QPainter painter(&target);
    {
        XCMemDC whole(painter, QRect(0, 0, 0, 0));
        EXPECT_EQ(whole.area(), QRect(0, 0, 100, 60));
        whole.painter().fillRect(QRect(0, 0, 100, 60), Qt::white);
    }
    painter.setClipRect(QRect(10, 10, 20, 20));
    {
        XCMemDC clipped(painter, QRect(0, 0, 0, 0));
        EXPECT_EQ(clipped.area(), QRect(10, 10, 20, 20));
        clipped.painter().fillRect(QRect(0, 0, 100, 60), Qt::green);
    }
    painter.end();
    EXPECT_EQ(target.pixel(15, 15), qRgb(0, 255, 0));
    EXPECT_EQ(target.pixel(5, 5), qRgb(255, 255, 255));
}
