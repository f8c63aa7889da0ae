#pragma once
// Checks a typed router password against the scrambled form the router table holds, so the
// dialog and the command line decide the same way. The plain form lives only inside one call.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "discovery/router_record.h"

namespace corvalink {

/// The longest typed text the check looks at; longer entries are cut to this.
inline constexpr std::size_t MAX_TYPED_PASSWORD = 49;

enum class PasswordVerdict {
  Accepted,          ///< the typed text is the router's password
  Refused,           ///< wrong password: the dialog ends with 0 after the message
  RefusedStayOpen,   ///< the router has no password and a text was typed: message, dialog stays
};

/// The password dialog's results, as its callers branch on them (2 is the system's Cancel).
inline constexpr int PASSWORD_REFUSED = 0;
inline constexpr int PASSWORD_ACCEPTED = 1;
inline constexpr int PASSWORD_CANCELLED = 2;

/// What a password dialog does with a verdict, in this order: it clears the typed text, ends
/// with `endWith` (none: it stays open for a correction), then shows the error message. The
/// dialog ends before the message, so its caller sees the result once the message is dismissed.
struct PasswordDialogStep {
  bool clearTyped = false;
  std::optional<int> endWith;
  bool showError = false;
};
PasswordDialogStep StepForVerdict(PasswordVerdict verdict);

/// `held` is the router's password field in its scrambled form. It is unscrambled in place only
/// for the comparison and scrambled back before the call returns, on every path; the plain copy
/// is wiped. `typed` is cut to MAX_TYPED_PASSWORD characters.
PasswordVerdict CheckRouterPassword(std::span<uint8_t, PASSWORD_SIZE> held, std::string_view typed);

/// Overwrites `size` bytes with zeros in a way the compiler may not remove.
void SecureWipe(void* data, std::size_t size);

}  // namespace corvalink
