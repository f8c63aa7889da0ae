#include "send_queue.h"

#include <chrono>

namespace corvalink::sim {

uint64_t SimNowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void SendQueue::Schedule(std::shared_ptr<DatagramSocket> socket, const Endpoint& to,
                         std::vector<uint8_t> bytes, uint64_t dueMs) {
  m_queue.push(Pending{dueMs, m_sequence++, std::move(socket), to, std::move(bytes)});
}

void SendQueue::SendDue(uint64_t nowMs) {
  while (!m_queue.empty() && m_queue.top().dueMs <= nowMs) {
    const Pending& p = m_queue.top();
    p.socket->SendTo(p.bytes, p.to);
    m_queue.pop();
  }
}

int SendQueue::MsUntilNext(uint64_t nowMs) const {
  if (m_queue.empty()) return -1;
  uint64_t due = m_queue.top().dueMs;
  return due <= nowMs ? 0 : static_cast<int>(due - nowMs);
}

}  // namespace corvalink::sim
