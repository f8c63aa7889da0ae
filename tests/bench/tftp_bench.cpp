// Speed driver for the TFTP client, run by scripts/bench_tftp.sh on loopback:
//   tftp_bench send FILE HOST PORT    one upload; prints the data phase's rate
//   tftp_bench echo PORT COUNT        answers up to COUNT 516-byte datagrams with 4 bytes each
//   tftp_bench ping PORT COUNT        lock-step 516/4 round trips; prints 512 bytes / mean RTT
//   tftp_bench sink PORT              a TFTP server that only ACKs: one upload, then exits
//   tftp_bench probe PORT             exits 0 once a TFTP server answers on 127.0.0.1:PORT
//   tftp_bench freeport               prints a UDP port that was free a moment ago
// Rates are in MB/s of 10^6 bytes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/ms_clock.h"
#include "platform/udp_socket.h"
#include "upgrade/flash_wait.h"
#include "upgrade/tftp_packets.h"

namespace corvalink {
namespace {

using SteadyClock = std::chrono::steady_clock;

const Ipv4 LOOPBACK{127, 0, 0, 1};
constexpr int IDLE_LIMIT_MS = 10000;  // a peer silent this long ends echo and ping

double Seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

uint16_t PortArg(const char* text) { return static_cast<uint16_t>(std::strtoul(text, nullptr, 10)); }

// The data phase runs from the first DATA to the last ACK; the WRQ and its 1000 ms pause lie
// before it. Measured from the ACK of block 1 to the ACK of the last block, so the bytes of
// blocks 2..n over that time: n - 1 full lock-step exchanges.
int Send(const char* path, const char* host, uint16_t port) {
  // A benchmark never leaves this machine.
  std::optional<Ipv4> address = ParseIpv4(host);
  if (!address || (*address)[0] != 127) {
    std::fprintf(stderr, "tftp_bench: %s is not a loopback address\n", host);
    return 2;
  }
  ProgressModel bar;
  bool abortFlag = false;
  SteadyClock::time_point firstAck{}, lastAck{};
  uint64_t bytesAtFirst = 0, bytesAtLast = 0;
  TftpControl control{bar, abortFlag, {}, [&](const TftpStats& s) {
                        auto now = SteadyClock::now();
                        if (s.blocksAcked == 1) {
                          firstAck = now;
                          bytesAtFirst = s.bytesAcked;
                        }
                        lastAck = now;
                        bytesAtLast = s.bytesAcked;
                        // The final fill of the bar is not part of the data phase: skip it.
                        if (s.bytesAcked == s.fileSize) bar.SetPos(bar.GetRangeHigh() - 1);
                      }};
  MsClock clock;
  TftpEnv env{clock, {}, port, {}};
  TftpResult r = SendFirmware(path, host, control, env);
  if (!r.ok()) {
    std::fprintf(stderr, "tftp_bench: %s\n", r.message.c_str());
    return 1;
  }
  double s = Seconds(lastAck - firstAck);
  double mbps = s > 0 ? static_cast<double>(bytesAtLast - bytesAtFirst) / s / 1e6 : 0;
  std::printf("bytes=%llu data_s=%.6f MBps=%.3f blocks=%u retransmissions=%u\n",
              static_cast<unsigned long long>(r.stats.bytesAcked), s, mbps, r.stats.blocksAcked,
              r.stats.retransmissions);
  return 0;
}

// The limit is measured with plain blocking sockets on both sides: the least work one lock-step
// exchange can cost, whatever a client does around it.
class RawSocket {
 public:
  explicit RawSocket(uint16_t port) : m_fd(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in sa = Address(port);
    timeval idle{IDLE_LIMIT_MS / 1000, 0};
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle) != 0) {
      Close();
    }
  }
  ~RawSocket() { Close(); }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;
  bool ok() const { return m_fd >= 0; }
  static sockaddr_in Address(uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
  }
  int fd() const { return m_fd; }

 private:
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  int m_fd;
};

