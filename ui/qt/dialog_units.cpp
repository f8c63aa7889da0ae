#include "qt/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace corvalink {
namespace {

// Rounds a * b / c to the nearest integer, halves away from zero, as the dialog manager's
// MulDiv does.
int MulDiv(int a, int b, int c) {
  long long p = static_cast<long long>(a) * b;
  long long half = c / 2;
  return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

}  // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
  QFontMetrics metrics(font);
  static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  int width = metrics.horizontalAdvance(letters);
  // The dialog manager divides by 26 and halves with rounding: (w / 26 + 1) / 2.
  int baseX = (width / 26 + 1) / 2;
  return DialogUnits(baseX > 0 ? baseX : 1, metrics.height() > 0 ? metrics.height() : 1);
}

int DialogUnits::X(int du) const { return MulDiv(du, m_baseX, 4); }
int DialogUnits::Y(int du) const { return MulDiv(du, m_baseY, 8); }

QRect DialogUnits::Rect(int x, int y, int w, int h) const {
  return QRect(X(x), Y(y), X(w), Y(h));
}

QSize DialogUnits::Size(int w, int h) const { return QSize(X(w), Y(h)); }

}  // namespace corvalink
