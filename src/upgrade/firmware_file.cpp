#include "upgrade/firmware_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/ansi_path.h"
#include "platform/file_open.h"

namespace corvalink {
namespace {

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

bool CheckFirmwareFile(std::string_view path, uint64_t* size, std::string* err) {
  const std::string text(path);
  auto fail = [&](const std::string& why) {
    if (err != nullptr) *err = "Cannot send \"" + text + "\": " + why;
    return false;
  };
  if (text.empty()) return fail("no file was chosen");
  std::error_code ec;
  const std::filesystem::path p = PathFromAnsi(text);
  const std::filesystem::file_status status = std::filesystem::status(p, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return fail("it is " + KindOf(status.type()) + ", not a regular file");
  }
  // Opening tells why a file that is not there or not readable cannot be sent.
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(OpenFileForReading(p), &std::fclose);
  if (!f) return fail(std::generic_category().message(errno == 0 ? ENOENT : errno));
  const uint64_t bytes = std::filesystem::file_size(p, ec);
  if (ec) return fail(ec.message());
  if (size != nullptr) *size = bytes;
  return true;
}

}  // namespace corvalink
