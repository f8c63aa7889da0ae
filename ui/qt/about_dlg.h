#pragma once
// The about box: the program's icon, its name and version, and an OK button. Opened by the
// main dialog's about system command.

#include <QDialog>

namespace corvalink {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace corvalink
