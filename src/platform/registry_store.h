#pragma once
// A small registry of keys and typed values kept as a directory tree, standing in for the
// system registry that the printer-port software shares with us.
//
// Layout under the root (see README): one directory per key path component, e.g.
//   <root>/HKEY_LOCAL_MACHINE/SOFTWARE/DED Orezadu Devo/
// and in a key directory one file per value, named after the value, holding:
//   offset size field
//   0      4    type (REG_SZ = 1, ...), big-endian
//   4      n    the data bytes, exactly as set
// Key components are matched without regard to case; a value name too. Writes go to a
// temporary file in the key directory, are flushed and renamed over the old value; another
// user's value that the writer may write (root's, in the key the package makes for a group) is
// rewritten in place, so that it stays theirs. A value is only ever a regular file with one
// name, opened without following a link: members of a key's group may put anything there.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace corvalink {

/// An open key; empty when the open failed. Cheap to copy (it only names a directory).
class RegistryKey {
 public:
  RegistryKey() = default;
  explicit RegistryKey(std::filesystem::path dir, RegAccess access)
      : m_dir(std::move(dir)), m_access(access) {}
  bool IsOpen() const { return !m_dir.empty(); }
  const std::filesystem::path& Directory() const { return m_dir; }
  RegAccess Access() const { return m_access; }

 private:
  std::filesystem::path m_dir;
  RegAccess m_access = RegAccess::Read;
};

class RegistryStore : public Registry {
 public:
  explicit RegistryStore(std::filesystem::path root) : m_root(std::move(root)) {}

  /// $CORVALINK_REGISTRY_ROOT when set, else /etc/corvalink/registry.
  static std::filesystem::path DefaultRoot();

  /// Opens an existing key (`subkey` uses '\' between components); never creates one. Opening
  /// for writing fails when the key's directory cannot be written. `err` says why, for people.
  RegistryKey OpenKey(std::string_view hive, std::string_view subkey, RegAccess access,
                      std::string* err = nullptr) const;

  /// Reads a value whole. Nothing when it is missing or unreadable.
  std::optional<RegistryValue> QueryValue(const RegistryKey& key, std::string_view name) const;

  /// Replaces a value atomically with exactly `data`. False (and `err`) on failure.
  bool SetValue(const RegistryKey& key, std::string_view name, uint32_t type,
                std::span<const uint8_t> data, std::string* err = nullptr) const;

  const std::filesystem::path& Root() const { return m_root; }

  // The Registry contract, through OpenKey, QueryValue and SetValue.
  std::optional<RegistryValue> ReadValue(std::string_view hive, std::string_view subkey,
                                         std::string_view name,
                                         std::size_t capacity) const override;
  bool WriteValue(std::string_view hive, std::string_view subkey, std::string_view name,
                  uint32_t type, std::span<const uint8_t> data, std::string* err) const override;
  std::string Location() const override { return m_root.string(); }

 private:
  std::filesystem::path m_root;
};

}  // namespace corvalink
