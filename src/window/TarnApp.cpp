#include "window/TarnApp.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QApplication>

#include "app/RunSettings.h"
#include "controls/Explorer1.h"
#include "platform/SystemValues.h"
#include "window/TarnDlg.h"

int CTarnApp::InitInstance(int argc, char** argv, const kestova::CommandLineOptions& options) {
    prepareWebEngineEnvironment();
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("Kestova Connection Speed Test"));

    kestova::platform::MachineValues values;
    values.setWebEngineVersion(qWebEngineChromiumVersion());
    CTarnDlg window(kestova::testRunSettingsFor(options), values);
    window.OnInitDialog();
    window.exec();
    return 0;
}
