#pragma once
// The main dialog's firmware configuration (`corvalink --firmware`): the firmware-file row is
// shown, and "Install / Modify" upgrades the marked router instead of storing "Server IP". Both
// front ends take the row's layout and the steps of that road from here.

#include "discovery/router_record.h"
#include "password/password_check.h"
#include "upgrade/firmware_path.h"

namespace corvalink {

/// What the main dialog is opened for.
enum class MainDialogConfiguration {
  ServerSetup,  ///< the default: "Install / Modify" stores "Server IP" and ends the program
  Firmware,     ///< the firmware row is shown; "Install / Modify" runs an upgrade
};

/// A control's place in dialog units, as a template gives it.
struct DialogUnitRect {
  int x, y, cx, cy;
};

// The template puts the firmware row on top of the list's last lines and the label on the path
// field, which is unreadable once they are shown. The firmware configuration keeps every other
// control where the template has it and lays the row out below the list instead: the etched
// line, the label, then the path field beside "&Select". The dialog grows to hold it.
inline constexpr int FIRMWARE_DIALOG_CY = 155;
inline constexpr DialogUnitRect FIRMWARE_LINE_RECT{7, 120, 325, 1};
inline constexpr DialogUnitRect FIRMWARE_LABEL_RECT{7, 124, 325, 8};
inline constexpr DialogUnitRect FIRMWARE_PATH_RECT{7, 135, 258, 12};
inline constexpr DialogUnitRect FIRMWARE_SELECT_RECT{272, 134, 60, 14};

/// Whether a firmware file has been chosen: "Install / Modify" stays disabled until then, since
/// there is nothing to send.
inline bool FirmwareChosen(const FirmwarePath& firmware) { return !firmware.Path().empty(); }

/// Whether the router asks for a password before an upgrade: it has one, as its held
/// (scrambled) field tells. The field is left as it was.
bool RouterHasPassword(const RouterRecord& router);

/// Whether the upgrade goes on after the password dialog ended with `result`: only an accepted
/// password (1) does; a refusal (0) or a cancel (2) leads back to the list with nothing sent.
inline bool PasswordLetsUpgradeGoOn(int result) { return result == PASSWORD_ACCEPTED; }

}  // namespace corvalink
