#include "controls/GdipButton.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "controls/ColourMatrix.h"
#include "controls/FocusRing.h"
#include "controls/MemDC.h"

CGdipButton::CGdipButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(1);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CGdipButton::markHovering);
}

CGdipButton::~CGdipButton() = default;

bool CGdipButton::LoadImageResource(unsigned id) {
    m_image = std::make_unique<CGdiPlusBitmapResource>();
    m_imageId = id;
    // A new picture after the looks were made: they are made again from it on the next paint.
    m_faceNormal = QImage();
    m_facesBuilt = 0;
    update();
    return m_image->LoadFromResource(id);
}

void CGdipButton::SetPictureScale(double scale) {
    m_pictureScale = scale;
    m_faceBackground = QImage();
    m_faceNormal = QImage();
    m_facesBuilt = 0;
    update();
}

const QImage& CGdipButton::face(Face which) const {
    static const QImage kNone;
    switch (which) {
        case Face::Normal:
            return m_faceNormal;
        case Face::Pressed:
            return m_facePressed;
        case Face::Hot:
            return m_faceHot;
        case Face::Disabled:
            return m_faceDisabled;
        case Face::None:
            break;
    }
    return kNone;
}

QImage CGdipButton::snapshotOfParent() const {
    QImage snapshot(size(), QImage::Format_ARGB32_Premultiplied);
    snapshot.fill(Qt::transparent);
    if (parentWidget() != nullptr) {
        // The parent alone, without its children: what it paints where the button stands.
        parentWidget()->render(&snapshot, QPoint(), QRegion(geometry()),
                               QWidget::DrawWindowBackground);
    }
    return snapshot;
}

QImage CGdipButton::faceWith(const QImage& picture, QPoint at) const {
    QImage face = m_faceBackground;
    QPainter painter(&face);
    if (m_pictureScale == 1.0) {
        painter.drawImage(at, picture);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(at, QSizeF(picture.size()) * m_pictureScale), picture);
    }
    return face;
}

void CGdipButton::buildFaces(QPainter& target) {
    XCMemDC offScreen(target, rect());
    if (m_faceBackground.isNull()) {
        m_faceBackground = snapshotOfParent();
    }
    if (m_faceNormal.isNull()) {
        // A picture that failed to load draws nothing: every face is then the background.
        const QImage picture = m_image->bitmap() != nullptr ? *m_image->bitmap() : QImage();
        const auto capture = [&offScreen](const QImage& face) {
            offScreen.painter().drawImage(0, 0, face);
            return offScreen.picture().copy();
        };
        m_faceNormal = capture(faceWith(picture, QPoint(0, 0)));
        m_facePressed = capture(faceWith(picture, QPoint(1, 1)));
        m_faceHot = capture(faceWith(applyColourMatrix(picture, kHotMatrix), QPoint(0, 0)));
        m_faceDisabled =
            capture(faceWith(applyColourMatrix(picture, kDisabledMatrix), QPoint(0, 0)));
    }
    if (m_currentFace == Face::None) {
        m_currentFace = Face::Normal;
    }
    m_facesBuilt = 1;
}

void CGdipButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    if (m_facesBuilt == 0) {
        if (!m_image) {
            return;  // no picture: the button paints nothing of its own
        }
        buildFaces(painter);
    }
    if (m_disabledLook != 0) {
        m_currentFace = Face::Disabled;
    } else if (isDown()) {
        m_currentFace = Face::Pressed;
    } else if (m_hovering != 0) {
        m_currentFace = Face::Hot;
    } else {
        m_currentFace = Face::Normal;
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, face(m_currentFace));
    if (showsFocusRing()) {
        drawFocusRing(painter, rect());
    }
}

void CGdipButton::enterEvent(QEnterEvent* event) {
    if (m_tracking == 0 && isEnabled()) {
        m_tracking = 1;
        m_hoverTimer.start();
    }
    QAbstractButton::enterEvent(event);
}

void CGdipButton::leaveEvent(QEvent* event) {
    m_hoverTimer.stop();
    m_tracking = 0;
    m_hovering = 0;
    update();
    QAbstractButton::leaveEvent(event);
}

void CGdipButton::markHovering() {
    m_hovering = 1;
    update();
}

void CGdipButton::mouseDoubleClickEvent(QMouseEvent* event) {
    // A quick second click presses the button again.
    mousePressEvent(event);
}

void CGdipButton::keyPressEvent(QKeyEvent* event) {
    // Enter presses the focused button as Space does; a held key presses it once.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat()) {
            click();
        }
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void CGdipButton::focusInEvent(QFocusEvent* event) {
    m_focusRing = showsFocusRingAfter(event->reason(), m_focusRing);
    QAbstractButton::focusInEvent(event);
}
