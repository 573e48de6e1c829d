#include "app/WindowModule.h"

#include "window/TarnApp.h"

extern "C" __attribute__((visibility("default"))) int kestovaRunWindow(int argc, char** argv,
                                                                       const WindowStart* start) {
    CTarnApp application;
    if (start->workspaceTaken) {
        return application.ShowRunningProgram(argc, argv, start->workspace);
    }
    return application.InitInstance(argc, argv, *start->options, start->workspace, start->refusal);
}
