#pragma once
// Plays the user at the password dialog that a window opens modally: the test cannot act while
// the dialog's own loop runs, so a timer answers it from inside that loop.

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "main_window_test_util.h"
#include "qt/password_dlg.h"

namespace corvalink::testing {

/// Answers the password dialog once: when it shows, types `typed` and presses OK, or presses
/// Cancel when `typed` is null. `openings` counts the dialogs it saw (0 or 1).
class PasswordAnswerer {
 public:
  explicit PasswordAnswerer(const char* typed) : m_typed(typed) {
    m_timer.setInterval(20);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start();
  }
  int openings = 0;

 private:
  void Poll() {
    auto* dlg = FindWindow<CPasswordDlg>();
    if (dlg == nullptr || openings > 0) return;
    ++openings;
    if (m_typed == nullptr) {
      QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("IDCANCEL")), Qt::LeftButton);
      return;
    }
    QTest::keyClicks(dlg->findChild<QLineEdit*>(QStringLiteral("IDC_PASSWORD")), m_typed);
    QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("IDOK")), Qt::LeftButton);
  }

  const char* m_typed;
  QTimer m_timer;
};

}  // namespace corvalink::testing
