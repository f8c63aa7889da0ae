#include "upgrade/tftp_client.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/byte_order.h"
#include "platform/datagram_trace.h"
#include "text/escape_text.h"
#include "upgrade/tftp_packets.h"

namespace corvalink {
namespace {

// The routers answer with at most a 4-byte ACK or a short ERROR; anything longer is cut here.
constexpr std::size_t RECEIVE_BUFFER_SIZE = 600;
// A peer's error text is shown to people; longer texts are cut.
constexpr std::size_t MAX_PEER_TEXT = 100;

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// One call of TftpSendFile. Holds the buffers for the whole transfer, so the per-block work
// neither allocates nor seeks. On the fast path a block costs one send, one receive and one
// reading of the clock.
class Transfer {
 public:
  Transfer(TftpControl& control, TftpEnv& env) : m_control(control), m_env(env) {}

  /// Check, request, blocks: each phase returns TftpOutcome::Ok to go on, or the outcome the
  /// transfer ends with, m_result.message then saying why.
  TftpResult Run(FirmwareFile& file, std::string_view routerAddress);

 private:
  enum class Phase { WriteRequest, Data };
  /// How one exchange (a datagram sent until the peer acknowledges it) ended.
  enum class Exchange { Acknowledged, TimedOut, Aborted };

  bool AbortRequested() const {
    return m_control.abortRequested || (m_control.stopRequested && m_control.stopRequested());
  }
  uint32_t Now() { return m_env.clock.NowMs(); }
  uint32_t PumpIfDue(uint32_t now);
  int PumpDueIn(uint32_t now) const;
  void Rest();
  bool WaitMoreThan(uint32_t since, uint32_t ms);
  bool IsPeer(const Endpoint& from, Phase phase) const;
  void AnswerStray(int length, const Endpoint& from);
  // Reports a datagram read into m_receive from m_from to the verbose trace.
  void TraceReceived(int length, std::string_view refusedBecause) const;
  void TraceStray(int length, Phase phase) const;
  bool IsCopyOfPreviousAck(int length, uint16_t block, uint32_t sentAt);
  int WaitForPeer(Phase phase, uint32_t sentAt, uint16_t block);
  void NotePeerError(int length);
  void Send(std::span<const uint8_t> datagram, const Endpoint& to);
  TftpOutcome Check(std::string_view routerAddress);
  TftpOutcome Request();
  TftpOutcome SendBlocks();
  Exchange RequestWrite();
  Exchange SendBlock(std::span<const uint8_t> packet, uint16_t block);
  TftpOutcome Stop(TftpOutcome outcome, std::string message);
  TftpOutcome Abandon(TftpOutcome outcome, std::string message);
  std::string PeerErrorSuffix() const;
  std::string ForeignAnswerSuffix(const std::string& routerText) const;

