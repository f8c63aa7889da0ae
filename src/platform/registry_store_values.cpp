// The file-tree store's side of the Registry contract, made of its own key and value calls.

#include "platform/registry_store.h"

namespace corvalink {

std::optional<RegistryValue> RegistryStore::ReadValue(std::string_view hive,
                                                      std::string_view subkey,
                                                      std::string_view name,
                                                      std::size_t capacity) const {
  RegistryKey key = OpenKey(hive, subkey, RegAccess::Read);
  if (!key.IsOpen()) return std::nullopt;
  std::optional<RegistryValue> value = QueryValue(key, name);
  if (!value || value->data.size() > capacity) return std::nullopt;
  return value;
}

bool RegistryStore::WriteValue(std::string_view hive, std::string_view subkey,
                               std::string_view name, uint32_t type,
                               std::span<const uint8_t> data, std::string* err) const {
  RegistryKey key = OpenKey(hive, subkey, RegAccess::Write, err);
  if (!key.IsOpen()) return false;
  return SetValue(key, name, type, data, err);
}

}  // namespace corvalink
