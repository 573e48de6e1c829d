// A window holding the three buttons in their four looks and a link, saved as a picture for a
// person to look at (build/screenshots/controls.png), and again with the keyboard's focus ring on
// the first button and on the link (controls-focus-button.png, controls-focus-link.png).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QPainter>
#include <QTest>

#include "controls/GdipButton.h"
#include "controls/HyperLink.h"

namespace {

// The lower band of the window's background picture, as the buttons stand on it.
class BandParent : public QWidget {
  protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter(this).drawImage(QPoint(0, 0), QImage(QStringLiteral(":/bitmap/179.png")),
                                 QRect(0, 767, width(), height()));
    }
};

TEST(ControlsGallery, ThreeButtonsInFourLooksAndALink) {
    BandParent window;
    window.resize(4 * 200 + 20, 3 * 52 + 50);
    const unsigned pictures[] = {174, 172, 170};
    std::vector<CGdipButton*> buttons;
    for (int row = 0; row < 3; ++row) {
        for (int look = 0; look < 4; ++look) {
            auto* button = new CGdipButton(&window);
            button->setGeometry(10 + look * 200, 10 + row * 52, 183, 42);
            button->LoadImageResource(pictures[row]);
            buttons.push_back(button);
        }
    }
    auto* link = new CHyperLink(QStringLiteral("Powered by iPerf3 (a link)"), &window);
    link->move(10, 3 * 52 + 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int row = 0; row < 3; ++row) {
        CGdipButton* hot = buttons[static_cast<std::size_t>(row * 4 + 1)];
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), hot->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(hot, &enter);
        buttons[static_cast<std::size_t>(row * 4 + 2)]->setDown(true);
        CGdipButton* disabled = buttons[static_cast<std::size_t>(row * 4 + 3)];
        disabled->m_disabledLook = 1;
        disabled->setEnabled(false);
    }
    // The hot faces follow once the pointer has rested a moment.
    QImage picture;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            picture = window.grab().toImage();
            return buttons[1]->currentFace() == CGdipButton::Face::Hot;
        },
        5000));
    EXPECT_EQ(buttons[1]->currentFace(), CGdipButton::Face::Hot);
    EXPECT_EQ(buttons[2]->currentFace(), CGdipButton::Face::Pressed);
    EXPECT_EQ(buttons[3]->currentFace(), CGdipButton::Face::Disabled);
    QDir().mkpath(QStringLiteral("screenshots"));
    EXPECT_TRUE(picture.save(QStringLiteral("screenshots/controls.png")));

    // The window's activation gives the first button the focus, without the keyboard: the link
    // takes it first, so that the button's comes by Tab.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (const auto& [control, name] :
         {std::pair<QWidget*, const char*>{link, "screenshots/controls-focus-link.png"},
          std::pair<QWidget*, const char*>{buttons[0], "screenshots/controls-focus-button.png"}}) {
        control->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(QTest::qWaitFor([control = control] { return control->hasFocus(); }, 5000));
        EXPECT_TRUE(window.grab().toImage().save(QString::fromLatin1(name)));
    }
}

}  // namespace
