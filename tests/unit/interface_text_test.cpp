#include "text/interface_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ansi_path.h"
#include "temp_tree.h"
#include "text/ui_texts.h"
#include "test_registry.h"

namespace corvalink {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::TempDir;
using test::WriteBytes;

TextSlot SlotOf(std::string_view text) {
  TextSlot slot{};
  std::copy(text.begin(), text.end(), slot.begin());
  return slot;
}

TEST(TrimLineEnd, RemovesOneLineEndOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abc\n", "abc"}, {"abc\r\n", "abc"}, {"abc", "abc"},   {"", ""},
      {"\n", ""},       {"\r\n", ""},       {"abc\r", "abc\r"}, {"a\n\n", "a\n"},
      {"a\r\r\n", "a\r"}, {"a\nb", "a\nb"},
  };
  for (const auto& [in, out] : cases) {
    TextSlot slot = SlotOf(in);
    TrimLineEnd(slot);
    EXPECT_EQ(std::string(slot.data()), out) << in;
    // Nothing of the removed line end may survive behind the new NUL.
    for (std::size_t i = out.size(); i < slot.size(); ++i) ASSERT_EQ(slot[i], '\0') << in;
  }
  // A slot without a NUL is trimmed inside its 100 bytes.
  TextSlot full;
  full.fill('x');
  full.back() = '\n';
  TrimLineEnd(full);
  EXPECT_EQ(full.back(), '\0');
  EXPECT_EQ(full[98], 'x');
}

// The system's separator, which the loader puts between "Path" and the file name.
const std::string SEP(1, static_cast<char>(fs::path::preferred_separator));

// Laid out as the loader finds it: a test registry with the product key, a folder that "Path"
// may name, and a stand-in for the current directory.
class InterfaceTextTest : public ::testing::Test {
 protected:
  static constexpr char KEY[] = "SOFTWARE\\DED Orezadu Devo";
  void SetUp() override {
    ASSERT_FALSE(m_tmp.Path().empty());
    ASSERT_EQ(m_registry.Error(), "");
    ASSERT_TRUE(m_registry.CreateKey(KEY));
    m_lprDir = m_tmp.Path() / "opt" / "lpr";
    m_cwd = m_tmp.Path() / "cwd";
    for (const fs::path& d : {m_lprDir, m_cwd}) fs::create_directories(d);
  }
  void SetPath(std::string_view data) { ASSERT_TRUE(m_registry.SetValue(KEY, "Path", REG_TYPE_SZ, data)); }
  bool Load() { return LoadInterfaceTextFile(m_table, m_registry.Get(), m_cwd); }

  TempDir m_tmp;
  test::TestRegistry m_registry;
  fs::path m_lprDir, m_cwd;
  InterfaceTextTable m_table;
};

std::string Lines(int count, const char* eol, int first = 1) {
  std::string text;
  for (int i = first; i < first + count; ++i) text += "Line " + std::to_string(i) + eol;
  return text;
}

bool KeepsLineEnd(std::size_t slot) { return slot >= 13 && slot <= 15; }

// What slot `slot` must hold when it received "Line <n>" and its line end.
std::string Expected(std::size_t slot, int n) {
  return "Line " + std::to_string(n) + (KeepsLineEnd(slot) ? "\n" : "");
}

TEST_F(InterfaceTextTest, NoFileAnywhereLeavesTheTableUntouched) {
  m_table.slots[20] = SlotOf("left alone");
  EXPECT_FALSE(Load());
  EXPECT_FALSE(m_table.loaded);
  EXPECT_EQ(m_table.Text(20), "left alone");
  EXPECT_EQ(m_table.Text(0), "");
}

TEST_F(InterfaceTextTest, EmptyFileLoadsWithEveryTextEmpty) {
  WriteBytes(m_cwd / "lpr.txt", "");
  EXPECT_TRUE(Load());
  EXPECT_TRUE(m_table.loaded);
  for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) EXPECT_EQ(m_table.Text(i), "") << i;
}

