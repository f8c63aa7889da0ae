#include "test_system.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvalink::test {
namespace {

extern "C" void IgnoreSignal(int) {}

struct sigaction g_oldAlarm {};

}  // namespace

std::string NoChildProcess() { return {}; }

std::optional<bool> RunInChild(const std::function<bool()>& step, bool withoutRoot,
                               int timeoutSeconds) {
  pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    if (timeoutSeconds > 0) ::alarm(static_cast<unsigned>(timeoutSeconds));
    if (withoutRoot && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(3);
    }
    ::_exit(step() ? 1 : 0);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return std::nullopt;
  int code = WEXITSTATUS(status);
  if (code > 1) return std::nullopt;
  return code == 1;
}

bool MakeFifo(const std::filesystem::path& path, std::string* why) {
  if (::mkfifo(path.c_str(), 0600) == 0) return true;
  if (why != nullptr) *why = std::strerror(errno);
  return false;
}

PeriodicSignal::PeriodicSignal(int periodMs) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: waits return EINTR
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGALRM, &action, &g_oldAlarm) != 0) {
    m_why = std::strerror(errno);
    return;
  }
  const suseconds_t us = static_cast<suseconds_t>(periodMs % 1000) * 1000;
  itimerval every{{periodMs / 1000, us}, {periodMs / 1000, us}};
  setitimer(ITIMER_REAL, &every, nullptr);
}

PeriodicSignal::~PeriodicSignal() {
  if (!Active()) return;
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &g_oldAlarm, nullptr);
}

bool SocketIsOpen(SocketHandle handle) { return ::fcntl(static_cast<int>(handle), F_GETFD) != -1; }

std::optional<bool> SocketBroadcast(SocketHandle handle) {
  int value = -1;
  socklen_t len = sizeof value;
  if (::getsockopt(static_cast<int>(handle), SOL_SOCKET, SO_BROADCAST, &value, &len) != 0) {
    return std::nullopt;
  }
  return value != 0;
}

long ProcessId() { return static_cast<long>(::getpid()); }

std::string EndlessDevice() { return "/dev/zero"; }

}  // namespace corvalink::test
