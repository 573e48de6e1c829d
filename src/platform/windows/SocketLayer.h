#pragma once

namespace kestova::platform {

// The Winsock version every socket asks for when it starts the socket layer: 2.2. Tests ask for
// one the layer does not offer, to see the program's way with a socket layer that did not start.
void requestSocketLayerVersion(unsigned short version);

// One hold on the socket layer: WSAStartup when made, WSACleanup when let go; the layer counts
// the holds, so that holders on different threads do not disturb each other.
class SocketLayerHold {
  public:
    SocketLayerHold();
    SocketLayerHold(const SocketLayerHold&) = delete;
    SocketLayerHold& operator=(const SocketLayerHold&) = delete;
    ~SocketLayerHold();

    bool started() const { return started_; }

  private:
    bool started_ = false;
};

}  // namespace kestova::platform