TEST_F(InterfaceTextTest, LineCountsAndLineEnds) {
  struct Case {
    int lines;
    const char* eol;
    bool lastLineEnded;
  };
  for (Case c : {Case{21, "\n", true}, Case{21, "\r\n", true}, Case{10, "\n", true},
                 Case{10, "\r\n", false}, Case{25, "\r\n", true}, Case{21, "\n", false},
                 Case{1, "\n", false}}) {
    std::string text = Lines(c.lines, c.eol);
    if (!c.lastLineEnded) text.resize(text.size() - std::string_view(c.eol).size());
    WriteBytes(m_cwd / "lpr.txt", text);
    m_table = {};
    ASSERT_TRUE(Load());
    EXPECT_TRUE(m_table.loaded);
    SCOPED_TRACE(std::to_string(c.lines) + (c.eol[0] == '\r' ? " CR LF" : " LF"));
    for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) {
      const int n = static_cast<int>(i) + 1;
      std::string want;
      if (n < c.lines || (n == c.lines && c.lastLineEnded)) want = Expected(i, n);
      if (n == c.lines && !c.lastLineEnded) want = "Line " + std::to_string(n);
      if (n > c.lines) want = "";
      EXPECT_EQ(m_table.Text(i), want) << "slot " << i;
    }
  }
}

TEST_F(InterfaceTextTest, LongLinesContinueInTheNextSlot) {
  for (const char* eol : {"\n", "\r\n"}) {
    SCOPED_TRACE(eol[0] == '\r' ? "CR LF" : "LF");
    // A third line of 120 characters fills slots 2 and 3; every later line moves one slot down
    // and line 21 is never read.
    std::string longLine(120, 'L');
    longLine[98] = 'A';
    longLine[99] = 'B';
    WriteBytes(m_cwd / "lpr.txt", Lines(2, eol) + longLine + eol + Lines(18, eol, 4));
    m_table = {};
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_table.Text(2), longLine.substr(0, 99));
    EXPECT_EQ(m_table.Text(3), longLine.substr(99));
    for (std::size_t i = 4; i < TEXT_SLOT_COUNT; ++i) {
      EXPECT_EQ(m_table.Text(i), Expected(i, static_cast<int>(i))) << i;
    }

    // 99 characters fill a slot exactly; the line end alone goes to the next one. 98 fit with it.
    std::string fits(98, 'a'), exact(99, 'b');
    WriteBytes(m_cwd / "lpr.txt", fits + eol + exact + eol + "next" + eol);
    m_table = {};
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_table.Text(0), fits);
    EXPECT_EQ(m_table.Text(1), exact);
    EXPECT_EQ(m_table.Text(2), "");
    EXPECT_EQ(m_table.Text(3), "next");
  }
}

TEST_F(InterfaceTextTest, PathFromTheRegistryJoinsWithThePlatformSeparator) {
  const std::string ninetyOne(91, 'p'), ninetyTwo(92, 'p');
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"/opt/lpr\0"s, "/opt/lpr" + SEP + "lpr.txt"},
      {"/opt/lpr/\0"s, "/opt/lpr/" + SEP + "lpr.txt"},
      {"/opt/lpr", "/opt/lpr" + SEP + "lpr.txt"},           // stored without its NUL
      {"/opt/lpr\0/junk"s, "/opt/lpr" + SEP + "lpr.txt"},   // the text ends at the first NUL
      {ninetyOne + '\0', ninetyOne + SEP + "lpr.txt"},
      {ninetyOne, ninetyOne + SEP + "lpr.txt"},
      {ninetyTwo + '\0', std::nullopt},                     // no room for the separator and name
      {std::string(99, 'p') + '\0', std::nullopt},
      {std::string(100, 'p'), std::nullopt},             // no end within the 100 bytes
      {"/opt\0"s + std::string(95, 'x'), "/opt" + SEP + "lpr.txt"},  // 100 bytes, ended early
      {"/opt\0"s + std::string(96, 'x'), std::nullopt},  // 101 bytes do not fit the buffer
  };
  for (const auto& [data, want] : cases) {
    SetPath(data);
    std::optional<fs::path> got = TextFileFromRegistry(m_registry.Get());
    ASSERT_EQ(got.has_value(), want.has_value()) << data.size() << " bytes: " << data;
    if (want) {
      EXPECT_EQ(got->string(), *want);
    }
  }
  ASSERT_TRUE(m_registry.DeleteValue(KEY, "Path"));
  EXPECT_FALSE(TextFileFromRegistry(m_registry.Get()).has_value());
  ASSERT_TRUE(m_registry.DeleteKey(KEY));
  EXPECT_FALSE(TextFileFromRegistry(m_registry.Get()).has_value());
}

TEST_F(InterfaceTextTest, RegistryFolderComesBeforeTheCurrentDirectory) {
  WriteBytes(m_cwd / "lpr.txt", "from cwd\n");
  WriteBytes(m_lprDir / "lpr.txt", "from Path\n");
  for (const std::string& path : {m_lprDir.string(), m_lprDir.string() + SEP}) {
    SetPath(path + '\0');
    m_table = {};
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_table.Text(0), "from Path") << path;
  }
}

