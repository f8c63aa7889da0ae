#include "platform/registry_store_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvalink::store {

bool Fd::Close() {
  if (m_fd < 0) return true;
  return ::close(std::exchange(m_fd, -1)) == 0;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

int OpenValueFile(int dirFd, const std::string& name, int accessFlags, struct stat* st) {
  // O_NONBLOCK: a FIFO or device cannot hang the open; it is refused by fstat below.
  const int fd =
      ::openat(dirFd, name.c_str(), accessFlags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_nlink != 1) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool LockBounded(int fd, int operation) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    ::usleep(10 * 1000);
  }
  return false;
}

mode_t NewValueMode(int dirFd) {
  struct stat st{};
  const bool groupFolder = ::fstat(dirFd, &st) == 0 && (st.st_mode & S_ISGID) != 0 &&
                           (st.st_mode & S_IWGRP) != 0;
  return groupFolder ? 0664 : 0644;
}

std::optional<bool> WriteInPlace(int dirFd, const std::string& name,
                                 std::span<const uint8_t> contents,
                                 const std::filesystem::path& shown, std::string* err) {
  auto fail = [&](const std::string& what, const std::string& cause) {
    if (err != nullptr) *err = what + " " + shown.string() + ": " + cause;
    return false;
  };
  struct stat st{};
  Fd fd(OpenValueFile(dirFd, name, O_WRONLY, &st));
  if (fd.Get() < 0) {
    if (errno == EACCES || errno == EPERM) return std::nullopt;
    return fail("cannot write", std::strerror(errno));
  }
  // Anyone who may read the value may also lock it: one who holds the lock for good delays the
  // write by a second and does not stop it.
  LockBounded(fd.Get(), LOCK_EX);
  // A failure part-way leaves the value cut short; readers then find it malformed.
  if (!WriteAll(fd.Get(), contents) ||
      ::ftruncate(fd.Get(), static_cast<off_t>(contents.size())) != 0) {
    return fail("cannot write", std::strerror(errno));
  }
  if (::fsync(fd.Get()) != 0) return fail("cannot flush", std::strerror(errno));
  if (!fd.Close()) return fail("cannot write", std::strerror(errno));
  return true;
}

}  // namespace corvalink::store
