#pragma once
// Messages raised on the application's behalf, as opposed to a dialog's own: the application
// title as caption, one OK button, the exclamation icon unless told otherwise.

#include <string>

#include "win32/win_api.h"

namespace corvalink {

/// The program file's name without directory and extension ("corvalink").
std::string ApplicationTitle();

/// Shows `text` modally, owned by `owner` (may be null), and waits until it is dismissed.
void ShowAppMessage(HWND owner, const char* text, UINT icon = MB_ICONEXCLAMATION);

/// A string of the program's string table; empty when it has none of that number.
std::string LoadResourceString(UINT id);

}  // namespace corvalink
