#include "window/TarnDlg.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "controls/Explorer1.h"
#include "controls/GdipButton.h"
#include "controls/HyperLink.h"
#include "support/FakeSystemValues.h"
#include "support/PageText.h"
#include "support/PrivateSessionBus.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunLogRecorder.h"
#include "support/RunningTestService.h"
#include "support/ServiceReplies.h"
#include "support/StandInIperf.h"
#include "tools/scripted_service/ScriptedService.h"
#include "tools/test_service/TestServiceAnswers.h"
#include "workspace/WorkspaceFiles.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using platform::toUtf16LeWithNul;
using WindowButton = kestova::WindowButton;

class Window : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        testing::installPages();
        putFile(workspace::kLocalVersion, "1.0.0");
        values_.language = {true, toUtf16LeWithNul("0409")};
        values_.version = {true, toUtf16LeWithNul("108.0.5359.220")};
        values_.serviceVersion = values_.version;
    }

    std::unique_ptr<CTarnDlg> makeWindow(const ServiceEndpoint& service) {
        TestRunSettings settings;
        settings.service = service;
        settings.timing = TestRunTiming::shortPauses();
        return std::make_unique<CTarnDlg>(settings, values_);
    }

    // Start-up, to its end: the version check ends on a thread of its own.
    static void initAndWaitForStartUp(CTarnDlg& window) {
        window.OnInitDialog();
        EXPECT_TRUE(QTest::qWaitFor([&window] { return window.versionChecked(); }, 30000));
    }

    // The stand-in iperf3 installed, and a test service that grants one server of it.
    static tools::TestServiceConfig installOneStandInServer() {
        testing::installStandInIperf();
        tools::TestServiceConfig config;
        config.latestVersion = "1.0.0";
        config.servers = {"127.0.0.1:25301"};
        return config;
    }

    // The stand-in iperf3 installed, and a test service that grants all its recorded servers.
    static tools::TestServiceConfig installRecordedStandInServers() {
        tools::TestServiceConfig config = installOneStandInServer();
        config.servers.clear();
        for (const std::string& port : testing::kRecordedPorts) {
            config.servers.push_back("127.0.0.1:" + port);
        }
        return config;
    }

    // A window against the service, started up and shown.
    std::unique_ptr<CTarnDlg> showWindow(const ServiceEndpoint& service) {
        std::unique_ptr<CTarnDlg> window = makeWindow(service);
        initAndWaitForStartUp(*window);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    testing::FakeSystemValues values_;
};

using WindowFits = Window;

// What start-up chooses from the language, the web engine and the version check.
struct StartUpCase {
    const char* name;
    const char* languageCode;
    const char* engineVersion;
    std::optional<std::string> latestVersion;  // nothing: the service cannot be reached
    const char* title;
    const char* page;
    std::array<unsigned, 3> images;  // start, Restart, cancel
    bool startEnabled;
};

class StartUpChoices : public Window, public ::testing::WithParamInterface<StartUpCase> {};

TEST_P(StartUpChoices, PickTitlePageImagesAndStart) {
    const StartUpCase& c = GetParam();
    values_.language = {true, toUtf16LeWithNul(c.languageCode)};
    values_.version = {true, toUtf16LeWithNul(c.engineVersion)};
    values_.serviceVersion = {true, std::nullopt};
    tools::TestServiceConfig config;
    config.latestVersion = c.latestVersion.value_or("");
    testing::RunningTestService service(config);
    const ServiceEndpoint endpoint =
        c.latestVersion ? service.endpoint() : testing::unresolvableEndpoint();

    std::unique_ptr<CTarnDlg> window = makeWindow(endpoint);
    initAndWaitForStartUp(*window);
    EXPECT_EQ(window->windowTitle().toStdString(), c.title);
    EXPECT_EQ(window->browser().url().fileName().toStdString(), c.page);
    EXPECT_EQ(window->browser().url().toLocalFile().toStdString(),
              (folder() / "speedTest" / c.page).string());
    EXPECT_EQ(window->button(WindowButton::Start).imageId(), c.images[0]);
    EXPECT_EQ(window->button(WindowButton::Restart).imageId(), c.images[1]);
    EXPECT_EQ(window->button(WindowButton::Cancel).imageId(), c.images[2]);
    EXPECT_EQ(window->button(WindowButton::Start).isEnabled(), c.startEnabled);
    EXPECT_EQ(window->button(WindowButton::Start).m_disabledLook, c.startEnabled ? 0 : 1);
    EXPECT_TRUE(window->isButtonVisible(WindowButton::Start));
    EXPECT_FALSE(window->isButtonVisible(WindowButton::Restart));
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), c.latestVersion ? "0" : "-1");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), c.latestVersion ? "0" : "-1");
}

