#include "text/escape_text.h"

#include <cstdio>

#include "text/ansi_text.h"

namespace corvalink {

std::string EscapeForPeople(std::string_view bytes, const EscapeOptions& options) {
  std::string out;
  out.reserve(bytes.size() < options.limit ? bytes.size() : options.limit);
  std::size_t shown = 0;
  for (; shown < bytes.size() && shown < options.limit; ++shown) {
    const char c = bytes[shown];
    const auto u = static_cast<unsigned char>(c);
    const char32_t cp = AnsiToCodePoint(u);
    const bool control = cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0);
    const bool plain = u >= 0x20 && u < 0x7F && c != '\\' &&
                       options.alsoEscaped.find(c) == std::string_view::npos;
    if (plain) {
      out += c;
    } else if (options.letters && u >= 0x80 && !control) {
      AppendUtf8(out, cp);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  if (shown < bytes.size()) out += "...";
  return out;
}

std::string QuoteForPeople(std::string_view bytes, std::size_t limit) {
  return '"' + EscapeForPeople(bytes, {limit, false, "\""}) + '"';
}

}  // namespace corvalink
