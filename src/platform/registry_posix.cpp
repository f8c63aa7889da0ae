#include "platform/registry.h"

#include "platform/registry_store.h"

namespace corvalink {

std::unique_ptr<Registry> OpenSystemRegistry() {
  return std::make_unique<RegistryStore>(RegistryStore::DefaultRoot());
}

std::unique_ptr<Registry> OpenRegistryAt(const std::filesystem::path& root) {
  return std::make_unique<RegistryStore>(root.empty() ? RegistryStore::DefaultRoot() : root);
}

}  // namespace corvalink
