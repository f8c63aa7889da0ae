#pragma once
// A TFTP server (RFC 1350) that takes write requests in "octet" mode, as a router takes its
// firmware, with faults a test can switch on: lost datagrams either way, a duplicated or late
// ACK, an ERROR instead of an ACK, silence, replies from the listening port instead of a new one,
// and a stray sender that throws datagrams at the client from another port.
//
// Like real servers it answers each write request from a fresh socket (a new transfer ID,
// RFC 1350 section 4), bound to the address the request was sent to, unless told to answer from
// the listening port. Counts that name "the n-th
// datagram" are kept per client (address and port), from 1, across all its write requests:
// received ones start with the first WRQ, sent ones with the first ACK of block 0.
// Not thread-safe, except Finished(), which a test may call from another thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datagram_log.h"
#include "platform/udp_socket.h"
#include "router_responder.h"
#include "send_queue.h"

namespace corvalink::sim {

struct TftpFaults {
  std::vector<int> dropIn;    ///< the n-th datagram received from a client is ignored
  std::vector<int> dropOut;   ///< the n-th datagram to a client is not sent
  std::vector<int> dupAck;    ///< the n-th datagram to a client is sent twice
  int delayMs = 0;            ///< datagrams to the client leave this much later...
  int delayNth = 0;           ///< ...only the n-th one when non-zero
  int errorNth = 0;           ///< the n-th datagram to a client is an ERROR; the transfer ends
  uint16_t errorCode = 0;
  std::string errorText = "Simulated failure";
  bool silent = false;        ///< write requests are never answered
  bool samePort = false;      ///< answer from the listening socket
  int strayNth = 0;           ///< before the n-th datagram to a client, a stray sender sends a
                              ///< copy of it and a junk datagram to the client from another port
  int faultyClients = 0;      ///< 0: faults apply to every client; k: to the first k clients only
};

/// Adds one fault to `faults`: "drop-in=N", "drop-out=N", "dup-ack=N", "delay=MS",
/// "delay=MS@N", "error=N", "error=N:CODE", "silent", "same-port", "stray=N", "clients=K".
bool ParseTftpFault(std::string_view text, TftpFaults& faults, std::string* err);

struct TftpServerOptions {
  Endpoint bind;
  /// Where finished files go (as <name>, written to <name>.part first). Empty keeps them in
  /// memory, in TftpTransfer::data.
  std::string storeDir;
  TftpFaults faults;
  /// Where the stray sender binds; its port is always chosen by the system. Default: bind's
  /// address. A different address (127.0.0.2, another lab address) makes it a foreign host.
  std::optional<Ipv4> strayAddress;
  /// A transfer with no datagram from its client for this long is given up.
  int idleMs = 10000;
  /// Store each file as DIR/<address the request was sent to>/<name>, so that routers given
  /// the same name keep their own copies.
  bool storePerAddress = false;
  /// The simulated routers: a request sent to one of their addresses gets its loss share and
  /// its flash time.
  std::vector<SimRouter> routers;
  /// Largest file taken; beyond it the server answers ERROR 3 "Disk full or allocation exceeded".
  uint64_t maxBytes = 256ull << 20;
};

/// What one write request came to.
struct TftpTransfer {
  std::string name;
  Endpoint client;
  uint16_t serverPort = 0;  ///< the port that answered
  bool complete = false;
  std::string failure;      ///< why it ended without the last block, for people
  uint64_t bytes = 0;
  uint32_t blocks = 0;      ///< DATA blocks taken, the empty last one included
  uint32_t duplicateData = 0;  ///< DATA blocks that arrived again and were re-acknowledged
  std::vector<uint8_t> data;   ///< the file, when no store directory was given
  std::string storedPath;
};

class TftpServer {
 public:
  TftpServer(TftpServerOptions options, DatagramLog& log, SendQueue& queue, EventSink events);
  ~TftpServer();
  TftpServer(const TftpServer&) = delete;
  TftpServer& operator=(const TftpServer&) = delete;

  bool Open(std::string* err);
  uint16_t Port() const;

  /// Every descriptor the event loop must watch (listening, per-transfer and stray sockets).
  void CollectDescriptors(std::vector<SocketWait>& waits) const;
  /// Reads one datagram from the socket `fd`.
  void OnReadable(SocketHandle fd, uint64_t nowMs);
  /// Gives up idle transfers and closes finished ones whose dally time is over.
  void OnTick(uint64_t nowMs);

  std::vector<TftpTransfer> Finished() const;
  /// True while the router at `address` writes the image it took to its flash.
  bool Flashing(const Ipv4& address, uint64_t nowMs) const;

 private:
  struct Session;
  struct PeerCounters {
    int index = 0;  ///< 1 for the first client seen
    int received = 0;
    int sent = 0;
  };

  PeerCounters& CountersFor(const Endpoint& client);
  bool Faulty(const PeerCounters& c) const;
  void OnListenDatagram(std::span<const uint8_t> d, const Endpoint& from, const Ipv4& to,
                        uint64_t nowMs);
  void OnSessionDatagram(Session& s, std::span<const uint8_t> d, const Endpoint& from,
                         uint64_t nowMs);
  /// `to` is the address the client wrote to: the transfer answers from it.
  void StartSession(std::span<const uint8_t> wrq, const Endpoint& from, const Ipv4& to,
                    uint64_t nowMs);
  void SendToClient(Session& s, std::vector<uint8_t> bytes, uint64_t nowMs);
  void SendAck(Session& s, uint16_t block, uint64_t nowMs);
  void Finish(Session& s, bool complete, std::string failure, uint64_t nowMs);
  Session* FindSessionByClient(const Endpoint& client);
  const SimRouter* RouterAt(const Ipv4& address) const;
  bool Lost(const Session& s);

  TftpServerOptions m_options;
  DatagramLog& m_log;
  SendQueue& m_queue;
  EventSink m_events;
  std::shared_ptr<UdpSocket> m_listen;
  std::shared_ptr<UdpSocket> m_stray;
  std::vector<std::unique_ptr<Session>> m_sessions;
  std::unordered_map<uint64_t, PeerCounters> m_peers;
  std::vector<uint8_t> m_buffer;
  struct Flash {
    Ipv4 router;
    uint64_t startMs = 0;
    uint64_t untilMs = 0;
  };
  std::vector<Flash> m_flashing;
  uint32_t m_lossState = 0x6B8B4567;
  mutable std::mutex m_finishedMutex;
  std::vector<TftpTransfer> m_finished;
};

/// TFTP datagrams as RFC 1350 section 5 lays them out (opcode and block big-endian).
std::vector<uint8_t> BuildTftpAck(uint16_t block);
std::vector<uint8_t> BuildTftpError(uint16_t code, std::string_view text);

}  // namespace corvalink::sim
