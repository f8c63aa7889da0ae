#pragma once
// Reading a router password from a person or a script without it ever appearing on the command
// line (where every user of the machine can read it): typed at the terminal with echo off, or
// one line from standard input. The text lives in a fixed buffer that is wiped when it goes.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/console.h"

namespace corvalink::cli {

/// Longest line kept; the check itself looks at fewer characters, the rest is read and dropped.
inline constexpr std::size_t PASSWORD_LINE_MAX = 255;

class PasswordBuffer {
 public:
  PasswordBuffer() = default;
  ~PasswordBuffer();
  PasswordBuffer(const PasswordBuffer&) = delete;
  PasswordBuffer& operator=(const PasswordBuffer&) = delete;

  std::string_view Text() const { return {m_text.data(), m_length}; }
  void Clear();
  /// Appends one byte; past PASSWORD_LINE_MAX bytes are dropped.
  void Append(char c);
  /// Drops a trailing CR (a line ended CR LF).
  void TrimCarriageReturn();

 private:
  std::array<char, PASSWORD_LINE_MAX> m_text{};
  std::size_t m_length = 0;
};

enum class PasswordRead {
  Ok,           ///< a line (possibly empty) was read
  Interrupted,  ///< a signal arrived while waiting
  Failed,       ///< `err` says why
};

/// Where a password's bytes come from, one per call: standard input or the terminal.
using ByteSource = std::function<ConsoleRead(char& c, std::string* err)>;

/// Reads up to the first line end (LF, or CR LF) or the end of input, byte by byte so nothing
/// after the line is consumed or copied.
PasswordRead ReadPasswordLine(const ByteSource& read, PasswordBuffer& out, std::string* err);

/// The first line of standard input.
PasswordRead ReadPasswordFromInput(PasswordBuffer& out, std::string* err);

/// Writes `prompt` to the controlling terminal and reads a line from it with echo off; the
/// terminal's settings are restored on every path.
PasswordRead PromptPassword(std::string_view prompt, PasswordBuffer& out, std::string* err);

}  // namespace corvalink::cli
