#include "password_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "discovery/mac_text.h"
#include "discovery/router_table.h"

namespace corvalink::cli {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::optional<std::vector<PasswordEntry>> ParsePasswordFile(std::string_view text,
                                                            const std::string& name,
                                                            std::string* err) {
  std::vector<PasswordEntry> entries;
  int lineNumber = 0;
  auto fail = [&](const std::string& what) -> std::optional<std::vector<PasswordEntry>> {
    if (err != nullptr) *err = name + ":" + std::to_string(lineNumber) + ": " + what;
    return std::nullopt;
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    if (start == line.size() || line[start] == '#') continue;

    std::size_t macEnd = start;
    while (macEnd < line.size() && !IsBlank(line[macEnd])) ++macEnd;
    std::size_t passwordAt = macEnd;
    while (passwordAt < line.size() && IsBlank(line[passwordAt])) ++passwordAt;
    const std::optional<MacAddress> mac = ParseMacAddress(line.substr(start, macEnd - start));
    if (!mac) return fail(std::string("the line does not start with ") + MAC_ADDRESS_FORMS);
    if (passwordAt == line.size()) {
      return fail("no password after the MAC address " + MacText(*mac));
    }
    if (std::any_of(entries.begin(), entries.end(),
                    [&](const PasswordEntry& e) { return e.mac == *mac; })) {
      return fail("the MAC address " + MacText(*mac) + " was given before");
    }
    entries.push_back(PasswordEntry{*mac, std::string(line.substr(passwordAt))});
  }
  return entries;
}

std::optional<std::vector<PasswordEntry>> ReadPasswordFile(const std::string& path,
                                                           std::string* err) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::is_regular_file(status)) {
    if (err != nullptr) {
      *err = "--password-file: " + path +
             (ec ? ": " + ec.message() : std::string(" is not a regular file"));
    }
    return std::nullopt;
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > PASSWORD_FILE_MAX_BYTES) {
    if (err != nullptr) *err = "--password-file: " + path + " is too large for a password file";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    if (err != nullptr) *err = "--password-file: cannot read " + path;
    return std::nullopt;
  }
  return ParsePasswordFile(text, path, err);
}

}  // namespace corvalink::cli