INSTANTIATE_TEST_SUITE_P(Cases, StartUpChoices,
                         ::testing::Values(StartUpCase{"chinese_up_to_date",
                                                       "0404",
                                                       "108.0.5359.220",
                                                       "1.0.0",
                                                       "凱斯沃寬速度測試",
                                                       "index.html",
                                                       {169, 173, 171},
                                                       true},
                                           StartUpCase{"chinese_upgrade",
                                                       "0C04",
                                                       "108.0.5359.220",
                                                       "2.0.0",
                                                       "凱斯沃寬速度測試",
                                                       "download.html",
                                                       {184, 184, 171},
                                                       true},
                                           StartUpCase{"english_upgrade",
                                                       "0409",
                                                       "108.0.5359.220",
                                                       "2.0.0",
                                                       "Kestova Connection Speed Test",
                                                       "download.html",
                                                       {181, 181, 170},
                                                       true},
                                           StartUpCase{"old_engine_no_update_offered",
                                                       "0409",
                                                       "8.0.7601.17514",
                                                       "2.0.0",
                                                       "Kestova Connection Speed Test",
                                                       "index.html",
                                                       {174, 172, 170},
                                                       false},
                                           StartUpCase{"service_unreachable",
                                                       "0409",
                                                       "108.0.5359.220",
                                                       std::nullopt,
                                                       "Kestova Connection Speed Test",
                                                       "index.html",
                                                       {174, 172, 170},
                                                       true}),
                         [](const auto& param) { return std::string(param.param.name); });

// What a screen reader finds among the window's children: every control, by the words its
// picture shows, in the window's language, with its role; the names follow the version check's
// pictures.
struct AccessibleNamesCase {
    const char* name;
    const char* languageCode;
    const char* latestVersion;
    std::array<const char*, 3> buttons;  // start, Restart, cancel
    const char* page;
    const char* linkDescription;
};

class AccessibleNames : public Window, public ::testing::WithParamInterface<AccessibleNamesCase> {};

// The window's own child that stands for the widget, or nothing.
QAccessibleInterface* accessibleChildFor(QWidget& window, QObject& control) {
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&window);
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (child != nullptr && child->object() == &control) {
            return child;
        }
    }
    return nullptr;
}

TEST_P(AccessibleNames, NameEveryControlByWhatItShows) {
    const AccessibleNamesCase& c = GetParam();
    values_.language = {true, toUtf16LeWithNul(c.languageCode)};
    tools::TestServiceConfig config;
    config.latestVersion = c.latestVersion;
    testing::RunningTestService service(config);
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    // The Restart button, hidden until a test has ended, is in the tree all the same.
    // The page gives its title in its language once it has read the language.
    EXPECT_TRUE(QTest::qWaitFor(
        [&window, &c] { return window->browser().accessibleName() == QString::fromUtf8(c.page); },
        30000));

    struct Expected {
        QObject* control;
        const char* name;
        QAccessible::Role role;
    };
    const std::array<Expected, 5> controls{{
        {&window->button(WindowButton::Start), c.buttons[0], QAccessible::Button},
        {&window->button(WindowButton::Restart), c.buttons[1], QAccessible::Button},
        {&window->button(WindowButton::Cancel), c.buttons[2], QAccessible::Button},
        {&window->poweredByLink(), "Powered by iPerf3", QAccessible::Link},
        {&window->browser(), c.page, QAccessible::Client},
    }};
    for (const Expected& each : controls) {
        QAccessibleInterface* found = accessibleChildFor(*window, *each.control);
        ASSERT_NE(found, nullptr) << each.name;
        EXPECT_EQ(found->text(QAccessible::Name).toStdString(), each.name);
        EXPECT_EQ(found->role(), each.role) << each.name;
    }
    QAccessibleInterface* link = accessibleChildFor(*window, window->poweredByLink());
    EXPECT_EQ(link->text(QAccessible::Description).toStdString(), c.linkDescription);
    EXPECT_EQ(link->text(QAccessible::Value).toStdString(), "https://iperf.fr/");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccessibleNames,
    ::testing::Values(
        AccessibleNamesCase{"english",
                            "0409",
                            "1.0.0",
                            {"Start", "Restart test", "Close"},
                            "Kestova Connection Speed Test",
                            "Opens the iperf project page, https://iperf.fr/, in your web browser"},
        AccessibleNamesCase{"english_upgrade",
                            "0409",
                            "2.0.0",
                            {"Update", "Update", "Close"},
                            "Kestova Connection Speed Test",
                            "Opens the iperf project page, https://iperf.fr/, in your web browser"},
        AccessibleNamesCase{"chinese",
                            "0404",
                            "1.0.0",
                            {"開始測試", "重新測試", "關閉"},
                            "凱斯沃寬速度測試",
                            "在網頁瀏覽器中開啟 iperf 專案網頁 https://iperf.fr/"},
        AccessibleNamesCase{"chinese_upgrade",
                            "0C04",
                            "2.0.0",
                            {"更新", "更新", "關閉"},
                            "凱斯沃寬速度測試",
                            "在網頁瀏覽器中開啟 iperf 專案網頁 https://iperf.fr/"}),
    [](const auto& param) { return std::string(param.param.name); });

