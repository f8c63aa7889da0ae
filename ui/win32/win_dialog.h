#pragma once
// The dialog base the four dialogs derive from: a dialog template of the program's resources,
// run modally (DialogBoxParamA) or modelessly (CreateDialogParamA), its messages handed to one
// virtual handler. Each dialog handles commands and notifications by control identifier there.

#include "win32/win_api.h"

namespace corvalink {

class CDialog {
 public:
  /// `templateId` is the resource number of the template; `parent` may be null.
  CDialog(int templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  /// Runs the dialog modally and returns the value it was ended with, or -1 when the template
  /// could not be made into a window.
  INT_PTR DoModal();
  /// The same with `owner` as the owner window for this run: the owner is disabled while the
  /// dialog runs, so it cannot start the dialog a second time.
  INT_PTR DoModal(HWND owner);
  /// Creates the dialog modelessly with `parent`; false when the template could not be used.
  bool Create(HWND parent);

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

 protected:
  /// One window message. Returns TRUE when handled (with `result` as the dialog's answer for
  /// the few messages that return one directly), FALSE for the system's dialog handling.
  virtual INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  void EndDialog(INT_PTR result);
  /// Sets the window's big and then its small icon.
  void SetIcons(HICON icon);

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  int m_templateId;
  HWND m_parent;
  bool m_modeless = false;
};

/// The module the resources live in.
HINSTANCE ResourceModule();

/// Gives control `id` of `dialog` the single-byte text `text` (shown with the system's ampersand
/// rule where the control has one).
void SetItemText(HWND dialog, int id, const char* text);

}  // namespace corvalink
