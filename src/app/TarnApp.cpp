#include "app/TarnApp.h"

#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QApplication>
#include <cstdlib>

#include "app/TarnDlg.h"
#include "controls/Explorer1.h"
#include "platform/OpenAddress.h"
#include "platform/SystemValues.h"

int CTarnApp::InitInstance(int argc, char** argv, const kestova::CommandLineOptions& options) {
    prepareWebEngineEnvironment();
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("Kestova Connection Speed Test"));

    kestova::platform::MachineValues values;
    values.setWebEngineVersion(qWebEngineChromiumVersion());
    kestova::TestRunSettings settings;
    settings.service = options.service;
    settings.timing =
        options.shortPauses ? kestova::TestRunTiming::shortPauses() : kestova::TestRunTiming{};
    settings.openAddress = [](const std::string& address) {
        static_cast<void>(kestova::platform::openAddressDetached(address));
    };
    settings.endProgram = [] { std::exit(0); };

    CTarnDlg window(std::move(settings), values);
    window.OnInitDialog();
    window.exec();
    return 0;
}