// The powered-by link's press action, as a screen reader calls it, opens the link's address.
TEST_F(Window, ThePoweredByLinksPressActionOpensIt) {
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    testing::RunningTestService service(config);
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    QString opened;
    window->poweredByLink().setOpener([&opened](const QString& address) {
        opened = address;
        return CHyperLink::kOpened;
    });
    QAccessibleInterface* link = accessibleChildFor(*window, window->poweredByLink());
    ASSERT_NE(link, nullptr);
    ASSERT_NE(link->actionInterface(), nullptr);
    link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(opened.toStdString(), "https://iperf.fr/");
    EXPECT_TRUE(window->poweredByLink().wasOpened());
}

TEST_F(Window, IsAFixedWindowWithTheControlsInTheirPlaces) {
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    testing::RunningTestService service(config);
    std::unique_ptr<CTarnDlg> window = makeWindow(service.endpoint());
    initAndWaitForStartUp(*window);
    EXPECT_EQ(window->size(), QSize(1200, 853));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(window->browser().geometry(), QRect(0, 0, 1200, 767));
    EXPECT_EQ(window->button(WindowButton::Start).geometry(), QRect(398, 788, 183, 42));
    EXPECT_EQ(window->button(WindowButton::Restart).geometry(), QRect(398, 788, 183, 42));
    EXPECT_EQ(window->button(WindowButton::Cancel).geometry(), QRect(621, 788, 183, 42));
    EXPECT_EQ(window->poweredByLink().address(), QStringLiteral("https://iperf.fr/"));
    EXPECT_EQ(window->poweredByLink().cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(window->windowIcon().isNull());
}

// The page's root class, once it is the look asked for (or the last one seen after 20 s).
std::string pageLookWhen(CTarnDlg& window, const char* look) {
    return testing::pageValueWhen(window.browser(),
                                  QStringLiteral("document.documentElement.className"),
                                  [&](const QString& c) { return c == QString::fromUtf8(look); })
        .toStdString();
}

void setWindowColour(CTarnDlg& window, const QColor& colour) {
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, colour);
    window.setPalette(palette);
}

const QColor kLightWindow(0xef, 0xf0, 0xf1);
const QColor kDarkWindow(0x2a, 0x2e, 0x32);

// What the desktop's session bus offers, and the look the page takes over the palette.
struct DesktopCase {
    const char* name;
    enum class Bus { WithPortal, WithoutPortal, None } bus;
    unsigned colorScheme;  // of the portal: 0 no preference, 1 dark, 2 light
    QColor windowColour;
    const char* look;
};

void PrintTo(const DesktopCase& c, std::ostream* out) {
    *out << c.name;
}

class DesktopLooks : public Window, public ::testing::WithParamInterface<DesktopCase> {};

TEST_P(DesktopLooks, ThePageFollowsTheDesktopsPreferenceOrElseThePalette) {
    const DesktopCase& c = GetParam();
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    testing::RunningTestService service(config);
    testing::PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    std::optional<testing::StandInSettingsPortal> portal;
    if (c.bus == DesktopCase::Bus::WithPortal) {
        portal.emplace(bus.address(), c.colorScheme);
        ASSERT_TRUE(portal->isOnTheBus());
    } else if (c.bus == DesktopCase::Bus::None) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestova-test-bus");
    }
    std::unique_ptr<CTarnDlg> window = makeWindow(service.endpoint());
    setWindowColour(*window, c.windowColour);
    initAndWaitForStartUp(*window);
    EXPECT_EQ(pageLookWhen(*window, c.look), c.look);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopLooks,
    ::testing::Values(
        DesktopCase{"dark", DesktopCase::Bus::WithPortal, 1, kLightWindow, "dark"},
        DesktopCase{"light", DesktopCase::Bus::WithPortal, 2, kDarkWindow, "light"},
        DesktopCase{"no_preference", DesktopCase::Bus::WithPortal, 0, kDarkWindow, "dark"},
        DesktopCase{"no_preference_light", DesktopCase::Bus::WithPortal, 0, kLightWindow, "light"},
        DesktopCase{"no_portal", DesktopCase::Bus::WithoutPortal, 0, kLightWindow, "light"},
        DesktopCase{"no_session_bus", DesktopCase::Bus::None, 0, kDarkWindow, "dark"}),
    [](const auto& param) { return std::string(param.param.name); });

