#pragma once
// Messages raised on the application's behalf (as opposed to a dialog's own messages): they
// carry the application title as their caption, belong to the main window while it exists, and
// show the exclamation icon unless told otherwise.

#include <QMessageBox>
#include <QString>

class QWidget;

namespace corvalink {

/// The program file's name without directory and extension ("corvalink").
QString ApplicationTitle();

/// Shows a message box modally with one OK button and waits until it is dismissed: `text` and
/// `caption` are never markup, and the box is wide enough for its caption in a title bar.
void ExecMessageBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                    const QString& text,
                    const QString& informative = QString());

/// Shows `text` modally with one OK button and waits until it is dismissed.
void ShowAppMessage(QWidget* owner, const QString& text,
                    QMessageBox::Icon icon = QMessageBox::Warning);

}  // namespace corvalink