  TftpControl& m_control;
  TftpEnv& m_env;
  TftpResult m_result;
  FirmwareFile* m_file = nullptr;
  std::string m_remoteName;
  std::string m_routerText;
  Endpoint m_router;
  Endpoint m_destination;  // where DATA and the abort ERROR go: the peer once it answered
  Endpoint m_from;         // sender of the datagram WaitForPeer returned
  std::unique_ptr<DatagramSocket> m_socket;
  std::array<uint8_t, RECEIVE_BUFFER_SIZE> m_receive{};
  std::array<uint8_t, TFTP_HEADER_SIZE + TFTP_BLOCK_SIZE> m_data{};
  std::vector<uint8_t> m_unknownTid;
  std::optional<TftpErrorPacket> m_peerError;  // the peer's last ERROR for the current block
  std::optional<Ipv4> m_foreignAnswer;  // another address that acknowledged the write request
  uint32_t m_lastPumpMs = 0;
  uint16_t m_block = 0;
};

// Runs the pump when PUMP_INTERVAL_MS have passed since it last ran; returns the time after.
uint32_t Transfer::PumpIfDue(uint32_t now) {
  if (!m_control.pump || ElapsedMs(m_lastPumpMs, now) < PUMP_INTERVAL_MS) return now;
  m_control.pump();
  m_lastPumpMs = Now();
  return m_lastPumpMs;
}

// How long a wait may last before the pump is due again; at least 1 ms.
int Transfer::PumpDueIn(uint32_t now) const {
  const uint32_t since = ElapsedMs(m_lastPumpMs, now);
  return since >= PUMP_INTERVAL_MS ? 1 : static_cast<int>(PUMP_INTERVAL_MS - since);
}

void Transfer::Rest() {
  if (m_env.sleepMs) {
    m_env.sleepMs(1);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Polls the clock until more than `ms` have passed since `since`, keeping the window alive.
// False when the transfer is to stop before the time is up.
bool Transfer::WaitMoreThan(uint32_t since, uint32_t ms) {
  while (ElapsedMs(since, Now()) <= ms) {
    if (m_control.pump) m_control.pump();
    if (AbortRequested()) return false;
    Rest();
  }
  return true;
}

// Before the write request is acknowledged any port of the router may answer (the server
// replies from a fresh port, RFC 1350 sec. 4); afterwards only the port that did.
bool Transfer::IsPeer(const Endpoint& from, Phase phase) const {
  if (phase == Phase::WriteRequest) return from.address == m_router.address;
  return from == m_destination;
}

// RFC 1350 sec. 4: a datagram from a foreign transfer ID gets ERROR 5 and changes nothing. An
// ERROR is never answered, so two clients cannot keep each other busy.
void Transfer::AnswerStray(int length, const Endpoint& from) {
  auto datagram = std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(length));
  if (TftpOpcode(datagram) == TFTP_OP_ERROR) return;
  Send(m_unknownTid, from);
}

// A repeated ACK of the block before `block`, read soon after `block` was sent, tells nothing
// new: the network doubled the ACK, or the router answered a copy of the previous block. Taken
// as a reason to resend, each copy would send a block twice, draw two ACKs, and so on to the end
// of the file (the "Sorcerer's Apprentice" of RFC 1123 sec. 4.2.3.1). This covers block 1 too:
// the router repeats its ACK of block 0 when DATA 1 is slow to come, and the pause after the
// write request makes it slow.
bool Transfer::IsCopyOfPreviousAck(int length, uint16_t block, uint32_t sentAt) {
  auto reply = std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(length));
  if (ParseAck(reply) != static_cast<uint16_t>(block - 1)) return false;
  if (ElapsedMs(sentAt, Now()) >= DUPLICATE_ACK_HOLDOFF_MS) return false;
  ++m_result.stats.duplicateAcksIgnored;
  return true;
}

// Waits until TFTP_REPLY_TIMEOUT_MS after `sentAt` for one datagram from the peer and reads it
// into m_receive. Strays and copies of the previous ACK do not end the wait. Returns its length,
// or -1 when the time ran out or the transfer is to stop.
int Transfer::WaitForPeer(Phase phase, uint32_t sentAt, uint16_t block) {
  constexpr auto TIMEOUT = static_cast<uint32_t>(TFTP_REPLY_TIMEOUT_MS);
  uint32_t now = sentAt;
  for (;;) {
    const uint32_t elapsed = ElapsedMs(sentAt, now);
    // Once the time is up the socket is still read without waiting: after the process was
    // stopped or starved, a reply that came meanwhile is taken, not answered by a resend.
    const int remaining = elapsed >= TIMEOUT ? 0 : static_cast<int>(TIMEOUT - elapsed);
    const int wait = m_control.pump ? std::min(remaining, PumpDueIn(now)) : remaining;
    const int n = m_socket->ReceiveWithin(m_receive, &m_from, wait);
    if (n < 0) {
      if (remaining == 0 || AbortRequested()) return -1;
      if (n != RECEIVE_TIMED_OUT) Rest();  // a failed read: do not spin on it
      now = PumpIfDue(Now());
      if (AbortRequested()) return -1;
      continue;
    }
    if (!IsPeer(m_from, phase)) {
      TraceStray(n, phase);
      if (phase == Phase::WriteRequest &&
          ParseAck(std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(n))) ==
              uint16_t{0}) {
        m_foreignAnswer = m_from.address;
      }
      AnswerStray(n, m_from);
      now = Now();
      continue;
    }
    if (phase == Phase::Data && IsCopyOfPreviousAck(n, block, sentAt)) {
      TraceReceived(n, "copy of the previous ACK");
      now = Now();
      continue;
    }
    TraceReceived(n, {});
    return n;
  }
}

void Transfer::NotePeerError(int length) {
  auto error = ParseError(std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(length)));
  if (error) m_peerError = std::move(error);
}

