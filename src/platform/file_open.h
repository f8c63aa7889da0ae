#pragma once
// Opening a file by its path for reading its raw bytes, the same way on every system: binary
// mode (Windows' text mode would fold CR LF and stop at Ctrl-Z, which the readers do or refuse
// themselves), a wide-character name on Windows, where a narrow one would pass through the
// ANSI code page, and never a folder.

#include <cstdio>
#include <filesystem>

namespace corvalink {

/// The open file, or null when it cannot be opened or is a folder. The caller closes it.
std::FILE* OpenFileForReading(const std::filesystem::path& path);

/// Whether a text file ends at its first Ctrl-Z (0x1A), as the C runtime's text mode reads it on
/// Windows. On Linux the byte is an ordinary character.
bool CtrlZEndsText();

}  // namespace corvalink