// While the page is shown, a change of the desktop's preference applies at once, and to the page
// loaded again; once the desktop states none, the palette decides, and a change of the palette
// applies at once too.
TEST_F(Window, APreferenceChangedWhileThePageIsShownAppliesAtOnce) {
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    testing::RunningTestService service(config);
    testing::PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    testing::StandInSettingsPortal portal(bus.address(), 2);
    std::unique_ptr<CTarnDlg> window = makeWindow(service.endpoint());
    setWindowColour(*window, kDarkWindow);
    initAndWaitForStartUp(*window);
    window->show();
    // Light, though the palette is dark: the window has read the portal, and so listens to it.
    ASSERT_EQ(pageLookWhen(*window, "light"), "light");

    portal.change(1);
    EXPECT_EQ(pageLookWhen(*window, "dark"), "dark");
    // A page loaded again takes the look too, though a shown page that keeps reading its files
    // never reports the end of its load.
    window->browser().page()->runJavaScript(QStringLiteral("window.kestovaMark = 1;"));
    const QString lookOfANewPage = QStringLiteral(
        "(window.kestovaMark ? 'old ' : 'new ') + document.documentElement.className");
    testing::pageValueWhen(window->browser(), lookOfANewPage,
                           [](const QString& a) { return a.startsWith(QStringLiteral("old")); });
    window->reloadPage();
    EXPECT_EQ(
        testing::pageValueWhen(window->browser(), lookOfANewPage,
                               [](const QString& a) { return a == QStringLiteral("new dark"); })
            .toStdString(),
        "new dark");
    portal.change(2);
    EXPECT_EQ(pageLookWhen(*window, "light"), "light");
    portal.change(0);
    EXPECT_EQ(pageLookWhen(*window, "dark"), "dark");
    setWindowColour(*window, kLightWindow);
    EXPECT_EQ(pageLookWhen(*window, "light"), "light");
}

// A whole test by clicks: Ready, First run, Ended, Later run, Ended again.
TEST_F(Window, RunsTestsByClicksAndShowsTheFigures) {
    testing::RunningTestService service(installRecordedStandInServers());
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    CGdipButton& start = window->button(WindowButton::Start);
    CGdipButton& restart = window->button(WindowButton::Restart);
    CGdipButton& cancel = window->button(WindowButton::Cancel);
    const auto waitForEnd = [&] {
        EXPECT_EQ(window->testRun().waitForRunsToEnd(60s), std::optional<bool>(true));
        // The reset arrives as a queued call.
        EXPECT_TRUE(QTest::qWaitFor([&cancel] { return cancel.isEnabled(); }, 10000));
    };

    // Ready: the hold keeps the first run going until its buttons have been looked at.
    EXPECT_TRUE(start.isVisible() && start.isEnabled() && !restart.isVisible());
    putFile("iperf/recorded/hold", "");
    const testing::RunLogRecorder recorded;
    QTest::mouseClick(&start, Qt::LeftButton, {}, QPoint(90, 20));
    // The run's thread disables the buttons once it has the address (a queued call).
    EXPECT_TRUE(QTest::qWaitFor([&cancel] { return !cancel.isEnabled(); }, 10000));
    EXPECT_TRUE(start.isVisible() && !start.isEnabled() && start.m_disabledLook == 1);
    EXPECT_FALSE(cancel.isEnabled());
    std::filesystem::remove("iperf/recorded/hold");
    waitForEnd();
    EXPECT_TRUE(!start.isVisible() && restart.isVisible() && restart.isEnabled());
    EXPECT_TRUE(cancel.isEnabled());
    EXPECT_TRUE(testing::pageTextWhen(window->browser(), [](const QString& t) {
                    return t.contains("40942.00") && t.contains("42955.00");
                }).contains("Your connection"));

    putFile("iperf/recorded/hold", "");
    QTest::mouseClick(&restart, Qt::LeftButton, {}, QPoint(90, 20));
    EXPECT_TRUE(QTest::qWaitFor([&cancel] { return !cancel.isEnabled(); }, 10000));
    EXPECT_TRUE(!start.isVisible() && restart.isVisible() && !restart.isEnabled());
    EXPECT_FALSE(cancel.isEnabled());
    std::filesystem::remove("iperf/recorded/hold");
    waitForEnd();
    EXPECT_TRUE(!start.isVisible() && restart.isVisible() && restart.isEnabled());
    EXPECT_TRUE(cancel.isEnabled());
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");

    QTest::mouseClick(&cancel, Qt::LeftButton, {}, QPoint(90, 20));
    EXPECT_FALSE(window->isVisible());
}

// The widget that has the keyboard focus; the web view's lies on a surface inside it.
bool focusIsOn(const QWidget& widget) {
    const QWidget* focused = QApplication::focusWidget();
    return focused != nullptr && (focused == &widget || widget.isAncestorOf(focused));
}

// A key pressed and let go on whatever has the keyboard focus, as a keyboard would.
void pressOnFocused(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QTest::keyClick(focused, key, modifiers);
}

// The window in front, with the keyboard focus on its first control, the page.
void giveKeyboardTo(CTarnDlg& window) {
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    // On the page's own surface, inside the view, once the engine has made it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] {
            return focusIsOn(window.browser()) && QApplication::focusWidget() != &window.browser();
        },
        10000));
}

// Tab pressed until the control has the focus, at most a round of the window's controls; the
// page passes the focus on when its own engine has seen the key.
bool tabUntil(const QWidget& control) {
    for (int press = 0; press < 8 && !focusIsOn(control); ++press) {
        const QWidget* before = QApplication::focusWidget();
        pressOnFocused(Qt::Key_Tab);
        static_cast<void>(QTest::qWaitFor(
            [before, &control] {
                return QApplication::focusWidget() != before || focusIsOn(control);
            },
            5000));
    }
    return focusIsOn(control);
}

