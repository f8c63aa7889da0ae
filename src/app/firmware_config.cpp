#include "app/firmware_config.h"

#include <array>

#include "password/password_check.h"

namespace corvalink {

bool RouterHasPassword(const RouterRecord& router) {
  // The same test the password dialog makes: an empty text is accepted exactly when the router
  // has no password. It runs on a copy, so the record is never touched, not even for a moment.
  std::array<uint8_t, PASSWORD_SIZE> held = router.password;
  const bool has = CheckRouterPassword(held, "") != PasswordVerdict::Accepted;
  SecureWipe(held.data(), held.size());
  return has;
}

}  // namespace corvalink
