#pragma once
// The options of `corvalink --dev-dialog`, a developer's way into the dialogs that nothing in
// the main window opens: which dialog, and the router and firmware it works on. Checked before
// any window system starts, by every front end alike.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvalink {

struct AppState;

enum class DevDialog { Upgrade, Password };

/// Reads `which` ("upgrade" or "password") and its options (UTF-8, each "--name value" or
/// "--name=value") into `state`: selectedRouter (its password scrambled as discovery holds it),
/// firmwarePath, upgradePort and tftpPort. Options not given leave their fields as they are.
/// Nothing, with `err` for people and `state` untouched, for an unknown dialog or option, a
/// missing or bad value, or an upgrade dialog without --router-ip (its requests would go to
/// 0.0.0.0, this very machine).
std::optional<DevDialog> ParseDevDialogArgs(std::string_view which,
                                            std::span<const std::string> args, AppState& state,
                                            std::string* err);

/// The usage text, for --help and after a fault.
std::string DevDialogUsage();

}  // namespace corvalink
