#include "platform/Terminal.h"

#include <unistd.h>

namespace kestova::platform {

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace kestova::platform
