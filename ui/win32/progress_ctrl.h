#pragma once
// The upgrade dialog's progress bar: the numbers and their rules (a 16-bit range, the step that
// starts over past the top) live in the core's ProgressModel, which the transfer drives; this
// class mirrors every change onto the template's progress bar control with PBM_ messages.

#include "upgrade/progress_bar.h"
#include "win32/win_api.h"

namespace corvalink {

class CProgressCtrl : public ProgressModel {
 public:
  /// Binds the control; until then changes are only kept. The window must outlive the binding.
  void Attach(HWND bar);

 protected:
  void OnChanged() override;

 private:
  HWND m_bar = nullptr;
};

}  // namespace corvalink
