#include "platform/registry.h"

#include "platform/registry_store.h"

namespace corvalink {

std::unique_ptr<Registry> OpenSystemRegistry() {
  return std::make_unique<RegistryStore>(RegistryStore::DefaultRoot());
}

}  // namespace corvalink
