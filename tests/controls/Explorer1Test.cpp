#include "controls/Explorer1.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTest>
#include <QWebEnginePage>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/PageText.h"
#include "support/ProgramFolderFixture.h"
#include "support/ServiceReplies.h"
#include "tools/scripted_service/ScriptedService.h"

namespace {

using WebView = kestova::testing::ProgramFolderTest;

TEST_F(WebView, ShowsALocalPageThatReadsTheFileBesideItAndReloadsIt) {
    putFile("speedTest/value.txt", "first value");
    putFile("speedTest/page.html",
            "<!doctype html><html><body><p id='v'>waiting</p><script>"
            "var r = new XMLHttpRequest(); r.open('GET', 'value.txt', false); r.send();"
            "document.getElementById('v').textContent = 'read: ' + r.responseText;"
            "</script></body></html>");
    CExplorer1 view;
    view.resize(400, 300);
    view.show();
    view.Navigate((folder() / "speedTest/page.html").c_str());
    EXPECT_EQ(kestova::testing::pageTextWhen(
                  view, [](const QString& t) { return t.startsWith("read:"); }),
              QStringLiteral("read: first value"));

    putFile("speedTest/value.txt", "second value");
    view.Refresh();
    EXPECT_EQ(
        kestova::testing::pageTextWhen(view, [](const QString& t) { return t.contains("second"); }),
        QStringLiteral("read: second value"));
}

}  // namespace

namespace kestova {
namespace {

using HomeView = testing::ProgramFolderTest;

// What one script of the page could reach, as the page itself reports it.
const char* const kReachProbe =
    "<!doctype html><html><body><p id='v'>waiting</p><script>"
    "function read(address) {"
    "  try { var r = new XMLHttpRequest(); r.open('GET', address, false); r.send();"
    "        return r.responseText; } catch (e) { return 'refused'; } }"
    "var out = ['home=' + read('value.txt'), 'outside=' + read('OUTSIDE'),"
    "           'linked=' + read('linked.txt'), 'up=' + read('../outside.txt'), 'remote=' + "
    "read('REMOTE')];"
    "var img = new Image(); img.src = 'REMOTE/picture.png';"
    "document.getElementById('v').textContent = 'done ' + out.join(' ');"
    "</script></body></html>";

// The page reads the files beside it and nothing else: no file outside speedTest (nor one a link
// inside leads to), and no remote address, whose server hears nothing.
TEST_F(HomeView, ThePageReachesOnlyFilesUnderHome) {
    tools::ScriptedService remote({tools::ScriptStep::send(testing::okReply("remote answer"))});
    const std::string remoteAddress = "http://127.0.0.1:" + std::to_string(remote.port());
    putFile("speedTest/value.txt", "home value");
    putFile("outside.txt", "outside value");
    std::filesystem::create_symlink(folder() / "outside.txt", folder() / "speedTest/linked.txt");
    std::string page = kReachProbe;
    page.replace(page.find("OUTSIDE"), 7, "file://" + (folder() / "outside.txt").string());
    page.replace(page.find("REMOTE"), 6, remoteAddress);
    page.replace(page.find("REMOTE"), 6, remoteAddress);
    putFile("speedTest/page.html", page);

    CExplorer1 view;
    view.resize(400, 300);
    view.show();
    view.Navigate((folder() / "speedTest/page.html").c_str());
    const QString text =
        testing::pageTextWhen(view, [](const QString& t) { return t.startsWith("done"); });
    EXPECT_TRUE(text.contains("home=home value")) << text.toStdString();
    EXPECT_FALSE(text.contains("outside value")) << text.toStdString();
    EXPECT_FALSE(text.contains("remote answer")) << text.toStdString();
    // No request should come, however late.
    EXPECT_FALSE(QTest::qWaitFor([&remote] { return !remote.requests().empty(); }, 300));
}

// A link clicked (or the page sending itself elsewhere) opens in the desktop's browser and the
// view stays home; a link for a new window opens there too; a frame of the page opens nothing.
TEST_F(HomeView, NavigationsAwayOpenElsewhere) {
    putFile("speedTest/page.html",
            "<!doctype html><html><body>"
            "<a id='same' href='https://iperf.fr/'>same</a>"
            "<a id='new' target='_blank' href='https://example.org/new'>new</a>"
            "<iframe src='https://example.org/frame'></iframe>"
            "<p id='v'>ready</p></body></html>");
    std::vector<std::string> opened;
    CExplorer1 view;
    view.SetExternalOpener(
        [&opened](const QString& address) { opened.push_back(address.toStdString()); });
    view.resize(400, 300);
    view.show();
    const QUrl home = QUrl::fromLocalFile((folder() / "speedTest/page.html").c_str());
    view.Navigate(home.toLocalFile());
    testing::pageTextWhen(view, [](const QString& t) { return t.contains("ready"); });

    view.page()->runJavaScript(QStringLiteral("document.getElementById('same').click()"));
    EXPECT_TRUE(QTest::qWaitFor([&opened] { return !opened.empty(); }, 10000));
    view.page()->runJavaScript(QStringLiteral("document.getElementById('new').click()"));
    EXPECT_TRUE(QTest::qWaitFor([&opened] { return opened.size() >= 2; }, 10000));
    view.page()->runJavaScript(QStringLiteral("window.location = 'https://example.org/moved'"));
    EXPECT_TRUE(QTest::qWaitFor([&opened] { return opened.size() >= 3; }, 10000));

    EXPECT_EQ(opened, (std::vector<std::string>{"https://iperf.fr/", "https://example.org/new",
                                                "https://example.org/moved"}));
    EXPECT_EQ(view.url(), home);
}

}  // namespace
}  // namespace kestova
