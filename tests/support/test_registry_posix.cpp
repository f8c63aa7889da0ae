#include "test_registry.h"

#include <fstream>
#include <iterator>

#include "platform/registry_store.h"
#include "temp_tree.h"

namespace corvalink::test {

namespace fs = std::filesystem;

struct TestRegistry::State {
  TempDir dir;
  fs::path hive;
};

namespace {

fs::path Join(const fs::path& hive, std::string_view subkey) {
  fs::path p = hive;
  std::size_t start = 0;
  while (start <= subkey.size() && !subkey.empty()) {
    const std::size_t end = std::min(subkey.find('\\', start), subkey.size());
    p /= std::string(subkey.substr(start, end - start));
    start = end + 1;
  }
  return p;
}

}  // namespace

TestRegistry::TestRegistry() : m_state(std::make_unique<State>()) {
  if (m_state->dir.Path().empty()) {
    m_error = "cannot make a temporary folder";
    return;
  }
  m_state->hive = m_state->dir.Path() / HKEY_LOCAL_MACHINE_NAME;
  std::error_code ec;
  fs::create_directory(m_state->hive, ec);
  if (ec) m_error = ec.message();
  m_registry = std::make_unique<RegistryStore>(m_state->dir.Path());
}

TestRegistry::~TestRegistry() = default;

bool TestRegistry::CreateKey(std::string_view subkey) {
  std::error_code ec;
  fs::create_directories(Join(m_state->hive, subkey), ec);
  return !ec;
}

bool TestRegistry::DeleteKey(std::string_view subkey) {
  std::error_code ec;
  return fs::remove_all(Join(m_state->hive, subkey), ec) > 0 && !ec;
}

bool TestRegistry::KeyExists(std::string_view subkey) const {
  std::error_code ec;
  return fs::is_directory(Join(m_state->hive, subkey), ec);
}

bool TestRegistry::SetValue(std::string_view subkey, std::string_view name, uint32_t type,
                            std::string_view data) {
  const fs::path file = Join(m_state->hive, subkey) / std::string(name);
  WriteRegValue(file, type, data);
  return fs::is_regular_file(file);
}

bool TestRegistry::DeleteValue(std::string_view subkey, std::string_view name) {
  std::error_code ec;
  return fs::remove(Join(m_state->hive, subkey) / std::string(name), ec);
}

std::optional<RegistryValue> TestRegistry::Value(std::string_view subkey,
                                                 std::string_view name) const {
  std::optional<std::string> bytes = ReadBytes(Join(m_state->hive, subkey) / std::string(name));
  if (!bytes || bytes->size() < 4) return std::nullopt;
  RegistryValue v;
  for (int i = 0; i < 4; ++i) v.type = v.type << 8 | static_cast<uint8_t>((*bytes)[i]);
  v.data.assign(bytes->begin() + 4, bytes->end());
  return v;
}

std::set<std::string> TestRegistry::ValueNames(std::string_view subkey) const {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(Join(m_state->hive, subkey), ec)) {
    if (!e.is_directory(ec)) names.insert(e.path().filename().string());
  }
  return names;
}

std::set<std::string> TestRegistry::Keys() const {
  std::set<std::string> keys;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(m_state->hive, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_directory(ec)) continue;
    std::string name = fs::relative(it->path(), m_state->hive, ec).string();
    for (char& c : name) {
      if (c == '/') c = '\\';
    }
    keys.insert(name);
  }
  return keys;
}

std::optional<fs::path> TestRegistry::KeyFolder(std::string_view subkey) const {
  return Join(m_state->hive, subkey);
}

}  // namespace corvalink::test
