#pragma once

#include <QString>
#include <QWebEngineView>
#include <functional>
#include <memory>

// The window's web view: shows a local page by its file path and reloads it on request. It stays
// home: the page may load only files under its home folder (the program's speedTest folder) and
// may read the files beside it (the status files); nothing remote is fetched, and a navigation
// anywhere else (a link clicked) opens in the desktop's browser instead.
// Contract: one thread, the window's; the home folder is fixed at construction.
class CExplorer1 : public QWebEngineView {
    Q_OBJECT

  public:
    using Opener = std::function<void(const QString& address)>;

    // The home folder: speedTest in the current directory (the program folder).
    explicit CExplorer1(QWidget* parent = nullptr);

    void Navigate(const QString& path);
    void Refresh();

    // Where addresses outside home go; the desktop's opener unless replaced.
    void SetExternalOpener(Opener opener);

  private:
    QString m_home;
    std::shared_ptr<Opener> m_openElsewhere;
};

// Settles the web engine's process before the application object exists: without the sandbox
// when the program runs as root (it refuses to start otherwise), and without any of the engine's
// own background network use, its frames handed to the window in software as they are drawn.
void prepareWebEngineEnvironment();
