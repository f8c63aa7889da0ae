#include "platform/ansi_path.h"

namespace corvalink {

std::filesystem::path PathFromAnsi(std::string_view text) {
  return std::filesystem::path(std::string(text));
}

std::string AnsiFromPath(const std::filesystem::path& path) { return path.native(); }

}  // namespace corvalink
