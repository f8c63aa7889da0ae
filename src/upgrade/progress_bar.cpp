#include "upgrade/progress_bar.h"

#include <cstdint>

namespace corvalink {

void ProgressModel::SetRange(int low, int high) {
  // The 16-bit form packs both ends into one 32-bit message parameter as unsigned words.
  SetRange32(static_cast<uint16_t>(low), static_cast<uint16_t>(high));
}

void ProgressModel::SetRange32(int low, int high) {
  m_low = low;
  m_high = high;
  // A bar never shows a position outside its range.
  if (m_pos < m_low) m_pos = m_low;
  if (m_pos > m_high) m_pos = m_high;
  OnChanged();
}

void ProgressModel::SetStep(int step) {
  m_step = step;
  OnChanged();
}

void ProgressModel::SetPos(int pos) {
  if (pos < m_low) pos = m_low;
  if (pos > m_high) pos = m_high;
  m_pos = pos;
  OnChanged();
}

void ProgressModel::StepIt() {
  // Computed wide so a large step near INT_MAX wraps to the bottom instead of overflowing.
  const int64_t next = static_cast<int64_t>(m_pos) + m_step;
  m_pos = (next > m_high || next < m_low) ? m_low : static_cast<int>(next);
  OnChanged();
}

}  // namespace corvalink
