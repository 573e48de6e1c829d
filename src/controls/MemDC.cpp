#include "controls/MemDC.h"

#include <QPaintDevice>

namespace {

QRect clipAreaOf(const QPainter& target) {
    if (target.hasClipping()) {
        return target.clipBoundingRect().toAlignedRect();
    }
    const QPaintDevice* device = target.device();
    return device == nullptr ? QRect() : QRect(0, 0, device->width(), device->height());
}

}  // namespace

XCMemDC::XCMemDC(QPainter& target, const QRect& area)
    : m_target(target),
      m_area(area == QRect(0, 0, 0, 0) || area.isNull() ? clipAreaOf(target) : area),
      m_bitmap(m_area.size(), QImage::Format_ARGB32_Premultiplied) {
    m_bitmap.fill(Qt::transparent);
    m_painter = std::make_unique<QPainter>(&m_bitmap);
    m_painter->translate(-m_area.topLeft());
}

XCMemDC::~XCMemDC() {
    m_painter.reset();
    m_target.save();
    m_target.setCompositionMode(QPainter::CompositionMode_Source);
    m_target.drawImage(m_area.topLeft(), m_bitmap);
    m_target.restore();
}
