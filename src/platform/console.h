#pragma once
// The console as the command line uses it: whether a standard stream is a terminal and how wide
// it is, Ctrl-C turned into a request that the running job sees and honours, and a password read
// at the terminal with its echo off. Every terminal and signal call of the front ends is behind
// this header, which names no system type; each system has its own console_*.cpp.

#include <memory>
#include <string>
#include <string_view>

namespace corvalink {

enum class ConsoleStream { Input, Output, Error };

/// From now on Ctrl-C, and a request to end the process (SIGTERM; on Windows also Ctrl-Break
/// and the closing of the console), no longer ends the process at once: it sets the flag that
/// InterruptRequested reads. A blocking read or wait it interrupts returns early where the
/// system allows; every wait of the core is bounded anyway. A second Ctrl-C ends the process
/// the ordinary way, for a job that does not look. Call once, early, on the main thread.
void InstallInterruptHandler();

/// True once an interrupt arrived after InstallInterruptHandler. Cheap; safe on any thread.
bool InterruptRequested();

/// Makes a write to a closed pipe fail with an error the writer sees (and can report) instead
/// of ending the process without a word. Nothing to do where the system never ends it.
void ReportBrokenPipeAsError();

/// Whether `stream` is a terminal (a console on Windows), not a file or a pipe.
bool IsTerminal(ConsoleStream stream);

/// The width in columns of the terminal behind `stream`, asked afresh at each call, so a
/// resized window is followed; 0 when `stream` is no terminal or the width is unknown.
int TerminalColumns(ConsoleStream stream);
/// Its height in rows, the same way; 0 when unknown.
int TerminalRows(ConsoleStream stream);

/// Makes the terminal behind `stream` follow the escape sequences the progress line uses
/// (carriage return is always understood; "erase to the end of the line" needs asking on
/// Windows, whose console follows them only in its virtual-terminal mode). True when they work;
/// false when `stream` is no terminal or the console cannot, and the caller draws without them.
bool EnableTerminalSequences(ConsoleStream stream);

enum class ConsoleRead {
  Byte,         ///< one byte was read
  End,          ///< the end of the input
  Interrupted,  ///< an interrupt arrived while waiting
  Failed,       ///< `err` says why
};

/// Reads one byte of standard input, unbuffered: nothing after it is consumed, so whatever
/// follows stays for the next reader. On Failed `err` (when given) says why.
ConsoleRead ReadInputByte(char& c, std::string* err);

/// The terminal the user sits at (not the standard streams, which may be redirected), held
/// open for reading a password: its echo is off while the object lives and is restored on every
/// path out. The line end the user types still shows, so later output starts on a new line.
class PasswordTerminal {
 public:
  PasswordTerminal();
  ~PasswordTerminal();
  PasswordTerminal(const PasswordTerminal&) = delete;
  PasswordTerminal& operator=(const PasswordTerminal&) = delete;

  /// Empty when the terminal is open with its echo off. Otherwise why it cannot be used (there
  /// is no terminal, its echo cannot be turned off); then Write and ReadByte fail, since a
  /// password must never be read while it shows.
  const std::string& Error() const { return m_error; }
  bool Write(std::string_view text, std::string* err);
  ConsoleRead ReadByte(char& c, std::string* err);

 private:
  struct State;  // the system's handles and saved settings
  std::unique_ptr<State> m_state;
  std::string m_error;
};

}  // namespace corvalink
