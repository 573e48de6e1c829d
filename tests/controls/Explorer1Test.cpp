#include "controls/Explorer1.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTest>
#include <QWebEnginePage>
#include <chrono>
#include <functional>

#include "support/PageText.h"
#include "support/ProgramFolderFixture.h"

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
