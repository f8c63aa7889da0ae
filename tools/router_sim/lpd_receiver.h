#pragma once
// The routers' print server: the receiving side of the Line Printer Daemon protocol (RFC 1179),
// as far as a print job needs it. A client opens a connection to port 515 and sends
//   \x02 queue LF                        "receive a printer job" (section 5.2)
// then any number of subcommands (section 6), each answered with one octet (0 = go on):
//   \x01 LF                              abort: forget the files of this job, no answer
//   \x02 count SP name LF  <count bytes> \0   control file; answered after the line and the \0
//   \x03 count SP name LF  <count bytes> \0   data file; a count of 0 means "to the end of the
//                                             connection", with no \0 (section 6.3)
// and closes the connection; the job is then complete. LpdJobParser is that protocol on bytes
// alone, LpdReceiver the listening socket and its connections. Not thread-safe, except
// Finished(), which a test may call from another thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/ipv4.h"
#include "platform/socket_layer.h"
#include "platform/tcp_socket.h"
#include "router_responder.h"

namespace corvalink::sim {

inline constexpr uint16_t LPD_PORT = 515;
/// The answer octets. RFC 1179 fixes only 0; the others follow the BSD and LPRng servers.
inline constexpr uint8_t LPD_ACK = 0;
inline constexpr uint8_t LPD_REJECT_FULL = 2;    ///< the file is larger than the server takes
inline constexpr uint8_t LPD_REJECT_FORMAT = 3;  ///< a command the server does not understand

struct LpdFile {
  bool control = false;  ///< a control file (\x02), else a data file (\x03)
  std::string name;      ///< as the client named it; not safe as a path
  std::vector<uint8_t> bytes;
};

/// One connection's protocol, fed the client's bytes as they arrive.
class LpdJobParser {
 public:
  /// `maxBytes` bounds the whole job (all its files together).
  explicit LpdJobParser(uint64_t maxBytes = 256ull << 20) : m_maxBytes(maxBytes) {}

  /// Takes the next bytes from the client and appends the octets to send back to `reply`. After
  /// a failure the rest is ignored; the server then closes the connection.
  void Feed(std::span<const uint8_t> bytes, std::vector<uint8_t>& reply);
  /// The client has closed its side. True when the job is complete: it came to an end between
  /// subcommands, or within a data file sent without a count, and holds at least one file.
  bool Finish();

  bool Failed() const { return !m_failure.empty(); }
  /// Why the job failed, for people; empty while it has not.
  const std::string& Failure() const { return m_failure; }
  const std::string& Queue() const { return m_queue; }
  const std::vector<LpdFile>& Files() const { return m_files; }

 private:
  enum class State { Command, Subcommand, FileBody, FileEnd, ToEnd, Done };

  void OnLine(std::string_view line, std::vector<uint8_t>& reply);
  void Fail(std::string why, uint8_t code, std::vector<uint8_t>& reply);

  uint64_t m_maxBytes;
  uint64_t m_jobBytes = 0;
  State m_state = State::Command;
  std::string m_line;
  uint64_t m_left = 0;  ///< bytes of the current file still to come
  LpdFile m_current;
  std::string m_queue;
  std::vector<LpdFile> m_files;
  std::string m_failure;
};

struct LpdReceiverOptions {
  Endpoint bind{{}, LPD_PORT};
  /// Where jobs go: <storeDir>/<address the client connected to>/<n>-<file name>, n counting
  /// the jobs from 1. Empty keeps them in memory, in LpdJob::files.
  std::string storeDir;
  /// A connection with nothing from its client for this long is dropped, its job lost.
  int idleMs = 10000;
  uint64_t maxBytes = 256ull << 20;
  /// Connections beyond this many at once are closed at once.
  std::size_t maxConnections = 16;
};

/// What one connection came to.
struct LpdJob {
  Endpoint client;
  Endpoint server;  ///< the address and port the client connected to
  std::string queue;
  bool complete = false;
  std::string failure;
  uint64_t dataBytes = 0;
  std::vector<LpdFile> files;           ///< only when there is no store directory
  std::vector<std::string> storedData;  ///< the stored data files, in the order received
};

class LpdReceiver {
 public:
  LpdReceiver(LpdReceiverOptions options, EventSink events);
  ~LpdReceiver();
  LpdReceiver(const LpdReceiver&) = delete;
  LpdReceiver& operator=(const LpdReceiver&) = delete;

  bool Open(std::string* err);
  uint16_t Port() const;

  void CollectDescriptors(std::vector<SocketWait>& waits) const;
  /// Handles readiness of `fd` when it is one of this receiver's; false when it is not.
  bool OnReadable(SocketHandle fd, uint64_t nowMs);
  /// Drops idle connections.
  void OnTick(uint64_t nowMs);

  std::vector<LpdJob> Finished() const;

 private:
  struct Connection;
  void Accept(uint64_t nowMs);
  void Read(Connection& c, uint64_t nowMs);
  void End(Connection& c, bool clientClosed, std::string failure);
  void Store(const LpdJobParser& parser, LpdJob& job);

  LpdReceiverOptions m_options;
  EventSink m_events;
  TcpSocket m_listen;
  std::vector<std::unique_ptr<Connection>> m_connections;
  int m_jobNumber = 0;
  mutable std::mutex m_finishedMutex;
  std::vector<LpdJob> m_finished;
};

}  // namespace corvalink::sim
