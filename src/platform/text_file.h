#pragma once
// Line reading with the semantics of the C runtime's text-mode fgets on the platform the
// interface text files come from: CR LF reads as LF, and a line longer than the limit goes on
// in the next read.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <span>

namespace corvalink {

/// An open file read in text mode. Move-only; closes itself.
class TextFile {
 public:
  TextFile() = default;
  ~TextFile();
  TextFile(TextFile&& other) noexcept;
  TextFile& operator=(TextFile&& other) noexcept;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  /// Opens for reading; IsOpen() tells whether it worked.
  explicit TextFile(const std::filesystem::path& path);
  bool IsOpen() const { return m_file != nullptr; }

  /// Reads at most buffer.size() - 1 characters, stopping after a line end (kept, as LF), and
  /// NUL-terminates. False at end of file with nothing read (the buffer is left as it was), on a
  /// read error (the buffer then holds an empty text), and when the buffer has no room for a
  /// character. Where CtrlZEndsText() (Windows), byte 0x1A is the end of the file, and nothing
  /// after it is read; elsewhere it is an ordinary character.
  bool ReadLine(std::span<char> buffer);

 private:
  std::FILE* m_file = nullptr;
  bool m_atCtrlZ = false;
};

}  // namespace corvalink
