#include "text/ui_texts.h"

#include <array>

#include "text/interface_text.h"

namespace corvalink {
namespace {

struct SlotUse {
  UiText text;
  std::size_t slot;
  /// Null: the slot is shown with or without the file.
  const char* builtIn;
};

// In UiText's order.
constexpr SlotUse SLOT_USES[] = {
    {UiText::MainCaption, 0, "ZUD Arora Ruza vez Udu98/De"},
    {UiText::FirmwareLabel, 1, "Choose Firmware File : "},
    {UiText::SelectFile, 2, "&Select"},
    {UiText::RouterLabel, 3, "Select K4410 Router :"},
    {UiText::Install, 4, "Install / Modify"},
    {UiText::Search, 5, "Search"},
    {UiText::ColumnMac, 6, "MAC ADDRESS"},
    {UiText::ColumnIp, 7, "IP ADDRESS"},
    {UiText::ColumnMask, 8, "IP MASK"},
    {UiText::ColumnLocation, 9, "Location"},
    {UiText::InstallConfirmation, 20, nullptr},
    {UiText::PasswordCaption, 10, "Please input router password"},
    {UiText::PasswordOk, 11, "&OK"},
    {UiText::PasswordCancel, 12, "&Cancel"},
    {UiText::PasswordErrorCaption, 16, "Error Message"},
    {UiText::PasswordErrorText, 17, "Password Error"},
    {UiText::UpgradeCaption, 13, "Router Firmware Upgrade Utility"},
    {UiText::UpgradeRouterIpLabel, 14, "RouterIP :"},
    {UiText::UpgradeSend, 15, "&Send"},
    {UiText::UpgradeCompleteText, 18, "Upgrade complete"},
    {UiText::UpgradeCompleteCaption, 0, "Upgrade complete"},
    {UiText::UpgradeFailedText, 19, "Upgrade failed"},
    {UiText::UpgradeFailedCaption, 0, "Upgrade failed"},
};

constexpr bool InOrder() {
  for (std::size_t i = 0; i < std::size(SLOT_USES); ++i) {
    if (static_cast<std::size_t>(SLOT_USES[i].text) != i || SLOT_USES[i].slot >= TEXT_SLOT_COUNT) {
      return false;
    }
  }
  return true;
}
static_assert(std::size(SLOT_USES) == UI_TEXT_COUNT && InOrder(),
              "SLOT_USES lists every UiText once, in order, with a slot in the table");

const SlotUse& Use(UiText text) { return SLOT_USES[static_cast<std::size_t>(text)]; }

// The upgrade dialog's own slots: the loader leaves their line ends.
constexpr std::array<UiText, 3> UPGRADE_DIALOG_SLOTS = {
    UiText::UpgradeCaption, UiText::UpgradeRouterIpLabel, UiText::UpgradeSend};

}  // namespace

std::size_t SlotOf(UiText text) { return Use(text).slot; }

std::string_view BuiltInText(UiText text) {
  const char* builtIn = Use(text).builtIn;
  return builtIn != nullptr ? std::string_view(builtIn) : std::string_view();
}

std::string_view ShownText(const InterfaceTextTable& table, UiText text) {
  const SlotUse& use = Use(text);
  if (table.loaded || use.builtIn == nullptr) return table.Text(use.slot);
  return use.builtIn;
}

bool LoaderTrimsSlot(std::size_t slot) {
  for (UiText text : UPGRADE_DIALOG_SLOTS) {
    if (SlotOf(text) == slot) return false;
  }
  return true;
}

void TrimUpgradeDialogSlots(InterfaceTextTable& table) {
  for (UiText text : UPGRADE_DIALOG_SLOTS) TrimLineEnd(table.slots[SlotOf(text)]);
}

}  // namespace corvalink
