#include "password_input.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "password/password_check.h"

namespace corvalink::cli {
namespace {

std::string ErrnoText() { return std::strerror(errno); }

// Owns the descriptor of the controlling terminal and puts its echo back however we leave.
class TerminalNoEcho {
 public:
  TerminalNoEcho() {
    m_fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0 || ::tcgetattr(m_fd, &m_saved) != 0) return;
    termios quiet = m_saved;
    // Echo off, but the line end still shows, so the next output starts on a new line.
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    m_restore = ::tcsetattr(m_fd, TCSAFLUSH, &quiet) == 0;
  }
  ~TerminalNoEcho() {
    if (m_restore) ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    if (m_fd >= 0) ::close(m_fd);
  }
  TerminalNoEcho(const TerminalNoEcho&) = delete;
  TerminalNoEcho& operator=(const TerminalNoEcho&) = delete;

  int Fd() const { return m_fd; }
  bool EchoIsOff() const { return m_restore; }

 private:
  int m_fd = -1;
  termios m_saved{};
  bool m_restore = false;
};

}  // namespace

PasswordBuffer::~PasswordBuffer() { Clear(); }

void PasswordBuffer::Clear() {
  SecureWipe(m_text.data(), m_text.size());
  m_length = 0;
}

void PasswordBuffer::Append(char c) {
  if (m_length < m_text.size()) m_text[m_length++] = c;
}

void PasswordBuffer::TrimCarriageReturn() {
  if (m_length > 0 && m_text[m_length - 1] == '\r') m_text[--m_length] = '\0';
}

PasswordRead ReadPasswordLine(int fd, PasswordBuffer& out, std::string* err) {
  out.Clear();
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(fd, &c, 1);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) return PasswordRead::Interrupted;
      if (err != nullptr) *err = "cannot read the password: " + ErrnoText();
      out.Clear();
      return PasswordRead::Failed;
    }
    if (c == '\n') break;
    out.Append(c);
    SecureWipe(&c, 1);
  }
  out.TrimCarriageReturn();
  return PasswordRead::Ok;
}

PasswordRead PromptPassword(std::string_view prompt, PasswordBuffer& out, std::string* err) {
  TerminalNoEcho terminal;
  if (terminal.Fd() < 0) {
    if (err != nullptr) *err = "cannot open the terminal to ask for the password: " + ErrnoText();
    return PasswordRead::Failed;
  }
  if (!terminal.EchoIsOff()) {
    // Never read a password that would be shown as it is typed.
    if (err != nullptr) *err = "cannot turn off the terminal's echo to ask for the password";
    return PasswordRead::Failed;
  }
  if (::write(terminal.Fd(), prompt.data(), prompt.size()) < 0) {
    if (err != nullptr) *err = "cannot write to the terminal: " + ErrnoText();
    return PasswordRead::Failed;
  }
  const PasswordRead result = ReadPasswordLine(terminal.Fd(), out, err);
  // With echo off the interrupted line has no line end of its own.
  if (result == PasswordRead::Interrupted) {
    [[maybe_unused]] const ssize_t n = ::write(terminal.Fd(), "\n", 1);
  }
  return result;
}

}  // namespace corvalink::cli
