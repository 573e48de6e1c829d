#include "controls/FocusRing.h"

#include <QColor>
#include <QPen>

namespace {

// Over 3:1 against black and white alike (WCAG 2.4.7 and 1.4.11) comes only from two lines.
const QColor kRingLight(255, 255, 255);
const QColor kRingDark(0, 0, 0);
constexpr int kLightWidth = 2;
constexpr int kDarkWidth = 1;

}  // namespace

void drawFocusRing(QPainter& painter, const QRect& area) {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    // A pen of width w drawn on a rectangle straddles its edge; each line is kept inside.
    QPen light(kRingLight, kLightWidth);
    light.setJoinStyle(Qt::MiterJoin);
    painter.setPen(light);
    painter.drawRect(QRectF(area).adjusted(kLightWidth / 2.0, kLightWidth / 2.0, -kLightWidth / 2.0,
                                           -kLightWidth / 2.0));
    QPen dark(kRingDark, kDarkWidth);
    dark.setJoinStyle(Qt::MiterJoin);
    painter.setPen(dark);
    const double inset = kLightWidth + kDarkWidth / 2.0;
    painter.drawRect(QRectF(area).adjusted(inset, inset, -inset, -inset));
    painter.restore();
}

bool showsFocusRingAfter(Qt::FocusReason reason, bool showedBefore) {
    switch (reason) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            return true;
        case Qt::MouseFocusReason:
            return false;
        default:
            return showedBefore;
    }
}
