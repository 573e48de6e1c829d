#include "platform/Terminal.h"

#include <windows.h>

namespace kestova::platform {

bool standardErrorIsTerminal() {
    // Only a console has a console mode: a file or a pipe has none.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace kestova::platform