int Echo(uint16_t port, long count) {
  RawSocket s(port);
  if (!s.ok()) return 1;
  std::array<uint8_t, 600> buffer{};
  const std::array<uint8_t, 4> reply{0, 4, 0, 0};
  for (long i = 0; i < count; ++i) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(s.fd(), buffer.data(), buffer.size(), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return 1;
    if (n == 1) return 0;  // the pinger is done
    ::sendto(s.fd(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
  return 0;
}

int Ping(uint16_t port, long count) {
  RawSocket s(0);
  if (!s.ok()) return 1;
  std::array<uint8_t, 516> data{0, 3};
  std::array<uint8_t, 16> buffer{};
  const sockaddr_in to = RawSocket::Address(port);
  auto roundTrip = [&] {
    ::sendto(s.fd(), data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return ::recv(s.fd(), buffer.data(), buffer.size(), 0) == 4;
  };
  // The echo may still be starting: knock until it answers (each knock is one of its COUNT).
  timeval knock{0, 100000}, idle{IDLE_LIMIT_MS / 1000, 0};
  ::setsockopt(s.fd(), SOL_SOCKET, SO_RCVTIMEO, &knock, sizeof knock);
  long done = 1;
  while (!roundTrip()) {
    if (++done > 30) return 1;
  }
  ::setsockopt(s.fd(), SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
  const long warmup = done + count / 10;
  for (long i = done; i < warmup; ++i) {
    if (!roundTrip()) return 1;
  }
  auto start = SteadyClock::now();
  for (long i = warmup; i < count; ++i) {
    if (!roundTrip()) return 1;
  }
  double mean = Seconds(SteadyClock::now() - start) / static_cast<double>(count - warmup);
  ::sendto(s.fd(), data.data(), 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  std::printf("rtt_us=%.3f limit_MBps=%.3f\n", mean * 1e6, 512.0 / mean / 1e6);
  return 0;
}

// The least a TFTP server can do: ACK the write request and every DATA at once, keeping
// nothing. Our client against it, beside the ping-pong limit, shows the client's own cost.
int Sink(uint16_t port) {
  RawSocket s(port);
  if (!s.ok()) return 1;
  std::array<uint8_t, 600> buffer{};
  std::array<uint8_t, 4> ack{0, 4, 0, 0};
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(s.fd(), buffer.data(), buffer.size(), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 4) return n < 0 ? 1 : 0;
    uint16_t opcode = static_cast<uint16_t>(buffer[0] << 8 | buffer[1]);
    if (opcode == TFTP_OP_WRQ) {
      ack[2] = ack[3] = 0;
    } else if (opcode == TFTP_OP_DATA) {
      ack[2] = buffer[2], ack[3] = buffer[3];
    } else {
      continue;
    }
    ::sendto(s.fd(), ack.data(), ack.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    if (opcode == TFTP_OP_DATA && n < 516) return 0;
  }
}

int Probe(uint16_t port) {
  auto s = UdpSocket::Open({LOOPBACK, 0});
  if (!s) return 1;
  std::vector<uint8_t> rrq = BuildWrq("no-such-file");
  rrq[1] = TFTP_OP_RRQ;
  std::array<uint8_t, 600> reply{};
  for (int i = 0; i < 30; ++i) {
    s->SendTo(rrq, {LOOPBACK, port});
    if (s->WaitReadable(100) && s->ReceiveFrom(reply, nullptr) >= 2) return 0;
  }
  return 1;
}

int FreePort() {
  auto s = UdpSocket::Open({LOOPBACK, 0});
  if (!s) return 1;
  std::printf("%u\n", s->LocalPort());
  return 0;
}

}  // namespace
}  // namespace corvalink

int main(int argc, char** argv) {
  using namespace corvalink;
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "send" && argc == 5) return Send(argv[2], argv[3], PortArg(argv[4]));
  if (mode == "echo" && argc == 4) return Echo(PortArg(argv[2]), std::atol(argv[3]));
  if (mode == "ping" && argc == 4) return Ping(PortArg(argv[2]), std::atol(argv[3]));
  if (mode == "sink" && argc == 3) return Sink(PortArg(argv[2]));
  if (mode == "probe" && argc == 3) return Probe(PortArg(argv[2]));
  if (mode == "freeport" && argc == 2) return FreePort();
  std::fprintf(stderr,
               "usage: tftp_bench send FILE HOST PORT | echo PORT COUNT | ping PORT COUNT |"
               " sink PORT | probe PORT | freeport\n");
  return 2;
}
