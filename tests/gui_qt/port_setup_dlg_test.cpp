// The main window in a real (offscreen) window, driven by clicks and keys: its initial state,
// the interface texts, the search, the router list, "Install / Modify" and the firmware chooser.

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "qt/app_message.h"
#include "qt/dialog_units.h"
#include "qt/file_chooser.h"
#include "qt/port_setup_dlg.h"
#include "gui_test_util.h"
#include "main_window_test_util.h"

namespace corvalink::testing {
namespace {

const sim::SimRouter ROUTER_A = Router({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {192, 168, 1, 1}, "Office");
const sim::SimRouter ROUTER_B = Router({0x02, 0x00, 0x00, 0x00, 0x00, 0x0B}, {10, 0, 0, 2}, "Caf\xE9 \x80\x85");
const sim::SimRouter ROUTER_C = Router({0x02, 0x00, 0x00, 0x00, 0x00, 0x0C}, {255, 255, 255, 255});
const sim::SimRouter ROUTER_D = Router({0x02, 0x00, 0x00, 0x00, 0x00, 0x0D}, {10, 0, 0, 4});

// SearchRequest as it must appear on the wire.
const std::vector<uint8_t> SEARCH_REQUEST = [] {
  std::vector<uint8_t> bytes = {
      0xDD, 0x80,                                // magic, type
      0x00, 0x36,                                // length 54, big-endian
      'V',  'E',  'L', 'M', 'O', 'R', 'A', 0x00  // tag and its NUL
  };
  bytes.resize(54, 0x00);                        // 42 zero bytes
  return bytes;
}();

class PortSetupDlgTest : public ::testing::Test {
 protected:
  std::unique_ptr<CPortSetupDlg> Open() {
    auto dlg = std::make_unique<CPortSetupDlg>(world.state);
    dlg->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    return dlg;
  }
  static QStringList Row(QTreeWidget* list, int row) {
    QStringList texts;
    for (int c = 0; c < 4; ++c) texts << list->topLevelItem(row)->text(c);
    return texts;
  }
  static void ClickRow(QTreeWidget* list, int row, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, mods,
                      list->visualItemRect(list->topLevelItem(row)).center());
  }
  static void WriteTextFile(const std::filesystem::path& file, int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i) text += "line " + std::to_string(i) + "\r\n";
    test::WriteBytes(file, text);
  }
  std::string StoredText() const {
    std::optional<RegistryValue> value = world.ServerIp();
    return value ? std::string(value->data.begin(), value->data.end()) : std::string("<none>");
  }

  // Shows the window and lists routers A, B and C (rows C, B, A; C marked); false if one is missing.
  static bool ShowWithThreeRouters(CPortSetupDlg& dlg) {
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg)) return false;
    QTreeWidget* list = RouterList(&dlg);
    return ReplyAndWait(dlg.SearchPort(), ROUTER_A, list, 1) &&
           ReplyAndWait(dlg.SearchPort(), ROUTER_B, list, 2) &&
           ReplyAndWait(dlg.SearchPort(), ROUTER_C, list, 3);
  }

  // The text stored as "Server IP", or "(none)".
  static std::string StoredAddress(MainWindowWorld& world) {
    std::optional<RegistryValue> value = world.ServerIp();
    if (!value) return "(none)";
    return std::string(reinterpret_cast<const char*>(value->data.data()));
  }

  MainWindowWorld world;
};

