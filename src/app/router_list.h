#pragma once
// The main window's router list: its columns, in order, with the text each heading shows and
// its width. Both front ends build the list from this table.

#include "text/ui_texts.h"

namespace corvalink {

struct ListColumn {
  UiText heading;
  int width;  // pixels, whatever the font
};

inline constexpr ListColumn LIST_COLUMNS[] = {{UiText::ColumnMac, 115},
                                              {UiText::ColumnIp, 115},
                                              {UiText::ColumnMask, 165},
                                              {UiText::ColumnLocation, 170}};

}  // namespace corvalink
