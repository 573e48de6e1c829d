#include "controls/HyperLink.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <string>
#include <vector>

#include "controls/MessageBox.h"
#include "support/FocusRingCheck.h"

namespace {

class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        parent_.resize(400, 200);
        link_ = new CHyperLink(QStringLiteral("iperf.fr"), &parent_);
        link_->move(20, 20);
        parent_.show();
        MessageBox::setTestHook([this](const QString& caption, const QString& text) {
            messages_.push_back((caption + "|" + text).toStdString());
        });
    }
    void TearDown() override { MessageBox::setTestHook({}); }

    void moveInside() {
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), link_->mapToGlobal(QPointF(3, 3)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(link_, &move);
    }
    void click() { QTest::mouseClick(link_, Qt::LeftButton, {}, QPoint(3, 3)); }

    QWidget parent_;
    CHyperLink* link_ = nullptr;
    std::vector<std::string> messages_;
};

TEST_F(Link, TakesItsAddressFromItsTextAndFitsItsSizeToIt) {
    EXPECT_EQ(link_->address(), QStringLiteral("iperf.fr"));
    EXPECT_EQ(link_->width(), QFontMetrics(link_->font()).horizontalAdvance("iperf.fr"));
    ASSERT_TRUE(link_->pointer());
    EXPECT_EQ(link_->pointer()->shape(), Qt::PointingHandCursor);
    link_->SetPointer(std::nullopt);  // no cursor given: the link's own hand
    EXPECT_EQ(link_->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(Link, ColoursForNeitherInsideAndOpened) {
    link_->setOpener([](const QString&) { return CHyperLink::kOpened; });
    EXPECT_EQ(link_->currentColour(), QColor(0, 0, 238));
    moveInside();
    EXPECT_EQ(link_->currentColour(), QColor(255, 0, 0));
    click();
    EXPECT_TRUE(link_->wasOpened());
    EXPECT_EQ(link_->currentColour(), QColor(85, 26, 139));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(Link, UnderlineFollowsItsMode) {
    EXPECT_FALSE(link_->font().underline());
    moveInside();  // on hover: underlined while inside
    EXPECT_TRUE(link_->font().underline());

    CHyperLink never(QStringLiteral("x"), &parent_);
    never.SetUnderlineMode(CHyperLink::UnderlineNever);
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), never.mapToGlobal(QPointF(1, 1)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&never, &move);
    EXPECT_FALSE(never.font().underline());

    CHyperLink always(QStringLiteral("x"), &parent_);
    always.SetUnderlineMode(CHyperLink::UnderlineAlways);
    EXPECT_TRUE(always.font().underline());
}

TEST_F(Link, TheLeaveCheckRestoresTheLookWithinATenthOfASecond) {
    QCursor::setPos(link_->mapToGlobal(QPoint(3, 3)));
    moveInside();
    EXPECT_TRUE(link_->pointerInside());
    QCursor::setPos(link_->mapToGlobal(QPoint(300, 150)));
    EXPECT_TRUE(QTest::qWaitFor([this] { return !link_->pointerInside(); }, 5000));
    EXPECT_FALSE(link_->font().underline());
    EXPECT_EQ(link_->currentColour(), QColor(0, 0, 238));
}

TEST_F(Link, AFailedOpenBeepsAndSaysWhy) {
    link_->setOpener([](const QString&) { return CHyperLink::kNotFound; });
    click();
    EXPECT_FALSE(link_->wasOpened());
    ASSERT_EQ(messages_.size(), 1U);
    EXPECT_EQ(messages_[0],
              "Kestova Connection Speed Test|Unable to open hyperlink:\n\nThe specified file was "
              "not found.");
}

// Enter and Space open the focused link as a click does; a held key opens it once.
TEST_F(Link, EnterAndSpaceOpenTheFocusedLinkOnce) {
    std::vector<QString> opened;
    link_->setOpener([&opened](const QString& address) {
        opened.push_back(address);
        return CHyperLink::kOpened;
    });
    parent_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent_));
    link_->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(link_->hasFocus());
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        QTest::keyClick(link_, key);
    }
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(link_, &repeat);
    QTest::keyClick(link_, Qt::Key_A);  // any other key does nothing
    EXPECT_EQ(opened, std::vector<QString>(3, QStringLiteral("iperf.fr")));
    EXPECT_TRUE(link_->wasOpened());
}

// The link of the window, 73 spaces over the picture's caption, is a tab stop with a ring that
// stands out 3:1 all round from the picture when the keyboard brings the focus, and none after a
// click.
TEST(LinkFocusRing, ShowsTheKeyboardsFocusOverTheCaption) {
    for (const auto& [reason, ring] :
         {std::pair{Qt::TabFocusReason, true}, std::pair{Qt::BacktabFocusReason, true},
          std::pair{Qt::MouseFocusReason, false}}) {
        kestova::testing::BackgroundPictureParent window;
        window.resize(1200, 853);
        auto* elsewhere = new QWidget(&window);
        elsewhere->setFocusPolicy(Qt::StrongFocus);
        elsewhere->setGeometry(0, 0, 10, 10);
        auto* link = new CHyperLink(QString(73, QLatin1Char(' ')), &window);
        link->setGeometry(990, 834, 210, 20);
        link->SetAddress(QStringLiteral("https://iperf.fr/"));
        EXPECT_EQ(link->focusPolicy(), Qt::StrongFocus);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        elsewhere->setFocus(Qt::TabFocusReason);
        const auto shown = [link] {
            return link->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        const QImage unfocused = shown();
        link->setFocus(reason);
        ASSERT_TRUE(QTest::qWaitFor([link] { return link->hasFocus(); }, 5000));
        EXPECT_EQ(link->showsFocusRing(), ring) << reason;
        EXPECT_EQ(kestova::testing::ringStandsOut(unfocused, shown()), ring) << reason;
        elsewhere->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(shown(), unfocused) << reason;
    }
}

TEST(LinkFailureMessages, EveryCodeHasItsText) {
    const std::vector<std::pair<int, const char*>> table = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {4, "Unknown Error (4) occurred."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30,
         "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
         "being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {-7, "Unknown Error (-7) occurred."},
    };
    for (const auto& [code, detail] : table) {
        EXPECT_EQ(CHyperLink::failureMessage(code).toStdString(),
                  std::string("Unable to open hyperlink:\n\n") + detail)
            << code;
    }
}

}  // namespace
