#include "platform/LocalTime.h"

#include <time.h>

namespace kestova::platform {

std::tm toLocalTime(std::time_t time) {
    std::tm parts{};
    ::localtime_s(&parts, &time);
    return parts;
}

}  // namespace kestova::platform
