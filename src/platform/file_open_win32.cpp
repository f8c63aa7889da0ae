#include "platform/file_open.h"

#include <stdio.h>

namespace corvalink {

std::FILE* OpenFileForReading(const std::filesystem::path& path) {
  // path::c_str() is the wide name here; _wfopen refuses a folder by itself.
  return ::_wfopen(path.c_str(), L"rb");
}

bool CtrlZEndsText() { return true; }

}  // namespace corvalink
