// The main window in its firmware configuration (offscreen, everything on loopback): the row
// below the list, "&Select", and "Install / Modify" through the password dialog to the upgrade
// dialog against the in-process simulator, back to the list each time. Also that the default
// configuration never opens either dialog.

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "gui_test_util.h"
#include "main_window_test_util.h"
#include "password_answerer.h"
#include "qt/dialog_units.h"
#include "qt/file_chooser.h"
#include "qt/password_dlg.h"
#include "qt/port_setup_dlg.h"
#include "qt/upgrade_dlg.h"
#include "simulator.h"

namespace corvalink::testing {
namespace {

// Answers "&Select" with one file, every time.
class OneFileChooser : public FileChooser {
 public:
  explicit OneFileChooser(std::filesystem::path file) : m_file(std::move(file)) {}
  std::optional<FileChoice> ChooseFile(QWidget*, const FileChooserRequest&) override {
    ++asked;
    return FileChoice{QString::fromStdString(m_file.string()),
                      QString::fromStdString(m_file.filename().string())};
  }
  int asked = 0;

 private:
  std::filesystem::path m_file;
};

// The one horizontal line among the window's frames (labels and the list are frames too).
QFrame* EtchedLine(QWidget* dlg) {
  for (QFrame* frame : dlg->findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (frame->frameShape() == QFrame::HLine) return frame;
  }
  return nullptr;
}

class FirmwareConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world.state.configuration = MainDialogConfiguration::Firmware;
    world.CreateKey();
    m_firmware = world.dir.Path() / "image.all";
    m_content.resize(1500);
    for (std::size_t i = 0; i < m_content.size(); ++i) m_content[i] = static_cast<uint8_t>(i * 13 + 1);
    std::ofstream(m_firmware, std::ios::binary)
        .write(reinterpret_cast<const char*>(m_content.data()), static_cast<std::streamsize>(m_content.size()));
  }
  void TearDown() override { m_sim.Stop(); }

  /// The simulator on loopback as every router's upgrade and TFTP side.
  void StartSimulator() {
    sim::SimOptions options;
    options.bindAddress = {127, 0, 0, 1};
    options.searchPort = 0;
    options.tftpEnabled = true;
    options.tftpPort = 0;
    std::string err;
    ASSERT_TRUE(m_sim.Start(options, &err)) << err;
    world.state.upgradePort = m_sim.Sim().SearchPort();
    world.state.tftpPort = m_sim.Sim().TftpPort();
  }

  std::unique_ptr<CPortSetupDlg> Open() {
    auto dlg = std::make_unique<CPortSetupDlg>(world.state);
    auto chooser = std::make_unique<OneFileChooser>(m_firmware);
    m_chooser = chooser.get();
    dlg->SetFileChooser(std::move(chooser));
    dlg->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    return dlg;
  }

  MainWindowWorld world;
  std::filesystem::path m_firmware;
  std::vector<uint8_t> m_content;
  OneFileChooser* m_chooser = nullptr;
  sim::SimulatorThread m_sim;
};

TEST_F(FirmwareConfigTest, RowIsShownBelowTheListAndInstallWaitsForAFile) {
  auto dlg = Open();
  const DialogUnits du = DialogUnits::ForFont(dlg->font());
  EXPECT_EQ(dlg->size(), du.Size(339, FIRMWARE_DIALOG_CY));
  QTreeWidget* list = RouterList(dlg.get());
  const struct {
    QWidget* control;
    DialogUnitRect at;
  } row[] = {
      {Control<QPushButton>(dlg.get(), "IDC_SELECT_FILE"), FIRMWARE_SELECT_RECT},
      {Control<QLabel>(dlg.get(), "IDC_FIRMWARE_LABEL"), FIRMWARE_LABEL_RECT},
      {Control<QLineEdit>(dlg.get(), "IDC_FIRMWARE_PATH"), FIRMWARE_PATH_RECT},
      {EtchedLine(dlg.get()), FIRMWARE_LINE_RECT},
  };
  for (const auto& c : row) {
    ASSERT_NE(c.control, nullptr);
    SCOPED_TRACE(c.control->metaObject()->className());
    EXPECT_TRUE(c.control->isVisible());
    EXPECT_TRUE(c.control->isEnabled());
    EXPECT_EQ(c.control->geometry(), du.Rect(c.at.x, c.at.y, c.at.cx, c.at.cy));
    EXPECT_FALSE(c.control->geometry().intersects(list->geometry())) << "hidden by the list";
    EXPECT_TRUE(dlg->rect().contains(c.control->geometry()));
  }
  EXPECT_FALSE(row[1].control->geometry().intersects(row[2].control->geometry()));
  EXPECT_FALSE(row[2].control->geometry().intersects(row[0].control->geometry()));
  EXPECT_EQ(static_cast<QLabel*>(row[1].control)->text(), "Choose Firmware File : ");

  // A router listed before a file is chosen: nothing to install yet, not even by double-click.
  QPushButton* install = Control<QPushButton>(dlg.get(), "IDC_INSTALL");
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), Router({2, 0, 0, 0, 0, 1}, LOOPBACK), list, 1));
  EXPECT_FALSE(install->isEnabled());
  PasswordAnswerer answerer("pw");
  dlg->OnDblclkRouterList();
  QTest::qWait(100);
  EXPECT_EQ(answerer.openings, 0);

  // "&Select": the field shows the file, the list is emptied and a search goes out; the next
  // router listed enables "Install / Modify".
  QTest::mouseClick(row[0].control, Qt::LeftButton);
  EXPECT_EQ(m_chooser->asked, 1);
  EXPECT_EQ(static_cast<QLineEdit*>(row[2].control)->text().toStdString(), m_firmware.string());
  EXPECT_TRUE(static_cast<QLineEdit*>(row[2].control)->isReadOnly());
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_TRUE(world.broadcast.Receive(3000)) << "no search after the choice";
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), Router({2, 0, 0, 0, 0, 1}, LOOPBACK), list, 1));
  EXPECT_TRUE(install->isEnabled());
  SaveScreenshot(dlg.get(), "main_firmware");
}

