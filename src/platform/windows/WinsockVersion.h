#pragma once

namespace kestova::platform {

// The Winsock version every hold on the socket layer asks for: 2.2. Tests ask for one the layer
// does not offer, to see the program's way with a socket layer that did not start.
void requestSocketLayerVersion(unsigned short version);

}  // namespace kestova::platform