// The id of the page's focused element, once it is the one awaited.
std::string pageFocusWhen(CExplorer1& browser, const char* id) {
    return testing::pageValueWhen(
               browser, QStringLiteral("document.activeElement ? document.activeElement.id : ''"),
               [id](const QString& focused) { return focused == QString::fromUtf8(id); })
        .toStdString();
}

// Tab and Shift+Tab walk the page, Close, Start and the link in the template's order and come
// round; the page lets the focus go from its last element and takes it back there.
TEST_F(Window, TabAndShiftTabWalkTheControlsInTheTemplatesOrder) {
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    testing::RunningTestService service(config);
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    giveKeyboardTo(*window);
    // A page with an element of its own to focus, as a page with a link has; added once, though
    // the question may be asked again while the page loads.
    testing::pageValueWhen(window->browser(),
                           QStringLiteral("(function () {"
                                          "  if (!document.getElementById('last')) {"
                                          "    var b = document.createElement('button');"
                                          "    b.id = 'last'; b.textContent = 'last';"
                                          "    document.body.appendChild(b);"
                                          "  }"
                                          "  return 'added';"
                                          "})()"),
                           [](const QString& answer) { return answer == "added"; });
    const QWidget* page = &window->browser();
    const QWidget* close = &window->button(WindowButton::Cancel);
    const QWidget* start = &window->button(WindowButton::Start);
    const QWidget* link = &window->poweredByLink();
    struct Step {
        Qt::KeyboardModifiers modifiers;
        const QWidget* focus;
        const char* pageElement;  // the page's focused element, when the page has the focus
    };
    const std::vector<Step> steps = {
        {Qt::NoModifier, page, "last"},      {Qt::NoModifier, close, nullptr},
        {Qt::NoModifier, start, nullptr},    {Qt::NoModifier, link, nullptr},
        {Qt::NoModifier, page, "last"},      {Qt::NoModifier, close, nullptr},
        {Qt::ShiftModifier, page, "last"},   {Qt::ShiftModifier, link, nullptr},
        {Qt::ShiftModifier, start, nullptr}, {Qt::ShiftModifier, close, nullptr},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        pressOnFocused(Qt::Key_Tab, step.modifiers);
        EXPECT_TRUE(QTest::qWaitFor([&step] { return focusIsOn(*step.focus); }, 10000))
            << "step " << i << ": the focus is on "
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                            : "nothing");
        if (step.pageElement != nullptr) {
            EXPECT_EQ(pageFocusWhen(window->browser(), step.pageElement), step.pageElement)
                << "step " << i;
        }
    }
}

// Enter and Space press the button or the link that has the focus: Close ends the window, the
// link opens its address (here with an opener of the test's own). Escape is Close wherever the
// focus is, the page included.
enum class KeyTarget { Page, Close, Link };

struct KeyPressCase {
    const char* name;
    Qt::Key key;
    KeyTarget target;
};

class KeyPresses : public Window, public ::testing::WithParamInterface<KeyPressCase> {};

