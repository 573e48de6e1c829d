#include "controls/GdipButton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <string>

#include "controls/ColourMatrix.h"
#include "controls/GdiPlusBitmap.h"
#include "support/FocusRingCheck.h"

namespace {

// A parent that paints one known colour where its buttons stand.
class PlainParent : public QWidget {
  public:
    QColor colour{10, 200, 30};

  protected:
    void paintEvent(QPaintEvent* /*event*/) override { QPainter(this).fillRect(rect(), colour); }
};

class ImageButton : public ::testing::Test {
  protected:
    void SetUp() override {
        parent_.resize(300, 100);
        button_ = new CGdipButton(&parent_);
        button_->setGeometry(40, 30, 183, 42);
        ASSERT_TRUE(button_->LoadImageResource(174));
        ASSERT_TRUE(picture_.LoadFromResource(174));
        parent_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent_));
    }

    // What the button shows now.
    QImage shown() { return button_->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    PlainParent parent_;
    CGdipButton* button_ = nullptr;
    CGdiPlusBitmapResource picture_;
};

bool withinOne(QRgb actual, QRgb expected) {
    return std::abs(qRed(actual) - qRed(expected)) <= 1 &&
           std::abs(qGreen(actual) - qGreen(expected)) <= 1 &&
           std::abs(qBlue(actual) - qBlue(expected)) <= 1;
}

// The picture pixel over the parent's colour, as alpha blending gives it.
QRgb over(QRgb pixel, QColor background) {
    const double a = qAlpha(pixel) / 255.0;
    const auto mix = [a](int top, int bottom) {
        return static_cast<int>(std::lround(top * a + bottom * (1 - a)));
    };
    return qRgb(mix(qRed(pixel), background.red()), mix(qGreen(pixel), background.green()),
                mix(qBlue(pixel), background.blue()));
}

TEST_F(ImageButton, NormalFaceShowsThePictureOverTheParent) {
    const QImage face = shown();
    const QImage& picture = *picture_.bitmap();
    EXPECT_TRUE(button_->facesBuilt());
    EXPECT_EQ(face.pixel(0, 0), parent_.colour.rgb());     // transparent corner
    EXPECT_EQ(face.pixel(182, 20), parent_.colour.rgb());  // strip right of the picture
    EXPECT_EQ(face.pixel(90, 41), parent_.colour.rgb());   // strip below it
    EXPECT_TRUE(withinOne(face.pixel(90, 20), over(picture.pixel(90, 20), parent_.colour)));
}

TEST_F(ImageButton, PressedFaceIsShiftedByOnePixel) {
    shown();
    const QImage& normal = button_->face(CGdipButton::Face::Normal);
    const QImage& pressed = button_->face(CGdipButton::Face::Pressed);
    for (const QPoint p : {QPoint(10, 10), QPoint(90, 20), QPoint(150, 30), QPoint(0, 0)}) {
        EXPECT_EQ(pressed.pixel(p + QPoint(1, 1)), normal.pixel(p)) << p.x() << "," << p.y();
    }
    EXPECT_EQ(QColor(pressed.pixel(5, 0)).rgb(), parent_.colour.rgb());  // top row: background
}

TEST_F(ImageButton, HotAndDisabledFacesFollowTheirMatrices) {
    shown();
    const QImage& picture = *picture_.bitmap();
    const QImage hot = applyColourMatrix(picture, kHotMatrix);
    const QImage disabled = applyColourMatrix(picture, kDisabledMatrix);
    for (const QPoint p : {QPoint(90, 20), QPoint(30, 8), QPoint(2, 2), QPoint(170, 35)}) {
        EXPECT_TRUE(withinOne(button_->face(CGdipButton::Face::Hot).pixel(p),
                              over(hot.pixel(p), parent_.colour)))
            << p.x() << "," << p.y();
        EXPECT_TRUE(withinOne(button_->face(CGdipButton::Face::Disabled).pixel(p),
                              over(disabled.pixel(p), parent_.colour)))
            << p.x() << "," << p.y();
    }
}

TEST_F(ImageButton, FacesAreBuiltOnce) {
    const QImage before = shown();
    parent_.colour = QColor(200, 20, 20);
    parent_.update();
    QApplication::processEvents();
    EXPECT_EQ(shown(), before);
}