TEST_F(PortSetupDlgTest, StartsWithTemplateLayoutAndStates) {
  auto dlg = Open();
  SaveScreenshot(dlg.get(), "main");
  EXPECT_EQ(dlg->windowTitle(), "ZUD Arora Ruza vez Udu98/De");
  const DialogUnits du = DialogUnits::ForFont(dlg->font());
  EXPECT_EQ(dlg->size(), du.Size(339, 122));

  struct Expected {
    const char* id;
    QRect du;
    bool visible;
    bool enabled;
    const char* text;  // null: not a text control
  };
  const Expected controls[] = {
      {"IDC_SELECT_FILE", {272, 98, 60, 14}, false, false, "&Select"},
      {"IDC_INSTALL", {265, 6, 67, 14}, true, false, "Install / Modify"},
      {"IDC_FIRMWARE_LABEL", {7, 101, 325, 8}, false, true, "Choose Firmware File : "},
      {"IDC_FIRMWARE_PATH", {7, 100, 222, 12}, false, true, ""},
      {"IDC_ROUTER_LABEL", {7, 9, 148, 8}, true, true, "Select K4410 Router :"},
      {"IDC_ROUTER_LIST", {7, 24, 325, 91}, true, false, nullptr},
      {"IDC_SEARCH", {192, 6, 60, 14}, true, true, "Search"},
  };
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.id);
    QWidget* w = Control<QWidget>(dlg.get(), c.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), du.Rect(c.du.x(), c.du.y(), c.du.width(), c.du.height()));
    EXPECT_EQ(w->isVisible(), c.visible);
    EXPECT_EQ(w->isEnabled(), c.enabled);
    if (c.text == nullptr) continue;
    QString text;
    if (auto* b = qobject_cast<QPushButton*>(w)) text = b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) text = e->text();
    EXPECT_EQ(text, QString::fromLatin1(c.text));
  }

  QTreeWidget* list = RouterList(dlg.get());
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
  const char* headings[] = {"MAC ADDRESS", "IP ADDRESS", "IP MASK", "Location"};
  const int widths[] = {115, 115, 165, 170};
  ASSERT_EQ(list->columnCount(), 4);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(list->headerItem()->text(c), headings[c]);
    EXPECT_EQ(list->columnWidth(c), widths[c]);
  }
  EXPECT_FALSE(world.state.interfaceText.loaded);
  // The first control in tab order that can take the focus.
  dlg->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  EXPECT_EQ(dlg->focusWidget(), Control<QWidget>(dlg.get(), "IDC_SEARCH"));
  EXPECT_NE(dlg->SearchPort(), 0);
  EXPECT_FALSE(world.broadcast.Receive(50)) << "nothing is sent before Search is pressed";
}

struct TextFileCase {
  const char* name;
  bool viaRegistry;    // "Path" names the folder holding the file
  bool fileInCwd;      // a file in the current directory as well
  const char* content;
  const char* caption;
  const char* install;
  const char* heading0;
};

TEST_F(PortSetupDlgTest, AppliesInterfaceTextsFromTheFileFound) {
  const char* lines =
      "Caption\r\nFirmware\r\n&Pick\r\nRouters:\r\nStore\r\n\x93" "Find\x94\r\nMAC\r\nIP\r\nMASK\r\nWHERE\r\n";
  const TextFileCase cases[] = {
      {"registry Path", true, false, lines, "Caption", "Store", "MAC"},
      {"registry Path wins over cwd", true, true, lines, "Caption", "Store", "MAC"},
      {"current directory", false, true, lines, "Caption", "Store", "MAC"},
      {"empty file", false, true, "", "", "", ""},
  };
  for (const TextFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    MainWindowWorld local;
    std::filesystem::path folder = local.dir.Path() / "lpr";
    std::filesystem::create_directories(folder);
    if (c.viaRegistry) {
      test::WriteBytes(folder / "lpr.txt", c.content);
      local.CreateKey();
      test::WriteRegValue(local.KeyDir() / "Path", REG_TYPE_SZ, folder.string() + std::string(1, '\0'));
    }
    if (c.fileInCwd) test::WriteBytes(local.dir.Path() / "lpr.txt", c.viaRegistry ? "Other\n" : c.content);

    CPortSetupDlg dlg(local.state);
    EXPECT_TRUE(local.state.interfaceText.loaded);
    EXPECT_EQ(dlg.windowTitle(), c.caption);
    EXPECT_EQ(Control<QPushButton>(&dlg, "IDC_INSTALL")->text(), c.install);
    EXPECT_EQ(RouterList(&dlg)->headerItem()->text(0), c.heading0);
    EXPECT_EQ(RouterList(&dlg)->columnWidth(3), 170);
    if (c.content[0] != '\0') {
      EXPECT_EQ(Control<QPushButton>(&dlg, "IDC_SEARCH")->text(), "\u201CFind\u201D");
      EXPECT_EQ(Control<QLabel>(&dlg, "IDC_ROUTER_LABEL")->text(), "Routers:");
      EXPECT_EQ(Control<QPushButton>(&dlg, "IDC_SELECT_FILE")->text(), "&Pick");
      EXPECT_EQ(RouterList(&dlg)->headerItem()->text(3), "WHERE");
    }
  }
}

