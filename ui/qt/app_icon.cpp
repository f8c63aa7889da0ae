#include "qt/app_icon.h"

#include <QString>

#include "app/resource_ids.h"

// The resources live in a static library, whose registration code the linker would drop as
// unreferenced: register them explicitly, once, at start-up, so that every window finds
// ":/corvalink.png". Q_INIT_RESOURCE declares its function in the enclosing namespace, hence
// the global one here.
static bool EnsureResources() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  return registered;
}
static const bool g_resourcesAtStartUp = EnsureResources();

namespace corvalink {

QIcon AppIcon() {
  EnsureResources();
  QIcon icon;
  icon.addFile(QStringLiteral(":/corvalink.png"), QSize(ICON_SIZE, ICON_SIZE));
  icon.addFile(QStringLiteral(":/corvalink.svg"));
  return icon;
}

}  // namespace corvalink
