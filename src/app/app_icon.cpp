#include "app/app_icon.h"

#include <QString>

#include "app/resource_ids.h"

// Q_INIT_RESOURCE declares the registration function in the enclosing namespace, so it is
// called from the global one.
static bool RegisterResources() {
  Q_INIT_RESOURCE(resources);
  return true;
}

namespace corvalink {

QIcon AppIcon() {
  static const bool registered = RegisterResources();
  (void)registered;
  QIcon icon;
  icon.addFile(QString::fromLatin1(ICON_RESOURCE), QSize(ICON_SIZE, ICON_SIZE));
  icon.addFile(QStringLiteral(":/corvalink.svg"));
  return icon;
}

}  // namespace corvalink
