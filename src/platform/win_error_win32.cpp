#include "platform/win_error.h"

#include <windows.h>

namespace corvalink {

std::string WindowsErrorText(unsigned long code, const char* kind) {
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) out.assign(text, n);
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' ||
                          out.back() == '.')) {
    out.pop_back();
  }
  if (out.empty()) out = std::string(kind) + " error " + std::to_string(code);
  return out;
}

}  // namespace corvalink
