#include "text/ui_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace corvalink {
namespace {

InterfaceTextTable NumberedFile() {
  InterfaceTextTable table;
  table.loaded = true;
  for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) {
    const std::string line = "line " + std::to_string(i + 1);
    std::memcpy(table.slots[i].data(), line.data(), line.size());
  }
  return table;
}

TEST(ShownText, TheFileLineWhenLoadedElseTheBuiltInText) {
  const InterfaceTextTable none;
  const InterfaceTextTable file = NumberedFile();
  InterfaceTextTable emptyFile;  // a file of no lines: every slot counts, empty
  emptyFile.loaded = true;
  std::set<std::size_t> slotsUsed;
  for (std::size_t i = 0; i < UI_TEXT_COUNT; ++i) {
    SCOPED_TRACE(i);
    const auto text = static_cast<UiText>(i);
    EXPECT_EQ(ShownText(file, text), "line " + std::to_string(SlotOf(text) + 1));
    EXPECT_EQ(ShownText(none, text), BuiltInText(text));
    EXPECT_EQ(ShownText(emptyFile, text), "");
    slotsUsed.insert(SlotOf(text));
  }
  EXPECT_EQ(slotsUsed.size(), TEXT_SLOT_COUNT) << "every line of the file has a use";
  // An upgrade result is captioned by the main caption's line, or without the file by itself.
  for (auto [caption, message] : {std::pair{UiText::UpgradeCompleteCaption, UiText::UpgradeCompleteText},
                                  std::pair{UiText::UpgradeFailedCaption, UiText::UpgradeFailedText}}) {
    EXPECT_EQ(SlotOf(caption), SlotOf(UiText::MainCaption));
    EXPECT_EQ(BuiltInText(caption), BuiltInText(message));
  }
  // The confirmation has no built-in text and shows its slot even when no file was loaded.
  EXPECT_EQ(BuiltInText(UiText::InstallConfirmation), "");
  InterfaceTextTable stale;
  std::memcpy(stale.slots[SlotOf(UiText::InstallConfirmation)].data(), "kept", 4);
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
