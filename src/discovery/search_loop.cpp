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
  SearchPlan plan;
  plan.destination = destination;
  plan.timeoutMs = timeoutMs;
  return RunSearch(socket, table, clock, plan, stop);
}

PollResult RunSearch(CSearchSocket& socket, RouterTable& table, Clock& clock,
                     const SearchPlan& plan, const std::function<bool()>& stop) {
  PollResult result;
  auto sendFailed = [&result](const Endpoint& to) {
    const int sendError = LastSocketError();
    result.end = PollEnd::Failed;
    result.error = "could not send the search request to " + Ipv4ToText(to.address) + ":" +
                   std::to_string(to.port);
    if (sendError != 0) result.error += ": " + SocketErrorText(sendError);
    return result;
  };
  ClearSocketError();
  table.Clear();
  if (plan.toDestination && StartSearch(table, socket, plan.destination) < 0) {
    return sendFailed(plan.destination);
  }

  // The sweep: request n leaves n * SWEEP_INTERVAL_MS after the start, so however busy the
  // loop is, a sweep never goes faster than that.
  std::vector<Ipv4> sweep;
  for (const SearchTarget& t : plan.targets) {
    for (uint32_t i = 0; i < t.count; ++i) sweep.push_back(TargetAddress(t, i));
  }
  std::size_t next = 0;
  const uint32_t start = clock.NowMs();
  uint32_t lastSentMs = 0;
  std::vector<SocketWait> waits;
  for (;;) {
    if (stop && stop()) {
      result.end = PollEnd::Stopped;
      return result;
    }
    uint32_t elapsed = ElapsedMs(start, clock.NowMs());
    while (next < sweep.size() && next * SWEEP_INTERVAL_MS <= elapsed) {
      const Endpoint to{sweep[next], plan.destination.port};
      ClearSocketError();
      if (socket.SendSearch(to) < 0) return sendFailed(to);
      ++next;
      lastSentMs = elapsed;
    }
    const bool sweeping = next < sweep.size();
    const uint32_t deadline = lastSentMs + plan.timeoutMs;
    if (!sweeping && elapsed >= deadline) {
      result.end = PollEnd::Deadline;
      return result;
    }
    uint32_t slice = sweeping ? static_cast<uint32_t>(next * SWEEP_INTERVAL_MS) - elapsed
                              : deadline - elapsed;
    slice = std::min(slice, STOP_CHECK_MS);

    waits.clear();
    for (SocketHandle h : socket.Descriptors()) waits.push_back(SocketWait{h});
    if (waits.empty()) {
      result.end = PollEnd::Closed;
      return result;
    }
    std::string err;
    const WaitStatus status = WaitForReadable(waits, static_cast<int>(slice), &err);
    if (status == WaitStatus::Failed) {
      result.end = PollEnd::Failed;
      result.error = "waiting for datagrams failed: " + err;
      return result;
    }
    if (status != WaitStatus::Ready) continue;
    for (const SocketWait& w : waits) {
      if (!w.readable) continue;
      socket.OnReceiveOn(w.handle);
      ++result.datagrams;
    }
  }
}

}  // namespace corvalink
