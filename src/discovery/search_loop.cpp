#include "discovery/search_loop.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

namespace corvalink {

PollResult PollReadable(const std::function<int()>& descriptor,
                        const std::function<void()>& onReadable, Clock& clock,
                        uint32_t timeoutMs, const std::function<bool()>& stop) {
  PollResult result;
  const uint32_t start = clock.NowMs();
  for (;;) {
    if (stop && stop()) {
      result.end = PollEnd::Stopped;
      return result;
    }
    const int fd = descriptor();
    if (fd < 0) {
      result.end = PollEnd::Closed;
      return result;
    }
    const uint32_t elapsed = ElapsedMs(start, clock.NowMs());
    if (elapsed >= timeoutMs) {
      result.end = PollEnd::Deadline;
      return result;
    }
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(timeoutMs - elapsed));
    if (r < 0) {
      if (errno == EINTR) continue;
      result.end = PollEnd::Failed;
      result.error = std::string("waiting for datagrams failed: ") + std::strerror(errno);
      return result;
    }
    if (r == 0) continue;
    if ((p.revents & POLLNVAL) != 0) {
      result.end = PollEnd::Failed;
      result.error = "waiting for datagrams failed: the socket is not open";
      return result;
    }
    // POLLERR without POLLIN is a pending socket error (an ICMP report); the read clears it,
    // so it is handed on like a datagram rather than spinning here.
    onReadable();
    ++result.datagrams;
  }
}

PollResult RunSearch(CSearchSocket& socket, RouterTable& table, Clock& clock, uint32_t timeoutMs,
                     const Endpoint& destination, const std::function<bool()>& stop) {
  errno = 0;
  if (StartSearch(table, socket, destination) < 0) {
    const int sendErrno = errno;
    PollResult result;
    result.end = PollEnd::Failed;
    result.error = "could not send the search request to " + Ipv4ToText(destination.address) +
                   ":" + std::to_string(destination.port);
    if (sendErrno != 0) result.error += std::string(": ") + std::strerror(sendErrno);
    return result;
  }
  return PollReadable([&socket] { return socket.Descriptor(); },
                      [&socket] { socket.OnReceive(0); }, clock, timeoutMs, stop);
}

}  // namespace corvalink
