#include "app/app_message.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

namespace corvalink {

QString ApplicationTitle() {
  const QStringList args = QCoreApplication::arguments();
  QString program = args.isEmpty() ? QCoreApplication::applicationFilePath() : args.first();
  return QFileInfo(program).completeBaseName();
}

void ShowAppMessage(QWidget* owner, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, ApplicationTitle(), text, QMessageBox::Ok, owner);
  box.exec();
}

}  // namespace corvalink
