#pragma once
// An in-memory DatagramSocket for protocol tests: queued datagrams are read one per call and
// cut to the reader's buffer as a real datagram socket cuts them; sends are recorded.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "platform/udp_socket.h"

namespace corvalink {

class FakeDatagramSocket : public DatagramSocket {
 public:
  struct Sent {
    std::vector<uint8_t> data;
    Endpoint to;
  };

  /// A datagram to be read; std::nullopt makes that read fail.
  void Queue(std::optional<std::vector<uint8_t>> datagram) { m_incoming.push_back(datagram); }

  bool IsOpen() const override { return m_open; }
  int SendTo(std::span<const uint8_t> data, const Endpoint& to) override {
    if (!m_open) return -1;
    sent.push_back({std::vector<uint8_t>(data.begin(), data.end()), to});
    return static_cast<int>(data.size());
  }
  int ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) override {
    if (!m_open || m_incoming.empty()) return -1;
    std::optional<std::vector<uint8_t>> d = m_incoming.front();
    m_incoming.pop_front();
    if (!d) return -1;
    const std::size_t n = std::min(d->size(), buffer.size());
    std::copy_n(d->begin(), n, buffer.begin());
    if (from != nullptr) *from = Endpoint{{127, 0, 0, 1}, 4242};
    return static_cast<int>(n);
  }
  bool WaitReadable(int) override { return m_open && !m_incoming.empty(); }
  bool SetBroadcast(bool on) override {
    broadcast = on;
    return m_open;
  }
  void Close() override {
    if (m_open) {
      ++closeCount;
      if (outsideCloseCount != nullptr) ++*outsideCloseCount;
    }
    m_open = false;
  }

  std::vector<Sent> sent;
  bool broadcast = false;
  int closeCount = 0;
  /// Counted too, for a test that outlives the fake's owner.
  int* outsideCloseCount = nullptr;

 private:
  bool m_open = true;
  std::deque<std::optional<std::vector<uint8_t>>> m_incoming;
};

}  // namespace corvalink
