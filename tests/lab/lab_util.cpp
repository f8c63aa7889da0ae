#include "lab_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

extern char** environ;

namespace corvalink::lab {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

std::optional<Ipv4> EnvAddress(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::nullopt : ParseIpv4(v);
}

}  // namespace

std::optional<LabEnv> GetLabEnv() {
  const char* router = std::getenv("CORVALINK_LAB_ROUTER_NS");
  const char* client = std::getenv("CORVALINK_LAB_CLIENT_NS");
  auto clientIp = EnvAddress("CORVALINK_LAB_CLIENT_IP");
  auto routerIp = EnvAddress("CORVALINK_LAB_ROUTER_IP");
  if (router == nullptr || client == nullptr || !clientIp || !routerIp || *router == '\0') {
    return std::nullopt;
  }
  const char* router2 = std::getenv("CORVALINK_LAB_ROUTER2_NS");
  const char* router3 = std::getenv("CORVALINK_LAB_ROUTER3_NS");
  return LabEnv{client, router, *clientIp, *routerIp, router2 != nullptr ? router2 : "",
                router3 != nullptr ? router3 : ""};
}

TestTimeout::TestTimeout(int seconds) {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  m_thread = std::thread([this, seconds, name] {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
      std::fprintf(stderr, "lab test %s exceeded its %d s timeout; ending the test program\n",
                   name.c_str(), seconds);
      std::fflush(stderr);
      std::_Exit(124);
    }
  });
}

TestTimeout::~TestTimeout() {
  {
    std::lock_guard lock(m_mutex);
    m_done = true;
  }
  m_cv.notify_all();
  m_thread.join();
}

NamespaceProcess::~NamespaceProcess() { Stop(); }

bool NamespaceProcess::Start(const std::string& ns, const std::vector<std::string>& argv,
                             std::string* err) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *err = "pipe failed";
    return false;
  }
  std::vector<std::string> full = {"ip", "netns", "exec", ns};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (std::string& a : full) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  int rc = posix_spawnp(&m_pid, "ip", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    m_pid = -1;
    *err = "cannot start ip netns exec " + ns;
    return false;
  }
  m_out = fds[0];
  return true;
}

void NamespaceProcess::ReadAvailable(int timeoutMs) {
  if (m_out < 0) return;
  pollfd p{m_out, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return;
  char buffer[4096];
  ssize_t n = ::read(m_out, buffer, sizeof buffer);
  if (n <= 0) {
    ::close(m_out);
    m_out = -1;
    return;
  }
  m_pending.append(buffer, static_cast<std::size_t>(n));
  std::size_t nl;
  while ((nl = m_pending.find('\n')) != std::string::npos) {
    m_lines.push_back(m_pending.substr(0, nl));
    m_pending.erase(0, nl + 1);
  }
}

std::optional<std::string> NamespaceProcess::WaitLine(const std::string& prefix, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t checked = 0;
  for (;;) {
    for (; checked < m_lines.size(); ++checked) {
      if (m_lines[checked].starts_with(prefix)) return m_lines[checked];
    }
    if (MsLeft(deadline) == 0 || m_out < 0) return std::nullopt;
    ReadAvailable(std::min(MsLeft(deadline), 100));
  }
}

int NamespaceProcess::Stop() {
  if (m_pid <= 0) return -1;
  ::kill(m_pid, SIGTERM);
  int status = 0;
  auto deadline = Clock::now() + std::chrono::seconds(2);
  pid_t done = 0;
  while ((done = ::waitpid(m_pid, &status, WNOHANG)) == 0 && MsLeft(deadline) > 0) {
    ReadAvailable(20);
  }
  if (done == 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    status = -1;
  } else {
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  m_pid = -1;
  if (m_out >= 0) {
    ::close(m_out);
    m_out = -1;
  }
  return status;
}

LabSimulator::~LabSimulator() {
  m_process.Stop();
  std::error_code ec;
  if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
}

bool LabSimulator::Start(const LabEnv& env, const std::vector<std::string>& args, int maxSeconds) {
  m_dir = std::filesystem::temp_directory_path() /
          ("corvalink-lab-" + std::to_string(::getpid()) + "-" +
           std::to_string(std::random_device{}()));
  std::filesystem::create_directories(m_dir);
  std::vector<std::string> argv = {RouterSimPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"--record", (m_dir / "record.txt").string(), "--max-seconds",
                           std::to_string(maxSeconds)});
  std::string err;
  if (!m_process.Start(env.routerNs, argv, &err)) {
    ADD_FAILURE() << err;
    return false;
  }
  auto ready = m_process.WaitLine("READY ", 10000);
  if (!ready) {
    ADD_FAILURE() << "router_sim did not report READY within 10 s";
    return false;
  }
  m_searchPort = static_cast<uint16_t>(FieldOf(*ready, "search").value_or(0));
  m_tftpPort = static_cast<uint16_t>(FieldOf(*ready, "tftp").value_or(0));
  return true;
}

std::vector<sim::LoggedDatagram> LabSimulator::Recorded() const {
  std::vector<sim::LoggedDatagram> out;
  std::ifstream in(m_dir / "record.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (auto d = sim::DatagramLog::ParseLine(line)) out.push_back(std::move(*d));
  }
  return out;
}

std::vector<sim::LoggedDatagram> LabSimulator::WaitRecorded(std::size_t count,
                                                            int timeoutMs) const {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto records = Recorded();
    if (records.size() >= count || MsLeft(deadline) == 0) return records;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "corvalink-lab-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

std::string RouterSimPath() {
  if (const char* v = std::getenv("CORVALINK_ROUTER_SIM")) return v;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path() / "router_sim").string();
}

bool ProcessListensUdp(pid_t pid, uint16_t port) {
  // /proc/<pid>/net/udp lists the sockets of that process's network namespace.
  std::ifstream in("/proc/" + std::to_string(pid) + "/net/udp");
  std::string line;
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local;
    fields >> slot >> local;
    if (local.ends_with(wanted)) return true;
  }
  return false;
}

