#pragma once
// Every text a window shows that the interface text file may replace: which slot replaces it,
// the built-in text shown without the file, and the choice between the two. A front end asks
// ShownText for each control and message, so the slot numbers and built-in texts live here alone.

#include <cstddef>
#include <string_view>

#include "text/text_table.h"

namespace corvalink {

enum class UiText {
  // The main window.
  MainCaption,
  FirmwareLabel,
  SelectFile,
  RouterLabel,
  Install,
  Search,
  ColumnMac,
  ColumnIp,
  ColumnMask,
  ColumnLocation,
  InstallConfirmation,  ///< after "Server IP" was stored: the slot with or without the file
  // The password dialog.
  PasswordCaption,
  PasswordOk,
  PasswordCancel,
  PasswordErrorCaption,
  PasswordErrorText,
  // The upgrade dialog.
  UpgradeCaption,
  UpgradeRouterIpLabel,
  UpgradeSend,
  UpgradeCompleteText,
  UpgradeCompleteCaption,  ///< the main caption's slot; without the file the text itself
  UpgradeFailedText,
  UpgradeFailedCaption,  ///< keep last (UI_TEXT_COUNT)
};

inline constexpr std::size_t UI_TEXT_COUNT = static_cast<std::size_t>(UiText::UpgradeFailedCaption) + 1;

/// The slot that replaces `text`.
std::size_t SlotOf(UiText text);

/// The text shown without an interface text file (empty for InstallConfirmation, which has
/// none).
std::string_view BuiltInText(UiText text);

/// What to show for `text`: its slot when a file was loaded (even an empty slot), else the
/// built-in text. InstallConfirmation always shows its slot, which is empty without the file.
/// The view points into `table` or into static storage.
std::string_view ShownText(const InterfaceTextTable& table, UiText text);

/// Whether the loader removes the line end of `slot`. The upgrade dialog's three slots keep
/// theirs until the dialog applies them (TrimUpgradeDialogSlots).
bool LoaderTrimsSlot(std::size_t slot);

/// Removes the line ends the loader left in the upgrade dialog's slots, in the table itself, so a
/// later opening finds them clean. Call it before showing them, with a file loaded.
void TrimUpgradeDialogSlots(InterfaceTextTable& table);

}  // namespace corvalink
