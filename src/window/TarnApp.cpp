#include "window/TarnApp.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QApplication>

#include "app/ExitStatus.h"
#include "app/RunSettings.h"
#include "controls/Explorer1.h"
#include "controls/MessageBox.h"
#include "platform/SystemValues.h"
#include "window/TarnDlg.h"
#include "workspace/ScriptTrust.h"

namespace {

// The longest a result report may still take once the window has gone: name resolution, the
// connection and the exchange, each within its own bound.
std::chrono::milliseconds reportBound(const kestova::ServiceEndpoint& service) {
    using namespace std::chrono_literals;
    return service.resolveTimeout + service.connectTimeout + service.exchangeTimeout;
}

}  // namespace

int CTarnApp::InitInstance(int argc, char** argv, const kestova::CommandLineOptions& options) {
    prepareWebEngineEnvironment();
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("Kestova Connection Speed Test"));

    // Where other users could change what the test runs, the window says so instead of starting;
    // nothing of the program folder is touched.
    if (const std::optional<std::string> untrusted =
            kestova::workspace::whyScriptsMayNotRunHere()) {
        QString text = QString::fromStdString(*untrusted);
        text[0] = text[0].toUpper();
        MessageBox::warning(nullptr, QCoreApplication::applicationName(), text);
        return kestova::kExitCannotStart;
    }

    kestova::platform::MachineValues values;
    values.setWebEngineVersion(qWebEngineChromiumVersion());
    CTarnDlg window(kestova::testRunSettingsFor(options), values);
    window.OnInitDialog();
    window.exec();
    // The window leaves the screen now (the display hears of it only when events are handled),
    // while the report of the last test may still be on its way.
    QCoreApplication::processEvents();
    window.testRun().waitForRunsToEnd(reportBound(options.service));
    return kestova::kExitCompleted;
}
