#pragma once
// The program's icon (IDR_MAINFRAME): a 32 x 32 picture, with a scalable form for the desktop.

#include <QIcon>

namespace corvalink {

/// The icon from the program's resources; makes sure they are registered first, since a static
/// library's resources are not registered by themselves.
QIcon AppIcon();

}  // namespace corvalink
