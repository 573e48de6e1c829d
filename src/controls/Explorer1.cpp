#include "controls/Explorer1.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include "platform/DefaultBrowser.h"
#include "platform/OpenAddress.h"

namespace {

using Opener = CExplorer1::Opener;

// True when the address is a file whose real place (links and ".." resolved) lies under home.
bool isUnderHome(const QString& home, const QUrl& address) {
    if (!address.isLocalFile() || home.isEmpty()) {
        return false;
    }
    const QString place = QFileInfo(address.toLocalFile()).canonicalFilePath();
    return !place.isEmpty() && place.startsWith(home + QLatin1Char('/'));
}

bool isPageData(const QUrl& address) {
    return address.scheme() == QLatin1String("data");
}

// Refuses every request of the page for anything but a file under home or data the page holds.
// Contract: the engine may call interceptRequest on a thread of its own; the guard only reads its
// own copy of the home folder, fixed at construction.
class HomeFolderGuard : public QWebEngineUrlRequestInterceptor {
  public:
    HomeFolderGuard(QString home, QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), m_home(std::move(home)) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (!isPageData(info.requestUrl()) && !isUnderHome(m_home, info.requestUrl())) {
            info.block(true);
        }
    }

  private:
    const QString m_home;
};

// Web addresses only go to the opener: no other scheme leaves the program.
void openWebAddress(const QUrl& address, const Opener& openElsewhere) {
    if ((address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https")) &&
        openElsewhere) {
        openElsewhere(address.toString());
    }
}

// A page asked for by a link that opens a new window: it passes its first address on and goes.
class PassOnPage : public QWebEnginePage {
  public:
    PassOnPage(std::shared_ptr<Opener> openElsewhere, QObject* parent)
        : QWebEnginePage(parent), m_openElsewhere(std::move(openElsewhere)) {}

  protected:
    bool acceptNavigationRequest(const QUrl& address, NavigationType /*type*/,
                                 bool /*isMainFrame*/) override {
        openWebAddress(address, *m_openElsewhere);
        deleteLater();
        return false;
    }

  private:
    std::shared_ptr<Opener> m_openElsewhere;
};

// The view's page: it stays home. A link to elsewhere (or the page's own move there) opens in the
// desktop's browser; frames, redirects, forms and every other way elsewhere go nowhere.
class HomePage : public QWebEnginePage {
  public:
    HomePage(const QString& home, std::shared_ptr<Opener> openElsewhere, QObject* parent)
        : QWebEnginePage(parent), m_home(home), m_openElsewhere(std::move(openElsewhere)) {
        // A child of the page, so that it lasts as long as the page that asks it.
        setUrlRequestInterceptor(new HomeFolderGuard(home, this));
    }

  protected:
    bool acceptNavigationRequest(const QUrl& address, NavigationType type,
                                 bool isMainFrame) override {
        if (isUnderHome(m_home, address) || isPageData(address)) {
            return true;
        }
        if (type == NavigationTypeLinkClicked && isMainFrame) {
            openWebAddress(address, *m_openElsewhere);
        }
        return false;
    }

    QWebEnginePage* createWindow(WebWindowType /*type*/) override {
        return new PassOnPage(m_openElsewhere, this);
    }

  private:
    const QString m_home;
    std::shared_ptr<Opener> m_openElsewhere;
};

}  // namespace

CExplorer1::CExplorer1(QWidget* parent)
    : QWebEngineView(parent),
      m_home(QFileInfo(QDir::current().filePath(QStringLiteral("speedTest"))).canonicalFilePath()),
      m_openElsewhere(std::make_shared<Opener>([](const QString& address) {
          static_cast<void>(kestova::platform::openAddressDetached(address.toStdString()));
      })) {
    setPage(new HomePage(m_home, m_openElsewhere, this));
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

void CExplorer1::SetExternalOpener(Opener opener) {
    *m_openElsewhere = std::move(opener);
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
    // The engine draws its frames in software (no GPU above); handing them to the window through
    // an OpenGL scene only adds a software-emulated composition of the whole window on the
    // window's thread at every frame and every button change. A backend the user chose stays.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        qputenv("QT_QUICK_BACKEND", "software");
    }
}
