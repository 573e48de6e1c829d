// Runs the window tests inside a Qt application: on the offscreen platform unless a display is
// chosen, with the web engine prepared as the program prepares it.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "controls/Explorer1.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    prepareWebEngineEnvironment();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestova Connection Speed Test"));
    return RUN_ALL_TESTS();
}
