// The Windows registry behind the Registry contract: the same calls, flags and sizes the
// printer-port software's own tools use, so the value it reads is the one we wrote, byte for
// byte, in the same view of the registry.

#include "platform/registry.h"

#include <windows.h>

#include <vector>

#include "platform/ascii_case.h"
#include "platform/win_error.h"

static_assert(corvalink::REG_TYPE_SZ == REG_SZ, "string values pass through as they are");

namespace corvalink {
namespace {

std::string ErrorText(LSTATUS code) {
  if (code == ERROR_FILE_NOT_FOUND) return "the key does not exist";
  return WindowsErrorText(static_cast<unsigned long>(code), "registry");
}

// The predefined keys by their names, as the file-tree store names its top folders.
HKEY Hive(std::string_view name) {
  if (EqualsNoCase(name, HKEY_LOCAL_MACHINE_NAME)) return HKEY_LOCAL_MACHINE;
  if (EqualsNoCase(name, "HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  return nullptr;
}

/// The printer-port software is a 32-bit program: on 64-bit Windows its HKEY_LOCAL_MACHINE\Software
/// is the 32-bit view (Software\WOW6432Node). Every key is opened in that view, whatever this
/// program's own width; 32-bit Windows has one view and ignores the flag.
constexpr REGSAM VIEW = KEY_WOW64_32KEY;

/// An open key, closed when it goes.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (m_key != nullptr) ::RegCloseKey(m_key);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  /// RegOpenKeyExA only opens: a missing key is an error, never created. `access` is taken in
  /// the 32-bit view (VIEW).
  LSTATUS Open(std::string_view hive, std::string_view subkey, REGSAM access) {
    HKEY root = Hive(hive);
    if (root == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::string path(subkey);
    return ::RegOpenKeyExA(root, path.c_str(), 0, access | VIEW, &m_key);
  }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
};

class WindowsRegistry : public Registry {
 public:
  std::optional<RegistryValue> ReadValue(std::string_view hive, std::string_view subkey,
                                         std::string_view name,
                                         std::size_t capacity) const override {
    Key key;
    if (key.Open(hive, subkey, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
    // A value longer than the buffer comes back as ERROR_MORE_DATA and is not used.
    std::vector<uint8_t> data(capacity);
    DWORD size = static_cast<DWORD>(capacity);
    DWORD type = 0;
    const std::string valueName(name);
    if (::RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size);
    return RegistryValue{type, std::move(data)};
  }

  bool WriteValue(std::string_view hive, std::string_view subkey, std::string_view name,
                  uint32_t type, std::span<const uint8_t> data, std::string* err) const override {
    Key key;
    if (LSTATUS r = key.Open(hive, subkey, KEY_WRITE); r != ERROR_SUCCESS) {
      if (err != nullptr) *err = ErrorText(r);
      return false;
    }
    const std::string valueName(name);
    // The length is exactly the data's: for "Server IP" the text, its NUL and the zeros after
    // it, 60 bytes, as the printer-port software reads it.
    const LSTATUS r = ::RegSetValueExA(key.Get(), valueName.c_str(), 0, type, data.data(),
                                       static_cast<DWORD>(data.size()));
    if (r != ERROR_SUCCESS) {
      if (err != nullptr) *err = ErrorText(r);
      return false;
    }
    return true;
  }

  std::string Location() const override { return "the Windows registry (32-bit view)"; }
};

}  // namespace

std::unique_ptr<Registry> OpenSystemRegistry() { return std::make_unique<WindowsRegistry>(); }

std::unique_ptr<Registry> OpenRegistryAt(const std::filesystem::path& /*root*/) {
  return OpenSystemRegistry();
}

}  // namespace corvalink
