#pragma once
// Bytes from outside (a router, a file, a print client, a command line) in text for people: one
// rule for every message, log line and table cell, so that nothing received can end a line,
// move a terminal's cursor or pass for text it is not.

#include <cstddef>
#include <string>
#include <string_view>

namespace corvalink {

struct EscapeOptions {
  /// Bytes shown at most; "..." follows a text that was cut.
  std::size_t limit = static_cast<std::size_t>(-1);
  /// Windows-1252 characters above ASCII shown as themselves (in UTF-8) rather than escaped.
  bool letters = false;
  /// Printable characters escaped as well: a quote around the text, a space that separates.
  std::string_view alsoEscaped = {};
};

/// Printable characters as they stand; control bytes, DEL, the backslash and, unless `letters`,
/// every byte above ASCII as \xNN (upper-case hex), so the text reads back unambiguously.
std::string EscapeForPeople(std::string_view bytes, const EscapeOptions& options = {});

/// The same between double quotes, a quote inside escaped: "text" or "text...".
std::string QuoteForPeople(std::string_view bytes, std::size_t limit = static_cast<std::size_t>(-1));

}  // namespace corvalink
