#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QTimer>
#include <memory>

#include "controls/GdiPlusBitmap.h"

// A push button that shows one PNG picture over what its parent shows under it, with four looks
// made from that one picture: normal, pressed (one pixel right and down), hot (brighter, while the
// pointer rests on it) and disabled (grey, half transparent). The looks are made once, on the
// first paint that finds a picture; every later paint copies one of them. Space and Enter press
// it from the keyboard, and a ring over the look shows the keyboard's focus.
class CGdipButton : public QAbstractButton {
    Q_OBJECT

  public:
    enum class Face { None, Normal, Pressed, Hot, Disabled };

    explicit CGdipButton(QWidget* parent = nullptr);
    ~CGdipButton() override;

    // Loads the button's picture, the PNG resource id; the button owns it.
    bool LoadImageResource(unsigned id);
    // The picture is drawn at this scale (1: its own size), for a window that had to shrink to
    // fit its screen; the looks are made again on the next paint.
    void SetPictureScale(double scale);

    // When non-zero the button shows its disabled look, whatever else holds. Whoever enables or
    // disables the button sets it to match first.
    int m_disabledLook = 0;

    // The resource id last loaded, 0 before any.
    unsigned imageId() const { return m_imageId; }
    bool facesBuilt() const { return m_facesBuilt != 0; }
    Face currentFace() const { return m_currentFace; }
    const QImage& face(Face which) const;
    // True while the button has the focus the keyboard brought, and shows its ring.
    bool showsFocusRing() const { return m_focusRing && hasFocus(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    void buildFaces(QPainter& target);
    QImage snapshotOfParent() const;
    QImage faceWith(const QImage& picture, QPoint at) const;
    void markHovering();

    int m_facesBuilt = 0;
    int m_hovering = 0;
    int m_tracking = 0;
    bool m_focusRing = false;
    std::unique_ptr<CGdiPlusBitmapResource> m_image;
    unsigned m_imageId = 0;
    double m_pictureScale = 1.0;
    QImage m_faceBackground;
    QImage m_faceNormal;
    QImage m_facePressed;
    QImage m_faceHot;
    QImage m_faceDisabled;
    Face m_currentFace = Face::None;
    QTimer m_hoverTimer;
};