TEST_F(PortSetupDlgTest, StaticTextsShowAsWrittenWithAmpersandsAsWindowsDoes) {
  struct Case {
    const char* line4;
    QString shown;
    Qt::Key mnemonic;  // Qt::Key_unknown: none
  };
  const Case cases[] = {
      {"Select <b>bold</b> Router :", "Select <b>bold</b> Router :", Qt::Key_unknown},
      {"Router && label &R:", "Router & label R:", Qt::Key_R},
      {"a&&b &x<i>y</i>", "a&b x<i>y</i>", Qt::Key_X},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line4);
    MainWindowWorld local;
    local.CreateKey();
    test::WriteBytes(local.dir.Path() / "lpr.txt",
                     std::string("1\n2\n3\n") + c.line4 + "\n5\n6\n7\n8\n9\n10\n11\n12\n13\n14\n"
                     "15\n16\n17\n18\n19\n20\nDone <b>now</b> <br> ok\n");
    CPortSetupDlg dlg(local.state);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QLabel* label = Control<QLabel>(&dlg, "IDC_ROUTER_LABEL");
    // What the label takes room for is what it draws: the text as it stands, no markup, and
    // each ampersand pair as one ampersand.
    const QFontMetrics fm(label->font());
    EXPECT_NEAR(label->sizeHint().width(), fm.boundingRect(c.shown).width(), 3);
    QTreeWidget* list = RouterList(&dlg);
    ASSERT_TRUE(ReplyAndWait(dlg.SearchPort(), ROUTER_A, list, 1));
    Control<QPushButton>(&dlg, "IDC_SEARCH")->setFocus();
    if (c.mnemonic != Qt::Key_unknown) {
      QTest::keyClick(&dlg, c.mnemonic, Qt::AltModifier);
      EXPECT_TRUE(list->hasFocus()) << "the mnemonic moves the focus to the list";
    }
    MessageBoxWatcher boxes;
    QTest::mouseClick(Control<QPushButton>(&dlg, "IDC_INSTALL"), Qt::LeftButton);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "Done <b>now</b> <br> ok");
    EXPECT_EQ(boxes.Seen()[0].format, Qt::PlainText);
  }
}

// A box is as wide as its caption needs, and its text is never cut: a short one on one line, a
// long one wrapped.
TEST_F(PortSetupDlgTest, MessageBoxesShowTheirWholeCaptionAndText) {
  const QString longText = QString("The router's address is now the printer server. ").repeated(4);
  const struct {
    const char* caption;
    QString text;
  } cases[] = {
      {"Upgrade failed", "x"},
      {"A rather long caption for a message box", "x"},
      {"ZUD Arora Ruza vez Udu98/De", "The router's address is now the printer server."},
      {"Short", longText},
      {"Short", "first line\na second line that is rather longer than the first"},
  };
  for (const auto& c : cases) {
    MessageBoxWatcher boxes;
    ExecMessageBox(nullptr, QMessageBox::Warning, c.caption, c.text);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_GE(boxes.Seen()[0].width, TitleBarWidthFor(c.caption)) << c.caption;
    EXPECT_TRUE(boxes.Seen()[0].textWhole) << c.text.toStdString();
  }
}

TEST_F(PortSetupDlgTest, SearchSendsTheRequestFromTheSearchSocket) {
  auto dlg = Open();
  QPushButton* search = Control<QPushButton>(dlg.get(), "IDC_SEARCH");
  for (int press = 0; press < 2; ++press) {
    QTest::mouseClick(search, Qt::LeftButton);
    Endpoint from;
    std::optional<std::vector<uint8_t>> got = world.broadcast.Receive(3000, &from);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, SEARCH_REQUEST);
    EXPECT_EQ(from.port, dlg->SearchPort());
  }
  EXPECT_FALSE(world.broadcast.Receive(50)) << "one datagram per search";
}

