#pragma once

#include <ctime>

namespace kestova::platform {

// The calendar time in the local time zone, safe from any thread.
std::tm toLocalTime(std::time_t time);

}  // namespace kestova::platform
