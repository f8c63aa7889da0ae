#include "platform/registry_store.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/byte_order.h"
#include "platform/registry_store_file.h"
#include "platform/ascii_case.h"

namespace corvalink {
namespace fs = std::filesystem;
using store::Fd;

namespace {

constexpr std::size_t TYPE_SIZE = 4;
// The system registry caps a value near 1 MiB; a bigger file is not one of ours and is not
// worth pulling into memory.
constexpr std::size_t MAX_VALUE_DATA = 1024 * 1024;
// mkstemp template for the file a value is written to before it is renamed into place.
constexpr char TEMP_TEMPLATE[] = ".corvalink-tmp-XXXXXX";
constexpr std::string_view TEMP_PREFIX = ".corvalink-tmp-";
// A temporary file this old was left by a writer that died before its rename.
constexpr auto STALE_TEMP_AGE = std::chrono::minutes(1);

bool IsTempName(std::string_view name) { return name.starts_with(TEMP_PREFIX); }

void SetErr(std::string* err, std::string text) {
  if (err != nullptr) *err = std::move(text);
}

std::string ErrnoText(int e) { return std::strerror(e); }

/// A key component or value name that names exactly one entry of its directory: no separator,
/// no NUL, not "." or "..", so no name can reach outside the key's directory.
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

enum class EntryKind { Directory, File };

struct FindResult {
  std::optional<fs::path> path;
  std::string error;  // set when the directory could not be listed
};

/// The entry of `dir` called `name` without regard to case, of the wanted kind; of several that
/// differ only by case, the first in byte order, however `name` is spelled, so that every
/// reader and writer settles on the same one. Temporary files are never values. A key's folder
/// may be a symbolic link (an administrator's choice, in folders only root writes); a value is
/// a regular file itself, never a link, since members of the key's group may plant one.
FindResult FindEntry(const fs::path& dir, std::string_view name, EntryKind kind) {
  FindResult result;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
    return result;  // nothing there: the entry does not exist
  }
  if (ec) {
    result.error = dir.string() + ": " + ec.message();
    return result;
  }
  std::optional<fs::path> firstFolded;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string entryName = it->path().filename().string();
    if (!EqualsNoCase(entryName, name) || (kind == EntryKind::File && IsTempName(entryName))) continue;
    std::error_code typeEc;
    bool fits = kind == EntryKind::Directory ? it->is_directory(typeEc)
                                             : fs::is_regular_file(it->symlink_status(typeEc));
    if (typeEc || !fits) continue;
    // Directory order is arbitrary; pick the smallest name so the choice is repeatable.
    if (!firstFolded || it->path() < *firstFolded) firstFolded = it->path();
  }
  if (ec) {
    result.error = dir.string() + ": " + ec.message();
    return result;
  }
  result.path = std::move(firstFolded);
  return result;
}

// Removes the temporary files of writers that died before their rename; a writer still at work
// has a younger one.
void RemoveStaleTempFiles(const fs::path& dir) {
  std::error_code ec;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (!IsTempName(it->path().filename().string())) continue;
    std::error_code timeEc;
    const auto written = fs::last_write_time(it->path(), timeEc);
    if (!timeEc && now - written > STALE_TEMP_AGE) ::unlink(it->path().c_str());
  }
}

constexpr char SYSTEM_ROOT[] = "/etc/corvalink/registry";