TEST_F(PortSetupDlgTest, RepliesBecomeRowsNewestOnTopMarkedAndSelected) {
  auto dlg = Open();
  QTreeWidget* list = RouterList(dlg.get());
  QPushButton* install = Control<QPushButton>(dlg.get(), "IDC_INSTALL");
  const uint16_t port = dlg->SearchPort();
  ASSERT_TRUE(ReplyAndWait(port, ROUTER_A, list, 1));
  EXPECT_TRUE(list->isEnabled());
  EXPECT_TRUE(install->isEnabled());
  ASSERT_TRUE(ReplyAndWait(port, ROUTER_B, list, 2));
  ASSERT_TRUE(ReplyAndWait(port, ROUTER_C, list, 3));

  EXPECT_EQ(Row(list, 0), QStringList({"02000000000C", "255.255.255.255", "255.255.255.0", ""}));
  EXPECT_EQ(Row(list, 1), QStringList({"02000000000B", "10.0.0.2", "255.255.255.0", "Caf\u00E9 \u20AC\u2026"}));
  EXPECT_EQ(Row(list, 2), QStringList({"001A2B3C4D5E", "192.168.1.1", "255.255.255.0", "Office"}));
  EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
  EXPECT_TRUE(list->topLevelItem(0)->isSelected());
  EXPECT_FALSE(list->topLevelItem(1)->isSelected());
  EXPECT_EQ(world.state.routerTable.Count(), 3);

  // A second reply from a listed router changes nothing.
  sim::SimRouter again = ROUTER_A;
  again.ip = {1, 2, 3, 4};
  SendReply(port, again);
  QTest::qWait(100);
  EXPECT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(2)->text(1), "192.168.1.1");

  // A row the user added to the selection keeps it when a new router arrives; only the row
  // that was on top loses its selection.
  ClickRow(list, 2, Qt::ControlModifier);
  QTest::keyRelease(list, Qt::Key_Control);
  ASSERT_EQ(QGuiApplication::keyboardModifiers(), Qt::NoModifier);
  ASSERT_TRUE(list->topLevelItem(2)->isSelected());
  ASSERT_TRUE(ReplyAndWait(port, ROUTER_D, list, 4));
  EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
  EXPECT_TRUE(list->topLevelItem(0)->isSelected());
  EXPECT_FALSE(list->topLevelItem(1)->isSelected());
  EXPECT_TRUE(list->topLevelItem(3)->isSelected());

  // Two replies sent back to back reach the window as one burst; the rows read as if they had
  // come one by one: only the newest selected, the user's row still selected.
  SendReply(port, Router({0x02, 0, 0, 0, 0, 0x0E}, {10, 0, 0, 14}));
  ASSERT_TRUE(ReplyAndWait(port, Router({0x02, 0, 0, 0, 0, 0x0F}, {10, 0, 0, 15}), list, 6));
  EXPECT_EQ(list->topLevelItem(0)->text(0), "02000000000F");
  EXPECT_EQ(list->topLevelItem(1)->text(0), "02000000000E");
  EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
  const bool selected[] = {true, false, false, false, false, true};
  for (int row = 0; row < 6; ++row) EXPECT_EQ(list->topLevelItem(row)->isSelected(), selected[row]) << row;
  SaveScreenshot(dlg.get(), "main_routers");
}

