#pragma once
// Test helpers for code that works on files: a fresh directory per test, whole-file reads and
// writes, and a listing of a tree (to prove nothing was created).

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "test_system.h"

namespace corvalink::test {

/// A directory of a name no other test uses, removed with everything in it when the test ends.
/// Searchable by every user, so an unprivileged child can reach what lies below it.
class TempDir {
 public:
  TempDir() {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    std::random_device random;
    for (int attempt = 0; attempt < 100 && m_path.empty() && !ec; ++attempt) {
      std::filesystem::path p = base / ("corvalink-test-" + std::to_string(ProcessId()) + "-" +
                                        std::to_string(random() % 1000000));
      // create_directory is false (without an error) when the name is taken.
      if (std::filesystem::create_directory(p, ec)) m_path = p;
    }
    if (!m_path.empty()) std::filesystem::permissions(m_path, std::filesystem::perms(0755), ec);
  }
  ~TempDir() {
    std::error_code ec;
    // A test may have left a directory without write permission; give it back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec)) std::filesystem::permissions(it->path(), std::filesystem::perms(0755), ec);
    }
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

inline void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::optional<std::string> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Writes a registry value file by hand: 4-byte big-endian type, then the data.
inline void WriteRegValue(const std::filesystem::path& file, uint32_t type, std::string_view data) {
  std::string bytes{static_cast<char>(type >> 24), static_cast<char>(type >> 16),
                    static_cast<char>(type >> 8), static_cast<char>(type)};
  bytes += data;
  WriteBytes(file, bytes);
}

/// Every path below `dir`, relative to it.
inline std::set<std::string> ListTree(const std::filesystem::path& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    names.insert(std::filesystem::relative(it->path(), dir, ec).string());
  }
  return names;
}

}  // namespace corvalink::test