// The folder a key would have: each component that exists as the store finds it (of any
// spelling), the missing ones as the caller spells them, so that the folder a hint makes is
// the one the store then uses.
fs::path KeyFolder(const fs::path& root, std::string_view hive, std::string_view subkey) {
  fs::path dir = root;
  bool found = true;
  auto add = [&](std::string_view component) {
    std::optional<fs::path> existing;
    if (found) existing = FindEntry(dir, component, EntryKind::Directory).path;
    found = existing.has_value();
    dir = existing ? *existing : dir / std::string(component);
  };
  add(hive);
  for (std::size_t pos = 0; !subkey.empty();) {
    const std::size_t end = subkey.find('\\', pos);
    add(subkey.substr(pos, end == std::string_view::npos ? end : end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return dir;
}

// What a missing key needs, for people: who makes it and the command that does.
std::string HowToCreate(const fs::path& root, const fs::path& keyFolder) {
  std::string how = "create the key with: sudo mkdir -p '" + keyFolder.string() + "'";
  if (root == SYSTEM_ROOT) how = "install the corvalink package, or " + how;
  return how;
}

bool InGroups(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the group database lists the user as a member of `gid` (a change that takes effect
// at the user's next login).
bool ListedInGroup(const std::string& user, gid_t gid) {
  const struct group* g = ::getgrgid(gid);
  if (g == nullptr || user.empty()) return false;
  for (char** m = g->gr_mem; m != nullptr && *m != nullptr; ++m) {
    if (user == *m) return true;
  }
  const struct passwd* pw = ::getpwnam(user.c_str());
  return pw != nullptr && pw->pw_gid == gid;
}

// Why a key's folder cannot be written, and what to do about it: when its group may write it,
// the group the user must join; otherwise the system's reason.
std::string WriteRefusal(const fs::path& dir, int e) {
  const std::string cause = dir.string() + ": " + ErrnoText(e);
  struct stat st{};
  if (e == EACCES && ::stat(dir.c_str(), &st) == 0 && (st.st_mode & S_IWGRP) != 0 &&
      st.st_gid != 0 && !InGroups(st.st_gid)) {
    const struct group* g = ::getgrgid(st.st_gid);
    const std::string group = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
    const struct passwd* pw = ::getpwuid(::geteuid());
    const std::string user = pw != nullptr ? pw->pw_name : "";
    if (ListedInGroup(user, st.st_gid)) {
      return "you were added to the group " + group + ", but this session started before (" +
             cause + "): log out and in again, or run: newgrp " + group;
    }
    return "you are not in the group " + group + ", whose members may write the key (" + cause +
           "): ask an administrator to run: sudo adduser " + (user.empty() ? "USER" : user) +
           " " + group + ", then log out and in again";
  }
  return "the key cannot be opened for writing (" + cause + ")";
}

}  // namespace

fs::path RegistryStore::DefaultRoot() {
  const char* env = std::getenv("CORVALINK_REGISTRY_ROOT");
  if (env != nullptr && env[0] != '\0') return fs::path(env);
  return fs::path(SYSTEM_ROOT);
}

RegistryKey RegistryStore::OpenKey(std::string_view hive, std::string_view subkey,
                                   RegAccess access, std::string* err) const {
  auto descend = [&](const fs::path& dir, std::string_view component) -> std::optional<fs::path> {
    if (!IsPlainName(component)) {
      SetErr(err, "\"" + std::string(component) + "\" in \"" + std::string(subkey) +
                      "\" is not a valid key name");
      return std::nullopt;
    }
    FindResult found = FindEntry(dir, component, EntryKind::Directory);
    if (!found.error.empty()) {
      SetErr(err, "the key cannot be read (" + found.error + ")");
      return std::nullopt;
    }
    if (!found.path) {
      std::error_code ec;
      if (dir == m_root && !fs::is_directory(m_root, ec)) {
        SetErr(err, "the registry root " + m_root.string() + " does not exist: " +
                        HowToCreate(m_root, KeyFolder(m_root, hive, subkey)));
      } else {
        SetErr(err, "the key does not exist (no \"" + std::string(component) + "\" in " +
                        dir.string() + "): " + HowToCreate(m_root, KeyFolder(m_root, hive, subkey)));
      }
      return std::nullopt;
    }
    return found.path;
  };

  // An empty subkey names the hive itself; otherwise every '\\'-separated component must name
  // a key (so a leading, trailing or doubled backslash makes the name invalid).
  std::optional<fs::path> dir = descend(m_root, hive);
  for (std::size_t pos = 0; dir && !subkey.empty();) {
    std::size_t end = subkey.find('\\', pos);
    dir = descend(*dir, subkey.substr(pos, end == std::string_view::npos ? end : end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  if (!dir) return {};

  int mode = access == RegAccess::Write ? (W_OK | X_OK) : (R_OK | X_OK);
  if (::access(dir->c_str(), mode) != 0) {
    int e = errno;
    SetErr(err, access == RegAccess::Write
                    ? WriteRefusal(*dir, e)
                    : "the key cannot be opened for reading (" + dir->string() + ": " +
                          ErrnoText(e) + ")");
    return {};
  }
  return RegistryKey(std::move(*dir), access);
}

std::optional<RegistryValue> RegistryStore::QueryValue(const RegistryKey& key,
                                                       std::string_view name) const {
  if (!key.IsOpen() || !IsPlainName(name)) return std::nullopt;
  FindResult found = FindEntry(key.Directory(), name, EntryKind::File);
  if (!found.path) return std::nullopt;

  Fd dir(::open(key.Directory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) return std::nullopt;
  struct stat st{};
  Fd fd(store::OpenValueFile(dir.Get(), found.path->filename().string(), O_RDONLY, &st));
  if (fd.Get() < 0) return std::nullopt;
  // A member writing the value in place holds it exclusively for the few bytes of its write.
  store::LockBounded(fd.Get(), LOCK_SH);
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > TYPE_SIZE + MAX_VALUE_DATA) return std::nullopt;
  }
  if (bytes.size() < TYPE_SIZE) return std::nullopt;

  RegistryValue value;
  value.type = GetU32Be(bytes, 0);
  value.data.assign(bytes.begin() + TYPE_SIZE, bytes.end());
  return value;
}

bool RegistryStore::SetValue(const RegistryKey& key, std::string_view name, uint32_t type,
                             std::span<const uint8_t> data, std::string* err) const {
  if (!key.IsOpen()) {
    SetErr(err, "the key is not open");
    return false;
  }
  if (key.Access() != RegAccess::Write) {
    SetErr(err, "the key was opened for reading only");
    return false;
  }
  if (!IsPlainName(name)) {
    SetErr(err, "the value name \"" + std::string(name) + "\" is not valid");
    return false;
  }
  if (data.size() > MAX_VALUE_DATA) {
    SetErr(err, "the value is too large");
    return false;
  }

  // Replace an existing value under the spelling it already has.
  FindResult found = FindEntry(key.Directory(), name, EntryKind::File);
  if (!found.error.empty()) {
    SetErr(err, "the key cannot be read (" + found.error + ")");
    return false;
  }
  const std::string fileName = found.path ? found.path->filename().string() : std::string(name);
  const fs::path target = key.Directory() / fileName;
  Fd dir(::open(key.Directory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() < 0) {
    int e = errno;
    SetErr(err, "the key cannot be read (" + key.Directory().string() + ": " + ErrnoText(e) + ")");
    return false;
  }
  // The old entry as it is, never what a link points to; anything but a regular file of one
  // name passes nothing on and is simply replaced.
  struct stat st{};
  const bool replacing = found.path &&
                         ::fstatat(dir.Get(), fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISREG(st.st_mode) && st.st_nlink == 1;

  std::vector<uint8_t> contents(TYPE_SIZE + data.size());
  PutU32Be(contents, 0, type);
  std::copy(data.begin(), data.end(), contents.begin() + TYPE_SIZE);

  // Another user's value (root's, as the package makes them) is written where it is, so that it
  // stays theirs and only the group's write permission lets anyone change it.
  if (replacing && st.st_uid != ::geteuid() && ::geteuid() != 0) {
    std::optional<bool> written = store::WriteInPlace(dir.Get(), fileName, contents, target, err);
    if (written) return *written;
  }
  const mode_t fileMode = replacing ? (st.st_mode & 0666) : store::NewValueMode(dir.Get());

  std::string tempName = (key.Directory() / TEMP_TEMPLATE).string();
  Fd fd(::mkostemp(tempName.data(), O_CLOEXEC));
  if (fd.Get() < 0) {
    int e = errno;
    SetErr(err, "cannot create a file in " + key.Directory().string() + ": " + ErrnoText(e));
    return false;
  }
  auto fail = [&](const char* what) {
    int e = errno;
    fd.Close();
    ::unlink(tempName.c_str());
    SetErr(err, std::string(what) + " " + target.string() + ": " + ErrnoText(e));
    return false;
  };
  // A replaced value keeps its owner and group when root replaces it; anyone else's becomes
  // theirs, with the folder's group. Then its mode, which fchown may have cut, without any
  // set-id or sticky bit.
  if (replacing && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    if (::fchown(fd.Get(), st.st_uid, st.st_gid) != 0 && errno != EPERM) {
      return fail("cannot set the owner of");
    }
  }
  if (::fchmod(fd.Get(), fileMode) != 0) return fail("cannot set the mode of");
  if (!store::WriteAll(fd.Get(), contents)) return fail("cannot write");
  if (::fsync(fd.Get()) != 0) return fail("cannot flush");
  if (!fd.Close()) return fail("cannot write");
  if (::rename(tempName.c_str(), target.c_str()) != 0) return fail("cannot replace");

  // Make the rename itself durable; the value is already in place, so a failure here only
  // weakens the guarantee across a power cut and is not reported.
  ::fsync(dir.Get());
  RemoveStaleTempFiles(key.Directory());
  return true;
}

}  // namespace corvalink
