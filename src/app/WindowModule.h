#pragma once

#include "app/CommandLine.h"

// The window lives in a module of its own (libkestova-window.so beside the program), loaded only
// when the window is wanted: without a window the program carries none of Qt's weight.
inline constexpr const char* kWindowModuleFile = "libkestova-window.so";
inline constexpr const char* kWindowEntryName = "kestovaRunWindow";

// What the program hands the window.
struct WindowStart {
    const kestova::CommandLineOptions* options = nullptr;
    // The workspace, a full path; the program is in it already unless another holds it or it was
    // refused.
    const char* workspace = nullptr;
    // Another program holds the workspace: its window comes to the front, or, where it has none,
    // a message says that a test is running there. No window of this program's own opens.
    bool workspaceTaken = false;
    // Why no test may run in the workspace, found before the program took it (which it then did
    // not): the window only says so. Nothing when the program holds the workspace.
    const char* refusal = nullptr;
};

// The module's entry: runs the window until it ends; the program's exit status.
using WindowEntry = int (*)(int argc, char** argv, const WindowStart* start);
