#include "upgrade/firmware_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/ansi_path.h"
#include "platform/file_open.h"

namespace corvalink {
namespace {

// Firmware is read through a buffer of this size: one read call per 128 blocks.
constexpr std::size_t FILE_BUFFER_SIZE = 64 * 1024;

std::string KindOf(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory: return "a folder";
    case std::filesystem::file_type::character: return "a character device";
    case std::filesystem::file_type::block: return "a block device";
    case std::filesystem::file_type::fifo: return "a pipe";
    case std::filesystem::file_type::socket: return "a socket";
    default: return "not a regular file";
  }
}

}  // namespace

std::optional<FirmwareFile> OpenFirmwareFile(std::string_view path, std::string* err) {
  FirmwareFile file;
  file.path = std::string(path);
  auto fail = [&](const std::string& why) -> std::optional<FirmwareFile> {
    if (err != nullptr) *err = "Cannot send \"" + file.path + "\": " + why;
    return std::nullopt;
  };
  if (file.path.empty()) return fail("no file was chosen");
  std::error_code ec;
  const std::filesystem::path p = PathFromAnsi(file.path);
  // Asked before the open: opening a pipe would block until something writes to it.
  const std::filesystem::file_status status = std::filesystem::status(p, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return fail("it is " + KindOf(status.type()) + ", not a regular file");
  }
  // Opening tells why a file that is not there or not readable cannot be sent.
  errno = 0;
  file.stream.reset(OpenFileForReading(p));
  if (!file.stream) return fail(std::generic_category().message(errno == 0 ? ENOENT : errno));
  file.size = std::filesystem::file_size(p, ec);
  if (ec) return fail(ec.message());
  file.buffer.resize(FILE_BUFFER_SIZE);
  std::setvbuf(file.stream.get(), file.buffer.data(), _IOFBF, file.buffer.size());
  return file;
}

}  // namespace corvalink
