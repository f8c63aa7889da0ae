// The about box and the system command that opens it.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qt/about_dlg.h"
#include "qt/port_setup_dlg.h"
#include "gui_test_util.h"
#include "main_window_test_util.h"

namespace corvalink::testing {
namespace {

struct AboutSeen {
  int opened = 0;
  QString title;
  QStringList texts;
  bool hasIcon = false;
};

// Runs `action` while a poll answers every about box with a click on its OK button.
AboutSeen RunAnsweringAboutBoxes(const std::function<void()>& action, const char* screenshot = nullptr) {
  AboutSeen seen;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* about = FindUnansweredWindow<CAboutDlg>();
    if (about == nullptr) return;
    ++seen.opened;
    seen.title = about->windowTitle();
    for (QLabel* label : about->findChildren<QLabel*>()) {
      if (!label->pixmap().isNull()) seen.hasIcon = true;
      if (!label->text().isEmpty()) seen.texts << label->text();
    }
    if (screenshot != nullptr) {
      SaveScreenshot(about, QString::fromLatin1(screenshot));
    }
    QPushButton* ok = about->findChild<QPushButton*>(QStringLiteral("IDOK"));
    if (ok != nullptr) QTest::mouseClick(ok, Qt::LeftButton);
    if (about->isVisible()) about->done(-1);  // OK did not end it: OkEndsItAccepted fails
  });
  poll.start();
  action();
  QTest::qWait(30);
  return seen;
}

TEST(AboutBox, OpensOnTheAboutCommandWhateverItsLowBits) {
  MainWindowWorld world;
  CPortSetupDlg dlg(world.state);
  dlg.show();
  const struct {
    unsigned command;
    int opens;
  } cases[] = {{0x0010, 1}, {0x001F, 1}, {0x0020, 0}, {0x0000, 0}, {0xF010, 0}};
  for (const auto& c : cases) {
    AboutSeen seen = RunAnsweringAboutBoxes([&] { dlg.OnSysCommand(c.command); },
                                            c.command == 0x0010 ? "about" : nullptr);
    EXPECT_EQ(seen.opened, c.opens) << std::hex << c.command;
    if (c.opens == 0) continue;
    EXPECT_EQ(seen.title, "About Corvalink");
    EXPECT_TRUE(seen.texts.contains("Corvalink Version 1.0"));
    EXPECT_EQ(seen.texts.size(), 2) << "the version and one more line";
    EXPECT_TRUE(seen.hasIcon);
  }
  EXPECT_TRUE(dlg.isVisible()) << "the main window stays";
}

TEST(AboutBox, OkEndsItAccepted) {
  CAboutDlg about;
  QTimer::singleShot(50, &about, [&] {
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("IDOK")), Qt::LeftButton);
  });
  QTimer::singleShot(5000, &about, [&] { about.done(-1); });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace corvalink::testing