void Transfer::TraceReceived(int length, std::string_view refusedBecause) const {
  TraceDatagram(TraceChannel::Tftp, false, m_from,
                std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(length)),
                refusedBecause);
}

void Transfer::TraceStray(int length, Phase phase) const {
  if (!DatagramTraceOn()) return;
  const std::string why =
      phase == Phase::WriteRequest
          ? "reply from another address (the write request went to " +
                Ipv4ToText(m_router.address) + ")"
          : "stray TFTP sender (the transfer is with " + Ipv4ToText(m_destination.address) +
                ":" + std::to_string(m_destination.port) + ")";
  TraceReceived(length, why);
}

void Transfer::Send(std::span<const uint8_t> datagram, const Endpoint& to) {
  if (m_socket->SendTo(datagram, to) >= 0) TraceDatagram(TraceChannel::Tftp, true, to, datagram);
  ++m_result.stats.datagramsSent;
}

// Sends the WRQ until the router acknowledges it with block 0, the attempts run out or the
// abort flag is set.
Transfer::Exchange Transfer::RequestWrite() {
  const std::vector<uint8_t> wrq = BuildWrq(m_remoteName);
  for (int attempt = 1;; ++attempt) {
    // The stop is looked at first: one asked for during the last wait is reported as such.
    if (AbortRequested()) return Exchange::Aborted;
    if (attempt > TFTP_WRQ_ATTEMPTS) return Exchange::TimedOut;
    m_destination = m_router;
    if (attempt > 1) ++m_result.stats.retransmissions;
    const uint32_t sentAt = PumpIfDue(Now());
    Send(wrq, m_destination);
    int n = WaitForPeer(Phase::WriteRequest, sentAt, 0);
    bool accepted = false;
    if (n >= 0) {
      auto reply = std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(n));
      accepted = ParseAck(reply) == uint16_t{0};
      if (!accepted) NotePeerError(n);
    }
    if (accepted) m_destination = m_from;
    // The router needs this pause after every write request, answered or not.
    if (!WaitMoreThan(Now(), TFTP_WRQ_PAUSE_MS)) return Exchange::Aborted;
    if (accepted) {
      m_peerError.reset();
      return Exchange::Acknowledged;
    }
  }
}

// Sends one DATA datagram until the peer acknowledges `block`. A copy of the previous ACK is
// ignored (see IsCopyOfPreviousAck); anything else from the peer (the router's own repeat of the
// previous ACK, an ERROR) uses up the attempt and the block goes again at once.
Transfer::Exchange Transfer::SendBlock(std::span<const uint8_t> packet, uint16_t block) {
  for (int attempt = 1;; ++attempt) {
    const uint32_t sentAt = PumpIfDue(Now());
    // Before the attempt count: a stop asked for during the last wait is reported as a stop,
    // not as the timeout the count would make of it.
    if (AbortRequested()) return Exchange::Aborted;
    if (attempt > TFTP_DATA_ATTEMPTS) return Exchange::TimedOut;
    if (attempt > 1) ++m_result.stats.retransmissions;
    Send(packet, m_destination);
    int n = WaitForPeer(Phase::Data, sentAt, block);
    if (n < 0) {
      if (AbortRequested()) return Exchange::Aborted;
      continue;
    }
    auto reply = std::span<const uint8_t>(m_receive).first(static_cast<std::size_t>(n));
    if (ParseAck(reply) == block) {
      m_peerError.reset();
      return Exchange::Acknowledged;
    }
    NotePeerError(n);
  }
}

