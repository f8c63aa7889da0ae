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

/// Shows `text` modally with one OK button and waits until it is dismissed.
void ShowAppMessage(QWidget* owner, const QString& text,
                    QMessageBox::Icon icon = QMessageBox::Warning);

}  // namespace corvalink
