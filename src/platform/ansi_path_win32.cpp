#include "platform/ansi_path.h"

#include <windows.h>

namespace corvalink {

std::filesystem::path PathFromAnsi(std::string_view text) {
  // std::filesystem::path would take the bytes as UTF-8 (and throw on a lone "é"); the names
  // are in the ANSI code page, as the A functions of the system take them.
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  return std::filesystem::path(std::move(wide));
}

std::string AnsiFromPath(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

}  // namespace corvalink
