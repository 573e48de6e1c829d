#include "app/WindowModule.h"

#include "window/TarnApp.h"

extern "C" __attribute__((visibility("default"))) int kestovaRunWindow(
    int argc, char** argv, const kestova::CommandLineOptions* options) {
    CTarnApp application;
    return application.InitInstance(argc, argv, *options);
}
