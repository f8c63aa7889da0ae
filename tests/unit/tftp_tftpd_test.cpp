// The TFTP client against a real server: Debian's in.tftpd (tftpd-hpa), started here as a
// child on 127.0.0.1 and a free high port, writing into a temporary folder. Skipped, visibly,
// where in.tftpd is not installed or cannot start.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/ms_clock.h"
#include "platform/udp_socket.h"
#include "temp_tree.h"
#include "upgrade/flash_wait.h"
#include "upgrade/tftp_packets.h"

namespace corvalink {
namespace {

const Ipv4 LOOPBACK{127, 0, 0, 1};

std::optional<std::string> FindTftpd() {
  for (const char* p : {"/usr/sbin/in.tftpd", "/sbin/in.tftpd", "/usr/local/sbin/in.tftpd"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return std::nullopt;
}

std::string UserName() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw != nullptr ? pw->pw_name : "nobody";
}

/// One in.tftpd in the foreground, ended (by its own PID) when this object goes.
class TftpdChild {
 public:
  TftpdChild() = default;
  ~TftpdChild() { Stop(); }
  TftpdChild(const TftpdChild&) = delete;
  TftpdChild& operator=(const TftpdChild&) = delete;

  /// Starts the server on a free port serving `dir`; on failure says why.
  bool Start(const std::string& binary, const std::filesystem::path& dir, std::string* why) {
    for (int tries = 0; tries < 3; ++tries) {
      auto probe = UdpSocket::Open({LOOPBACK, 0});
      if (!probe) break;
      m_port = probe->LocalPort();
      probe->Close();
      std::string address = "127.0.0.1:" + std::to_string(m_port);
      // -L: stay in the foreground; -c: allow new files; -s: serve `dir` as the root.
      std::vector<std::string> args = {binary, "-L", "-c", "-s", "-a", address, "-u",
                                       UserName(), dir.string()};
      m_pid = ::fork();
      if (m_pid < 0) break;
      if (m_pid == 0) {
        int devnull = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) ::dup2(devnull, fd);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
      }
      if (Answers()) return true;
      Stop();
    }
    *why = "in.tftpd did not answer on 127.0.0.1 (it needs the right to chroot)";
    return false;
  }

  uint16_t Port() const { return m_port; }

 private:
  // A read request for a file that is not there must bring an ERROR back.
  bool Answers() {
    auto s = UdpSocket::Open({LOOPBACK, 0});
    if (!s) return false;
    std::vector<uint8_t> rrq = BuildWrq("no-such-file");
    rrq[1] = TFTP_OP_RRQ;
    for (int i = 0; i < 20; ++i) {
      int status = 0;
      if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
      }
      s->SendTo(rrq, {LOOPBACK, m_port});
      if (s->WaitReadable(100)) {
        std::array<uint8_t, 600> reply{};
        int n = s->ReceiveFrom(reply, nullptr);
        return n >= 2 && TftpOpcode(std::span<const uint8_t>(reply).first(n)) == TFTP_OP_ERROR;
      }
    }
    return false;
  }

  void Stop() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      int status = 0;
      ::waitpid(m_pid, &status, 0);
      m_pid = -1;
    }
  }

  pid_t m_pid = -1;
  uint16_t m_port = 0;
};

TEST(TftpTftpd, UploadsArriveByteForByte) {
  std::optional<std::string> tftpd = FindTftpd();
  if (!tftpd) GTEST_SKIP() << "in.tftpd (Debian package tftpd-hpa) is not installed";
  test::TempDir source, served;
  TftpdChild server;
  std::string why;
  if (!server.Start(*tftpd, served.Path(), &why)) GTEST_SKIP() << why;

  struct Row {
    std::string localName;  // a name with backslashes, as a path chosen on the router's OS
    std::string remoteName;
    std::size_t size;
  };
  const Row rows[] = {{"empty.all", "empty.all", 0},
                      {"C:\\fw\\image.all", "image.all", 1000},
                      {"five.all", "five.all", 512 * 5},
                      {"big.all", "big.all", 300 * 1024}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.localName);
    std::string bytes(row.size, '\0');
    uint32_t x = 2463534242u + static_cast<uint32_t>(row.size);
    for (char& c : bytes) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      c = static_cast<char>(x);
    }
    const auto local = source.Path() / row.localName;
    test::WriteBytes(local, bytes);

    ProgressModel bar;
    bool abortFlag = false;
    // The final fill is covered on a fake clock; here it would only cost time.
    TftpControl control{bar, abortFlag, {}, [&](const TftpStats& s) {
                          if (s.bytesAcked == s.fileSize) bar.SetPos(bar.GetRangeHigh() - 1);
                        }};
    MsClock clock;
    TftpEnv env{clock, {}, server.Port(), {}};
    TftpResult r = SendFirmware(local.string(), "127.0.0.1", control, env);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.stats.bytesAcked, row.size);
    EXPECT_EQ(test::ReadBytes(served.Path() / row.remoteName), bytes);
    RecordProperty("retransmissions_" + row.remoteName, static_cast<int>(r.stats.retransmissions));
  }
}

}  // namespace
}  // namespace corvalink