TEST_F(PortSetupDlgTest, InstallStoresSixtyBytesConfirmsAndEnds) {
  const struct {
    sim::SimRouter router;
    std::string stored;
  } cases[] = {
      {ROUTER_A, std::string("192.168.1.1") + std::string(49, '\0')},
      {ROUTER_C, std::string("255.255.255.255") + std::string(45, '\0')},
  };
  for (const auto& c : cases) {
    MainWindowWorld local;
    local.CreateKey();
    CPortSetupDlg dlg(local.state);
    dlg.show();
    ASSERT_TRUE(ReplyAndWait(dlg.SearchPort(), c.router, RouterList(&dlg), 1));
    MessageBoxWatcher boxes;
    QTest::mouseClick(Control<QPushButton>(&dlg, "IDC_INSTALL"), Qt::LeftButton);

    std::optional<RegistryValue> value = local.ServerIp();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, REG_TYPE_SZ);
    ASSERT_EQ(value->data.size(), 60u);
    EXPECT_EQ(std::string(value->data.begin(), value->data.end()), c.stored);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].title, ApplicationTitle());
    EXPECT_EQ(boxes.Seen()[0].text, "") << "no interface text file: slot 20 is empty";
    EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.SearchPort(), 0) << "the search socket is closed";
  }
}

TEST_F(PortSetupDlgTest, ConfirmationShowsTheFilesTwentyFirstLine) {
  WriteTextFile(world.dir.Path() / "lpr.txt", 25);
  world.CreateKey();
  auto dlg = Open();
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_A, RouterList(dlg.get()), 1));
  MessageBoxWatcher boxes;
  QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_INSTALL"), Qt::LeftButton);
  ASSERT_EQ(boxes.Seen().size(), 1u);
  EXPECT_EQ(boxes.Seen()[0].text, "line 21");
  EXPECT_EQ(boxes.Seen()[0].title, ApplicationTitle());
}

TEST_F(PortSetupDlgTest, DoubleClickAndInstallActOnTheMarkedRow) {
  // Rows after A, B, C: C (255.255.255.255, marked), B (10.0.0.2), A (192.168.1.1).
  enum class Act { DoubleClick, InstallButton };
  const struct {
    const char* name;
    int markRow;    // clicked first, -1 for none
    bool ctrl;      // that click adds the row to the selection
    Act act;
    int actRow;     // the row double-clicked, -1: the empty space below the rows
    std::string stored;
  } cases[] = {
      {"double-click on a row: its first click marks it", -1, false, Act::DoubleClick, 1, "10.0.0.2"},
      {"double-click below the rows keeps the mark", 2, false, Act::DoubleClick, -1, "192.168.1.1"},
      {"ctrl-click marks a row added to the selection", 2, true, Act::DoubleClick, -1, "192.168.1.1"},
      {"the button takes the mark, not the first selected row", 2, true, Act::InstallButton, -1,
       "192.168.1.1"},
      {"the button takes the newest row when nothing was clicked", -1, false, Act::InstallButton, -1,
       "255.255.255.255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MainWindowWorld local;
    local.CreateKey();
    CPortSetupDlg dlg(local.state);
    QTreeWidget* list = RouterList(&dlg);
    ASSERT_TRUE(ShowWithThreeRouters(dlg));
    if (c.markRow >= 0) {
      ClickRow(list, c.markRow, c.ctrl ? Qt::ControlModifier : Qt::NoModifier);
      QTest::keyRelease(list, Qt::Key_Control);
    }
    MessageBoxWatcher boxes;
    if (c.act == Act::InstallButton) {
      QTest::mouseClick(Control<QPushButton>(&dlg, "IDC_INSTALL"), Qt::LeftButton);
    } else {
      QPoint at = c.actRow >= 0 ? list->visualItemRect(list->topLevelItem(c.actRow)).center()
                                : QPoint(20, list->viewport()->height() - 5);
      ASSERT_EQ(list->itemAt(at) == nullptr, c.actRow < 0);
      // What the platform delivers for a double-click: press, release, double-click, release.
      QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }
    QTest::qWaitFor([&] { return !dlg.isVisible(); }, 2000);
    EXPECT_EQ(StoredAddress(local), c.stored);
    EXPECT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
}

TEST_F(PortSetupDlgTest, InstallActsOnTheSelectionMarkAsAReportListKeepsIt) {
  // Rows after A, B, C: C (marked), B, A. A step is a click on a row or a key, with modifiers.
  struct Step {
    int row;  // >= 0: click this row; -1: press `key`
    Qt::Key key;
    Qt::KeyboardModifiers mods;
  };
  const auto click = [](int row, Qt::KeyboardModifiers mods = {}) { return Step{row, Qt::Key_unknown, mods}; };
  const auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = {}) { return Step{-1, k, mods}; };
  const Qt::KeyboardModifiers shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
  const std::string C = "255.255.255.255", B = "10.0.0.2", A = "192.168.1.1";
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::string stored;
  } cases[] = {
      {"nothing done: the newest row", {}, C},
      {"plain click", {click(1)}, B},
      {"shift-click leaves the mark", {click(2, shift)}, C},
      {"ctrl-click that selects", {click(1), click(2, ctrl)}, A},
      {"ctrl-click that deselects leaves the mark", {click(1), click(2, ctrl), click(2, ctrl)}, A},
      {"plain down", {key(Qt::Key_Down)}, B},
      {"down, down, up", {key(Qt::Key_Down), key(Qt::Key_Down), key(Qt::Key_Up)}, B},
      {"shift+down leaves the mark", {key(Qt::Key_Down, shift)}, C},
      {"ctrl+down leaves the mark", {key(Qt::Key_Down, ctrl)}, C},
      {"ctrl+down then ctrl+space selects and marks", {key(Qt::Key_Down, ctrl), key(Qt::Key_Space, ctrl)}, B},
      {"end", {key(Qt::Key_End)}, A},
      {"end, home", {key(Qt::Key_End), key(Qt::Key_Home)}, C},
      {"page down", {key(Qt::Key_PageDown)}, A},
      {"page down, page up", {key(Qt::Key_PageDown), key(Qt::Key_PageUp)}, C},
      {"click then shift+end leaves it", {click(1), key(Qt::Key_End, shift)}, B},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MainWindowWorld local;
    local.CreateKey();
    CPortSetupDlg dlg(local.state);
    QTreeWidget* list = RouterList(&dlg);
    ASSERT_TRUE(ShowWithThreeRouters(dlg));
    list->setFocus();
    for (const Step& step : c.steps) {
      if (step.row >= 0) {
        ClickRow(list, step.row, step.mods);
      } else {
        QTest::keyClick(list, step.key, step.mods);
      }
      QTest::keyRelease(list, Qt::Key_Control);
      QTest::keyRelease(list, Qt::Key_Shift);
    }
    MessageBoxWatcher boxes;
    QTest::mouseClick(Control<QPushButton>(&dlg, "IDC_INSTALL"), Qt::LeftButton);
    QTest::qWaitFor([&] { return !dlg.isVisible(); }, 2000);
    EXPECT_EQ(StoredAddress(local), c.stored);
  }
}

