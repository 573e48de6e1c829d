#include "controls/Explorer1.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTest>
#include <QWebEnginePage>
#include <chrono>
#include <functional>

#include "support/ProgramFolderFixture.h"

namespace {

using WebView = kestova::testing::ProgramFolderTest;

// The page's text once the condition holds, waiting up to 20 s for it.
QString pageTextWhen(CExplorer1& view, const std::function<bool(const QString&)>& condition) {
    QString text;
    for (int attempt = 0; attempt < 200; ++attempt) {
        bool answered = false;
        view.page()->runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                                   [&](const QVariant& result) {
                                       text = result.toString();
                                       answered = true;
                                   });
        for (int wait = 0; wait < 50 && !answered; ++wait) {
            QTest::qWait(10);
        }
        if (condition(text)) {
            return text;
        }
        QTest::qWait(100);
    }
    return text;
}

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
    EXPECT_EQ(pageTextWhen(view, [](const QString& t) { return t.startsWith("read:"); }),
              QStringLiteral("read: first value"));

    putFile("speedTest/value.txt", "second value");
    view.Refresh();
    EXPECT_EQ(pageTextWhen(view, [](const QString& t) { return t.contains("second"); }),
              QStringLiteral("read: second value"));
}

}  // namespace
