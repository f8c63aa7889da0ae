#include "platform/console.h"

#include <windows.h>

#include <atomic>

#include "platform/win_error.h"

namespace corvalink {
namespace {

std::atomic<bool> g_interrupted{false};

// Runs on a thread the system starts for the event. The first Ctrl-C, Ctrl-Break or closing of
// the console only raises the flag; a second one is left to the default handler, which ends the
// process, as on Linux. After a close, logoff or shutdown event the system ends the process
// once the handler returns, so the handler gives the job a moment to stop on its own.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (g_interrupted.exchange(true)) return FALSE;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    ::Sleep(2000);
  }
  return TRUE;
}

HANDLE StreamHandle(ConsoleStream stream) {
  switch (stream) {
    case ConsoleStream::Input:
      return ::GetStdHandle(STD_INPUT_HANDLE);
    case ConsoleStream::Output:
      return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case ConsoleStream::Error:
      return ::GetStdHandle(STD_ERROR_HANDLE);
  }
  return INVALID_HANDLE_VALUE;
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

std::string SystemText(DWORD code) { return WindowsErrorText(code, "system"); }

void SetError(std::string* err, const std::string& what) {
  if (err != nullptr) *err = what + ": " + SystemText(::GetLastError());
}

// One byte from `h`, which may be a console, a pipe or a file. A console in line mode hands the
// typed line over byte by byte and keeps the rest for the next read.
ConsoleRead ReadByteFrom(HANDLE h, char& c, std::string* err, const char* what) {
  DWORD n = 0;
  if (::ReadFile(h, &c, 1, &n, nullptr) == 0) {
    const DWORD cause = ::GetLastError();
    // Ctrl-C ends a console read with ERROR_OPERATION_ABORTED, perhaps before the handler's
    // thread has raised the flag.
    for (int i = 0; cause == ERROR_OPERATION_ABORTED && !g_interrupted && i < 20; ++i) ::Sleep(5);
    if (g_interrupted) return ConsoleRead::Interrupted;
    if (cause == ERROR_BROKEN_PIPE || cause == ERROR_HANDLE_EOF) return ConsoleRead::End;
    ::SetLastError(cause);
    SetError(err, what);
    return ConsoleRead::Failed;
  }
  if (n == 1) return ConsoleRead::Byte;
  return g_interrupted ? ConsoleRead::Interrupted : ConsoleRead::End;
}

}  // namespace

void InstallInterruptHandler() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool InterruptRequested() { return g_interrupted; }

// A write to a closed pipe already fails with an error here; nothing ends the process.
void ReportBrokenPipeAsError() {}

bool IsTerminal(ConsoleStream stream) { return IsConsole(StreamHandle(stream)); }

int TerminalColumns(ConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(StreamHandle(stream), &info) == 0) return 0;
  // The visible window, not the (often much wider) screen buffer behind it.
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 0;
}

int TerminalRows(ConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(StreamHandle(stream), &info) == 0) return 0;
  const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return rows > 0 ? rows : 0;
}

bool EnableTerminalSequences(ConsoleStream stream) {
  const HANDLE h = StreamHandle(stream);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || ::GetConsoleMode(h, &mode) == 0) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  // Consoles before Windows 10 refuse the mode; their callers draw without sequences.
  return ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

ConsoleRead ReadInputByte(char& c, std::string* err) {
  return ReadByteFrom(StreamHandle(ConsoleStream::Input), c, err, "cannot read standard input");
}

struct PasswordTerminal::State {
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
  DWORD savedMode = 0;
  bool restore = false;
};

PasswordTerminal::PasswordTerminal() : m_state(std::make_unique<State>()) {
  // The console itself, whatever the standard handles were redirected to.
  m_state->in = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  m_state->out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (m_state->in == INVALID_HANDLE_VALUE || m_state->out == INVALID_HANDLE_VALUE) {
    SetError(&m_error, "cannot open the console");
    return;
  }
  if (::GetConsoleMode(m_state->in, &m_state->savedMode) == 0) {
    SetError(&m_error, "cannot turn off the console's echo");
    return;
  }
  // Line input (so the line can still be edited) without echo; Ctrl-C stays a console event.
  const DWORD quiet = (m_state->savedMode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT |
                      ENABLE_PROCESSED_INPUT;
  if (::SetConsoleMode(m_state->in, quiet) == 0) {
    SetError(&m_error, "cannot turn off the console's echo");
    return;
  }
  m_state->restore = true;
}

PasswordTerminal::~PasswordTerminal() {
  if (m_state->restore) ::SetConsoleMode(m_state->in, m_state->savedMode);
  if (m_state->in != INVALID_HANDLE_VALUE) ::CloseHandle(m_state->in);
  if (m_state->out != INVALID_HANDLE_VALUE) ::CloseHandle(m_state->out);
}

bool PasswordTerminal::Write(std::string_view text, std::string* err) {
  if (!m_error.empty()) {
    if (err != nullptr) *err = m_error;
    return false;
  }
  while (!text.empty()) {
    DWORD n = 0;
    if (::WriteFile(m_state->out, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) == 0 ||
        n == 0) {
      SetError(err, "cannot write to the console");
      return false;
    }
    text.remove_prefix(n);
  }
  return true;
}

ConsoleRead PasswordTerminal::ReadByte(char& c, std::string* err) {
  if (!m_error.empty()) {
    if (err != nullptr) *err = m_error;
    return ConsoleRead::Failed;
  }
  const ConsoleRead r = ReadByteFrom(m_state->in, c, err, "cannot read the console");
  // The console echoes nothing at all with echo off, not even the line end: show it, so what
  // comes next starts on a new line.
  if (r == ConsoleRead::Byte && c == '\n') Write("\r\n", nullptr);
  return r;
}

}  // namespace corvalink
