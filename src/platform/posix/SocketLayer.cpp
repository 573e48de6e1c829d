#include "platform/SocketLayer.h"

namespace kestova::platform {

// POSIX sockets need no layer to be started.
SocketLayer::SocketLayer() : started_(true) {}

SocketLayer::~SocketLayer() = default;

}  // namespace kestova::platform