TEST_F(InterfaceTextTest, UnusablePathFallsBackToTheCurrentDirectory) {
  WriteBytes(m_cwd / "lpr.txt", "from cwd\n");
  // Real folders holding lpr.txt, whose names make the value too long by one character or more:
  // they must not be used. A 91-character value still is.
  fs::path base = m_tmp.Path() / "p";
  auto folderOf = [&](std::size_t valueLength) {
    std::string name = base.string() + SEP + std::string(valueLength - base.string().size() - 1, 'd');
    fs::create_directories(name);
    WriteBytes(fs::path(name) / "lpr.txt", "from Path\n");
    return name;
  };
  ASSERT_LT(base.string().size() + 2, 91u);
  const std::string at91 = folderOf(91), at92 = folderOf(92), at99 = folderOf(99);
  fs::create_directories(m_lprDir / "empty");
  fs::create_directories(m_lprDir / "dir" / "lpr.txt");  // a folder called lpr.txt is no file

  const std::vector<std::pair<std::string, std::string>> cases = {
      {at91 + '\0', "from Path"},
      {at92 + '\0', "from cwd"},
      {at99 + '\0', "from cwd"},
      {at99 + std::string(1, 'd'), "from cwd"},  // 100 bytes, no NUL
      {(m_lprDir / "empty").string() + '\0', "from cwd"},
      {(m_lprDir / "dir").string() + '\0', "from cwd"},
      {(m_lprDir / "missing").string() + '\0', "from cwd"},
  };
  for (const auto& [path, from] : cases) {
    SetPath(path);
    m_table = {};
    ASSERT_TRUE(Load()) << path;
    EXPECT_EQ(m_table.Text(0), from) << path.size() << " bytes: " << path;
  }
}

// "Path" is ANSI text, the folder's name in the system's code page (on Windows one byte per
// letter: "é" is 0xE9 and "€" 0x80 in Windows-1252), and such a folder is found. A name the code
// page cannot hold (Cyrillic on a western system) cannot be a "Path" value and is passed over.
TEST_F(InterfaceTextTest, PathWithLettersBeyondAsciiIsFound) {
  WriteBytes(m_cwd / "lpr.txt", "from cwd\n");
  const struct {
    std::u8string name;
    bool required;
  } rows[] = {{u8"Caf\u00e9 \u20ac \u00c5ngstr\u00f6m", true}, {u8"\u041f\u0430\u043f\u043a\u0430", false}};
  for (const auto& row : rows) {
    const fs::path folder = m_tmp.Path() / fs::path(row.name);
    fs::create_directories(folder);
    WriteBytes(folder / "lpr.txt", "from Path\n");
    const std::string ansi = AnsiFromPath(folder);
    if (PathFromAnsi(ansi) != folder) {
      EXPECT_FALSE(row.required) << "the code page lost letters of " << ansi;
      continue;
    }
    SetPath(ansi + '\0');
    m_table = {};
    ASSERT_TRUE(Load()) << ansi;
    EXPECT_EQ(m_table.Text(0), "from Path") << ansi;
    // Opened by its full name, not found by chance in the current directory.
    fs::remove(m_cwd / "lpr.txt");
    m_table = {};
    EXPECT_TRUE(Load()) << ansi;
    WriteBytes(m_cwd / "lpr.txt", "from cwd\n");
  }
}

#ifdef CORVALINK_SOURCE_DIR
// The demo's text file (tools/demo/lpr.txt) holds the built-in texts in their slots and a
// confirmation in the 21st, so the demo looks as the program does without the file and says
// something when an address was stored.
TEST_F(InterfaceTextTest, TheDemoFileHoldsTheBuiltInTextsAndAConfirmation) {
  ASSERT_TRUE(LoadInterfaceTextFile(m_table, m_registry.Get(),
                                    fs::path(CORVALINK_SOURCE_DIR) / "tools" / "demo"));
  TrimUpgradeDialogSlots(m_table);
  const InterfaceTextTable none;
  for (std::size_t i = 0; i < UI_TEXT_COUNT; ++i) {
    const auto text = static_cast<UiText>(i);
    // The upgrade results' captions share the main caption's slot.
    const UiText owner = SlotOf(text) == SlotOf(UiText::MainCaption) ? UiText::MainCaption : text;
    if (text == UiText::InstallConfirmation) continue;
    EXPECT_EQ(ShownText(m_table, text), ShownText(none, owner)) << "slot " << SlotOf(text);
  }
  EXPECT_EQ(ShownText(m_table, UiText::InstallConfirmation),
            "The router's address is now the printer server.");
}
#endif

}  // namespace
}  // namespace corvalink
