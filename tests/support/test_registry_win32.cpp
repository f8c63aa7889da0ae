#include "test_registry.h"

#include <windows.h>

#include <atomic>
#include <vector>

namespace corvalink::test {

struct TestRegistry::State {
  std::string path;  ///< below HKEY_CURRENT_USER
  HKEY root = nullptr;
};

namespace {

std::atomic<int> g_serial{0};

// RegOverridePredefKey does not redirect an already-open handle: the test calls below open
// under the state's root directly, the Registry under test through HKEY_LOCAL_MACHINE.
class Key {
 public:
  Key(HKEY parent, std::string_view subkey, REGSAM access) {
    const std::string s(subkey);
    m_ok = ::RegOpenKeyExA(parent, s.c_str(), 0, access, &m_key) == ERROR_SUCCESS;
  }
  ~Key() {
    if (m_ok) ::RegCloseKey(m_key);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool Ok() const { return m_ok; }
  HKEY Get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
  bool m_ok = false;
};

void CollectKeys(HKEY key, const std::string& prefix, std::set<std::string>& out) {
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (::RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return;
    }
    const std::string full = prefix.empty() ? std::string(name) : prefix + "\\" + name;
    out.insert(full);
    Key child(key, name, KEY_READ);
    if (child.Ok()) CollectKeys(child.Get(), full, out);
  }
}

}  // namespace

TestRegistry::TestRegistry() : m_state(std::make_unique<State>()) {
  m_state->path = "Software\\Corvalink tests\\" + std::to_string(::GetCurrentProcessId()) + "-" +
                  std::to_string(g_serial++);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, m_state->path.c_str());  // left by a crashed run
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, m_state->path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &m_state->root, nullptr) != ERROR_SUCCESS) {
    m_error = "cannot create the test key HKEY_CURRENT_USER\\" + m_state->path;
    m_state->root = nullptr;
  } else if (::RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_state->root) != ERROR_SUCCESS) {
    m_error = "cannot point HKEY_LOCAL_MACHINE at the test key";
  }
  m_registry = OpenSystemRegistry();
}

TestRegistry::~TestRegistry() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  if (m_state->root != nullptr) ::RegCloseKey(m_state->root);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, m_state->path.c_str());
}

bool TestRegistry::CreateKey(std::string_view subkey) {
  HKEY key = nullptr;
  const std::string s(subkey);
  if (::RegCreateKeyExA(m_state->root, s.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

bool TestRegistry::DeleteKey(std::string_view subkey) {
  const std::string s(subkey);
  // With a subkey named, the key itself goes with everything below it.
  return ::RegDeleteTreeA(m_state->root, s.c_str()) == ERROR_SUCCESS && !KeyExists(subkey);
}

bool TestRegistry::KeyExists(std::string_view subkey) const {
  return Key(m_state->root, subkey, KEY_READ).Ok();
}

bool TestRegistry::SetValue(std::string_view subkey, std::string_view name, uint32_t type,
                            std::string_view data) {
  Key key(m_state->root, subkey, KEY_WRITE);
  const std::string n(name);
  // RegSetValueExA counts a string's NUL itself when the byte after the data is one ("the caller
  // forgot it"); a byte that is not keeps the data exactly as given, NUL or not.
  std::vector<char> bytes(data.begin(), data.end());
  bytes.push_back('\x01');
  return key.Ok() && ::RegSetValueExA(key.Get(), n.c_str(), 0, type,
                                      reinterpret_cast<const BYTE*>(bytes.data()),
                                      static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool TestRegistry::DeleteValue(std::string_view subkey, std::string_view name) {
  Key key(m_state->root, subkey, KEY_WRITE);
  const std::string n(name);
  return key.Ok() && ::RegDeleteValueA(key.Get(), n.c_str()) == ERROR_SUCCESS;
}

std::optional<RegistryValue> TestRegistry::Value(std::string_view subkey,
                                                 std::string_view name) const {
  Key key(m_state->root, subkey, KEY_READ);
  if (!key.Ok()) return std::nullopt;
  const std::string n(name);
  DWORD type = 0, size = 0;
  if (::RegQueryValueExA(key.Get(), n.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegistryValue v;
  v.type = type;
  v.data.resize(size);
  if (::RegQueryValueExA(key.Get(), n.c_str(), nullptr, &type, v.data.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  v.data.resize(size);
  return v;
}

std::set<std::string> TestRegistry::ValueNames(std::string_view subkey) const {
  std::set<std::string> names;
  Key key(m_state->root, subkey, KEY_READ);
  if (!key.Ok()) return names;
  char name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    if (::RegEnumValueA(key.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.insert(std::string(name, len));
  }
  return names;
}

std::set<std::string> TestRegistry::Keys() const {
  std::set<std::string> keys;
  CollectKeys(m_state->root, "", keys);
  return keys;
}

std::optional<std::filesystem::path> TestRegistry::KeyFolder(std::string_view) const {
  return std::nullopt;
}

}  // namespace corvalink::test
