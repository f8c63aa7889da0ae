#pragma once
// Fake time and fake datagram sockets, so protocol code with 2-second waits and retries runs in
// microseconds. FakeClock moves only when told to (or when a FakeSocket waits for nothing);
// FakeNet records every datagram sent, with its destination and the fake time, and hands out
// FakeSockets that read the datagrams a test queued, in order, cut to the reader's buffer as a
// real datagram socket cuts them.
//
// Typical use:
//   FakeClock clock;
//   FakeNet net(clock);
//   net.onSend = [&](const SentDatagram& d) { net.Deliver({0, 4, 0, 0}, {router, 1069}); };
//   auto socket = net.OpenSocket();      // or net.SocketFactory() where a factory is wanted

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/ms_clock.h"
#include "platform/udp_socket.h"

namespace corvalink {

class FakeClock : public Clock {
 public:
  explicit FakeClock(uint32_t startMs = 0) : m_now(startMs) {}
  uint32_t NowMs() override { return m_now; }
  /// Moves time on; wraps at 2^32 like the real clock.
  void Advance(uint32_t ms) { m_now += ms; }

 private:
  uint32_t m_now;
};

struct SentDatagram {
  std::vector<uint8_t> bytes;
  Endpoint to;
  uint32_t atMs = 0;  ///< the fake clock when it was sent
};

/// The network a test scripts: one queue of incoming datagrams, shared by every socket it opened
/// (tests use one socket at a time), and the record of everything sent.
class FakeNet {
 public:
  explicit FakeNet(FakeClock& clock) : m_clock(clock) {}
  FakeNet(const FakeNet&) = delete;
  FakeNet& operator=(const FakeNet&) = delete;

  /// Queues a datagram from `from`, readable `delayMs` after now (0: at once).
  void Deliver(std::vector<uint8_t> bytes, const Endpoint& from, uint32_t delayMs = 0) {
    m_queue.push_back({std::move(bytes), from, m_clock.NowMs() + delayMs, m_nextSeq++});
  }
  /// Queues a read that fails (an ICMP error reported on the socket, say): the socket shows as
  /// readable and that one read returns -1.
  void DeliverReadError(uint32_t delayMs = 0) {
    m_queue.push_back({{}, Endpoint{}, m_clock.NowMs() + delayMs, m_nextSeq++, true});
  }
  /// Datagrams queued and not yet read.
  std::size_t Pending() const { return m_queue.size(); }
  void ClearQueue() { m_queue.clear(); }

  /// Called after each datagram sent has been recorded; the place to script replies.
  std::function<void(const SentDatagram&)> onSend;
  /// When false, datagrams sent are counted and passed to onSend but not kept in `sent`.
  bool keepSent = true;

  std::vector<SentDatagram> sent;
  std::size_t sentCount = 0;
  int socketsOpened = 0;
  int socketsClosed = 0;
  int waitCalls = 0;
  int receiveCalls = 0;
  bool broadcastEnabled = false;
  /// When set, OpenSocket() fails (returns null), as a socket that cannot be created.
  bool failOpen = false;

  std::unique_ptr<DatagramSocket> OpenSocket();
  std::function<std::unique_ptr<DatagramSocket>()> SocketFactory() {
    return [this] { return OpenSocket(); };
  }

 private:
  friend class FakeSocket;
  struct Incoming {
    std::vector<uint8_t> bytes;
    Endpoint from;
    uint32_t readyAtMs;
    uint64_t seq;
    bool readFails = false;
  };

  // Readiness is compared as a signed distance, so a queue that spans a wrap of the clock works.
  static bool ReadyBy(uint32_t readyAtMs, uint32_t nowMs) {
    return static_cast<int32_t>(readyAtMs - nowMs) <= 0;
  }
  // The datagram that becomes readable first (earliest time, then queue order).
  std::vector<Incoming>::iterator Earliest() {
    const uint32_t now = m_clock.NowMs();
    return std::min_element(m_queue.begin(), m_queue.end(),
                            [now](const Incoming& a, const Incoming& b) {
                              int32_t da = static_cast<int32_t>(a.readyAtMs - now);
                              int32_t db = static_cast<int32_t>(b.readyAtMs - now);
                              return da != db ? da < db : a.seq < b.seq;
                            });
  }

  FakeClock& m_clock;
  std::vector<Incoming> m_queue;
  uint64_t m_nextSeq = 0;
};

/// A DatagramSocket on a FakeNet. WaitReadable moves the fake clock: to the moment the next
/// queued datagram becomes readable when that is within the timeout, else by the whole timeout.
class FakeSocket : public DatagramSocket {
 public:
  explicit FakeSocket(FakeNet& net) : m_net(net) {}
  ~FakeSocket() override { Close(); }

  bool IsOpen() const override { return m_open; }

  int SendTo(std::span<const uint8_t> data, const Endpoint& to) override {
    if (!m_open) return -1;
    SentDatagram d{{data.begin(), data.end()}, to, m_net.m_clock.NowMs()};
    ++m_net.sentCount;
    if (m_net.keepSent) {
      m_net.sent.push_back(d);
      if (m_net.onSend) m_net.onSend(m_net.sent.back());
    } else if (m_net.onSend) {
      m_net.onSend(d);
    }
    return static_cast<int>(data.size());
  }

  int ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) override {
    ++m_net.receiveCalls;
    if (!m_open || m_net.m_queue.empty()) return -1;
    auto it = m_net.Earliest();
    if (!FakeNet::ReadyBy(it->readyAtMs, m_net.m_clock.NowMs())) return -1;
    if (it->readFails) {
      m_net.m_queue.erase(it);
      return -1;
    }
    std::size_t n = std::min(buffer.size(), it->bytes.size());
    std::copy_n(it->bytes.begin(), n, buffer.begin());
    if (from != nullptr) *from = it->from;
    m_net.m_queue.erase(it);
    return static_cast<int>(n);
  }

  bool WaitReadable(int timeoutMs) override {
    ++m_net.waitCalls;
    if (!m_open) return false;
    const uint32_t timeout = timeoutMs < 0 ? 0 : static_cast<uint32_t>(timeoutMs);
    const uint32_t now = m_net.m_clock.NowMs();
    if (!m_net.m_queue.empty()) {
      auto it = m_net.Earliest();
      uint32_t wait = FakeNet::ReadyBy(it->readyAtMs, now) ? 0 : it->readyAtMs - now;
      if (wait <= timeout) {
        m_net.m_clock.Advance(wait);
        return true;
      }
    }
    m_net.m_clock.Advance(timeout);
    return false;
  }

  bool SetBroadcast(bool on) override {
    if (!m_open) return false;
    m_net.broadcastEnabled = on;
    return true;
  }

  void Close() override {
    if (m_open) {
      m_open = false;
      ++m_net.socketsClosed;
    }
  }

 private:
  FakeNet& m_net;
  bool m_open = true;
};

inline std::unique_ptr<DatagramSocket> FakeNet::OpenSocket() {
  if (failOpen) return nullptr;
  ++socketsOpened;
  return std::make_unique<FakeSocket>(*this);
}

}  // namespace corvalink
