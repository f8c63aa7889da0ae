#pragma once
// What the lab tests share: the lab's names from scripts/lab.sh, programs started in the router
// namespace (the simulator, a real TFTP server) and ended by their process ids, a per-test
// watchdog, and the simulator's record file.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "datagram_log.h"
#include "platform/ipv4.h"

namespace corvalink::lab {

/// The lab that scripts/lab.sh made; these tests run in its client namespace.
struct LabEnv {
  std::string clientNs;
  std::string routerNs;
  Ipv4 clientIp{};
  Ipv4 routerIp{};
  /// The namespaces of the client's second segment (198.18.1.0/24, whose router namespace
  /// forwards) and of the segment routed behind it (198.18.2.0/24).
  std::string router2Ns;
  std::string router3Ns;
};

/// The lab's names, or nothing when the tests do not run inside `lab.sh run`.
std::optional<LabEnv> GetLabEnv();

#define LAB_OR_SKIP(env)                                                                     \
  auto env##_opt = ::corvalink::lab::GetLabEnv();                                            \
  if (!env##_opt) GTEST_SKIP() << "not in the network lab: run through scripts/lab.sh run -- " \
                                  "<this program> (CORVALINK_LAB_ROUTER_NS is unset)";        \
  const ::corvalink::lab::LabEnv& env = *env##_opt

/// Ends the whole test program when one test runs longer than `seconds`: a hung socket wait
/// must not hold up the test command. lab.sh then removes the lab and what runs in it.
class TestTimeout {
 public:
  explicit TestTimeout(int seconds);
  ~TestTimeout();
  TestTimeout(const TestTimeout&) = delete;
  TestTimeout& operator=(const TestTimeout&) = delete;

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
  std::thread m_thread;
};

/// A program run in a network namespace, its standard output read line by line. The
/// destructor ends it (TERM, then KILL after 2 s) by its process id.
class NamespaceProcess {
 public:
  NamespaceProcess() = default;
  ~NamespaceProcess();
  NamespaceProcess(const NamespaceProcess&) = delete;
  NamespaceProcess& operator=(const NamespaceProcess&) = delete;

  /// Starts `ip netns exec <ns> <argv...>`. False with `err` when it cannot be started.
  bool Start(const std::string& ns, const std::vector<std::string>& argv, std::string* err);
  /// The first output line starting with `prefix` (read so far or within `timeoutMs`).
  std::optional<std::string> WaitLine(const std::string& prefix, int timeoutMs);
  /// Ends the program and returns its exit status (-1 when it had to be killed).
  int Stop();
  pid_t Pid() const { return m_pid; }

 private:
  void ReadAvailable(int timeoutMs);
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_pending;
  std::vector<std::string> m_lines;
};

/// The router simulator in the router namespace, with a record file in a fresh directory.
class LabSimulator {
 public:
  LabSimulator() = default;
  ~LabSimulator();
  LabSimulator(const LabSimulator&) = delete;
  LabSimulator& operator=(const LabSimulator&) = delete;

  /// Starts router_sim with `args` plus --record and --max-seconds; waits for its READY line.
  /// Fails the current test (and returns false) when it does not come up.
  bool Start(const LabEnv& env, const std::vector<std::string>& args, int maxSeconds = 120);
  uint16_t SearchPort() const { return m_searchPort; }
  uint16_t TftpPort() const { return m_tftpPort; }
  /// The datagrams recorded so far, as the simulator wrote them.
  std::vector<sim::LoggedDatagram> Recorded() const;
  /// Waits until at least `count` datagrams are recorded or `timeoutMs` passes.
  std::vector<sim::LoggedDatagram> WaitRecorded(std::size_t count, int timeoutMs) const;
  NamespaceProcess& Process() { return m_process; }
  const std::filesystem::path& Dir() const { return m_dir; }

 private:
  NamespaceProcess m_process;
  std::filesystem::path m_dir;
  uint16_t m_searchPort = 0;
  uint16_t m_tftpPort = 0;
};

/// A fresh directory under the system's temporary folder; removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

/// What a program run to its end with RunProgram did.
struct ProgramRun {
  int exitCode = -1;  ///< 128 + the signal when a signal ended it
  std::string out;
  std::string err;
  long long ms = 0;
  std::vector<std::string> ErrLines() const;
};

/// Runs `argv` (argv[0] looked up on PATH when it has no '/') in this namespace with `input` on
/// its standard input (then end of input) and `extraEnv` ("NAME=value") before the inherited
/// environment; kills it by its pid after `timeoutS`, which fails the current test.
ProgramRun RunProgram(const std::vector<std::string>& argv, const std::string& input = "",
                      const std::vector<std::string>& extraEnv = {}, int timeoutS = 60);

/// The same run with more control over it.
struct ProgramOptions {
  std::string input;
  std::vector<std::string> extraEnv;
  int timeoutS = 60;
  /// Standard output: a pipe the run reads, /dev/full, or a pipe whose reading end is closed.
  enum class Out { Pipe, DevFull, ClosedPipe } out = Out::Pipe;
  /// Called with the pid and the standard output so far after each read of it.
  std::function<void(pid_t, const std::string&)> onOutput;
};
ProgramRun RunProgram(const std::vector<std::string>& argv, const ProgramOptions& options);

/// Whether the process `pid` holds a TCP socket listening on any port, IPv4 or IPv6.
bool ProcessListensTcp(pid_t pid);

/// Where the build put router_sim: $CORVALINK_ROUTER_SIM, else beside this test program.
std::string RouterSimPath();

/// Whether the process `pid` (in whatever namespace) has a UDP socket bound to `port`.
bool ProcessListensUdp(pid_t pid, uint16_t port);

/// Where Debian's tftpd-hpa puts its server.
inline constexpr char TFTPD_HPA[] = "/usr/sbin/in.tftpd";

/// Starts tftpd-hpa as `server` in the router namespace on port 69, writing new files into `dir`
/// (opened to everyone, as the server runs with umask 000), and waits up to 5 s until it has
/// bound the port. False with `err` when it cannot be started or does not bind. `extra` flags go
/// before the directory (e.g. "-T", "50000" for a shorter retransmission timer).
bool StartTftpdHpa(const LabEnv& env, const std::filesystem::path& dir, NamespaceProcess& server,
                   std::string* err, const std::vector<std::string>& extra = {});

/// The search request, written out byte by byte rather than taken from the code under test.
extern const std::vector<uint8_t> EXPECTED_REQUEST;

/// `n` bytes from a generator seeded with `seed`: the same image on every run.
std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed);
/// Writes `bytes` as the whole of the file `p`.
void WriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes);
/// The whole of the file `p`; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::filesystem::path& p);

/// The integer after "key=" in a line such as "BURST search to=... replies=30 us=120".
std::optional<long long> FieldOf(const std::string& line, const std::string& key);

}  // namespace corvalink::lab