TEST_F(PortSetupDlgTest, MissingKeyIsReportedNotConfirmed) {
  auto dlg = Open();
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_A, RouterList(dlg.get()), 1));
  MessageBoxWatcher boxes;
  QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_INSTALL"), Qt::LeftButton);

  ASSERT_EQ(boxes.Seen().size(), 1u) << "the error only, no confirmation";
  EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(boxes.Seen()[0].text.contains("SOFTWARE\\DED Orezadu Devo")) << boxes.Seen()[0].text.toStdString();
  EXPECT_TRUE(boxes.Seen()[0].text.contains("does not exist")) << boxes.Seen()[0].text.toStdString();
  EXPECT_EQ(dlg->result(), CPortSetupDlg::RESULT_STORE_FAILED);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_TRUE(test::ListTree(world.dir.Path() / "registry").empty()) << "the key is never created";
}

TEST_F(PortSetupDlgTest, InstallWithoutMarkedRowDoesNothing) {
  world.CreateKey();
  auto dlg = Open();
  QTreeWidget* list = RouterList(dlg.get());
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_A, list, 1));
  QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_SEARCH"), Qt::LeftButton);
  ASSERT_TRUE(world.broadcast.Receive(3000));
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(world.state.routerTable.Count(), 0);

  QPushButton* install = Control<QPushButton>(dlg.get(), "IDC_INSTALL");
  EXPECT_TRUE(install->isEnabled());
  MessageBoxWatcher boxes;
  QTest::mouseClick(install, Qt::LeftButton);
  QTest::qWait(100);
  EXPECT_TRUE(boxes.Seen().empty());
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_NE(dlg->SearchPort(), 0) << "the search socket stays open";
  EXPECT_FALSE(world.ServerIp());
  // The socket still lists routers.
  EXPECT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_B, list, 1));
}