std::vector<std::string> ProgramRun::ErrLines() const {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

ProgramRun RunProgram(const std::vector<std::string>& argvIn, const std::string& input,
                      const std::vector<std::string>& extraEnv, int timeoutS) {
  ProgramOptions options;
  options.input = input;
  options.extraEnv = extraEnv;
  options.timeoutS = timeoutS;
  return RunProgram(argvIn, options);
}

ProgramRun RunProgram(const std::vector<std::string>& argvIn, const ProgramOptions& options) {
  const std::string& input = options.input;
  const std::vector<std::string>& extraEnv = options.extraEnv;
  const int timeoutS = options.timeoutS;
  const bool closedOut = options.out == ProgramOptions::Out::ClosedPipe;
  ProgramRun run;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  if (options.out == ProgramOptions::Out::DevFull) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> argStore = argvIn;
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore(extraEnv);
  for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Input that fits the pipe goes in before the program starts: a program that ends without
  // reading it (a refused argument) would otherwise leave the write to a pipe nobody reads,
  // and SIGPIPE would end this test process.
  const bool inputFirst = input.size() <= PIPE_BUF;
  if (inputFirst && !input.empty()) {
    EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  }
  const auto start = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (closedOut) ::close(out[0]);  // before the program can write to it
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
    ::close(in[1]);
    if (!closedOut) ::close(out[0]);
    ::close(err[0]);
    return run;
  }
  if (!inputFirst) {
    // A program that ended without reading its input (a refused command line) is judged by
    // its exit and output, as a user would see it (SIGPIPE is ignored by the test program).
    const ssize_t written = ::write(in[1], input.data(), input.size());
    if (written < 0) {
      EXPECT_EQ(errno, EPIPE) << "writing the input: " << std::strerror(errno);
    } else {
      EXPECT_EQ(written, static_cast<ssize_t>(input.size()));
    }
  }
  ::close(in[1]);

  const auto deadline = start + std::chrono::seconds(timeoutS);
  pollfd fds[2] = {{closedOut ? -1 : out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = closedOut ? 1 : 2;
  while (open > 0) {
    const int left = MsLeft(deadline);
    if (left <= 0) {
      ADD_FAILURE() << argvIn[0] << " did not end within " << timeoutS << " s; killing pid " << pid;
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, left) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
        if (i == 0 && options.onOutput) options.onOutput(pid, run.out);
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) ::close(f.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return run;
}

bool ProcessListensTcp(pid_t pid) {
  // The inodes of the process's sockets, then the listening ones (state 0A) of its namespace.
  const std::string proc = "/proc/" + std::to_string(pid);
  std::vector<std::string> inodes;
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (!ec && target.starts_with("socket:[")) inodes.push_back(target.substr(8, target.size() - 9));
  }
  for (const char* table : {"/net/tcp", "/net/tcp6"}) {
    std::ifstream in(proc + table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      if (state == "0A" && std::find(inodes.begin(), inodes.end(), inode) != inodes.end()) {
        return true;
      }
    }
  }
  return false;
}

const std::vector<uint8_t> EXPECTED_REQUEST = [] {
  std::vector<uint8_t> b = {
      0xDD, 0x80,                               // magic, type
      0x00, 0x36,                               // length 54
      'V',  'E', 'L', 'M', 'O', 'R', 'A', 0x00  // tag and its NUL
  };
  b.resize(54, 0x00);  // 42 zero bytes
  return b;
}();

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> b(n);
  for (auto& x : b) x = static_cast<uint8_t>(gen());
  return b;
}

void WriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool StartTftpdHpa(const LabEnv& env, const std::filesystem::path& dir, NamespaceProcess& server,
                   std::string* err, const std::vector<std::string>& extra) {
  std::filesystem::permissions(dir, std::filesystem::perms::all);
  // -L foreground, -c allow new files, -s serve (and confine) the directory, -U 000 umask.
  std::vector<std::string> argv = {TFTPD_HPA, "-L", "-c", "-s", "-u", "root", "-U", "000",
                                   "-a", "0.0.0.0:69"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(dir.string());
  if (!server.Start(env.routerNs, argv, err)) {
    return false;
  }
  constexpr uint16_t TFTP_SERVER_PORT = 69;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!ProcessListensUdp(server.Pid(), TFTP_SERVER_PORT) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (ProcessListensUdp(server.Pid(), TFTP_SERVER_PORT)) return true;
  if (err != nullptr) *err = "in.tftpd did not bind port 69";
  return false;
}

std::optional<long long> FieldOf(const std::string& line, const std::string& key) {
  std::string needle = " " + key + "=";
  std::size_t at = line.find(needle);
  if (at == std::string::npos) return std::nullopt;
  return std::strtoll(line.c_str() + at + needle.size(), nullptr, 10);
}

}  // namespace corvalink::lab
