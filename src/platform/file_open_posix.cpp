#include "platform/file_open.h"

#include <sys/stat.h>

namespace corvalink {

std::FILE* OpenFileForReading(const std::filesystem::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");  // e: close on exec
  if (f == nullptr) return nullptr;
  // A directory opens for reading here but not on Windows; a folder that happens to be called
  // like the file we want is not that file.
  struct stat st{};
  if (::fstat(::fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(f);
    return nullptr;
  }
  return f;
}

}  // namespace corvalink