TEST_F(ImageButton, LooksFollowThePointerThePressAndTheDisabledFlag) {
    shown();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), button_->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(button_, &enter);
    // The hot face follows once the pointer has rested a moment.
    EXPECT_TRUE(QTest::qWaitFor(
        [this] {
            shown();
            return button_->currentFace() == CGdipButton::Face::Hot;
        },
        5000));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button_, &leave);
    shown();
    EXPECT_EQ(button_->currentFace(), CGdipButton::Face::Normal);

    QTest::mousePress(button_, Qt::LeftButton, {}, QPoint(20, 20));
    shown();
    EXPECT_EQ(button_->currentFace(), CGdipButton::Face::Pressed);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(20, 20));

    button_->m_disabledLook = 1;
    button_->setEnabled(false);
    QApplication::sendEvent(button_, &enter);
    // The pointer resting on the disabled button never makes it hot.
    EXPECT_FALSE(QTest::qWaitFor(
        [this] {
            shown();
            return button_->currentFace() != CGdipButton::Face::Disabled;
        },
        100));
    EXPECT_EQ(button_->currentFace(), CGdipButton::Face::Disabled);
    button_->m_disabledLook = 0;
    button_->setEnabled(true);
    shown();
    EXPECT_NE(button_->currentFace(), CGdipButton::Face::Disabled);
}

TEST_F(ImageButton, TwoQuickClicksAreTwoClicks) {
    // What the window system delivers for two quick clicks: press, release, double click, release.
    QSignalSpy clicks(button_, &QAbstractButton::clicked);
    QTest::mouseClick(button_, Qt::LeftButton, {}, QPoint(20, 20));
    const QPointF at(20, 20);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, at, button_->mapToGlobal(at),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(button_, &doubleClick);
    QMouseEvent release(QEvent::MouseButtonRelease, at, button_->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button_, &release);
    EXPECT_EQ(clicks.count(), 2);
}

// The focus ring over the button where it stands in the window: drawn when the keyboard brings
// the focus, over the normal and the disabled look alike, standing out 3:1 from what it covers
// all round; not after a click; gone with the focus.
struct FocusRingCase {
    const char* name;
    Qt::FocusReason reason;
    int disabledLook;
    unsigned picture;
    bool ring;
};

class ButtonFocusRing : public ::testing::TestWithParam<FocusRingCase> {};

TEST_P(ButtonFocusRing, ShowsTheKeyboardsFocus) {
    const FocusRingCase& c = GetParam();
    kestova::testing::BackgroundPictureParent window;
    window.resize(1200, 853);
    auto* elsewhere = new QWidget(&window);  // holds the focus before and after
    elsewhere->setFocusPolicy(Qt::StrongFocus);
    elsewhere->setGeometry(0, 0, 10, 10);
    auto* button = new CGdipButton(&window);
    button->setGeometry(398, 788, 183, 42);
    button->LoadImageResource(c.picture);
    button->m_disabledLook = c.disabledLook;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    elsewhere->setFocus(Qt::TabFocusReason);
    const auto shown = [button] {
        return button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage unfocused = shown();

    button->setFocus(c.reason);
    ASSERT_TRUE(QTest::qWaitFor([button] { return button->hasFocus(); }, 5000));
    const QImage focused = shown();
    EXPECT_EQ(button->showsFocusRing(), c.ring);
    EXPECT_EQ(kestova::testing::ringStandsOut(unfocused, focused), c.ring);
    if (!c.ring) {
        EXPECT_EQ(focused, unfocused);
    }
    // Only the border changes: the face inside the ring is as it was.
    EXPECT_EQ(focused.copy(4, 4, 175, 34), unfocused.copy(4, 4, 175, 34));

    elsewhere->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(shown(), unfocused);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ButtonFocusRing,
    ::testing::Values(FocusRingCase{"tab_start", Qt::TabFocusReason, 0, 174, true},
                      FocusRingCase{"shift_tab_close", Qt::BacktabFocusReason, 0, 170, true},
                      FocusRingCase{"tab_disabled_look", Qt::TabFocusReason, 1, 174, true},
                      FocusRingCase{"tab_chinese_restart", Qt::TabFocusReason, 0, 173, true},
                      FocusRingCase{"click", Qt::MouseFocusReason, 0, 174, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ImageButton, EnterAndSpacePressTheFocusedButtonOnce) {
    QSignalSpy clicks(button_, &QAbstractButton::clicked);
    parent_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent_));
    button_->setFocus(Qt::TabFocusReason);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        QTest::keyClick(button_, key);
    }
    EXPECT_EQ(clicks.count(), 3);
    // A held key repeats, and still presses once.
    QTest::keyPress(button_, Qt::Key_Return);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(button_, &repeat);
    EXPECT_EQ(clicks.count(), 4);
}

TEST(ImageButtonWithoutPicture, ShowsOnlyTheBackgroundAndStillWorks) {
    PlainParent parent;
    parent.resize(300, 100);
    auto* button = new CGdipButton(&parent);
    button->setGeometry(40, 30, 183, 42);
    EXPECT_FALSE(button->LoadImageResource(12345));
    parent.show();
    const QImage face = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(face.pixel(90, 20), parent.colour.rgb());
    QSignalSpy clicks(button, &QAbstractButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(clicks.count(), 1);
}

}  // namespace
