#include "qt/app_message.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QFileInfo>
#include <QStringList>

#include "qt/dialog_builder.h"

namespace corvalink {

QString ApplicationTitle() {
  const QStringList args = QCoreApplication::arguments();
  QString program = args.isEmpty() ? QCoreApplication::applicationFilePath() : args.first();
  return QFileInfo(program).completeBaseName();
}

void ExecMessageBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                    const QString& text, const QString& informative) {
  QMessageBox box(icon, QString(), text, QMessageBox::Ok, owner);
  SetCaption(box, caption);
  box.setTextFormat(Qt::PlainText);
  if (!informative.isEmpty()) box.setInformativeText(informative);
  // Qt sizes the box for its caption in the small title font of an MDI frame; a window
  // manager's title bar uses a bolder font and holds an icon and a close box besides.
  QFont titleFont = QApplication::font();
  titleFont.setBold(true);
  const QFontMetrics fm(titleFont);
  const int titleBarRoom = 4 * fm.height() + 16;  // window icon, close box, margins
  const int captionNeeds = fm.horizontalAdvance(caption) + titleBarRoom;
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  // The text label alone is then made as wide as the whole title bar needs, when its text is
  // narrower. A minimum width takes the place of the label's own size hint in Qt's sizing of
  // the box, so a wider text keeps that hint: the box fits it on one line or wraps it.
  if (label != nullptr && label->sizeHint().width() < captionNeeds) {
    label->setMinimumWidth(captionNeeds);
  }
  box.exec();
}

void ShowAppMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon) {
  ExecMessageBox(owner, icon, ApplicationTitle(), text);
}

}  // namespace corvalink
