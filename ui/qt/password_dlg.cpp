#include "qt/password_dlg.h"

#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPushButton>
#include <QRegion>
#include <QShowEvent>
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "qt/app_icon.h"
#include "qt/app_message.h"
#include "app/app_state.h"
#include "qt/dialog_builder.h"
#include "qt/dialog_units.h"
#include "password/password_check.h"
#include "text/ansi_text.h"

namespace corvalink {
CPasswordDlg::CPasswordDlg(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_hIcon(AppIcon()) {
  const DialogUnits du = DialogUnits::ForFont(font());
  SetUpDialogFrame(*this, CORVALINK_ID(IDD_PASSWORD), BuiltInQText(UiText::PasswordCaption),
                   du.Size(151, 50));

  // Created in the template's tab order: OK, Cancel, the password field.
  m_btnOk = PlaceControl<QPushButton>(this, ID_OK, du.Rect(7, 28, 60, 14), BuiltInQText(UiText::PasswordOk));
  m_btnOk->setDefault(true);

  m_btnCancel = PlaceControl<QPushButton>(this, ID_CANCEL, du.Rect(84, 28, 60, 14),
                                          BuiltInQText(UiText::PasswordCancel));

  m_editPassword =
      PlaceControl<QLineEdit>(this, CORVALINK_ID(IDC_PASSWORD), du.Rect(7, 7, 137, 14));
  m_editPassword->setEchoMode(QLineEdit::Password);
  m_editPassword->setAlignment(Qt::AlignCenter);

  setTabOrder(m_btnOk, m_btnCancel);
  setTabOrder(m_btnCancel, m_editPassword);

  connect(m_btnOk, &QPushButton::clicked, this, &CPasswordDlg::CheckPassword);
  connect(m_btnCancel, &QPushButton::clicked, this, &CPasswordDlg::reject);
}

CPasswordDlg::~CPasswordDlg() { ClearTypedText(); }

void CPasswordDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) OnInitDialog();
  QDialog::showEvent(event);
}

void CPasswordDlg::OnInitDialog() {
  setWindowIcon(m_hIcon);
  ApplyInterfaceText();
  m_editPassword->setFocus();
}

void CPasswordDlg::ApplyInterfaceText() {
  const InterfaceTextTable& table = m_state.interfaceText;
  SetCaption(*this, QtText(table, UiText::PasswordCaption));
  m_btnOk->setText(QtText(table, UiText::PasswordOk));
  m_btnCancel->setText(QtText(table, UiText::PasswordCancel));
}

void CPasswordDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  // Qt repaints the dialog beneath a child whenever the child redraws itself (a pressed button,
  // a focus frame). Only a paint that reaches the dialog's own surface counts as the dialog being
  // painted; moving the focus on a child's redraw would release a button mid-click and undo Tab.
  QRegion own = event->region();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child->isVisible()) own -= child->geometry();
  }
  if (!own.isEmpty()) m_editPassword->setFocus();
}

bool CPasswordDlg::event(QEvent* event) {
  // Qt does not repaint a window that a closing message box uncovered (its backing store still
  // holds the picture), so the focus also goes back to the field when the dialog is activated.
  if (event->type() == QEvent::WindowActivate) m_editPassword->setFocus();
  return QDialog::event(event);
}

void CPasswordDlg::CheckPassword() {
  // `typedText` shares the field's buffer; once the field is cleared it is the only owner and
  // can be wiped in place. Copies made inside QLineEdit (its undo history) cannot be reached.
  QString typedText = m_editPassword->text();
  std::array<char, MAX_TYPED_PASSWORD + 1> typed{};
  const std::size_t length =
      std::min<std::size_t>(static_cast<std::size_t>(typedText.size()), MAX_TYPED_PASSWORD);
  for (std::size_t i = 0; i < length; ++i) {
    // Router passwords are single-byte (Windows-1252) text. A character outside it becomes a
    // zero byte, which no stored password can contain, rather than a '?' that one could.
    const std::optional<uint8_t> b = CodePointToAnsi(typedText[static_cast<qsizetype>(i)].unicode());
    typed[i] = b && *b != 0 ? static_cast<char>(*b) : '\0';
  }
  const PasswordVerdict verdict =
      CheckRouterPassword(m_state.selectedRouter.password, std::string_view(typed.data(), length));
  SecureWipe(typed.data(), typed.size());

  const PasswordDialogStep step = StepForVerdict(verdict);
  if (step.clearTyped) {
    m_editPassword->clear();
    if (!typedText.isEmpty()) {
      SecureWipe(typedText.data(), static_cast<std::size_t>(typedText.size()) * sizeof(QChar));
    }
  }
  if (step.endWith) done(*step.endWith);
  if (step.showError) ShowPasswordError();
}

void CPasswordDlg::ShowPasswordError() {
  const InterfaceTextTable& table = m_state.interfaceText;
  ExecMessageBox(this, QMessageBox::Warning, QtText(table, UiText::PasswordErrorCaption),
                 QtText(table, UiText::PasswordErrorText));
}

void CPasswordDlg::ClearTypedText() {
  if (m_editPassword != nullptr) m_editPassword->clear();
}

void CPasswordDlg::accept() { CheckPassword(); }

void CPasswordDlg::reject() { done(PASSWORD_CANCELLED); }

void CPasswordDlg::done(int result) {
  ClearTypedText();
  QDialog::done(result);
}

}  // namespace corvalink
