// The progress adapter must show on the QProgressBar what the model holds after every operation,
// also where QProgressBar behaves unlike a Windows bar (it resets on a narrower range, ignores
// out-of-range values and animates an empty range).

#include "qt/progress_ctrl.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QWidget>
#include <functional>

namespace corvalink {
namespace {

TEST(ProgressCtrl, BarShowsWhatTheModelHolds) {
  const struct {
    const char* what;
    std::function<void(ProgressCtrl&)> run;
    int min, max, value;
  } rows[] = {
      {"step-it past the top starts over",
       [](ProgressCtrl& p) {
         p.SetRange(0, 5);
         p.SetStep(1);
         for (int i = 0; i < 6; ++i) p.StepIt();
       },
       0, 5, 0},
      {"a narrower range pulls the position in",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 100);
         p.SetPos(80);
         p.SetRange(0, 5);
       },
       0, 5, 5},
      {"an empty range is an empty bar",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 0);
         p.SetPos(0);
       },
       0, 1, 0},
      {"32-bit range of a large image",
       [](ProgressCtrl& p) { p.SetRange32(0, 65537), p.SetPos(65536); }, 0, 65537, 65536},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    QWidget window;
    ProgressCtrl progress(&window);
    row.run(progress);
    EXPECT_EQ(progress.Bar()->minimum(), row.min);
    EXPECT_EQ(progress.Bar()->maximum(), row.max);
    EXPECT_EQ(progress.Bar()->value(), row.value);
  }
}

}  // namespace
}  // namespace corvalink
