#pragma once
// The developer's way into the dialogs nothing in the main window opens (the upgrade and the
// password dialog): the command line `--dev-dialog upgrade|password [OPTIONS]` turned into the
// state the dialog reads, without any window system, so every front end reads it alike.

#include <string>
#include <string_view>
#include <vector>

#include "app/app_state.h"

namespace corvalink {

enum class DevDialog { Upgrade, Password };

/// The usage text of --dev-dialog, for --help and for mistakes.
std::string DevDialogUsage();

/// Reads `args` (the words after "--dev-dialog") into `state`: selectedRouter (its password
/// scrambled as discovery holds it), firmwarePath, upgradePort and tftpPort. Options may be
/// written "--name value" or "--name=value". False, with `err` for people and `state` unchanged,
/// for an unknown dialog or option, a bad value, or an upgrade without --router-ip.
bool ParseDevDialogArgs(const std::vector<std::string_view>& args, AppState& state,
                        DevDialog* which, std::string* err);

}  // namespace corvalink
