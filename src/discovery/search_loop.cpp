#include "discovery/search_loop.h"

#include <algorithm>

#include "platform/socket_layer.h"

namespace corvalink {
namespace {

// Longest single wait. A stop request can come from another thread (the Windows console
// handler), which cannot cut a wait short, so the stop test is asked at least this often.
constexpr uint32_t STOP_CHECK_MS = 100;

}  // namespace

PollResult PollReadable(const std::function<SocketHandle()>& descriptor,
                        const std::function<void()>& onReadable, Clock& clock,
                        uint32_t timeoutMs, const std::function<bool()>& stop) {
  PollResult result;
  const uint32_t start = clock.NowMs();
  for (;;) {
    if (stop && stop()) {
      result.end = PollEnd::Stopped;
      return result;
    }
    const SocketHandle fd = descriptor();
    if (fd < 0) {
      result.end = PollEnd::Closed;
      return result;
    }
    const uint32_t elapsed = ElapsedMs(start, clock.NowMs());
    if (elapsed >= timeoutMs) {
      result.end = PollEnd::Deadline;
      return result;
    }
    SocketWait wait{fd};
    std::string err;
    const uint32_t slice = std::min(timeoutMs - elapsed, STOP_CHECK_MS);
    const WaitStatus status = WaitForReadable({&wait, 1}, static_cast<int>(slice), &err);
    if (status == WaitStatus::Failed) {
      result.end = PollEnd::Failed;
      result.error = "waiting for datagrams failed: " + err;
      return result;
    }
    if (status != WaitStatus::Ready || !wait.readable) continue;
    onReadable();
    ++result.datagrams;
  }
}

PollResult RunSearch(CSearchSocket& socket, RouterTable& table, Clock& clock, uint32_t timeoutMs,
                     const Endpoint& destination, const std::function<bool()>& stop) {
  ClearSocketError();
  if (StartSearch(table, socket, destination) < 0) {
    const int sendError = LastSocketError();
    PollResult result;
    result.end = PollEnd::Failed;
    result.error = "could not send the search request to " + Ipv4ToText(destination.address) +
                   ":" + std::to_string(destination.port);
    if (sendError != 0) result.error += ": " + SocketErrorText(sendError);
    return result;
  }
  return PollReadable([&socket] { return socket.Descriptor(); },
                      [&socket] { socket.OnReceive(0); }, clock, timeoutMs, stop);
}

}  // namespace corvalink
