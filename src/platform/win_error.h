#pragma once
// Text for people of a Windows error code (GetLastError, WSAGetLastError, a registry LSTATUS),
// for the Windows sides of the platform layer alone.

#include <string>

namespace corvalink {

/// The system's message for `code`, without its line end and final full stop; when the system
/// has none, "`kind` error `code`" (e.g. "registry error 5").
std::string WindowsErrorText(unsigned long code, const char* kind);

}  // namespace corvalink