// Why a write request was never acknowledged when the answer came from elsewhere: the usual
// cause is a server on a host with several addresses that replies from its primary one.
std::string Transfer::ForeignAnswerSuffix(const std::string& routerText) const {
  if (!m_foreignAnswer) return {};
  return "; it was answered from " + Ipv4ToText(*m_foreignAnswer) +
         ", which is not the router's address " + routerText;
}

std::string Transfer::PeerErrorSuffix() const {
  if (!m_peerError) return {};
  return "; the router reported error " + std::to_string(m_peerError->code) + " " +
         QuoteForPeople(m_peerError->text, MAX_PEER_TEXT);
}

// Ends the transfer with `outcome` before anything was sent, or after the router has it all.
TftpOutcome Transfer::Stop(TftpOutcome outcome, std::string message) {
  m_result.message = std::move(message);
  return outcome;
}

// Ends a transfer that had begun talking to the router: the ERROR goes wherever the transfer
// was sending, so the router can drop its half of it.
TftpOutcome Transfer::Abandon(TftpOutcome outcome, std::string message) {
  if (m_socket) {
    Send(BuildError(TFTP_ERROR_ABORTED, TFTP_ABORT_TEXT), m_destination);
    m_socket->Close();
  }
  return Stop(outcome, std::move(message) + PeerErrorSuffix());
}

// The address must be a dotted quad before a socket is made; nothing is sent here.
TftpOutcome Transfer::Check(std::string_view routerAddress) {
  m_remoteName = RemoteFileName(m_file->path);

  // A text that is not an address would otherwise turn into 255.255.255.255: a broadcast.
  std::optional<Ipv4> router = ParseIpv4(routerAddress);
  if (!router) {
    return Stop(TftpOutcome::NetworkError,
                QuoteForPeople(routerAddress) + " is not an IPv4 address");
  }
  m_router = Endpoint{*router, m_env.serverPort};
  m_destination = m_router;
  m_routerText = Ipv4ToText(*router);

  if (m_env.openSocket) {
    m_socket = m_env.openSocket();
  } else if (auto udp = UdpSocket::Open()) {
    m_socket = std::make_unique<UdpSocket>(std::move(*udp));
  }
  if (!m_socket || !m_socket->IsOpen()) {
    return Stop(TftpOutcome::NetworkError, "Cannot create a UDP socket");
  }
  m_unknownTid = BuildError(TFTP_ERROR_UNKNOWN_TID, TFTP_UNKNOWN_TID_TEXT);
  m_lastPumpMs = Now();
  return TftpOutcome::Ok;
}

// The write request, until the router acknowledges it; then the bar gets its range.
TftpOutcome Transfer::Request() {
  switch (RequestWrite()) {
    case Exchange::Acknowledged:
      break;
    case Exchange::Aborted:
      return Abandon(TftpOutcome::Aborted, "Transfer aborted before the write request");
    case Exchange::TimedOut:
      return Abandon(TftpOutcome::Timeout,
                     "No acknowledgement of the write request (block 0) from " + m_routerText +
                         " after " + std::to_string(TFTP_WRQ_ATTEMPTS) + " attempts" +
                         ForeignAnswerSuffix(m_routerText));
  }
  m_result.stats.fileSize = m_file->size;
  if (m_control.onWriteAcknowledged) m_control.onWriteAcknowledged(m_result.stats);
  return TftpOutcome::Ok;
}

