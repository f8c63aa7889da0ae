#include "qt/progress_ctrl.h"

#include <QProgressBar>
#include <algorithm>

namespace corvalink {

ProgressCtrl::ProgressCtrl(QWidget* parent) : m_bar(new QProgressBar(parent)) {
  // A Windows progress bar shows no percentage; the chunks alone tell the story.
  m_bar->setTextVisible(false);
  OnChanged();
}

ProgressCtrl::~ProgressCtrl() {
  if (m_bar != nullptr && m_bar->parent() == nullptr) delete m_bar;
}

void ProgressCtrl::OnChanged() {
  if (m_bar == nullptr) return;
  int low = GetRangeLow();
  int high = GetRangeHigh();
  if (high <= low) {
    // QProgressBar turns an empty range into a "busy" animation; a Windows bar with no range
    // simply stays empty.
    m_bar->setRange(0, 1);
    m_bar->setValue(0);
    return;
  }
  m_bar->setRange(low, high);
  // QProgressBar ignores a value outside its range instead of clamping it.
  m_bar->setValue(std::clamp(GetPos(), low, high));
}

}  // namespace corvalink
