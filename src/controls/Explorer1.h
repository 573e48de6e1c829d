#pragma once

#include <QString>
#include <QWebEngineView>

// The window's web view: shows a local page by its file path and reloads it on request. Local
// pages may read the files beside them (the status files), and nothing else.
class CExplorer1 : public QWebEngineView {
    Q_OBJECT

  public:
    explicit CExplorer1(QWidget* parent = nullptr);

    void Navigate(const QString& path);
    void Refresh();
};

// Settles the web engine's process before the application object exists: without the sandbox
// when the program runs as root (it refuses to start otherwise), and without any of the engine's
// own background network use.
void prepareWebEngineEnvironment();
