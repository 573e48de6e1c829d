#pragma once

namespace kestova::platform {

// One hold on the system's socket layer, for as long as an exchange lasts. On Windows that is
// Winsock: WSAStartup when the hold is made, WSACleanup when it is let go; the layer counts the
// holds, so that holders on different threads do not disturb each other, and starting it can fail.
// Elsewhere there is no layer to start and a hold is always started.
class SocketLayer {
  public:
    SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
    ~SocketLayer();

    bool started() const { return started_; }

  private:
    bool started_ = false;
};

}  // namespace kestova::platform
