// The firmware configuration of the main window in the network lab (offscreen): "&Select" in
// the real file dialog, the search it starts answered by router_sim from the router namespace,
// then "Install / Modify" through the password dialog and the upgrade dialog to "Upgrade
// complete" against the simulator's upgrade and TFTP sides on the routers' own ports, router
// after router, with the window and its list kept between them.

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../gui_qt/gui_test_util.h"
#include "../gui_qt/main_window_test_util.h"
#include "../gui_qt/password_answerer.h"
#include "discovery/packet_header.h"
#include "lab_util.h"
#include "qt/port_setup_dlg.h"
#include "qt/upgrade_dlg.h"

namespace corvalink::lab {
namespace {

using testing::MessageBoxWatcher;
using testing::PasswordAnswerer;
using testing::RunUntil;

int UpgradeRequestsRecorded(const LabSimulator& sim) {
  int n = 0;
  for (const sim::LoggedDatagram& d : sim.Recorded()) {
    n += d.bytes.size() >= 2 && d.bytes[0] == PACKET_MAGIC && d.bytes[1] == TYPE_UPGRADE;
  }
  return n;
}

QTreeWidgetItem* RowOf(QTreeWidget* list, const QString& ip) {
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(1) == ip) return list->topLevelItem(i);
  }
  return nullptr;
}

TEST(GuiFirmwareLab, SelectSearchesThenEachRouterIsUpgradedAfterItsPassword) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(90);
  testing::MainWindowWorld world;
  world.state.discoveryDestination = Endpoint{{255, 255, 255, 255}, DISCOVERY_PORT};
  world.state.configuration = MainDialogConfiguration::Firmware;
  world.CreateKey();
  const std::vector<uint8_t> image = RandomBytes(20000, 26);
  WriteFile(world.dir.Path() / "image.all", image);
  TempDir received;

  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", "mac=021122334455,ip=198.18.0.11,location=Locked,password=pw",
                              "--router", "mac=001A2B3C4D5E,ip=198.18.0.10,location=Open",
                              "--tftp", "--tftp-dir", received.Path().string()}));
  CPortSetupDlg dlg(world.state);
  ASSERT_TRUE(dlg.InitError().isEmpty());
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  auto* list = dlg.findChild<QTreeWidget*>(QStringLiteral("IDC_ROUTER_LIST"));
  auto* install = dlg.findChild<QPushButton*>(QStringLiteral("IDC_INSTALL"));
  auto* select = dlg.findChild<QPushButton*>(QStringLiteral("IDC_SELECT_FILE"));
  ASSERT_TRUE(select->isVisible() && select->isEnabled());
  EXPECT_FALSE(install->isEnabled());

  // The file dialog opens in the current directory; the user types the name and presses Enter.
  QTimer chooser;
  chooser.setInterval(20);
  QObject::connect(&chooser, &QTimer::timeout, [] {
    auto* dialog = testing::FindUnansweredWindow<QFileDialog>();
    if (dialog == nullptr) return;
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name == nullptr) return dialog->reject();
    QTest::keyClicks(name, QStringLiteral("image.all"));
    QTest::keyClick(name, Qt::Key_Return);
  });
  chooser.start();
  QTimer::singleShot(15000, &chooser, [] {
    if (auto* dialog = testing::FindWindow<QFileDialog>()) dialog->reject();
  });
  QTest::mouseClick(select, Qt::LeftButton);
  chooser.stop();
  EXPECT_EQ(world.state.firmwarePath.Title(), "image.all");
  ASSERT_TRUE(RunUntil([&] { return list->topLevelItemCount() == 2; }, 5000))
      << "the search that \"&Select\" starts was not answered";
  EXPECT_TRUE(install->isEnabled());
  testing::SaveScreenshot(&dlg, "lab_firmware_rows");

  const std::filesystem::path stored = received.Path() / "image.all";
  const struct {
    const char* ip;
    const char* typed;  // at the password dialog, if it opens
    bool passwordAsked;
    const char* message;
    bool upgraded;
  } steps[] = {
      {"198.18.0.11", "wrong", true, "Password Error", false},
      {"198.18.0.11", "pw", true, "Upgrade complete", true},
      {"198.18.0.10", "unused", false, "Upgrade complete", true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.ip) + " typed " + step.typed);
    std::filesystem::remove(stored);
    const int requestsBefore = UpgradeRequestsRecorded(sim);
    QTreeWidgetItem* row = RowOf(list, QString::fromLatin1(step.ip));
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(row).center());

    PasswordAnswerer answerer(step.typed);
    // A picture of the upgrade dialog while it works, for the documentation.
    QTimer picture;
    picture.setInterval(20);
    QObject::connect(&picture, &QTimer::timeout, [&picture] {
      auto* up = testing::FindWindow<CUpgradeDlg>();
      auto* bar = up != nullptr ? up->findChild<QProgressBar*>(QStringLiteral("IDC_PROGRESS")) : nullptr;
      // Taken during the handshake, while the bar steps.
      if (bar != nullptr && bar->value() >= 1 && bar->value() < bar->maximum()) {
        testing::SaveScreenshot(up, "lab_firmware_upgrade");
        picture.stop();
      }
    });
    if (!step.passwordAsked) picture.start();
    MessageBoxWatcher boxes;
    QTest::mouseClick(install, Qt::LeftButton);  // returns when the road has ended
    EXPECT_EQ(answerer.openings, step.passwordAsked ? 1 : 0);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text.toStdString(), step.message);

    RunUntil([] { return false; }, 200);  // a stray request would be recorded by now
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(list->topLevelItemCount(), 2) << "the list is kept for the next router";
    EXPECT_FALSE(world.ServerIp()) << "nothing is stored as \"Server IP\"";
    if (step.upgraded) {
      EXPECT_GE(UpgradeRequestsRecorded(sim), requestsBefore + 1);
      EXPECT_EQ(ReadFile(stored), image) << "the router did not get the image byte for byte";
    } else {
      EXPECT_EQ(UpgradeRequestsRecorded(sim), requestsBefore) << "a refused password sends nothing";
      EXPECT_FALSE(std::filesystem::exists(stored));
    }
  }
  dlg.reject();
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace corvalink::lab
