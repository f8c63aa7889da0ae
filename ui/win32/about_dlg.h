#pragma once
// The about box: the icon, the version line and OK, all from template IDD_ABOUTBOX.

#include "app/resource_ids.h"
#include "win32/win_dialog.h"

namespace corvalink {

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(HWND parent = nullptr) : CDialog(IDD_ABOUTBOX, parent) {}
};

}  // namespace corvalink
