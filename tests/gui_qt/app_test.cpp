// The whole program as a user runs it: start-up failures, the main road to a stored address,
// and the exit codes each way out gives.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "qt/app_message.h"
#include "qt/router_tool_app.h"
#include "gui_test_util.h"
#include "main_window_test_util.h"

namespace corvalink::testing {
namespace {

TEST(RouterToolApp, SocketLayerFailureShowsOnlyTheMessage) {
  MainWindowWorld world;
  bool mainWindowSeen = false;
  MessageBoxWatcher boxes([&](QMessageBox*) { mainWindowSeen = FindWindow<CPortSetupDlg>() != nullptr; });
  CRouterToolApp app(world.state, [] { return false; });
  EXPECT_EQ(app.Run(), gui::EXIT_SOCKETS_INIT_FAILED);
  ASSERT_EQ(boxes.Seen().size(), 1u);
  EXPECT_EQ(boxes.Seen()[0].text, "Windows sockets initialization failed.");
  EXPECT_EQ(boxes.Seen()[0].title, ApplicationTitle());
  EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Warning);
  EXPECT_FALSE(mainWindowSeen);
  EXPECT_TRUE(test::ListTree(world.dir.Path()).empty()) << "nothing written anywhere";
}

TEST(RouterToolApp, SearchSocketFailureEndsWithAMessageAndAnErrorCode) {
  MainWindowWorld world;
  MessageBoxWatcher boxes;
  CRouterToolApp app(world.state, [] { return true; }, [](CSearchSocket&) { return false; });
  ::testing::internal::CaptureStderr();
  const int code = app.Run();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, gui::EXIT_SEARCH_SOCKET_FAILED);
  ASSERT_EQ(boxes.Seen().size(), 1u);
  EXPECT_TRUE(boxes.Seen()[0].text.contains("search socket"));
  EXPECT_NE(err.find("search socket"), std::string::npos) << err;
}

TEST(RouterToolApp, ExitCodeTellsHowTheWindowEnded) {
  enum class Way { Install, Escape };
  const struct {
    const char* name;
    bool keyExists;
    Way way;
    int code;
    bool stored;
  } cases[] = {
      {"stored", true, Way::Install, gui::EXIT_OK, true},
      {"key missing", false, Way::Install, gui::EXIT_STORE_FAILED, false},
      {"escape", true, Way::Escape, gui::EXIT_OK, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MainWindowWorld world;
    if (c.keyExists) world.CreateKey();
    MessageBoxWatcher boxes;
    // Plays the user once the main window is up: a router replies, then Install or Escape.
    bool replied = false;
    QTimer user;
    user.setInterval(20);
    QObject::connect(&user, &QTimer::timeout, [&] {
      auto* dlg = FindWindow<CPortSetupDlg>();
      if (dlg == nullptr) return;
      auto* list = dlg->findChild<QTreeWidget*>(QStringLiteral("IDC_ROUTER_LIST"));
      if (!replied) {
        SendReply(dlg->SearchPort(), Router({2, 0, 0, 0, 0, 1}, {198, 18, 0, 10}));
        replied = true;
        return;
      }
      if (list->topLevelItemCount() == 0) return;
      user.stop();
      if (c.way == Way::Install) {
        QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("IDC_INSTALL")), Qt::LeftButton);
      } else {
        QTest::keyClick(dlg, Qt::Key_Escape);
      }
    });
    user.start();
    // Never hang the run: a window still open after a while is closed, and the checks fail.
    QTimer::singleShot(10000, &user, [] {
      if (auto* dlg = FindWindow<CPortSetupDlg>()) dlg->done(-1);
    });
    CRouterToolApp app(world.state, [] { return true; });
    EXPECT_EQ(app.Run(), c.code);
    EXPECT_EQ(world.ServerIp().has_value(), c.stored);
  }
}

}  // namespace
}  // namespace corvalink::testing