TEST_P(KeyPresses, PressTheFocusedControl) {
    const KeyPressCase& c = GetParam();
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    testing::RunningTestService service(config);
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    std::vector<QString> opened;
    window->poweredByLink().setOpener([&opened](const QString& address) {
        opened.push_back(address);
        return CHyperLink::kOpened;
    });
    giveKeyboardTo(*window);
    const std::array<const QWidget*, 3> targets = {
        &window->browser(), &window->button(WindowButton::Cancel), &window->poweredByLink()};
    ASSERT_TRUE(tabUntil(*targets[static_cast<std::size_t>(c.target)]));
    pressOnFocused(c.key);
    if (c.target == KeyTarget::Link && c.key != Qt::Key_Escape) {
        EXPECT_EQ(opened, std::vector<QString>{QStringLiteral("https://iperf.fr/")});
        EXPECT_TRUE(window->poweredByLink().wasOpened());
        EXPECT_TRUE(window->isVisible());
    } else {
        EXPECT_TRUE(opened.empty());
        EXPECT_TRUE(QTest::qWaitFor([&window] { return !window->isVisible(); }, 10000));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyPresses,
    ::testing::Values(KeyPressCase{"enter_on_close", Qt::Key_Return, KeyTarget::Close},
                      KeyPressCase{"space_on_close", Qt::Key_Space, KeyTarget::Close},
                      KeyPressCase{"keypad_enter_on_close", Qt::Key_Enter, KeyTarget::Close},
                      KeyPressCase{"enter_on_link", Qt::Key_Return, KeyTarget::Link},
                      KeyPressCase{"space_on_link", Qt::Key_Space, KeyTarget::Link},
                      KeyPressCase{"escape_in_the_page", Qt::Key_Escape, KeyTarget::Page},
                      KeyPressCase{"escape_on_the_link", Qt::Key_Escape, KeyTarget::Link}),
    [](const auto& param) { return std::string(param.param.name); });

// Whole tests by keyboard alone: Tab until Start has the focus, then its key; the figures come
// and Restart is shown; Restart the same way, then Close; in both languages.
struct KeyboardRunCase {
    const char* name;
    const char* languageCode;
    Qt::Key key;
};

class KeyboardRun : public Window, public ::testing::WithParamInterface<KeyboardRunCase> {};

TEST_P(KeyboardRun, TabsToStartRestartAndClose) {
    const KeyboardRunCase& c = GetParam();
    values_.language = {true, toUtf16LeWithNul(c.languageCode)};
    testing::RunningTestService service(installRecordedStandInServers());
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    giveKeyboardTo(*window);
    CGdipButton& start = window->button(WindowButton::Start);
    ASSERT_TRUE(tabUntil(start));
    const testing::RunLogRecorder recorded;
    pressOnFocused(c.key);
    EXPECT_EQ(window->testRun().waitForRunsToEnd(60s), std::optional<bool>(true));
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] { return window->isButtonVisible(WindowButton::Restart); }, 10000));
    EXPECT_FALSE(window->isButtonVisible(WindowButton::Start));
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
    EXPECT_TRUE(testing::pageTextWhen(window->browser(), [](const QString& t) {
                    return t.contains("40942.00") && t.contains("42955.00");
                }).contains("42955.00"));

    // Restart the same way; while the run holds both buttons disabled the focus stays in the
    // window, and the keys go on working once they are back.
    CGdipButton& restart = window->button(WindowButton::Restart);
    CGdipButton& cancel = window->button(WindowButton::Cancel);
    EXPECT_TRUE(QTest::qWaitFor([&] { return restart.isEnabled() && cancel.isEnabled(); }, 10000));
    ASSERT_TRUE(tabUntil(restart));
    putFile("iperf/recorded/hold", "");
    pressOnFocused(c.key);
    EXPECT_TRUE(QTest::qWaitFor([&cancel] { return !cancel.isEnabled(); }, 10000));
    EXPECT_FALSE(restart.isEnabled());
    EXPECT_TRUE(QApplication::focusWidget() != nullptr &&
                QApplication::focusWidget()->window() == window.get());
    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_EQ(window->testRun().waitForRunsToEnd(60s), std::optional<bool>(true));
    EXPECT_TRUE(QTest::qWaitFor([&] { return restart.isEnabled() && cancel.isEnabled(); }, 10000));
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
    ASSERT_TRUE(tabUntil(cancel));
    pressOnFocused(c.key);
    EXPECT_TRUE(QTest::qWaitFor([&window] { return !window->isVisible(); }, 10000));
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyboardRun,
                         ::testing::Values(KeyboardRunCase{"english_space", "0409", Qt::Key_Space},
                                           KeyboardRunCase{"chinese_space", "0404", Qt::Key_Space},
                                           KeyboardRunCase{"english_enter", "0409",
                                                           Qt::Key_Return}),
                         [](const auto& param) { return std::string(param.param.name); });

// The longest pause between two turns of the window thread's event loop while it is watched: a
// timer on that thread that should fire every 20 ms.
class EventLoopWatch {
  public:
    EventLoopWatch() {
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { longestGapMs_ = std::max(longestGapMs_, sinceLast_.restart()); });
        sinceLast_.start();
        timer_.start(20);
    }
    qint64 longestGapMs() const { return longestGapMs_; }

  private:
    QTimer timer_;
    QElapsedTimer sinceLast_;
    qint64 longestGapMs_ = 0;
};

// A stand-in for the test service that gives the local test service's answers, each only after
// the delay.
std::unique_ptr<tools::ScriptedService> slowService(const tools::TestServiceConfig& config,
                                                    std::chrono::milliseconds delay) {
    return std::make_unique<tools::ScriptedService>([config, delay](const std::string& head) {
        return std::vector<tools::ScriptStep>{
            tools::ScriptStep::wait(delay),
            tools::ScriptStep::send(tools::answerRequest(config, head, "127.0.0.1"))};
    });
}

// The window shows itself at once while the service says nothing: index.html, Start waiting
// disabled until the check gives up, then Start available with the normal page.
TEST_F(Window, StartUpDoesNotWaitForASilentService) {
    tools::ScriptedService silent({tools::ScriptStep::hang()});
    ServiceEndpoint endpoint = testing::loopbackEndpoint(silent.port());
    std::unique_ptr<CTarnDlg> window = makeWindow(endpoint);
    QElapsedTimer shown;
    shown.start();
    window->OnInitDialog();
    window->show();
    EXPECT_LT(shown.elapsed(), endpoint.exchangeTimeout.count() / 2);
    EXPECT_FALSE(window->versionChecked());
    EXPECT_EQ(window->browser().url().fileName().toStdString(), "index.html");
    EXPECT_FALSE(window->button(WindowButton::Start).isEnabled());
    EXPECT_EQ(window->button(WindowButton::Start).m_disabledLook, 1);
    // A press now does nothing: the version gate has no answer to act on yet.
    window->OnBnClickedStart();
    EXPECT_FALSE(window->testRun().preparing());

    EXPECT_TRUE(QTest::qWaitFor([&window] { return window->versionChecked(); }, 30000));
    EXPECT_TRUE(window->button(WindowButton::Start).isEnabled());
    EXPECT_EQ(window->browser().url().fileName().toStdString(), "index.html");
    EXPECT_EQ(fileBytes(workspace::kVersionStatus), "2");
}

