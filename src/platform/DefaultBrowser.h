#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestova::platform {

// The Exec line of the desktop's default web browser (xdg-mime's handler of http addresses, looked
// up in the applications folders of the XDG data folders); nothing when there is none.
std::optional<std::string> defaultBrowserExecLine();

// The Exec value of a desktop entry's [Desktop Entry] group; nothing when it has none.
std::optional<std::string> execLineOfDesktopEntry(std::string_view entry);

// The browser command for the address: the Exec line cut where its first %u, %U, %f or %F stands
// (with its quotes, when quoted), then a space and the address.
std::string browserCommandLine(std::string_view execLine, std::string_view address);

// The command line split into words at white space, without the remaining field codes (%i, %c, %k
// and the like), to be started directly, not through a shell.
std::vector<std::string> commandWords(std::string_view commandLine);

// True when the program runs with the rights of root.
bool runningAsRoot();

}  // namespace kestova::platform
