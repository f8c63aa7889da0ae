// The password dialog in a real (offscreen) window, driven by typed keys and clicks.

#include "qt/password_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "qt/dev_dialogs.h"
#include "gui_test_util.h"
#include "password/scrambler.h"

// Readable QString values in gtest's failure messages.
static void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace corvalink {
namespace {

using testing::MessageBoxWatcher;

std::array<uint8_t, PASSWORD_SIZE> Held(const std::string& plain) {
  std::array<uint8_t, PASSWORD_SIZE> field{};
  std::copy_n(plain.begin(), std::min(plain.size(), field.size()), field.begin());
  Scramble(field);
  return field;
}

enum class Press { Enter, ClickOk };

class PasswordDlgTest : public ::testing::Test {
 protected:
  void Open(const std::string& routerPassword) {
    state.selectedRouter.password = Held(routerPassword);
    m_dlg = std::make_unique<CPasswordDlg>(state);
    m_dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
  }
  QLineEdit* Edit() { return m_dlg->findChild<QLineEdit*>("IDC_PASSWORD"); }
  QPushButton* Button(const char* name) { return m_dlg->findChild<QPushButton*>(name); }

  /// Types `text` and confirms it; returns once the dialog has ended or a message was shown.
  void Submit(const QString& text, Press press, const MessageBoxWatcher& boxes) {
    for (QChar c : text) {
      // QTest maps only ASCII to keys; other characters arrive as text, as an input method
      // delivers them.
      if (c.unicode() < 0x80) {
        QTest::keyClick(Edit(), c.toLatin1());
      } else {
        QTest::sendKeyEvent(QTest::Click, Edit(), Qt::Key_unknown, QString(c), Qt::NoModifier);
      }
    }
    if (press == Press::Enter) {
      QTest::keyClick(Edit(), Qt::Key_Return);
    } else {
      QTest::mouseClick(Button("IDOK"), Qt::LeftButton);
    }
    QElapsedTimer t;
    t.start();
    while (m_dlg->isVisible() && boxes.Seen().empty() && t.elapsed() < 2000) QTest::qWait(5);
    QTest::qWait(30);  // let the watcher dismiss a box raised after the dialog ended
  }

  AppState state;
  std::unique_ptr<CPasswordDlg> m_dlg;
};

struct CheckCase {
  const char* what;
  std::string routerPassword;
  QString typed;
  Press press;
  int result;  ///< -1: refused, the dialog stays open
  bool message;
};

TEST_F(PasswordDlgTest, DecidesOnTheRouterPasswordAndLeavesTheFieldAsHeld) {
  const QString sixty = QString("ABCDEFGHIJKLMNOPQRSTUVWX") + QString(36, 'Y');
  const CheckCase cases[] = {
      {"right, Enter", "secret", "secret", Press::Enter, PASSWORD_ACCEPTED, false},
      {"right, OK", "secret", "secret", Press::ClickOk, PASSWORD_ACCEPTED, false},
      {"wrong case", "secret", "Secret", Press::Enter, PASSWORD_REFUSED, true},
      {"prefix of it", "secret", "secre", Press::Enter, PASSWORD_REFUSED, true},
      {"it and more", "secret", "secretX", Press::ClickOk, PASSWORD_REFUSED, true},
      {"empty", "secret", "", Press::Enter, PASSWORD_REFUSED, true},
      {"no password, empty", "", "", Press::Enter, PASSWORD_ACCEPTED, false},
      {"no password, text", "", "abc", Press::ClickOk, -1, true},
      {"24 bytes, no NUL", "ABCDEFGHIJKLMNOPQRSTUVWX", "ABCDEFGHIJKLMNOPQRSTUVWX", Press::Enter,
       PASSWORD_ACCEPTED, false},
      {"outside Latin-1", "a?b", QString::fromUtf8("a\u20ACb"), Press::Enter, PASSWORD_REFUSED,
       true},
      {"Windows-1252 euro", "a\x80" "b", QString::fromUtf8("a\u20ACb"), Press::Enter,
       PASSWORD_ACCEPTED, false},
      {"no Windows-1252 byte", "a\x80" "b", QString::fromUtf8("a\u0080b"), Press::Enter,
       PASSWORD_REFUSED, true},
      {"60 characters", "ABCDEFGHIJKLMNOPQRSTUVWX", sixty, Press::Enter, PASSWORD_REFUSED, true},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.routerPassword);
    const auto before = state.selectedRouter.password;
    MessageBoxWatcher boxes;
    Submit(c.typed, c.press, boxes);
    EXPECT_EQ(state.selectedRouter.password, before);
    ASSERT_EQ(boxes.Seen().size(), c.message ? 1u : 0u);
    if (c.message) {
      EXPECT_EQ(boxes.Seen()[0].text, "Password Error");
      EXPECT_EQ(boxes.Seen()[0].title, "Error Message");
      EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::Warning);
    }
    if (c.result < 0) {
      EXPECT_TRUE(m_dlg->isVisible());
      EXPECT_EQ(Edit()->text(), c.typed);
    } else {
      EXPECT_FALSE(m_dlg->isVisible());
      EXPECT_EQ(m_dlg->result(), c.result);
      EXPECT_TRUE(Edit()->text().isEmpty());  // nothing typed survives the dialog
    }
  }
}

