// The firmware write through a real network's faults: the kernel drops and doubles datagrams on
// the lab's veth (nftables, scripts/lab.sh faults) in front of a real tftpd-hpa on port 69, and
// the client is stopped for 2 s in the middle. Every image must arrive byte for byte; the
// datagrams the client sent are printed against a clean run.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "lab_util.h"
#include "platform/ms_clock.h"
#include "upgrade/progress_bar.h"
#include "upgrade/flash_wait.h"

namespace corvalink::lab {
namespace {

struct Figures {
  int outcome = -1;
  TftpStats stats;
  long long ms = 0;
  char message[256] = {};  // the transfer's own account of a failure
};

// The upload runs in a child process so that it can be stopped and continued as a whole. The
// child writes one byte to `progressFd` once `signalAtBlock` blocks are acknowledged, and its
// figures to `resultFd` at the end.
[[noreturn]] void UploadInChild(const std::string& file, int progressFd, int resultFd,
                                uint32_t signalAtBlock) {
  ProgressModel bar;
  bool abortRequested = false;
  TftpControl control{bar, abortRequested, {}, [&](const TftpStats& s) {
                        if (s.blocksAcked == signalAtBlock) (void)!::write(progressFd, "b", 1);
                        // The bar's final fill (18 s for 1 MiB) is not what is tested here.
                        if (s.bytesAcked == s.fileSize) bar.SetPos(bar.GetRangeHigh() - 1);
                      }};
  MsClock clock;
  TftpEnv env{clock, {}, TFTP_PORT, {}};
  const auto start = std::chrono::steady_clock::now();
  TftpResult r = SendFirmware(file, "198.18.0.2", control, env);
  Figures f{static_cast<int>(r.outcome), r.stats,
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count()};
  std::snprintf(f.message, sizeof f.message, "%s", r.message.c_str());
  (void)!::write(resultFd, &f, sizeof f);
  ::_exit(0);
}

Figures Upload(const std::string& file, bool stallTwoSeconds) {
  int progress[2], result[2];
  if (::pipe(progress) != 0 || ::pipe(result) != 0) return {};
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child == 0) UploadInChild(file, progress[1], result[1], 600);
  ::close(progress[1]);
  ::close(result[1]);
  if (stallTwoSeconds) {
    char c;
    if (::read(progress[0], &c, 1) == 1) {
      ::kill(child, SIGSTOP);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      ::kill(child, SIGCONT);
    }
  }
  Figures f;
  if (::read(result[0], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) f.outcome = -1;
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(progress[0]);
  ::close(result[0]);
  return f;
}

bool Faults(const std::string& side, const std::string& spec) {
  const char* script = std::getenv("CORVALINK_LAB_SCRIPT");
  if (script == nullptr) return false;
  return std::system(("bash '" + std::string(script) + "' faults " + side + " " + spec).c_str()) == 0;
}

TEST(LabFaults, UploadSurvivesDuplicationLossAndAStoppedClient) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(300);
  if (::access(TFTPD_HPA, X_OK) != 0)
    GTEST_SKIP() << "tftpd-hpa is not installed (" << TFTPD_HPA << ")";
  if (std::getenv("CORVALINK_LAB_SCRIPT") == nullptr || std::system("command -v nft >/dev/null") != 0)
    GTEST_SKIP() << "nftables (nft) is not installed, or not run by scripts/lab.sh";

  TempDir clientDir;
  const auto image = RandomBytes(1 << 20, 2024);
  const std::string file = (clientDir.Path() / "image.all").string();
  WriteFile(file, image);

  // The ACK of the last block (2049 for 1 MiB): tftpd-hpa listens for a repeat of the last block
  // only as long as its retransmission timer after sending it, far less than the client's 2 s
  // wait, so once that ACK is lost no protocol step can bring it back. The random loss spares it,
  // and its loss is a row of its own with its own expectation.
  const std::string lastAck = std::to_string(image.size() / TFTP_BLOCK_SIZE + 1);
  const struct {
    const char* name;
    std::string clientFaults, routerFaults;
    bool stall;
    bool lastAckLost;
  } rows[] = {
      {"clean", "", "", false, false},
      {"10% duplication both ways", "dup=10", "dup=10", false, false},
      {"5% loss both ways", "loss=5 keep-ack=" + lastAck, "loss=5", false, false},
      {"5% loss and 5% duplication both ways", "loss=5 dup=5 keep-ack=" + lastAck,
       "loss=5 dup=5", false, false},
      {"client stopped for 2 s", "", "", true, false},
      {"every ACK of the last block lost", "lose-ack=" + lastAck, "", false, true},
  };
  uint32_t cleanSent = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir serverDir;
    NamespaceProcess server;
    std::string err;
    // tftpd-hpa's retransmission timer T (1 s by default) sets what a loss costs, and it gives up
    // a block after 63 T without it. 100 ms keeps the lossy rows short, stays far above the
    // client's hold-off for copies of an ACK, and gives 6.3 s per block: more than the client's
    // 1 s pause after the write request plus two of its 2 s waits, so a lost first DATA and a lost
    // resend of it do not outlast the server (50 ms gave 3.15 s and failed now and then).
    ASSERT_TRUE(StartTftpdHpa(env, serverDir.Path(), server, &err, {"-T", "100000"})) << err;
    ASSERT_TRUE(Faults("client", row.clientFaults));
    ASSERT_TRUE(Faults("router", row.routerFaults));
    const Figures f = Upload(file, row.stall);
    ASSERT_TRUE(Faults("client", ""));
    ASSERT_TRUE(Faults("router", ""));
    // The server has the whole image in every row, also where the client cannot know it.
    EXPECT_EQ(ReadFile(serverDir.Path() / "image.all"), image);
    if (row.lastAckLost) {
      EXPECT_EQ(f.outcome, static_cast<int>(TftpOutcome::Timeout)) << f.message;
      EXPECT_EQ(f.stats.blocksAcked, image.size() / TFTP_BLOCK_SIZE);  // all but the last
      EXPECT_NE(std::string(f.message).find("may have the whole image"), std::string::npos)
          << f.message;
      EXPECT_EQ(f.stats.retransmissions, static_cast<uint32_t>(TFTP_DATA_ATTEMPTS - 1));
      continue;
    }
    ASSERT_EQ(f.outcome, static_cast<int>(TftpOutcome::Ok))
        << "upload failed after " << f.ms << " ms: " << f.message << " (" << f.stats.blocksAcked
        << " blocks acknowledged, " << f.stats.retransmissions << " retransmissions)";
    if (cleanSent == 0) cleanSent = f.stats.datagramsSent;
    const double ratio = static_cast<double>(f.stats.datagramsSent) / cleanSent;
    std::printf("[ lab figure ] %s: %u datagrams sent (%.3fx the clean run), %u retransmissions, "
                "%u copies of an ACK ignored, %lld ms\n",
                row.name, f.stats.datagramsSent, ratio, f.stats.retransmissions,
                f.stats.duplicateAcksIgnored, f.ms);
    if (row.clientFaults == "dup=10") EXPECT_LE(ratio, 1.15);
    if (row.stall) EXPECT_LE(f.stats.retransmissions, 2u);
  }
}

}  // namespace
}  // namespace corvalink::lab
