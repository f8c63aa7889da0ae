#pragma once
// File names as the registry, the interface texts and the firmware chooser hold them: ANSI text,
// single bytes in the system's code page. On Windows that is the ANSI code page (Windows-1252 on
// a western system), which the wide file calls do not take as it is; on Linux a name is its bytes.

#include <filesystem>
#include <string>
#include <string_view>

namespace corvalink {

/// The path that ANSI text names. Every byte maps to a character, so nothing is lost and nothing
/// throws: a byte the code page does not define comes through as the system converts it.
std::filesystem::path PathFromAnsi(std::string_view text);

/// The ANSI text of a path, the inverse of PathFromAnsi. A character the code page cannot hold
/// comes out as the system's replacement ('?').
std::string AnsiFromPath(const std::filesystem::path& path);

}  // namespace corvalink
