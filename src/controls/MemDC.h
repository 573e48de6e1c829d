#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <memory>

// Drawing that stands in for a target for one drawing job: everything drawn through painter()
// goes to an off-screen picture of the area, in the target's coordinates, and reaches the target
// in one step when the object ends. An all-zero area stands for the target's clip area.
class XCMemDC {
  public:
    XCMemDC(QPainter& target, const QRect& area);
    XCMemDC(const XCMemDC&) = delete;
    XCMemDC& operator=(const XCMemDC&) = delete;
    ~XCMemDC();

    QPainter& painter() { return *m_painter; }
    const QRect& area() const { return m_area; }
    // What has been drawn so far, the area's top left corner at (0, 0).
    const QImage& picture() const { return m_bitmap; }

  private:
    QPainter& m_target;
    QRect m_area;
    QImage m_bitmap;
    std::unique_ptr<QPainter> m_painter;
};
