#pragma once
// Datagrams the simulator has promised to send later (a delayed reply, a slow ACK). The event
// loop sends what is due and sleeps no longer than the next promise, so a delay never stalls
// the other sockets. Not thread-safe: the event loop's thread owns it.

#include <cstdint>
#include <memory>
#include <queue>
#include <vector>

#include "platform/ipv4.h"
#include "platform/udp_socket.h"

namespace corvalink::sim {

/// Milliseconds on the process's monotonic clock.
uint64_t SimNowMs();

class SendQueue {
 public:
  /// Sends `bytes` from `socket` to `to` once `dueMs` has come. The queue keeps the socket alive.
  void Schedule(std::shared_ptr<DatagramSocket> socket, const Endpoint& to,
                std::vector<uint8_t> bytes, uint64_t dueMs);
  /// Sends everything due by `nowMs`, in order of due time, then of scheduling.
  void SendDue(uint64_t nowMs);
  /// Milliseconds until the next promise (0 when one is due), or -1 when there is none.
  int MsUntilNext(uint64_t nowMs) const;
  bool Empty() const { return m_queue.empty(); }

 private:
  struct Pending {
    uint64_t dueMs;
    uint64_t sequence;
    std::shared_ptr<DatagramSocket> socket;
    Endpoint to;
    std::vector<uint8_t> bytes;
    bool operator>(const Pending& o) const {
      return dueMs != o.dueMs ? dueMs > o.dueMs : sequence > o.sequence;
    }
  };
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> m_queue;
  uint64_t m_sequence = 0;
};

}  // namespace corvalink::sim
