#pragma once
// Single-byte ANSI text, the encoding of "lpr.txt", router locations and router passwords:
// Windows-1252, with the five bytes that code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) mapped to the C1 control of the same value, as the system conversion maps them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvalink {

/// The Unicode code point of one byte.
char32_t AnsiToCodePoint(uint8_t byte);

/// The byte of one code point; nothing for a character that has no Windows-1252 byte.
std::optional<uint8_t> CodePointToAnsi(char32_t codePoint);

/// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t codePoint);

/// The code points of a UTF-8 text; nothing when it is not well-formed UTF-8 (a stray or
/// missing continuation byte, an over-long form, a surrogate, a value past U+10FFFF).
std::optional<std::u32string> DecodeUtf8(std::string_view utf8);

/// The UTF-8 form of a whole single-byte text.
std::string AnsiToUtf8(std::string_view bytes);

}  // namespace corvalink
