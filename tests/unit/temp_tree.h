#pragma once
// Test helpers for code that works on files: a fresh directory per test, whole-file reads and
// writes, a listing of a tree (to prove nothing was created), and a way to run a step in a child
// process without root's right to write everywhere.

#include <sys/wait.h>
#include <grp.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace corvalink::test {

/// A directory made by mkdtemp, removed with everything in it when the test ends. Searchable by
/// every user, so an unprivileged child can reach what lies below it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvalink-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) {
      m_path = tmpl;
      std::error_code ec;
      std::filesystem::permissions(m_path, std::filesystem::perms(0755), ec);
    }
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

/// Runs `step` in a forked child (so limits it sets die with it) and returns its result, nothing
/// when the child could not run it. With `withoutRoot`, a child running as root first becomes
/// the unprivileged user 65534, so that permission bits bind it.
template <typename Step>
std::optional<bool> RunInChild(Step step, bool withoutRoot = false) {
  pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    if (withoutRoot && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(3);
    }
    ::_exit(step() ? 1 : 0);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return std::nullopt;
  int code = WEXITSTATUS(status);
  if (code > 1) return std::nullopt;
  return code == 1;
}

}  // namespace corvalink::test