TEST_F(PasswordDlgTest, TheHeldScrambledFormIsNotAPassword) {
  // The held form travels in every upgrade request; pasted in, it must not pass.
  Open("secret");
  const auto& held = state.selectedRouter.password;
  const auto end = std::find(held.begin(), held.end(), uint8_t{0});
  ASSERT_NE(end, held.begin());
  Edit()->setText(QString::fromLatin1(reinterpret_cast<const char*>(held.data()),
                                      static_cast<qsizetype>(end - held.begin())));
  MessageBoxWatcher boxes;
  Submit("", Press::Enter, boxes);
  EXPECT_FALSE(m_dlg->isVisible());
  EXPECT_EQ(m_dlg->result(), PASSWORD_REFUSED);
  EXPECT_EQ(boxes.Seen().size(), 1u);
}

TEST_F(PasswordDlgTest, CancelEscapeAndCloseBoxEndWithTwoAndTouchNothing) {
  const std::function<void()> ways[] = {
      [this] { QTest::mouseClick(Button("IDCANCEL"), Qt::LeftButton); },
      [this] { QTest::keyClick(Edit(), Qt::Key_Escape); },
      [this] { m_dlg->close(); },
  };
  for (std::size_t i = 0; i < std::size(ways); ++i) {
    SCOPED_TRACE(i);
    Open("secret");
    const auto before = state.selectedRouter.password;
    MessageBoxWatcher boxes;
    QTest::keyClicks(Edit(), "wrong");
    ways[i]();
    QTest::qWait(30);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), PASSWORD_CANCELLED);
    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(state.selectedRouter.password, before);
  }
}

TEST_F(PasswordDlgTest, TextsComeFromTheTextFileOnlyWhenItWasLoaded) {
  const struct {
    bool loaded;
    const char *caption, *ok, *cancel, *errorCaption, *errorText;
  } rows[] = {
      {false, "Please input router password", "&OK", "&Cancel", "Error Message", "Password Error"},
      // Captions show as written, Qt's "[*]" mark too.
      {true, "Kennwort [*]", "&Ja", "&Nein", "Fehler [*][*]", "Falsches Kennwort"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.loaded);
    state.interfaceText = InterfaceTextTable{};
    state.interfaceText.loaded = row.loaded;
    const std::pair<std::size_t, const char*> slots[] = {
        {10, "Kennwort [*]"}, {11, "&Ja"}, {12, "&Nein"}, {16, "Fehler [*][*]"},
        {17, "Falsches Kennwort"}};
    for (const auto& [slot, text] : slots) {
      std::copy_n(text, std::strlen(text), state.interfaceText.slots[slot].begin());
    }
    Open("secret");
    EXPECT_EQ(testing::ShownCaption(m_dlg.get()), row.caption);
    EXPECT_EQ(Button("IDOK")->text(), row.ok);
    EXPECT_EQ(Button("IDCANCEL")->text(), row.cancel);
    MessageBoxWatcher boxes;
    Submit("nope", Press::Enter, boxes);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].title, row.errorCaption);
    EXPECT_EQ(boxes.Seen()[0].text, row.errorText);
  }
}

TEST_F(PasswordDlgTest, FocusReturnsToTheFieldWhenTheMessageCloses) {
  Open("");
  EXPECT_EQ(QApplication::focusWidget(), Edit());
  QWidget* focusUnderBox = nullptr;
  MessageBoxWatcher boxes([&](QMessageBox*) { focusUnderBox = m_dlg->focusWidget(); });
  Submit("abc", Press::ClickOk, boxes);
  ASSERT_EQ(boxes.Seen().size(), 1u);
  EXPECT_EQ(focusUnderBox, Button("IDOK"));  // the click took the focus to the button
  // A desktop's window manager hands the activation back to the dialog when the box closes; the
  // offscreen platform has none, so the test does it. Activation alone would bring back the
  // button that had the focus.
  m_dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
  EXPECT_EQ(QApplication::focusWidget(), Edit());
  EXPECT_EQ(Edit()->text(), "abc");
  // The user corrects the entry and the dialog accepts it.
  Edit()->clear();
  Submit("", Press::Enter, boxes);
  EXPECT_EQ(m_dlg->result(), PASSWORD_ACCEPTED);
}

TEST_F(PasswordDlgTest, TabStillReachesTheButtons) {
  Open("secret");
  QTest::keyClicks(Edit(), "secret");
  testing::SaveScreenshot(m_dlg.get(), "password");
  EXPECT_EQ(QApplication::focusWidget(), Edit());
  // The focus rule must not trap the keyboard in the field: the buttons repaint as the focus
  // reaches them.
  QTest::keyClick(Edit(), Qt::Key_Tab);
  QTest::qWait(50);
  EXPECT_EQ(QApplication::focusWidget(), Button("IDOK"));
}

TEST(DevDialog, OpensThePasswordDialogOnAScrambledPassword) {
  AppState state;
  state.registryRoot = std::filesystem::temp_directory_path() / "corvalink_no_registry";
  EXPECT_EQ(RunDevDialog(state, "password", {"--password", std::string(25, 'x').c_str()}),
            DEV_DIALOG_USAGE_ERROR);
  QTimer::singleShot(50, [] {
    auto* edit = QApplication::activeModalWidget()->findChild<QLineEdit*>("IDC_PASSWORD");
    QTest::keyClicks(edit, "pw1");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  EXPECT_EQ(RunDevDialog(state, "password", {"--password", "pw1"}), PASSWORD_ACCEPTED);
  EXPECT_EQ(state.selectedRouter.password, Held("pw1"));
}

}  // namespace
}  // namespace corvalink
