#pragma once

#include "app/CommandLine.h"

// The window lives in a module of its own (libkestova-window.so beside the program), loaded only
// when the window is wanted: without a window the program carries none of Qt's weight.
inline constexpr const char* kWindowModuleFile = "libkestova-window.so";
inline constexpr const char* kWindowEntryName = "kestovaRunWindow";

// The module's entry: runs the window until it ends; the program's exit status.
using WindowEntry = int (*)(int argc, char** argv, const kestova::CommandLineOptions* options);
