#pragma once
// A progress bar as the upgrade drives it: a range, a step, a position, and a step that starts
// over from the bottom once it passes the top. ProgressModel keeps the numbers; a window's bar
// derives from it and shows them.

namespace corvalink {

class ProgressModel {
 public:
  virtual ~ProgressModel() = default;

  /// 16-bit form: low and high are taken as unsigned 16-bit numbers.
  void SetRange(int low, int high);
  void SetRange32(int low, int high);
  void SetStep(int step);
  void SetPos(int pos);
  /// Advances by the step; past the top the position goes back to the bottom.
  void StepIt();
  int GetPos() const { return m_pos; }
  int GetRangeLow() const { return m_low; }
  int GetRangeHigh() const { return m_high; }
  int GetStep() const { return m_step; }

 protected:
  /// Called after every change, for a view to redraw.
  virtual void OnChanged() {}

 private:
  int m_low = 0;
  int m_high = 100;
  int m_step = 10;
  int m_pos = 0;
};

}  // namespace corvalink
