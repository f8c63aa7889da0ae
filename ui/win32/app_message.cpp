#include "win32/app_message.h"

#include "win32/win_dialog.h"

namespace corvalink {

std::string ApplicationTitle() {
  char path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, n < MAX_PATH ? n : 0);
  if (const std::size_t slash = name.find_last_of("\\/"); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name;
}

void ShowAppMessage(HWND owner, const char* text, UINT icon) {
  const std::string title = ApplicationTitle();
  ::MessageBoxA(owner, text, title.c_str(), MB_OK | icon);
}

std::string LoadResourceString(UINT id) {
  char buffer[256] = {};
  const int n = ::LoadStringA(ResourceModule(), id, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace corvalink
