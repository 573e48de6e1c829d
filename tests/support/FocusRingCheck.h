#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <vector>

namespace kestova::testing {

// A parent that paints the window's background picture as the window does, so that its controls
// stand on what they stand on in the window.
class BackgroundPictureParent : public QWidget {
  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter(this).drawImage(QPoint(0, 0), QImage(QStringLiteral(":/bitmap/179.png")));
    }
};

// The relative luminance of a colour, as WCAG 2 reckons it.
inline double relativeLuminance(QRgb colour) {
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(colour)) + 0.7152 * linear(qGreen(colour)) +
           0.0722 * linear(qBlue(colour));
}

// The contrast ratio of two colours, 1 to 21.
inline double contrastRatio(QRgb a, QRgb b) {
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The places along a control's border where a ring is looked for, each with the one just inside
// it: the middle of every side and the four corners.
inline std::vector<std::pair<QPoint, QPoint>> ringPlaces(QSize size) {
    const int right = size.width() - 1;
    const int bottom = size.height() - 1;
    const int midX = size.width() / 2;
    const int midY = size.height() / 2;
    return {{{midX, 0}, {midX, 2}},
            {{midX, bottom}, {midX, bottom - 2}},
            {{0, midY}, {2, midY}},
            {{right, midY}, {right - 2, midY}},
            {{0, 0}, {2, 2}},
            {{right, bottom}, {right - 2, bottom - 2}},
            {{right, 0}, {right - 2, 2}},
            {{0, bottom}, {2, bottom - 2}}};
}

// True when, at every place along the border, the focused picture differs from the unfocused one
// by at least 3:1 (the contrast WCAG asks of a focus indicator against what it covers), on the
// border itself or just inside it.
inline bool ringStandsOut(const QImage& unfocused, const QImage& focused) {
    const std::vector<std::pair<QPoint, QPoint>> places = ringPlaces(unfocused.size());
    return std::all_of(places.begin(), places.end(), [&](const std::pair<QPoint, QPoint>& place) {
        const auto ratioAt = [&](QPoint p) {
            return contrastRatio(unfocused.pixel(p), focused.pixel(p));
        };
        return std::max(ratioAt(place.first), ratioAt(place.second)) >= 3.0;
    });
}

}  // namespace kestova::testing
