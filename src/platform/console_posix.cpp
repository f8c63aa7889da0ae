#include "platform/console.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace corvalink {
namespace {

// Written by the signal handler and read by every thread that runs a job: a lock-free atomic is
// safe in both places, where a volatile flag is a data race once there is a second thread.
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  const int saved = errno;  // the interrupted code may be about to read it
  g_interrupted.store(1);
  errno = saved;
}

int StreamFd(ConsoleStream stream) {
  switch (stream) {
    case ConsoleStream::Input:
      return STDIN_FILENO;
    case ConsoleStream::Output:
      return STDOUT_FILENO;
    case ConsoleStream::Error:
      return STDERR_FILENO;
  }
  return -1;
}

void SetError(std::string* err, const std::string& what) {
  if (err != nullptr) *err = what + ": " + std::strerror(errno);
}

// One byte from `fd`. A signal that is not an interrupt (the process was stopped and continued)
// does not end the read.
ConsoleRead ReadByteFrom(int fd, char& c, std::string* err, const char* what) {
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n == 1) return ConsoleRead::Byte;
    if (n == 0) return ConsoleRead::End;
    if (errno == EINTR) {
      if (g_interrupted != 0) return ConsoleRead::Interrupted;
      continue;
    }
    SetError(err, what);
    return ConsoleRead::Failed;
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait or a read returns at once so the job can stop. SA_RESETHAND: a second
  // Ctrl-C ends the process the ordinary way.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted != 0; }

void ReportBrokenPipeAsError() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

bool IsTerminal(ConsoleStream stream) { return ::isatty(StreamFd(stream)) != 0; }

int TerminalColumns(ConsoleStream stream) {
  winsize size{};
  if (::ioctl(StreamFd(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

int TerminalRows(ConsoleStream stream) {
  winsize size{};
  if (::ioctl(StreamFd(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

// Every terminal Linux runs follows them.
bool EnableTerminalSequences(ConsoleStream stream) { return IsTerminal(stream); }

ConsoleRead ReadInputByte(char& c, std::string* err) {
  return ReadByteFrom(STDIN_FILENO, c, err, "cannot read standard input");
}

struct PasswordTerminal::State {
  int fd = -1;
  termios saved{};
  bool restore = false;
};

PasswordTerminal::PasswordTerminal() : m_state(std::make_unique<State>()) {
  m_state->fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (m_state->fd < 0) {
    SetError(&m_error, "cannot open the terminal");
    return;
  }
  if (::tcgetattr(m_state->fd, &m_state->saved) != 0) {
    SetError(&m_error, "cannot turn off the terminal's echo");
    return;
  }
  termios quiet = m_state->saved;
  // Echo off, but the line end still shows, so the next output starts on a new line.
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  quiet.c_lflag |= ECHONL;
  if (::tcsetattr(m_state->fd, TCSAFLUSH, &quiet) != 0) {
    SetError(&m_error, "cannot turn off the terminal's echo");
    return;
  }
  m_state->restore = true;
}

PasswordTerminal::~PasswordTerminal() {
  if (m_state->restore) ::tcsetattr(m_state->fd, TCSAFLUSH, &m_state->saved);
  if (m_state->fd >= 0) ::close(m_state->fd);
}

bool PasswordTerminal::Write(std::string_view text, std::string* err) {
  if (!m_error.empty()) {
    if (err != nullptr) *err = m_error;
    return false;
  }
  while (!text.empty()) {
    const ssize_t n = ::write(m_state->fd, text.data(), text.size());
    if (n < 0 && errno == EINTR && g_interrupted == 0) continue;
    if (n <= 0) {
      SetError(err, "cannot write to the terminal");
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

ConsoleRead PasswordTerminal::ReadByte(char& c, std::string* err) {
  if (!m_error.empty()) {
    if (err != nullptr) *err = m_error;
    return ConsoleRead::Failed;
  }
  return ReadByteFrom(m_state->fd, c, err, "cannot read the terminal");
}

}  // namespace corvalink
