#pragma once
// Shared helpers for the window tests: answering the message boxes a dialog raises while its
// modal loop runs, and saving what a window looks like.

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <vector>

namespace corvalink::testing {

/// What a message box showed before the watcher dismissed it.
struct SeenMessageBox {
  QString title;  // as shown
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::TextFormat format = Qt::AutoText;
  int width = 0;
  bool textWhole = false;  // the text label shows all its lines, unclipped
};

/// Whether a message box's text label shows all of its text: wide enough for its longest
/// line, or wrapped and tall enough for the wrapped lines.
inline bool TextShownWhole(QMessageBox* box) {
  auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  if (label == nullptr) return false;
  const QFontMetrics fm(label->font());
  int longest = 0;
  for (const QString& line : label->text().split(QLatin1Char('\n'))) {
    longest = std::max(longest, fm.horizontalAdvance(line));
  }
  if (label->contentsRect().width() >= longest) return true;
  return label->wordWrap() && label->height() >= label->heightForWidth(label->width());
}

/// The caption as the window system got it to show, once the window exists.
inline QString ShownCaption(QWidget* window) {
  return window->windowHandle() != nullptr ? window->windowHandle()->title() : window->windowTitle();
}

/// The least width a box needs so that a window manager's title bar shows `caption` whole: the
/// caption in the bold title font, beside a window icon and a close box.
inline int TitleBarWidthFor(const QString& caption) {
  QFont bold = QApplication::font();
  bold.setBold(true);
  const QFontMetrics fm(bold);
  return fm.horizontalAdvance(caption) + 3 * fm.height();
}

/// Polls for modal message boxes and dismisses each one (after `beforeDismiss`, if given),
/// remembering what it showed. Lives as long as the test needs it.
class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(std::function<void(QMessageBox*)> beforeDismiss = {})
      : m_beforeDismiss(std::move(beforeDismiss)) {
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start();
  }
  const std::vector<SeenMessageBox>& Seen() const { return m_seen; }

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible() || box->property("seenByWatcher").toBool()) continue;
      box->setProperty("seenByWatcher", true);
      m_seen.push_back({ShownCaption(box), box->text(), box->icon(), box->textFormat(), box->width(),
                        TextShownWhole(box)});
      if (m_beforeDismiss) m_beforeDismiss(box);
      QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
    }
  }
  std::function<void(QMessageBox*)> m_beforeDismiss;
  QTimer m_timer;
  std::vector<SeenMessageBox> m_seen;
};

/// Saves a picture of the window to $CORVALINK_SCREENSHOT_DIR/<name>.png when that is set.
inline void SaveScreenshot(QWidget* window, const QString& name) {
  QString dir = qEnvironmentVariable("CORVALINK_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  window->grab().save(dir + "/" + name + ".png");
}

}  // namespace corvalink::testing
