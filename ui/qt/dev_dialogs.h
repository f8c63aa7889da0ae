#pragma once
// A developer's way into the dialogs that nothing in the main window opens: the upgrade dialog
// and the password dialog, run modally on a router described by command-line arguments, for
// manual checks and demos (`corvalink --dev-dialog upgrade|password ...`, see docs/dev_dialogs.md).

#include <QString>
#include <QStringList>

#include "app/exit_codes.h"

namespace corvalink {

struct AppState;

/// Exit code for arguments that could not be used; the reason goes to stderr.
inline constexpr int DEV_DIALOG_USAGE_ERROR = gui::EXIT_USAGE;

/// Fills `state` from `args` (ParseDevDialogArgs), loads the interface text as the main window would, runs the
/// dialog named by `which` ("upgrade" or "password") modally and returns its result (printed to
/// stdout as well). Returns DEV_DIALOG_USAGE_ERROR for unknown names and bad arguments.
/// Needs a QApplication.
int RunDevDialog(AppState& state, const QString& which, const QStringList& args);

/// The checking half of RunDevDialog, which needs no window system: fills `state` and returns
/// 0, or reports the fault and the usage on stderr and returns DEV_DIALOG_USAGE_ERROR.
int CheckDevDialogArgs(AppState& state, const QString& which, const QStringList& args);

/// The showing half: loads the interface texts, opens the dialog, prints and returns its result.
int ShowDevDialog(AppState& state, const QString& which);


}  // namespace corvalink
