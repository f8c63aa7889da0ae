#include "platform/current_dir.h"

#include <system_error>

namespace corvalink {

std::filesystem::path CurrentDirectory() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::current_path(ec);
  if (ec) return ".";
  return dir;
}

}  // namespace corvalink
