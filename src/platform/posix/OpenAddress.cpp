#include "platform/OpenAddress.h"

#include "platform/ChildProcess.h"

namespace kestova::platform {

bool openAddressDetached(const std::string& address) {
    // The opener is left to run; the child process reaps it when it ends.
    return ChildProcess::startProgram({"xdg-open", address}).has_value();
}

}  // namespace kestova::platform
