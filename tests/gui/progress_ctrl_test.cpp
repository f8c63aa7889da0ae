// The progress adapter must show on the QProgressBar exactly what the model holds after every
// operation, including the cases QProgressBar treats differently from a Windows bar.

#include "app/progress_ctrl.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QWidget>
#include <functional>

namespace corvalink {
namespace {

TEST(ProgressCtrl, BarMirrorsTheModelAfterEveryOperation) {
  const struct {
    const char* what;
    std::function<void(ProgressCtrl&)> run;
    int min, max, value;
  } rows[] = {
      {"handshake cycle passes the top and starts over",
       [](ProgressCtrl& p) {
         p.SetRange(0, 5);
         p.SetStep(1);
         for (int i = 0; i < 6; ++i) p.StepIt();
       },
       0, 5, 0},
      {"16-bit range keeps the low words",
       [](ProgressCtrl& p) {
         p.SetRange(0, 0x12345);
         p.SetPos(0x2000);
       },
       0, 0x2345, 0x2000},
      {"32-bit range for a large image",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 65537);
         p.SetPos(65536);
       },
       0, 65537, 65536},
      {"position beyond the top is held at the top",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 3);
         p.SetPos(9);
       },
       0, 3, 3},
      {"shrinking the range pulls the position in",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 100);
         p.SetPos(80);
         p.SetRange(0, 5);
       },
       0, 5, 5},
      {"an empty range shows an empty bar, not a busy one",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 0);
         p.SetPos(0);
       },
       0, 1, 0},
      {"final fill reaches the top",
       [](ProgressCtrl& p) {
         p.SetRange32(0, 3);
         p.SetPos(0);
         p.SetStep(1);
         while (p.GetPos() != p.GetRangeHigh()) p.StepIt();
       },
       0, 3, 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    QWidget window;
    ProgressCtrl progress(&window);
    ASSERT_EQ(progress.Bar()->parentWidget(), &window);
    row.run(progress);
    EXPECT_EQ(progress.Bar()->minimum(), row.min);
    EXPECT_EQ(progress.Bar()->maximum(), row.max);
    EXPECT_EQ(progress.Bar()->value(), row.value);
  }
}

}  // namespace
}  // namespace corvalink
