#pragma once

#include <string>
#include <string_view>

namespace kestova {

// The texts of an assigned server end up on a shell command line, so only texts that cannot
// carry anything but a server are let through.

// A host name or an IPv4 or IPv6 address: letters, digits, '.', '-' and ':' only, 1 to 253 of them.
bool isAcceptableServerAddress(std::string_view text);

// One to five digits with a value from 1 to 65535.
bool isAcceptableServerPort(std::string_view text);

}  // namespace kestova
