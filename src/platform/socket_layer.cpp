#include "platform/socket_layer.h"

#include <sys/socket.h>
#include <unistd.h>

namespace corvalink {

// Linux needs no start-up call; what the application really depends on is being allowed to make
// an IPv4 datagram socket (a sandbox or a kernel without IPv4 can refuse it), so try one.
bool InitializeSocketLayer() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace corvalink
