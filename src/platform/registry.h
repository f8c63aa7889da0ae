#pragma once
// The registry the printer-port software shares with us, as this system uses it: an existing
// key opened for reading or for writing (never created), one value read or written. On Windows
// it is the system registry (registry_win32.cpp); on Linux the file-tree store
// (registry_store.h), which keeps the same keys and values as files.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvalink {

/// The string type of a value (Windows' REG_SZ, which is a macro there).
inline constexpr uint32_t REG_TYPE_SZ = 1;
inline constexpr char HKEY_LOCAL_MACHINE_NAME[] = "HKEY_LOCAL_MACHINE";
/// The product's key under HKEY_LOCAL_MACHINE: its "Path" names the folder of the interface
/// texts, and its "Server IP" is the router the printer-port software prints through.
inline constexpr char PRODUCT_KEY[] = "SOFTWARE\\DED Orezadu Devo";

enum class RegAccess { Read, Write };

struct RegistryValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

class Registry {
 public:
  virtual ~Registry() = default;

  /// Opens the existing key `subkey` ('\' between components) of `hive` for reading and reads
  /// the value `name` as it is stored (a string may lack its NUL). Nothing when the key or the
  /// value is missing or unreadable, or the value is longer than `capacity` bytes (it is then
  /// not read at all, as with a buffer of that size).
  virtual std::optional<RegistryValue> ReadValue(std::string_view hive, std::string_view subkey,
                                                 std::string_view name,
                                                 std::size_t capacity) const = 0;

  /// Opens the existing key for writing, never creating it, and sets the value `name` to
  /// exactly `data` with `type`. False, with `err` for people, when the key is missing, cannot
  /// be opened for writing, or the write fails.
  virtual bool WriteValue(std::string_view hive, std::string_view subkey, std::string_view name,
                          uint32_t type, std::span<const uint8_t> data,
                          std::string* err) const = 0;

  /// Where the values are kept, for people: "the Windows registry", or the store's folder.
  virtual std::string Location() const = 0;
};

/// This system's registry: the Windows registry, or on Linux the file-tree store at
/// RegistryStore::DefaultRoot().
std::unique_ptr<Registry> OpenSystemRegistry();

/// The registry a program was pointed at: on Linux the file-tree store at `root`, or the
/// system's when `root` is empty. Windows has one registry (tests redirect it to a test key), so
/// there `root` is not used.
std::unique_ptr<Registry> OpenRegistryAt(const std::filesystem::path& root);

}  // namespace corvalink