// The file, block by block, up to the short last one (RFC 1350 sec. 6: a block of fewer than
// TFTP_BLOCK_SIZE bytes ends the transfer; this is the one place that tells the last block).
TftpOutcome Transfer::SendBlocks() {
  const std::string& pathText = m_file->path;
  const std::string& routerText = m_routerText;
  const uint64_t size = m_file->size;
  std::FILE* stream = m_file->stream.get();
  for (;;) {
    std::size_t k = std::fread(m_data.data() + TFTP_HEADER_SIZE, 1, TFTP_BLOCK_SIZE, stream);
    const bool last = k < static_cast<std::size_t>(TFTP_BLOCK_SIZE);
    ++m_block;  // 16-bit: after 65535 comes 0
    if (last && std::ferror(stream)) {
      return Abandon(TftpOutcome::FileError, "Cannot read \"" + pathText + "\" at block " +
                                                 std::to_string(m_block) + ": " + ErrnoText(errno));
    }
    // A short block tells the router the image is whole, so a file that shrank must fail before
    // it goes; one that grew would send bytes nobody measured.
    const uint64_t left = size - m_result.stats.bytesAcked;
    const std::size_t expected =
        left < static_cast<uint64_t>(TFTP_BLOCK_SIZE) ? static_cast<std::size_t>(left) : TFTP_BLOCK_SIZE;
    if (k != expected) {
      const uint64_t readSoFar = m_result.stats.bytesAcked + k;
      return Abandon(TftpOutcome::FileError,
                     "\"" + pathText + "\" changed while it was sent: it had " +
                         std::to_string(size) + " bytes at the start, " +
                         (k < expected ? "but ends after " + std::to_string(readSoFar)
                                       : "but holds more") +
                         " (block " + std::to_string(m_block) + ")");
    }
    PutU16Be(m_data, 0, TFTP_OP_DATA);
    PutU16Be(m_data, 2, m_block);
    const Exchange sent =
        SendBlock(std::span<const uint8_t>(m_data).first(TFTP_HEADER_SIZE + k), m_block);
    if (sent == Exchange::Aborted) {
      return Abandon(TftpOutcome::Aborted, "Transfer aborted at block " + std::to_string(m_block));
    }
    if (sent == Exchange::TimedOut) {
      // A server may stop listening soon after it sent its last ACK (RFC 1350 sec. 6 only
      // encourages it to wait), so a lost last ACK cannot be told from a lost last block.
      return Abandon(TftpOutcome::Timeout,
                     "Block " + std::to_string(m_block) + " was not acknowledged by " + routerText +
                         " after " + std::to_string(TFTP_DATA_ATTEMPTS) + " sends" +
                         (last ? "; it is the last block and every earlier one was acknowledged, "
                                 "so the router may have the whole image and only its "
                                 "acknowledgement was lost"
                               : ""));
    }
    ++m_result.stats.blocksAcked;
    m_result.stats.bytesAcked += k;
    m_result.stats.lastBlockAcked = last;
    if (m_control.onBlockAcked) m_control.onBlockAcked(m_result.stats);
    if (last) break;
  }
  // Every block is acknowledged: the socket is done with.
  m_socket->Close();
  return Stop(TftpOutcome::Ok, "Sent \"" + pathText + "\" to " + routerText + " as \"" +
                                   m_remoteName + "\"");
}

TftpResult Transfer::Run(FirmwareFile& file, std::string_view routerAddress) {
  m_file = &file;
  TftpOutcome outcome = Check(routerAddress);
  if (outcome == TftpOutcome::Ok) outcome = Request();
  if (outcome == TftpOutcome::Ok) outcome = SendBlocks();
  m_result.outcome = outcome;
  return std::move(m_result);
}

}  // namespace

std::string RemoteFileName(std::string_view path) {
  std::size_t cut = path.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

TftpResult TftpSendFile(FirmwareFile& file, std::string_view routerAddress, TftpControl& control,
                        TftpEnv& env) {
  Transfer transfer(control, env);
  return transfer.Run(file, routerAddress);
}

}  // namespace corvalink