TEST_F(FirmwareConfigTest, InstallRunsPasswordThenUpgradeAndComesBackToTheList) {
  StartSimulator();
  const struct {
    const char* name;
    const char* password;  // the router's
    const char* typed;     // null: Cancel
    bool upgraded;
    std::vector<QString> messages;
  } cases[] = {
      {"no password: straight to the upgrade", "", "unused", true, {"Upgrade complete"}},
      {"right password", "pw", "pw", true, {"Upgrade complete"}},
      {"wrong password", "pw", "nope", false, {"Password Error"}},
      {"cancelled", "pw", nullptr, false, {}},
  };
  auto dlg = Open();
  QTreeWidget* list = RouterList(dlg.get());
  QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_SELECT_FILE"), Qt::LeftButton);
  std::size_t transfers = 0;
  int requests = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Two routers on loopback; the one under test is the newest, so it is marked.
    sim::SimRouter other = Router({2, 0, 0, 0, 0, 0x0A}, LOOPBACK, "Other");
    sim::SimRouter router = Router({2, 0, 0, 0, 0, 0x0B}, LOOPBACK, "Under test");
    router.password = c.password;
    QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_SEARCH"), Qt::LeftButton);
    ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), other, list, 1));
    ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), router, list, 2));

    PasswordAnswerer answerer(c.typed);
    MessageBoxWatcher boxes;
    QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_INSTALL"), Qt::LeftButton);
    // The upgrade dialog is modal: the click returns once it has ended.
    EXPECT_EQ(answerer.openings, c.password[0] == '\0' ? 0 : 1);
    std::vector<QString> texts;
    for (const SeenMessageBox& box : boxes.Seen()) texts.push_back(box.text);
    EXPECT_EQ(texts, c.messages);

    QTest::qWait(100);
    EXPECT_TRUE(dlg->isVisible()) << "the main window stays for the next router";
    ASSERT_EQ(list->topLevelItemCount(), 2) << "the list is kept";
    EXPECT_EQ(list->topLevelItem(0)->text(3), "Under test");
    EXPECT_NE(dlg->SearchPort(), 0) << "the search socket stays open";
    EXPECT_FALSE(world.ServerIp()) << "nothing is stored as \"Server IP\"";

    if (c.upgraded) {
      ++transfers;
      EXPECT_GE(m_sim.Sim().UpgradeRequests(), requests + 1);
    } else {
      EXPECT_EQ(m_sim.Sim().UpgradeRequests(), requests) << "nothing sent to the router";
    }
    requests = m_sim.Sim().UpgradeRequests();
    const std::vector<sim::TftpTransfer> done = m_sim.Sim().Transfers();
    ASSERT_EQ(done.size(), transfers);
    if (c.upgraded) {
      EXPECT_TRUE(done.back().complete) << done.back().failure;
      EXPECT_EQ(done.back().name, "image.all");
      EXPECT_EQ(done.back().data, m_content);
    }
  }
}

TEST_F(FirmwareConfigTest, DefaultConfigurationStoresTheAddressAndOpensNeitherDialog) {
  world.state.configuration = MainDialogConfiguration::ServerSetup;
  auto dlg = Open();
  EXPECT_FALSE(Control<QPushButton>(dlg.get(), "IDC_SELECT_FILE")->isVisible());
  EXPECT_FALSE(Control<QLineEdit>(dlg.get(), "IDC_FIRMWARE_PATH")->isVisible());
  // Even with a file chosen behind the hidden button and a router with a password.
  dlg->OnSelectFile();
  ASSERT_TRUE(ReplyAndWait(dlg->SearchPort(), Router({2, 0, 0, 0, 0, 1}, {198, 18, 0, 30}), RouterList(dlg.get()), 1));
  PasswordAnswerer answerer("pw");
  MessageBoxWatcher boxes;
  QTest::mouseClick(Control<QPushButton>(dlg.get(), "IDC_INSTALL"), Qt::LeftButton);
  QTest::qWait(100);
  EXPECT_EQ(answerer.openings, 0);
  EXPECT_EQ(FindWindow<CUpgradeDlg>(), nullptr);
  EXPECT_EQ(boxes.Seen().size(), 1u) << "the confirmation alone";
  EXPECT_FALSE(dlg->isVisible());
  std::optional<RegistryValue> stored = world.ServerIp();
  ASSERT_TRUE(stored);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored->data.data())), "198.18.0.30");
}

}  // namespace
}  // namespace corvalink::testing
