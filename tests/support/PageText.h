#pragma once

#include <QString>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <filesystem>
#include <functional>

namespace kestova::testing {

// What the script gives on the page (as text) once the condition holds, asking up to 20 s; the
// last answer otherwise.
inline QString pageValueWhen(QWebEngineView& view, const QString& script,
                             const std::function<bool(const QString&)>& condition) {
    QString text;
    for (int attempt = 0; attempt < 100; ++attempt) {
        bool answered = false;
        view.page()->runJavaScript(script, [&](const QVariant& result) {
            text = result.toString();
            answered = true;
        });
        for (int wait = 0; wait < 100 && !answered; ++wait) {
            QTest::qWait(10);
        }
        if (condition(text)) {
            return text;
        }
        QTest::qWait(200);
    }
    return text;
}

// The text the page shows to the eye once the condition holds, asking up to 20 s; the last text
// otherwise. What is there for screen readers only (class "visually-hidden") is left out: it is
// set aside for the one synchronous reading, so nothing is drawn or said without it.
inline QString pageTextWhen(QWebEngineView& view,
                            const std::function<bool(const QString&)>& condition) {
    return pageValueWhen(
        view,
        QStringLiteral("(function () {"
                       "  if (!document.body) { return ''; }"
                       "  var unseen = Array.from(document.querySelectorAll('.visually-hidden'));"
                       "  unseen.forEach(function (e) { e.style.display = 'none'; });"
                       "  var text = document.body.innerText;"
                       "  unseen.forEach(function (e) { e.style.display = ''; });"
                       "  return text;"
                       "})()"),
        condition);
}

// Copies the program's pages into the current program folder's speedTest.
inline void installPages() {
    for (const char* page : {"index.html", "download.html", "speedtest.js", "speedtest.css"}) {
        std::filesystem::copy_file(std::filesystem::path(KESTOVA_PAGES_DIR) / page,
                                   std::filesystem::path("speedTest") / page);
    }
}

}  // namespace kestova::testing
