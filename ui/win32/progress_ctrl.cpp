#include "win32/progress_ctrl.h"

namespace corvalink {

void CProgressCtrl::Attach(HWND bar) {
  m_bar = bar;
  OnChanged();
}

void CProgressCtrl::OnChanged() {
  if (m_bar == nullptr || !::IsWindow(m_bar)) return;
  ::SendMessageA(m_bar, PBM_SETRANGE32, static_cast<WPARAM>(GetRangeLow()), GetRangeHigh());
  ::SendMessageA(m_bar, PBM_SETSTEP, static_cast<WPARAM>(GetStep()), 0);
  ::SendMessageA(m_bar, PBM_SETPOS, static_cast<WPARAM>(GetPos()), 0);
  // The transfer holds the thread between its steps: show each one now.
  ::UpdateWindow(m_bar);
}

}  // namespace corvalink
