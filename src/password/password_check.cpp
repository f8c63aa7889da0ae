#include "password/password_check.h"

#include <algorithm>
#include <array>

#include "password/scrambler.h"

namespace corvalink {
namespace {

/// The text a 24-byte field holds: its bytes up to the first zero, or all 24 without one.
std::size_t StoredLength(std::span<const uint8_t, PASSWORD_SIZE> field) {
  auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return static_cast<std::size_t>(end - field.begin());
}

/// Typed text as the dialog reads it: cut to MAX_TYPED_PASSWORD. Every byte counts, so a text
/// with a NUL inside matches nothing a field can hold.
std::string_view TypedText(std::string_view typed) {
  return typed.substr(0, std::min(typed.size(), MAX_TYPED_PASSWORD));
}

/// Whole-text equality. The loop does not stop at the first difference, so the time taken
/// tells nothing about how much of a guess was right.
bool SameText(std::span<const uint8_t> stored, std::string_view typed) {
  uint8_t diff = stored.size() == typed.size() ? 0 : 1;
  const std::size_t n = std::min(stored.size(), typed.size());
  for (std::size_t i = 0; i < n; ++i) {
    diff |= static_cast<uint8_t>(stored[i] ^ static_cast<uint8_t>(typed[i]));
  }
  return diff == 0;
}

}  // namespace

void SecureWipe(void* data, std::size_t size) {
  // Volatile stores: the compiler must perform every one, even into a buffer that is never read
  // again, which is exactly the case for a password about to go out of scope.
  volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

PasswordVerdict CheckRouterPassword(std::span<uint8_t, PASSWORD_SIZE> held,
                                    std::string_view typed) {
  const std::string_view text = TypedText(typed);

  // Only an empty password scrambles to a field that starts with zero (see the substitution
  // table), so this is the "router has no password" case, decided without unscrambling.
  if (held[0] == 0) {
    return text.empty() ? PasswordVerdict::Accepted : PasswordVerdict::RefusedStayOpen;
  }

  // The scrambled form is never compared with the typed text: it travels in every upgrade
  // request, so knowing it must not be enough to pass. Only the real password counts.
  Unscramble(held);
  const std::span<const uint8_t> stored(held.data(), StoredLength(held));
  const bool match = SameText(stored, text);
  Scramble(held);

  return match ? PasswordVerdict::Accepted : PasswordVerdict::Refused;
}

PasswordDialogStep StepForVerdict(PasswordVerdict verdict) {
  switch (verdict) {
    case PasswordVerdict::Accepted:
      return {true, PASSWORD_ACCEPTED, false};
    case PasswordVerdict::Refused:
      return {true, PASSWORD_REFUSED, true};
    case PasswordVerdict::RefusedStayOpen:
      // A router without a password takes only the empty text; the user may correct the entry.
      return {false, std::nullopt, true};
  }
  return {true, PASSWORD_REFUSED, true};
}

}  // namespace corvalink