TEST_F(PortSetupDlgTest, EscapeAndCloseBoxStoreNothing) {
  for (bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "Escape" : "close box");
    MainWindowWorld local;
    local.CreateKey();
    auto dlg = std::make_unique<CPortSetupDlg>(local.state);
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_A, RouterList(dlg.get()), 1));
    MessageBoxWatcher boxes;
    if (escape) {
      dlg->activateWindow();
      QWidget* focus = dlg->focusWidget() != nullptr ? dlg->focusWidget() : dlg.get();
      QTest::keyClick(focus, Qt::Key_Escape);
    } else {
      dlg->close();
    }
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_FALSE(local.ServerIp());
  }
}

TEST_F(PortSetupDlgTest, SearchSocketFailureIsReported) {
  CPortSetupDlg dlg(world.state, [](CSearchSocket&) { return false; });
  EXPECT_FALSE(dlg.InitError().isEmpty());
  EXPECT_EQ(dlg.SearchPort(), 0);
}

TEST(MinimisedIcon, IsCentredWithTruncatingDivision) {
  const struct {
    QSize client;
    QPoint at;
  } cases[] = {
      {{36, 36}, {2, 2}},
      {{31, 31}, {0, 0}},  // (31 - 32 + 1) / 2
      {{30, 29}, {0, -1}}, // -1 / 2 is 0, -2 / 2 is -1
      {{37, 100}, {3, 34}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MinimisedIconPosition(c.client, {32, 32}), c.at) << c.client.width() << "x" << c.client.height();
  }
}

// Answers the chooser as a user would, and remembers what it was asked.
class ScriptedChooser : public FileChooser {
 public:
  explicit ScriptedChooser(std::vector<std::optional<FileChoice>> answers) : m_answers(std::move(answers)) {}
  std::optional<FileChoice> ChooseFile(QWidget*, const FileChooserRequest& request) override {
    requests.push_back(request);
    if (m_next >= m_answers.size()) return std::nullopt;
    return m_answers[m_next++];
  }
  std::vector<FileChooserRequest> requests;

 private:
  std::vector<std::optional<FileChoice>> m_answers;
  std::size_t m_next = 0;
};

TEST_F(PortSetupDlgTest, SelectFileFillsFirmwarePathAndSearchesAgain) {
  auto dlg = Open();
  QTreeWidget* list = RouterList(dlg.get());
  QPushButton* search = Control<QPushButton>(dlg.get(), "IDC_SEARCH");
  QLineEdit* field = Control<QLineEdit>(dlg.get(), "IDC_FIRMWARE_PATH");
  const QString first = QString::fromStdString((world.dir.Path() / "fw1.all").string());
  const QString second = QString::fromStdString((world.dir.Path() / "fw2.rst").string());
  const QString tooLong = QString(300, 'x');
  auto owned = std::make_unique<ScriptedChooser>(std::vector<std::optional<FileChoice>>{
      FileChoice{first, "fw1.all"}, std::nullopt, FileChoice{tooLong, "x"}, FileChoice{second, "fw2.rst"}});
  ScriptedChooser* chooser = owned.get();
  dlg->SetFileChooser(std::move(owned));

  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_A, list, 1));
  search->setEnabled(false);
  dlg->OnSelectFile();  // confirmed
  EXPECT_EQ(QString::fromStdString(std::string(world.state.firmwarePath.Path())), first);
  EXPECT_EQ(world.state.firmwarePath.Title(), "fw1.all");
  EXPECT_EQ(field->text(), first);
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_TRUE(search->isEnabled());
  std::optional<std::vector<uint8_t>> sent = world.broadcast.Receive(3000);
  ASSERT_TRUE(sent);
  EXPECT_EQ(*sent, SEARCH_REQUEST);

  // Cancelled, and a path that does not fit the 255-byte field: nothing changes.
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), ROUTER_A, list, 1));
  for (int i = 0; i < 2; ++i) {
    dlg->OnSelectFile();
    EXPECT_EQ(QString::fromStdString(std::string(world.state.firmwarePath.Path())), first);
    EXPECT_EQ(field->text(), first);
    EXPECT_EQ(list->topLevelItemCount(), 1);
  }
  EXPECT_FALSE(world.broadcast.Receive(50));

  dlg->OnSelectFile();
  EXPECT_EQ(world.state.firmwarePath.Title(), "fw2.rst");
  ASSERT_EQ(chooser->requests.size(), 4u);
  EXPECT_EQ(chooser->requests[0].filters, QStringList({"*.all", "*.rst", "*.*"}));
  EXPECT_EQ(chooser->requests[0].initialName, "");
  EXPECT_EQ(chooser->requests[3].initialName, first) << "the previous choice is offered again";
  EXPECT_EQ(chooser->requests[0].initialDir, QDir::currentPath());
}

