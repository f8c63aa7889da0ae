#pragma once
// HKEY_LOCAL_MACHINE of one test: empty at the start, gone at the end, and never the machine's
// own. On Linux a file-tree store in a temporary folder (test_registry_posix.cpp); on Windows the
// system registry, with HKEY_LOCAL_MACHINE of this process pointed at a fresh key under
// HKEY_CURRENT_USER through RegOverridePredefKey (test_registry_win32.cpp). One at a time per
// process.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace corvalink::test {

class TestRegistry {
 public:
  TestRegistry();
  ~TestRegistry();
  TestRegistry(const TestRegistry&) = delete;
  TestRegistry& operator=(const TestRegistry&) = delete;

  /// Empty when the test registry stands; otherwise why not.
  const std::string& Error() const { return m_error; }
  /// The system's Registry, as the programs use it, over the test's HKEY_LOCAL_MACHINE.
  const Registry& Get() const { return *m_registry; }

  // Direct access under HKEY_LOCAL_MACHINE, around the Registry contract: what an installer
  // made, what the printer-port software would read. `subkey` uses '\' between components.
  bool CreateKey(std::string_view subkey);
  bool DeleteKey(std::string_view subkey);
  bool KeyExists(std::string_view subkey) const;
  bool SetValue(std::string_view subkey, std::string_view name, uint32_t type,
                std::string_view data);
  bool DeleteValue(std::string_view subkey, std::string_view name);
  std::optional<RegistryValue> Value(std::string_view subkey, std::string_view name) const;
  std::set<std::string> ValueNames(std::string_view subkey) const;
  /// Every key below HKEY_LOCAL_MACHINE, as "A\B\C", to prove nothing was created.
  std::set<std::string> Keys() const;

  /// The key's folder where keys are folders (the Linux store), for tests of what only a
  /// file tree can do; nothing on Windows.
  std::optional<std::filesystem::path> KeyFolder(std::string_view subkey) const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
  std::unique_ptr<Registry> m_registry;
  std::string m_error;
};

}  // namespace corvalink::test
