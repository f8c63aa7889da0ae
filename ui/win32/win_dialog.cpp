#include "win32/win_dialog.h"

namespace corvalink {

HINSTANCE ResourceModule() { return ::GetModuleHandleA(nullptr); }

void SetItemText(HWND dialog, int id, const char* text) { ::SetDlgItemTextA(dialog, id, text); }

CDialog::~CDialog() {
  if (m_modeless && m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
  m_modeless = false;
  return ::DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(m_templateId), m_parent,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialog::DoModal(HWND owner) {
  m_modeless = false;
  return ::DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(m_templateId), owner,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HWND parent) {
  m_modeless = true;
  m_parent = parent;
  return ::CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(m_templateId), parent,
                              &CDialog::DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::EndDialog(INT_PTR result) {
  if (m_hWnd == nullptr) return;
  if (m_modeless) {
    ::DestroyWindow(m_hWnd);
  } else {
    ::EndDialog(m_hWnd, result);
  }
}

void CDialog::SetIcons(HICON icon) {
  ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

INT_PTR CDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM /*lParam*/) {
  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      if (LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CDialog* self = nullptr;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    self->m_hWnd = hwnd;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  } else {
    self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  const INT_PTR result = self->OnMessage(msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    self->m_hWnd = nullptr;
    ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
  }
  return result;
}

}  // namespace corvalink
