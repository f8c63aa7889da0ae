#pragma once
// The upgrade dialog's progress bar: the numbers and their Windows-style rules live in
// ProgressModel (shared with the command line); this class shows them on a QProgressBar.

#include <QPointer>
#include <QProgressBar>

#include "upgrade/progress_bar.h"

class QWidget;

namespace corvalink {

/// Owns a QProgressBar made as a child of `parent` (the parent deletes it; with no parent this
/// object does). Every change of range or position is mirrored onto the bar at once, so the
/// window shows what the model holds whenever it repaints. UI thread only.
class ProgressCtrl : public ProgressModel {
 public:
  explicit ProgressCtrl(QWidget* parent);
  ~ProgressCtrl() override;
  ProgressCtrl(const ProgressCtrl&) = delete;
  ProgressCtrl& operator=(const ProgressCtrl&) = delete;

  QProgressBar* Bar() const { return m_bar; }

 protected:
  void OnChanged() override;

 private:
  QPointer<QProgressBar> m_bar;
};

}  // namespace corvalink
