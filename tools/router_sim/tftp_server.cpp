#include "tftp_server.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <cstdio>

#include "platform/byte_order.h"
#include "platform/udp_destination.h"
#include "platform/ascii_case.h"

namespace corvalink::sim {
namespace {

// RFC 1350 section 5 opcodes and section 6 error codes.
constexpr uint16_t OP_RRQ = 1;
constexpr uint16_t OP_WRQ = 2;
constexpr uint16_t OP_DATA = 3;
constexpr uint16_t OP_ACK = 4;
constexpr uint16_t OP_ERROR = 5;
constexpr uint16_t ERR_NOT_DEFINED = 0;
constexpr uint16_t ERR_ACCESS = 2;
constexpr uint16_t ERR_DISK_FULL = 3;
constexpr uint16_t ERR_ILLEGAL = 4;
constexpr uint16_t ERR_UNKNOWN_TID = 5;

constexpr std::size_t BLOCK_SIZE = 512;
constexpr std::size_t RECEIVE_BUFFER = 65536;
// After the last ACK the server stays a while to acknowledge a repeated last block, in case its
// ACK was lost (RFC 1350 section 6, "dallying").
constexpr uint64_t DALLY_MS = 1000;

uint64_t PeerKey(const Endpoint& e) {
  return static_cast<uint64_t>(GetU32Be(e.address, 0)) << 16 | e.port;
}

std::string EndpointText(const Endpoint& e) {
  return Ipv4ToText(e.address) + ':' + std::to_string(e.port);
}

bool Contains(const std::vector<int>& list, int n) {
  return std::find(list.begin(), list.end(), n) != list.end();
}

bool ParseCount(std::string_view text, int& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && out >= 0;
}

/// The file name under which a request is stored: its last path component, and only a plain
/// one, so a request can never write outside the store directory.
std::optional<std::string> SafeName(std::string_view requested) {
  std::size_t cut = requested.find_last_of("/\\");
  std::string_view name = cut == std::string_view::npos ? requested : requested.substr(cut + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  }
  return std::string(name);
}

}  // namespace

struct TftpServer::Session {
  std::shared_ptr<UdpSocket> socket;
  bool ownSocket = false;
  Endpoint client;
  Ipv4 router{};  ///< the address the write request went to
  int lossPercent = 0;
  uint64_t peerKey = 0;
  bool faulty = false;
  TftpTransfer result;
  uint16_t lastAcked = 0;
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file;
  bool writeFailed = false;
  std::string partPath;
  uint64_t lastActivityMs = 0;
  bool finished = false;
  uint64_t removeAtMs = 0;
};

std::vector<uint8_t> BuildTftpAck(uint16_t block) {
  std::vector<uint8_t> b(4);
  PutU16Be(b, 0, OP_ACK);
  PutU16Be(b, 2, block);
  return b;
}

std::vector<uint8_t> BuildTftpError(uint16_t code, std::string_view text) {
  std::vector<uint8_t> b(4 + text.size() + 1);
  PutU16Be(b, 0, OP_ERROR);
  PutU16Be(b, 2, code);
  std::copy(text.begin(), text.end(), b.begin() + 4);
  return b;
}

bool ParseTftpFault(std::string_view text, TftpFaults& f, std::string* err) {
  auto fail = [&](std::string why) {
    if (err != nullptr) *err = why + ": " + std::string(text);
    return false;
  };
  std::size_t eq = text.find('=');
  std::string_view key = text.substr(0, eq);
  std::string_view value = eq == std::string_view::npos ? std::string_view{} : text.substr(eq + 1);
  int n = 0;
  if (key == "silent" || key == "same-port") {
    if (eq != std::string_view::npos) return fail("takes no value");
    (key == "silent" ? f.silent : f.samePort) = true;
  } else if (key == "drop-in" || key == "drop-out" || key == "dup-ack") {
    if (!ParseCount(value, n) || n < 1) return fail("needs a datagram number from 1");
    (key == "drop-in" ? f.dropIn : key == "drop-out" ? f.dropOut : f.dupAck).push_back(n);
  } else if (key == "delay") {
    std::size_t at = value.find('@');
    if (!ParseCount(value.substr(0, at), f.delayMs)) return fail("needs milliseconds");
    f.delayNth = 0;
    if (at != std::string_view::npos && (!ParseCount(value.substr(at + 1), f.delayNth) ||
                                         f.delayNth < 1)) {
      return fail("needs a datagram number from 1 after '@'");
    }
  } else if (key == "error") {
    std::size_t colon = value.find(':');
    if (!ParseCount(value.substr(0, colon), f.errorNth) || f.errorNth < 1) {
      return fail("needs a datagram number from 1");
    }
    if (colon != std::string_view::npos) {
      int code = 0;
      if (!ParseCount(value.substr(colon + 1), code) || code > 0xFFFF) {
        return fail("needs an error code 0..65535 after ':'");
      }
      f.errorCode = static_cast<uint16_t>(code);
    }
  } else if (key == "stray") {
    if (!ParseCount(value, f.strayNth) || f.strayNth < 1) {
      return fail("needs a datagram number from 1");
    }
  } else if (key == "clients") {
    if (!ParseCount(value, f.faultyClients) || f.faultyClients < 1) {
      return fail("needs a client count from 1");
    }
  } else {
    return fail("unknown TFTP fault");
  }
  return true;
}

TftpServer::TftpServer(TftpServerOptions options, DatagramLog& log, SendQueue& queue,
                       EventSink events)
    : m_options(std::move(options)),
      m_log(log),
      m_queue(queue),
      m_events(std::move(events)),
      m_buffer(RECEIVE_BUFFER) {}

TftpServer::~TftpServer() = default;

bool TftpServer::Open(std::string* err) {
  auto listen = UdpSocket::Open(m_options.bind);
  if (!listen) {
    if (err != nullptr) *err = "cannot bind the TFTP socket to " + EndpointText(m_options.bind);
    return false;
  }
  m_listen = std::make_shared<UdpSocket>(std::move(*listen));
  // Each simulated router has an address of its own on one host; a transfer must answer from
  // the one the client wrote to.
  EnableDestinationAddress(*m_listen);
  if (m_options.faults.strayNth > 0) {
    Endpoint strayBind{m_options.strayAddress.value_or(m_options.bind.address), 0};
    auto stray = UdpSocket::Open(strayBind);
    if (!stray) {
      if (err != nullptr) *err = "cannot bind the stray sender to " + EndpointText(strayBind);
      return false;
    }
    m_stray = std::make_shared<UdpSocket>(std::move(*stray));
  }
  if (!m_options.storeDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(m_options.storeDir, ec);
    if (ec) {
      if (err != nullptr) *err = "cannot create " + m_options.storeDir + ": " + ec.message();
      return false;
    }
  }
  return true;
}

uint16_t TftpServer::Port() const { return m_listen ? m_listen->LocalPort() : 0; }

void TftpServer::CollectDescriptors(std::vector<SocketWait>& waits) const {
  if (m_listen) waits.push_back(SocketWait{m_listen->Descriptor()});
  if (m_stray) waits.push_back(SocketWait{m_stray->Descriptor()});
  for (const auto& s : m_sessions) {
    if (s->ownSocket) waits.push_back(SocketWait{s->socket->Descriptor()});
  }
}

void TftpServer::OnReadable(SocketHandle fd, uint64_t nowMs) {
  Endpoint from;
  if (m_listen && fd == m_listen->Descriptor()) {
    Ipv4 to = m_options.bind.address;
    int n = ReceiveWithDestination(*m_listen, m_buffer, &from, &to);
    if (n < 0) return;
    std::span<const uint8_t> d(m_buffer.data(), static_cast<std::size_t>(n));
    m_log.Record("tftp", from, d);
    OnListenDatagram(d, from, to, nowMs);
    return;
  }
  if (m_stray && fd == m_stray->Descriptor()) {
    int n = m_stray->ReceiveFrom(m_buffer, &from);
    if (n >= 0) m_log.Record("stray", from, {m_buffer.data(), static_cast<std::size_t>(n)});
    return;
  }
  for (auto& s : m_sessions) {
    if (!s->ownSocket || s->socket->Descriptor() != fd) continue;
    int n = s->socket->ReceiveFrom(m_buffer, &from);
    if (n < 0) return;
    std::span<const uint8_t> d(m_buffer.data(), static_cast<std::size_t>(n));
    m_log.Record("tftp", from, d);
    OnSessionDatagram(*s, d, from, nowMs);
    return;
  }
}

void TftpServer::OnTick(uint64_t nowMs) {
  for (auto& s : m_sessions) {
    if (!s->finished && nowMs - s->lastActivityMs >= static_cast<uint64_t>(m_options.idleMs)) {
      Finish(*s, false, "no datagram from the client for " + std::to_string(m_options.idleMs) +
                            " ms after block " + std::to_string(s->lastAcked),
             nowMs);
    }
  }
  std::erase_if(m_sessions, [&](const std::unique_ptr<Session>& s) {
    return s->finished && nowMs >= s->removeAtMs;
  });
  std::erase_if(m_flashing, [&](const Flash& f) {
    if (nowMs < f.untilMs) return false;
    if (m_events) {
      m_events("FLASH done router=" + Ipv4ToText(f.router) +
               " ms=" + std::to_string(nowMs - f.startMs));
    }
    return true;
  });
}

bool TftpServer::Flashing(const Ipv4& address, uint64_t nowMs) const {
  return std::any_of(m_flashing.begin(), m_flashing.end(), [&](const Flash& f) {
    return f.router == address && nowMs < f.untilMs;
  });
}

const SimRouter* TftpServer::RouterAt(const Ipv4& address) const {
  auto it = std::find_if(m_options.routers.begin(), m_options.routers.end(),
                         [&](const SimRouter& r) { return r.ip == address; });
  return it == m_options.routers.end() ? nullptr : &*it;
}

bool TftpServer::Lost(const Session& s) { return LoseDatagram(m_lossState, s.lossPercent); }

std::vector<TftpTransfer> TftpServer::Finished() const {
  std::lock_guard lock(m_finishedMutex);
  return m_finished;
}

TftpServer::PeerCounters& TftpServer::CountersFor(const Endpoint& client) {
  auto [it, added] = m_peers.try_emplace(PeerKey(client));
  if (added) it->second.index = static_cast<int>(m_peers.size());
  return it->second;
}

bool TftpServer::Faulty(const PeerCounters& c) const {
  return m_options.faults.faultyClients == 0 || c.index <= m_options.faults.faultyClients;
}

TftpServer::Session* TftpServer::FindSessionByClient(const Endpoint& client) {
  for (auto& s : m_sessions) {
    if (!s->finished && s->client == client) return s.get();
  }
  return nullptr;
}

void TftpServer::OnListenDatagram(std::span<const uint8_t> d, const Endpoint& from,
                                  const Ipv4& to, uint64_t nowMs) {
  if (m_options.faults.samePort) {
    Session* s = FindSessionByClient(from);
    bool isWrq = d.size() >= 2 && GetU16Be(d, 0) == OP_WRQ;
    if (s != nullptr && !isWrq) {
      OnSessionDatagram(*s, d, from, nowMs);
      return;
    }
  }
  PeerCounters& c = CountersFor(from);
  ++c.received;
  bool faulty = Faulty(c);
  if (faulty && (m_options.faults.silent || Contains(m_options.faults.dropIn, c.received))) return;
  if (const SimRouter* r = RouterAt(to)) {
    // A router that writes its flash takes nothing; one with a loss share loses requests too.
    if (Flashing(to, nowMs) || LoseDatagram(m_lossState, r->lossPercent)) return;
  }
  if (d.size() < 2) return;
  uint16_t op = GetU16Be(d, 0);
  if (op == OP_WRQ) {
    StartSession(d, from, to, nowMs);
  } else if (op == OP_RRQ) {
    m_listen->SendTo(BuildTftpError(ERR_ACCESS, "Only write requests are served"), from);
  } else if (op != OP_ERROR) {
    // A stray DATA or ACK with no transfer behind it (RFC 1350 section 4).
    m_listen->SendTo(BuildTftpError(ERR_UNKNOWN_TID, "Unknown transfer ID"), from);
  }
}

void TftpServer::StartSession(std::span<const uint8_t> wrq, const Endpoint& from,
                              const Ipv4& to, uint64_t nowMs) {
  // WRQ: opcode, file name, 0, mode, 0 (RFC 1350 section 5). Options after the mode
  // (RFC 2347) are ignored, which tells the client to use plain 512-byte blocks.
  auto text = wrq.subspan(2);
  auto nameEnd = std::find(text.begin(), text.end(), 0);
  auto modeEnd = nameEnd == text.end() ? text.end() : std::find(nameEnd + 1, text.end(), 0);
  if (nameEnd == text.end() || modeEnd == text.end()) {
    m_listen->SendTo(BuildTftpError(ERR_ILLEGAL, "Malformed write request"), from);
    return;
  }
  std::string requested(text.begin(), nameEnd);
  std::string mode(nameEnd + 1, modeEnd);
  if (!EqualsNoCase(mode, "octet")) {
    m_listen->SendTo(BuildTftpError(ERR_NOT_DEFINED, "Only octet mode is served"), from);
    return;
  }
  auto name = SafeName(requested);
  if (!name) {
    m_listen->SendTo(BuildTftpError(ERR_ACCESS, "Bad file name"), from);
    return;
  }

  // A client that asks again from the same port starts over on the listening port; on a fresh
  // port, the earlier transfer is left to run idle, as a forking server would.
  if (m_options.faults.samePort) {
    if (Session* old = FindSessionByClient(from)) {
      Finish(*old, false, "the client sent a new write request", nowMs);
    }
  }

  auto s = std::make_unique<Session>();
  if (m_options.faults.samePort) {
    s->socket = m_listen;
  } else {
    // A broadcast or multicast request is answered from the bound address, as before.
    const bool unicast = to[0] < 224 && to != Ipv4{255, 255, 255, 255};
    auto fresh = UdpSocket::Open(Endpoint{unicast ? to : m_options.bind.address, 0});
    if (!fresh) {
      m_listen->SendTo(BuildTftpError(ERR_NOT_DEFINED, "No socket for the transfer"), from);
      return;
    }
    s->socket = std::make_shared<UdpSocket>(std::move(*fresh));
    s->ownSocket = true;
  }
  s->client = from;
  s->router = to;
  if (const SimRouter* r = RouterAt(to)) s->lossPercent = r->lossPercent;
  s->peerKey = PeerKey(from);
  s->faulty = Faulty(CountersFor(from));
  s->result.name = *name;
  s->result.client = from;
  s->result.serverPort = s->socket->LocalPort();
  s->lastActivityMs = nowMs;
  if (!m_options.storeDir.empty()) {
    std::filesystem::path dir = m_options.storeDir;
    if (m_options.storePerAddress) {
      dir /= Ipv4ToText(to);
      std::error_code ec;
      std::filesystem::create_directories(dir, ec);
    }
    s->result.storedPath = (dir / *name).string();
    s->partPath = s->result.storedPath + ".part";
    s->file.reset(std::fopen(s->partPath.c_str(), "wb"));
    if (!s->file) {
      s->socket->SendTo(BuildTftpError(ERR_ACCESS, "Cannot create the file"), from);
      return;
    }
  }
  Session& ref = *s;
  m_sessions.push_back(std::move(s));
  SendAck(ref, 0, nowMs);
}

void TftpServer::OnSessionDatagram(Session& s, std::span<const uint8_t> d, const Endpoint& from,
                                   uint64_t nowMs) {
  if (from != s.client) {
    s.socket->SendTo(BuildTftpError(ERR_UNKNOWN_TID, "Unknown transfer ID"), from);
    return;
  }
  PeerCounters& c = m_peers[s.peerKey];
  ++c.received;
  if (s.faulty && Contains(m_options.faults.dropIn, c.received)) return;
  if (Lost(s)) return;
  s.lastActivityMs = nowMs;
  if (d.size() < 4) return;
  uint16_t op = GetU16Be(d, 0);
  uint16_t block = GetU16Be(d, 2);
  if (op == OP_ERROR) {
    std::string text(d.begin() + 4, std::find(d.begin() + 4, d.end(), 0));
    if (!s.finished) {
      Finish(s, false, "the client sent ERROR " + std::to_string(block) + " \"" + text + "\"",
             nowMs);
    }
    return;
  }
  if (op != OP_DATA) {
    if (!s.finished) {
      s.socket->SendTo(BuildTftpError(ERR_ILLEGAL, "Expected DATA"), from);
      Finish(s, false, "the client sent opcode " + std::to_string(op), nowMs);
    }
    return;
  }
  std::size_t payload = d.size() - 4;
  if (block == s.lastAcked && (s.finished || s.result.blocks > 0)) {
    // Our ACK was lost or late: the client sent the block again. Acknowledge it again, but
    // never take its data twice.
    ++s.result.duplicateData;
    SendAck(s, block, nowMs);
    return;
  }
  if (s.finished || block != static_cast<uint16_t>(s.lastAcked + 1)) return;
  if (payload > BLOCK_SIZE) {
    s.socket->SendTo(BuildTftpError(ERR_ILLEGAL, "DATA longer than 512 bytes"), from);
    Finish(s, false, "DATA block " + std::to_string(block) + " carries more than 512 bytes",
           nowMs);
    return;
  }
  if (s.result.bytes + payload > m_options.maxBytes) {
    s.socket->SendTo(BuildTftpError(ERR_DISK_FULL, "Disk full or allocation exceeded"), from);
    Finish(s, false, "file larger than " + std::to_string(m_options.maxBytes) + " bytes", nowMs);
    return;
  }
  if (s.file) {
    if (std::fwrite(d.data() + 4, 1, payload, s.file.get()) != payload) s.writeFailed = true;
  } else {
    s.result.data.insert(s.result.data.end(), d.begin() + 4, d.end());
  }
  s.result.bytes += payload;
  ++s.result.blocks;
  s.lastAcked = block;
  SendAck(s, block, nowMs);
  if (!s.finished && payload < BLOCK_SIZE) Finish(s, true, {}, nowMs);
}

void TftpServer::SendAck(Session& s, uint16_t block, uint64_t nowMs) {
  SendToClient(s, BuildTftpAck(block), nowMs);
}

void TftpServer::SendToClient(Session& s, std::vector<uint8_t> bytes, uint64_t nowMs) {
  PeerCounters& c = m_peers[s.peerKey];
  int n = ++c.sent;
  const TftpFaults& f = m_options.faults;
  if (Lost(s)) return;
  if (!s.faulty) {
    s.socket->SendTo(bytes, s.client);
    return;
  }
  if (f.strayNth == n && m_stray) {
    // A hostile or confused host: the same datagram (a plausible ACK) and some junk, from a
    // port that is not the transfer's.
    m_stray->SendTo(bytes, s.client);
    static constexpr uint8_t JUNK[] = {0x00, 0x09, 0xDE, 0xAD};
    m_stray->SendTo(JUNK, s.client);
  }
  if (Contains(f.dropOut, n)) return;
  if (f.errorNth == n) {
    s.socket->SendTo(BuildTftpError(f.errorCode, f.errorText), s.client);
    if (!s.finished) {
      Finish(s, false, "sent the injected ERROR " + std::to_string(f.errorCode), nowMs);
    }
    return;
  }
  int copies = Contains(f.dupAck, n) ? 2 : 1;
  bool delayed = f.delayMs > 0 && (f.delayNth == 0 || f.delayNth == n);
  for (int i = 0; i < copies; ++i) {
    if (delayed) {
      m_queue.Schedule(s.socket, s.client, bytes, nowMs + static_cast<uint64_t>(f.delayMs));
    } else {
      s.socket->SendTo(bytes, s.client);
    }
  }
}

void TftpServer::Finish(Session& s, bool complete, std::string failure, uint64_t nowMs) {
  s.finished = true;
  s.removeAtMs = complete ? nowMs + DALLY_MS : nowMs;
  s.result.complete = complete;
  s.result.failure = std::move(failure);
  if (s.file) {
    bool written = std::fclose(s.file.release()) == 0 && !s.writeFailed;
    std::error_code ec;
    if (complete && written) {
      std::filesystem::rename(s.partPath, s.result.storedPath, ec);
      if (ec) {
        s.result.complete = false;
        s.result.failure = "cannot store " + s.result.storedPath + ": " + ec.message();
      }
    } else {
      std::filesystem::remove(s.partPath, ec);
      if (complete) {
        s.result.complete = false;
        s.result.failure = "cannot write " + s.partPath;
      }
    }
  }
  if (s.result.complete) {
    if (const SimRouter* r = RouterAt(s.router); r != nullptr && r->flashMs > 0) {
      m_flashing.push_back(Flash{s.router, nowMs, nowMs + r->flashMs});
    }
  }
  if (m_events) {
    std::string line = s.result.complete ? "TFTP done" : "TFTP failed";
    line += " router=" + Ipv4ToText(s.router) + " name=" + s.result.name +
            " bytes=" + std::to_string(s.result.bytes) +
            " blocks=" + std::to_string(s.result.blocks) +
            " client=" + EndpointText(s.result.client) +
            " port=" + std::to_string(s.result.serverPort);
    if (!s.result.complete) line += " reason=" + s.result.failure;
    m_events(line);
  }
  std::lock_guard lock(m_finishedMutex);
  m_finished.push_back(s.result);
}

}  // namespace corvalink::sim
