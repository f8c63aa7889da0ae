#include "text/ui_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace corvalink {
namespace {

struct Row {
  UiText text;
  std::size_t slot;
  const char* builtIn;
};

// Each text a window shows, the line of lpr.txt that replaces it, and what shows without it.
const Row ROWS[] = {
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
    {UiText::PasswordCaption, 10, "Please input router password"},
    {UiText::PasswordOk, 11, "&OK"},
    {UiText::PasswordCancel, 12, "&Cancel"},
    {UiText::UpgradeCaption, 13, "Router Firmware Upgrade Utility"},
    {UiText::UpgradeRouterIpLabel, 14, "RouterIP :"},
    {UiText::UpgradeSend, 15, "&Send"},
    {UiText::PasswordErrorCaption, 16, "Error Message"},
    {UiText::PasswordErrorText, 17, "Password Error"},
    {UiText::UpgradeCompleteText, 18, "Upgrade complete"},
    {UiText::UpgradeFailedText, 19, "Upgrade failed"},
    {UiText::UpgradeCompleteCaption, 0, "Upgrade complete"},
    {UiText::UpgradeFailedCaption, 0, "Upgrade failed"},
    {UiText::InstallConfirmation, 20, ""},
};

InterfaceTextTable NumberedFile() {
  InterfaceTextTable table;
  table.loaded = 1;
  for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) {
    const std::string line = "line " + std::to_string(i + 1);
    std::memcpy(table.slots[i].data(), line.data(), line.size());
  }
  return table;
}

TEST(ShownText, TheFileLineWhenLoadedElseTheBuiltInText) {
  const InterfaceTextTable none;
  const InterfaceTextTable file = NumberedFile();
  InterfaceTextTable shortFile;  // a file of no lines: every slot counts, empty
  shortFile.loaded = 1;
  for (const Row& row : ROWS) {
    SCOPED_TRACE(row.builtIn);
    EXPECT_EQ(SlotOf(row.text), row.slot);
    EXPECT_EQ(BuiltInText(row.text), row.builtIn);
    EXPECT_EQ(ShownText(none, row.text), row.builtIn);
    EXPECT_EQ(ShownText(file, row.text), "line " + std::to_string(row.slot + 1));
    EXPECT_EQ(ShownText(shortFile, row.text), "");
  }
  // The confirmation shows its slot even when no file was loaded.
  InterfaceTextTable stale;
  std::memcpy(stale.slots[20].data(), "kept", 4);
  EXPECT_EQ(ShownText(stale, UiText::InstallConfirmation), "kept");
  EXPECT_EQ(ShownText(stale, UiText::MainCaption), BuiltInText(UiText::MainCaption));
}

TEST(TrimUpgradeDialogSlots, TrimsExactlyTheSlotsTheLoaderLeaves) {
  InterfaceTextTable table;
  for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) std::memcpy(table.slots[i].data(), "t\r\n", 3);
  TrimUpgradeDialogSlots(table);
  for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) {
    SCOPED_TRACE(i);
    const bool upgradeSlot = i >= 13 && i <= 15;
    EXPECT_EQ(LoaderTrimsSlot(i), !upgradeSlot);
    EXPECT_EQ(table.Text(i), upgradeSlot ? "t" : "t\r\n");
  }
}

}  // namespace
}  // namespace corvalink
