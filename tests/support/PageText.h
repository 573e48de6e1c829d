#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <filesystem>
#include <functional>
#include <memory>

namespace kestova::testing {

// What the script gives on the page (as text) once the condition holds, asking again as each
// answer arrives (or after a second without one: a page that navigates drops its questions), up
// to 20 s; the last answer otherwise. An answer that arrives after the view has gone lands in
// the shared state, never in this frame.
inline QString pageValueWhen(QWebEngineView& view, const QString& script,
                             const std::function<bool(const QString&)>& condition) {
    struct Asking {
        QString text;
        bool waiting = false;
        bool holds = false;
        bool over = false;  // the condition may speak of the caller's frame, gone by then
    };
    const auto asking = std::make_shared<Asking>();
    QElapsedTimer asked;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            if (!asking->holds && (!asking->waiting || asked.hasExpired(1000))) {
                asking->waiting = true;
                asked.start();
                view.page()->runJavaScript(script, [asking, condition](const QVariant& result) {
                    if (asking->over) {
                        return;
                    }
                    asking->text = result.toString();
                    asking->holds = condition(asking->text);
                    asking->waiting = false;
                });
            }
            return asking->holds;
        },
        20000));
    asking->over = true;
    return asking->text;
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
