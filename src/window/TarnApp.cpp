#include "window/TarnApp.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <iostream>

#include "app/ExitStatus.h"
#include "app/RunSettings.h"
#include "controls/Explorer1.h"
#include "controls/MessageBox.h"
#include "platform/SystemValues.h"
#include "window/TarnDlg.h"
#include "workspace/RunLog.h"
#include "workspace/ScriptTrust.h"

namespace {

// The longest a result report may still take once the window has gone: name resolution, the
// connection and the exchange, each within its own bound.
std::chrono::milliseconds reportBound(const kestova::ServiceEndpoint& service) {
    using namespace std::chrono_literals;
    return service.resolveTimeout + service.connectTimeout + service.exchangeTimeout;
}

constexpr const char* kTitle = "Kestova Connection Speed Test";

// The local socket on which the window of the program that holds a workspace listens: named after
// the workspace, so that a second program in the same workspace finds it and no other does.
QString frontDoorName(const std::string& workspace) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(workspace), QCryptographicHash::Sha256);
    return QStringLiteral("kestova-speedtest-") + QString::fromLatin1(digest.toHex().left(32));
}

// The window comes to the front whenever a second program knocks.
void openFrontDoor(QLocalServer& door, const std::string& workspace, QWidget& window) {
    const QString name = frontDoorName(workspace);
    // This program holds the workspace's lock: a socket left by one that was killed is stale.
    QLocalServer::removeServer(name);
    door.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&door, &QLocalServer::newConnection, &window, [&door, &window] {
        while (QLocalSocket* knock = door.nextPendingConnection()) {
            knock->disconnectFromServer();
            knock->deleteLater();
        }
        window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window.show();
        window.raise();
        window.activateWindow();
        kestova::runLog() << "a second program in this workspace brought the window to the front "
                          << kestova::currentTimestamp();
    });
    if (!door.listen(name)) {
        kestova::runLog() << "a second program cannot bring this window to the front: "
                          << door.errorString().toStdString();
    }
}

}  // namespace

int CTarnApp::ShowRunningProgram(int argc, char** argv, const std::string& workspace) {
    QApplication application(argc, argv);
    QLocalSocket knock;
    knock.connectToServer(frontDoorName(workspace));
    // A local socket: the holder's window answers at once when there is one.
    if (knock.waitForConnected(3000)) {
        knock.disconnectFromServer();
        return kestova::kExitCompleted;
    }
    const std::string notice = "a test is already running in " + workspace;
    std::cerr << "kestova-speedtest: " << notice << "\n" << std::flush;
    MessageBox::warning(
        nullptr, QString::fromLatin1(kTitle),
        QStringLiteral("A test is already running in %1.").arg(QString::fromStdString(workspace)));
    return kestova::kExitCompleted;
}

int CTarnApp::InitInstance(int argc, char** argv, const kestova::CommandLineOptions& options,
                           const std::string& workspace, const char* refusal) {
    prepareWebEngineEnvironment();
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("Kestova Connection Speed Test"));

    // Where other users could change what the test runs (as the program found before it took the
    // workspace, or as the workspace is now), the window says so instead of starting; nothing of
    // the program folder is touched.
    if (const std::optional<std::string> untrusted =
            refusal != nullptr ? std::optional<std::string>(refusal)
                               : kestova::workspace::whyScriptsMayNotRunHere()) {
        QString text = QString::fromStdString(*untrusted);
        text[0] = text[0].toUpper();
        MessageBox::warning(nullptr, QCoreApplication::applicationName(), text);
        return kestova::kExitCannotStart;
    }

    kestova::platform::MachineValues values;
    values.setWebEngineVersion(qWebEngineChromiumVersion());
    CTarnDlg window(kestova::testRunSettingsFor(options), values);
    window.OnInitDialog();
    QLocalServer frontDoor;
    openFrontDoor(frontDoor, workspace, window);
    window.exec();
    // The window leaves the screen now (the display hears of it only when events are handled),
    // while the report of the last test may still be on its way.
    QCoreApplication::processEvents();
    window.testRun().waitForRunsToEnd(reportBound(options.service));
    return kestova::kExitCompleted;
}