// Against a service that answers every exchange only after 5 s, the window's event loop keeps
// turning through start-up and a whole test: every wait is the run's own.
TEST_F(Window, TheEventLoopKeepsTurningWhileTheServiceIsSlow) {
    testing::installStandInIperf();
    tools::TestServiceConfig config;
    config.latestVersion = "1.0.0";
    config.servers = {"127.0.0.1:" + testing::kRecordedPorts[0]};
    constexpr std::chrono::milliseconds kServiceDelay{5000};
    const std::unique_ptr<tools::ScriptedService> service = slowService(config, kServiceDelay);
    std::unique_ptr<CTarnDlg> window =
        makeWindow(*parseServiceEndpoint("127.0.0.1:" + std::to_string(service->port())));

    const EventLoopWatch watch;
    window->OnInitDialog();
    window->show();
    EXPECT_TRUE(QTest::qWaitFor([&window] { return window->versionChecked(); }, 30000));
    const testing::RunLogRecorder recorded;
    QTest::mouseClick(&window->button(WindowButton::Start), Qt::LeftButton, {}, QPoint(90, 20));
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] {
            return window->testRun().waitForRunsToEnd(std::chrono::milliseconds(0)).has_value();
        },
        120000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] { return window->button(WindowButton::Cancel).isEnabled(); }, 10000));
    EXPECT_EQ(service->requests().size(), 4U);  // version, address, assignment, report
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
    EXPECT_TRUE(window->isButtonVisible(WindowButton::Restart));
    EXPECT_LT(watch.longestGapMs(), 1000) << "the window's thread stalled";
}

// While a test runs (its cancel button disabled), neither Escape nor the window manager's close
// ends the window; once the buttons are back, the close does.
TEST_F(Window, EscapeAndCloseWaitForTheEndOfTheTest) {
    testing::RunningTestService service(installOneStandInServer());
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    putFile("iperf/recorded/hold", "");
    const testing::RunLogRecorder recorded;
    window->OnBnClickedStart();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] { return !window->button(WindowButton::Cancel).isEnabled(); }, 10000));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    std::filesystem::remove("iperf/recorded/hold");
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] { return window->button(WindowButton::Cancel).isEnabled(); }, 60000));
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    window->testRun().waitForRunsToEnd(std::chrono::seconds(30));
}

// On a screen smaller than the reference size the whole window shrinks, the same both ways, to
// fit the screen's free area with both buttons on it, and Start runs a test; at the reference
// size and above nothing changes. (Run on screens of 1366 x 768 and 1280 x 720 as well.)
TEST_F(WindowFits, PressesStartWithBothButtonsOnTheScreen) {
    testing::RunningTestService service(installOneStandInServer());
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());

    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const bool fitsAsDrawn = room.width() >= 1200 && room.height() >= 853 + 40;
    if (fitsAsDrawn) {
        EXPECT_EQ(window->scale(), 1.0);
        EXPECT_EQ(window->size(), QSize(1200, 853));
    } else {
        EXPECT_LT(window->scale(), 1.0);
        EXPECT_NEAR(window->width() / 1200.0, window->height() / 853.0, 0.01);
        EXPECT_NEAR(window->browser().zoomFactor(), window->scale(), 0.01);
    }
    EXPECT_LE(window->height() + 20, room.height());
    for (const WindowButton which : {WindowButton::Start, WindowButton::Cancel}) {
        const CGdipButton& button = window->button(which);
        const QRect onScreen(button.mapToGlobal(QPoint(0, 0)), button.size());
        EXPECT_TRUE(room.contains(onScreen)) << "button " << static_cast<int>(which);
    }
    const QRect cancel = window->button(WindowButton::Cancel).geometry();
    EXPECT_EQ(cancel.size(), (QSize(183, 42) * window->scale()));

    const testing::RunLogRecorder recorded;
    QTest::mouseClick(&window->button(WindowButton::Start), Qt::LeftButton, {},
                      window->button(WindowButton::Start).rect().center());
    EXPECT_TRUE(QTest::qWaitFor(
        [&window] {
            return window->testRun().waitForRunsToEnd(std::chrono::milliseconds(0)).has_value();
        },
        60000));
    EXPECT_EQ(fileBytes(workspace::kDownloadStatus), "2");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
}

// The page's width in CSS pixels, whether it scrolls sideways, its look, and whether it is still
// the page of before (a mark the page loses when loaded again), as one answer.
const char* const kPageLayout =
    "window.innerWidth + ' ' + (document.documentElement.scrollWidth > "
    "document.documentElement.clientWidth ? 'scrolls' : 'fits') + ' ' + "
    "document.documentElement.className + (window.kestovaMark ? ' old' : '')";

