#include "win32/password_dlg.h"

#include <array>
#include <string>
#include <string_view>

#include "password/password_check.h"
#include "text/ui_texts.h"

namespace corvalink {
namespace {

void SetText(HWND window, const InterfaceTextTable& table, UiText text) {
  ::SetWindowTextA(window, std::string(ShownText(table, text)).c_str());
}

}  // namespace

CPasswordDlg::CPasswordDlg(AppState& state, HWND parent)
    : CDialog(IDD_PASSWORD, parent),
      m_state(state),
      m_hIcon(::LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

CPasswordDlg::~CPasswordDlg() { ClearTypedText(); }

BOOL CPasswordDlg::OnInitDialog() {
  m_editPassword = Item(IDC_PASSWORD);
  m_btnOk = Item(IDOK);
  m_btnCancel = Item(IDCANCEL);
  SetIcons(m_hIcon);
  ApplyInterfaceText();
  return TRUE;
}

void CPasswordDlg::ApplyInterfaceText() {
  const InterfaceTextTable& table = m_state.interfaceText;
  if (!table.loaded) return;
  SetText(m_hWnd, table, UiText::PasswordCaption);
  SetText(m_btnOk, table, UiText::PasswordOk);
  SetText(m_btnCancel, table, UiText::PasswordCancel);
}

INT_PTR CPasswordDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    // Every paint of the dialog, the first one included, puts the focus in the password edit.
    PAINTSTRUCT ps;
    ::BeginPaint(m_hWnd, &ps);
    ::SetFocus(m_editPassword);
    ::EndPaint(m_hWnd, &ps);
    return TRUE;
  }
  return CDialog::OnMessage(msg, wParam, lParam);
}

void CPasswordDlg::CheckPassword() {
  // 49 characters and a NUL: a longer entry is cut.
  std::array<char, MAX_TYPED_PASSWORD + 1> typed{};
  const int length = ::GetWindowTextA(m_editPassword, typed.data(), static_cast<int>(typed.size()));
  const PasswordVerdict verdict = CheckRouterPassword(
      m_state.selectedRouter.password,
      std::string_view(typed.data(), length > 0 ? static_cast<std::size_t>(length) : 0));
  SecureWipe(typed.data(), typed.size());

  const PasswordDialogStep step = StepForVerdict(verdict);
  if (step.clearTyped) ClearTypedText();
  if (step.endWith) EndDialog(*step.endWith);
  if (step.showError) ShowPasswordError();
}

void CPasswordDlg::OnCancel() {
  ClearTypedText();
  EndDialog(PASSWORD_CANCELLED);
}

void CPasswordDlg::ShowPasswordError() {
  const InterfaceTextTable& table = m_state.interfaceText;
  ::MessageBoxA(m_hWnd, std::string(ShownText(table, UiText::PasswordErrorText)).c_str(),
                std::string(ShownText(table, UiText::PasswordErrorCaption)).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

void CPasswordDlg::ClearTypedText() {
  // The edit keeps its text in its own memory until it is replaced; no password stays there.
  if (m_editPassword != nullptr && ::IsWindow(m_editPassword)) {
    ::SetWindowTextA(m_editPassword, "");
  }
}

}  // namespace corvalink
