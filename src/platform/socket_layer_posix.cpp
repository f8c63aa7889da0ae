#include "platform/socket_layer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace corvalink {

bool InitializeSocketLayer() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int LastSocketError() { return errno; }

void ClearSocketError() { errno = 0; }

std::string SocketErrorText(int code) { return std::strerror(code); }

WaitStatus WaitForReadable(std::span<SocketWait> sockets, int timeoutMs, std::string* err) {
  std::vector<pollfd> polls;
  polls.reserve(sockets.size());
  for (SocketWait& s : sockets) {
    s.readable = false;
    polls.push_back(pollfd{static_cast<int>(s.handle), POLLIN, 0});
  }
  const int r = ::poll(polls.data(), polls.size(), timeoutMs < 0 ? 0 : timeoutMs);
  if (r < 0) {
    if (errno == EINTR) return WaitStatus::Interrupted;
    if (err != nullptr) *err = std::strerror(errno);
    return WaitStatus::Failed;
  }
  if (r == 0) return WaitStatus::TimedOut;
  for (std::size_t i = 0; i < polls.size(); ++i) {
    if ((polls[i].revents & POLLNVAL) != 0) {
      if (err != nullptr) *err = "the socket is not open";
      return WaitStatus::Failed;
    }
    // POLLERR without POLLIN is a pending socket error (an ICMP report); the read clears it,
    // so it counts as readable rather than leaving the caller to spin on it.
    sockets[i].readable = (polls[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
  }
  return WaitStatus::Ready;
}

}  // namespace corvalink
