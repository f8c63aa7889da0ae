#pragma once
// The password dialog: asks for the chosen router's password and checks it against the
// scrambled form the router table holds. The check itself is the core's (CheckRouterPassword),
// so the command line decides the same way; this class only handles the window and the texts.

#include <QDialog>
#include <QIcon>

#include "password/password_check.h"

class QLineEdit;
class QPushButton;

namespace corvalink {

struct AppState;

/// Ends with PASSWORD_ACCEPTED, PASSWORD_REFUSED (after the error message) or
/// PASSWORD_CANCELLED. Reads AppState.selectedRouter.password and leaves it byte for byte as it
/// was; `state` must outlive the dialog. The typed text is cleared whenever the dialog ends, so
/// a later opening starts empty. UI thread only.
class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPasswordDlg(AppState& state, QWidget* parent = nullptr);
  ~CPasswordDlg() override;

  /// Applies slots 10-12 when the interface text file was loaded; otherwise keeps the defaults.
  void ApplyInterfaceText();
  /// The OK handler (the OK button, or Enter).
  void CheckPassword();

  void accept() override;
  /// Cancel, Escape and the close box end the dialog with PASSWORD_CANCELLED.
  void reject() override;
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void OnInitDialog();
  void ShowPasswordError();
  void ClearTypedText();

  AppState& m_state;

  QLineEdit* m_editPassword = nullptr;
  QPushButton* m_btnOk = nullptr;
  QPushButton* m_btnCancel = nullptr;
  QIcon m_hIcon;
};

}  // namespace corvalink
