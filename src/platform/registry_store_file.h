#pragma once
// The file-tree store's value files themselves: opening one without following a link or
// blocking, locks that a holder cannot make last, and writing one whole or in place. Members of
// a key's group may put anything in a key's folder, so every call decides on the open file,
// never on a name looked up before.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace corvalink::store {

/// Closes a descriptor on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  /// Closes now; false when close reported an error (for written files, a lost write).
  bool Close();

 private:
  int m_fd;
};

/// Writes every byte, through short writes and interruptions. False with errno on failure.
bool WriteAll(int fd, std::span<const uint8_t> bytes);

/// Opens the entry `name` of the folder `dirFd` with `accessFlags` (O_RDONLY, O_WRONLY) when it
/// is a regular file itself with one name: never through a symbolic link, never a FIFO, device
/// or folder (none of them can block the open), never a second name of another file. -1 (and
/// errno) otherwise; `st` describes the open file.
int OpenValueFile(int dirFd, const std::string& name, int accessFlags, struct stat* st);

/// flock(operation) within about a second; false when another process held the lock all that
/// time, so a holder that never lets go delays the caller and never stops it.
bool LockBounded(int fd, int operation);

/// The mode of a new value in the folder `dirFd`: 0644, readable by everyone; 0664 in a
/// set-group-ID folder its group may write, so the group may write the value too.
mode_t NewValueMode(int dirFd);

/// Rewrites the value file `name` of `dirFd` in place with `contents`, under an exclusive lock
/// that the store's readers take shared (both wait for it a second at most, so that no holder
/// can stop them). Nothing when the caller may not write the file (it may replace it instead);
/// else whether it was written, with `err` naming `shown` and the cause.
std::optional<bool> WriteInPlace(int dirFd, const std::string& name,
                                 std::span<const uint8_t> contents,
                                 const std::filesystem::path& shown, std::string* err);

}  // namespace corvalink::store
