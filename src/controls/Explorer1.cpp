#include "controls/Explorer1.h"

#include <QUrl>
#include <QWebEngineSettings>

#include "platform/DefaultBrowser.h"

CExplorer1::CExplorer1(QWidget* parent) : QWebEngineView(parent) {
    QWebEngineSettings* options = settings();
    options->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    options->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void CExplorer1::Navigate(const QString& path) {
    setUrl(QUrl::fromLocalFile(path));
}

void CExplorer1::Refresh() {
    reload();
}

void prepareWebEngineEnvironment() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags +=
        " --disable-background-networking --disable-component-update --disable-sync"
        " --no-first-run --disable-gpu";
    if (kestova::platform::runningAsRoot()) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        flags += " --no-sandbox";
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}
