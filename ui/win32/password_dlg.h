#pragma once
// The password dialog (template IDD_PASSWORD): asks for the chosen router's password and checks
// it with the core's CheckRouterPassword against the scrambled form AppState holds.

#include "app/app_state.h"
#include "app/resource_ids.h"
#include "password/password_check.h"
#include "win32/win_dialog.h"

namespace corvalink {

static_assert(PASSWORD_CANCELLED == IDCANCEL, "Cancel ends the dialog as the system's Cancel");

/// Ends with PASSWORD_ACCEPTED, PASSWORD_REFUSED (after the error message) or
/// PASSWORD_CANCELLED; leaves state.selectedRouter.password byte for byte as it was. The typed
/// text is wiped from the edit whenever the dialog ends. `state` must outlive the dialog.
class CPasswordDlg : public CDialog {
 public:
  explicit CPasswordDlg(AppState& state, HWND parent = nullptr);
  ~CPasswordDlg() override;

  /// Slots 10-12 as caption and button texts when the interface text file was loaded.
  void ApplyInterfaceText();
  /// The OK handler (the OK button, or Enter).
  void CheckPassword();

 protected:
  INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;
  void OnOK() override { CheckPassword(); }
  void OnCancel() override;

 private:
  void ShowPasswordError();
  void ClearTypedText();

  AppState& m_state;
  HWND m_editPassword = nullptr;
  HWND m_btnOk = nullptr;
  HWND m_btnCancel = nullptr;
  HICON m_hIcon;
};

}  // namespace corvalink
