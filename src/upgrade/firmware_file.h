#pragma once
// The firmware image to send, opened once: a regular file that opens for reading. A folder, a
// device (/dev/zero never ends), a pipe or a socket is refused before the router is asked for
// anything, since a transfer of one would never end or never be whole.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvalink {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct FirmwareFile {
  std::string path;   ///< as it was given, for messages
  uint64_t size = 0;  ///< measured when opened: the blocks read must add up to it
  /// The stream reads through this buffer (one read call per 128 blocks); it is declared before
  /// the stream so that it outlives it.
  std::vector<char> buffer;
  std::unique_ptr<std::FILE, FileCloser> stream;
};

/// Opens `path` (a narrow path as the windows and the CLI hold it) through OpenFileForReading
/// when it is a regular file (after following links). Empty with a message for people in `err`.
std::optional<FirmwareFile> OpenFirmwareFile(std::string_view path, std::string* err);

}  // namespace corvalink