// A picture of the window with its page at 200 %, kept for a person to look at, one for each
// screen size.
void keepPictureAtTwiceTheZoom(CTarnDlg& window, const QRect& room) {
    const std::filesystem::path pictures = KESTOVA_SCREENSHOT_DIR;
    std::filesystem::create_directories(pictures);
    const std::string path = (pictures / ("window-zoom-200-" + std::to_string(room.width()) + "x" +
                                          std::to_string(room.height()) + ".png"))
                                 .string();
    EXPECT_TRUE(window.grab().save(QString::fromStdString(path))) << path;
}

// Ctrl+plus (Ctrl+= where plus needs Shift), Ctrl+minus and Ctrl+0 zoom the page from the window's
// own scale, between 50 % and 300 %; the zoom and the look hold when the page is loaded again (a
// shown page here stays "loading" and never reports the end of its load), the page never
// scrolls sideways, and at every zoom the window stays on the screen with its buttons inside it.
// (Run on screens of 1366 x 768 and 1280 x 720 as well.)
TEST_F(WindowFits, ZoomsThePageByKeysWithTheButtonsOnTheScreen) {
    testing::RunningTestService service(installOneStandInServer());
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The look, too, holds when the page is loaded again.
    setWindowColour(*window, kDarkWindow);
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();

    struct Step {
        const char* what;
        Qt::Key key;
        int presses;
        double pageZoom;
    };
    for (const Step& step :
         {Step{"biggest", Qt::Key_Plus, 20, CTarnDlg::kBiggestPageZoom},
          Step{"back to 1", Qt::Key_0, 1, 1.0}, Step{"one up without Shift", Qt::Key_Equal, 1, 1.1},
          Step{"twice", Qt::Key_Plus, 4, 2.0},
          Step{"smallest", Qt::Key_Minus, 20, CTarnDlg::kSmallestPageZoom}}) {
        for (int press = 0; press < step.presses; ++press) {
            QTest::keyClick(window.get(), step.key, Qt::ControlModifier);
        }
        EXPECT_DOUBLE_EQ(window->pageZoom(), step.pageZoom) << step.what;
        const double factor = window->scale() * step.pageZoom;
        EXPECT_NEAR(window->browser().zoomFactor(), factor, 0.001) << step.what;
        // The engine shows the page at that zoom (its width within rounding), without sideways
        // scrolling, and again once the page is loaded anew.
        const long width = std::lround(window->browser().width() / factor);
        const auto atTheZoom = [width](const QString& layout) {
            const QStringList parts = layout.split(QLatin1Char(' '));
            return parts.size() == 3 && std::abs(parts[0].toLong() - width) <= 2 &&
                   parts[1] == QStringLiteral("fits") && parts[2] == QStringLiteral("dark");
        };
        const auto layout = [&] {
            return testing::pageValueWhen(window->browser(), QString::fromUtf8(kPageLayout),
                                          atTheZoom);
        };
        QString shown = layout();
        EXPECT_TRUE(atTheZoom(shown)) << step.what << ": " << shown.toStdString();
        window->browser().page()->runJavaScript(QStringLiteral("window.kestovaMark = 1;"));
        testing::pageValueWhen(window->browser(), QString::fromUtf8(kPageLayout),
                               [](const QString& a) { return a.endsWith(QStringLiteral(" old")); });
        window->reloadPage();
        shown = layout();
        EXPECT_TRUE(atTheZoom(shown))
            << step.what << " after loading again: " << shown.toStdString();

        if (step.pageZoom == 2.0) {
            keepPictureAtTwiceTheZoom(*window, room);
        }
        EXPECT_TRUE(room.contains(window->frameGeometry())) << step.what;
        for (const WindowButton which :
             {WindowButton::Start, WindowButton::Restart, WindowButton::Cancel}) {
            EXPECT_TRUE(window->rect().contains(window->button(which).geometry()))
                << step.what << ", button " << static_cast<int>(which);
        }
    }
}

// The window goes away in the middle of a test: the test ends by itself and touches nothing of it.
TEST_F(Window, ClosingTheWindowDuringATestIsSafe) {
    testing::RunningTestService service(installOneStandInServer());
    std::unique_ptr<CTarnDlg> window = showWindow(service.endpoint());
    putFile("iperf/recorded/hold", "");
    const testing::RunLogRecorder recorded;
    QTest::mouseClick(&window->button(WindowButton::Start), Qt::LeftButton, {}, QPoint(90, 20));
    window.reset();
    std::filesystem::remove("iperf/recorded/hold");
    // The upload's status is the last thing the test writes.
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
            return fileBytes(workspace::kUploadStatus) == "2" &&
                   fileBytes(workspace::kFinal) != "<missing>";
        },
        15000));
    EXPECT_NE(fileBytes(workspace::kFinal), "<missing>");
    EXPECT_EQ(fileBytes(workspace::kUploadStatus), "2");
}

}  // namespace
}  // namespace kestova