TEST_F(PortSetupDlgTest, LongCurrentDirectoryLeavesTheInitialFolderToTheChooser) {
  // 98 characters fit; 99 do not.
  for (std::size_t length : {std::size_t{98}, std::size_t{99}}) {
    std::filesystem::path dir = world.dir.Path();
    while (dir.string().size() < length) {
      std::size_t room = length - dir.string().size() - 1;
      dir /= std::string(std::min<std::size_t>(room == 0 ? 1 : room, 40), 'd');
    }
    ASSERT_EQ(dir.string().size(), length);
    std::filesystem::create_directories(dir);
    ScopedWorkDir inside(dir);
    auto dlg = Open();
    auto owned = std::make_unique<ScriptedChooser>(std::vector<std::optional<FileChoice>>{});
    ScriptedChooser* chooser = owned.get();
    dlg->SetFileChooser(std::move(owned));
    dlg->OnSelectFile();
    ASSERT_EQ(chooser->requests.size(), 1u);
    EXPECT_EQ(chooser->requests[0].initialDir.toStdString(), length == 98 ? dir.string() : "");
  }
}

TEST_F(PortSetupDlgTest, QtChooserPicksAnExistingFileAndKeepsTheCurrentDirectory) {
  std::filesystem::path firmwareDir = world.dir.Path() / "firmware";
  std::filesystem::create_directories(firmwareDir);
  test::WriteBytes(firmwareDir / "image.all", "fw");
  const QString before = QDir::currentPath();
  FileChooserRequest request{{"*.all", "*.rst", "*.*"}, QString::fromStdString(firmwareDir.string()), ""};

  for (bool confirm : {true, false}) {
    SCOPED_TRACE(confirm ? "confirmed" : "cancelled");
    QString shownDir;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
      auto* dialog = FindUnansweredWindow<QFileDialog>();
      if (dialog == nullptr) return;
      shownDir = dialog->directory().absolutePath();
      if (!confirm) {
        dialog->reject();
        return;
      }
      // Typed into the file name field, then Enter, as a user would.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(name, nullptr);
      name->clear();
      QTest::keyClicks(name, QStringLiteral("image.all"));
      QTest::keyClick(name, Qt::Key_Return);
    });
    driver.start();
    // Never hang the run: a chooser still open after a while is given up.
    QTimer::singleShot(10000, &driver, [] {
      if (auto* dialog = FindWindow<QFileDialog>()) dialog->reject();
    });
    QtFileChooser chooser;
    std::optional<FileChoice> choice = chooser.ChooseFile(nullptr, request);
    EXPECT_EQ(shownDir.toStdString(), firmwareDir.string());
    EXPECT_EQ(QDir::currentPath(), before);
    if (confirm) {
      ASSERT_TRUE(choice);
      EXPECT_EQ(choice->path.toStdString(), (firmwareDir / "image.all").string());
      EXPECT_EQ(choice->title, "image.all");
    } else {
      EXPECT_FALSE(choice);
    }
  }
}

}  // namespace
}  // namespace corvalink::testing
