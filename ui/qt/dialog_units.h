#pragma once
// Dialog templates give positions in dialog units, which scale with the dialog's font: a
// horizontal unit is a quarter of the font's average character width, a vertical unit an
// eighth of its height. This converts a template rectangle to pixels the way the Windows
// dialog manager does, so every window keeps its laid-out proportions with whatever font
// the desktop provides.

#include <QFont>
#include <QRect>
#include <QSize>

namespace corvalink {

class DialogUnits {
 public:
  /// Base units of `font`: the average width of the 52 letters A-Z and a-z, rounded, and the
  /// font's line height.
  static DialogUnits ForFont(const QFont& font);
  DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

  int X(int du) const;
  int Y(int du) const;
  QRect Rect(int x, int y, int w, int h) const;
  QSize Size(int w, int h) const;

  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }

 private:
  int m_baseX;
  int m_baseY;
};

}  // namespace corvalink
