#include "platform/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvalink {

std::FILE* OpenFileForReading(const std::filesystem::path& path) {
  // Opened without blocking, so a FIFO or a device under the name cannot hang the caller, and
  // kept only when it is a regular file: a folder or a FIFO is not the file we want.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st{};
  std::FILE* f = nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (f = ::fdopen(fd, "rb")) == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return f;
}

bool CtrlZEndsText() { return false; }

}  // namespace corvalink
