#pragma once
// The socket layer's start-up. Always available on Linux; the application takes it as a function
// so that a test can make it fail.

#include <functional>

namespace corvalink {

using SocketLayerInit = std::function<bool()>;

/// The real initialisation: checks that an IPv4 datagram socket can be made.
bool InitializeSocketLayer();

}  // namespace corvalink
