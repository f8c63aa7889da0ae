#include "platform/text_file.h"

#include <utility>

#include "platform/file_open.h"

namespace corvalink {
namespace {

constexpr int CTRL_Z = 0x1A;

// One character as the text-mode runtime delivers it: a CR directly followed by LF is the single
// character LF, wherever the pair falls relative to the caller's buffer; any other CR is kept.
// Ctrl-Z (0x1A) is left to the caller, which ends the text there on Windows.
int GetTextChar(std::FILE* f) {
  int c = std::fgetc(f);
  if (c != '\r') return c;
  int next = std::fgetc(f);
  if (next == '\n') return '\n';
  if (next != EOF) std::ungetc(next, f);
  return '\r';
}

}  // namespace

TextFile::TextFile(const std::filesystem::path& path) {
  // Binary: the text-mode rules are GetTextChar's, the same on every system. A folder that
  // happens to be called "lpr.txt" is not a text file and does not open.
  m_file = OpenFileForReading(path);
}

TextFile::~TextFile() {
  if (m_file != nullptr) std::fclose(m_file);
}

TextFile::TextFile(TextFile&& other) noexcept
    : m_file(std::exchange(other.m_file, nullptr)), m_atCtrlZ(std::exchange(other.m_atCtrlZ, false)) {}

TextFile& TextFile::operator=(TextFile&& other) noexcept {
  if (this != &other) {
    if (m_file != nullptr) std::fclose(m_file);
    m_file = std::exchange(other.m_file, nullptr);
    m_atCtrlZ = std::exchange(other.m_atCtrlZ, false);
  }
  return *this;
}

bool TextFile::ReadLine(std::span<char> buffer) {
  if (m_file == nullptr || buffer.size() < 2) return false;  // no room for a character
  std::size_t n = 0;
  while (n + 1 < buffer.size() && !m_atCtrlZ) {
    int c = GetTextChar(m_file);
    if (c == EOF) break;
    // Windows' text mode: Ctrl-Z is the end of the file, for this read and every later one.
    if (c == CTRL_Z && CtrlZEndsText()) {
      m_atCtrlZ = true;
      break;
    }
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (std::ferror(m_file) != 0) {
    // As fgets: a read error makes the whole call fail, whatever it had stored.
    buffer[0] = '\0';
    return false;
  }
  if (n == 0) return false;  // end of file with nothing read: the buffer is left as it was
  buffer[n] = '\0';
  return true;
}

}  // namespace corvalink
