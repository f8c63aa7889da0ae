// When the firmware configuration's "Install / Modify" asks for a password: both windows follow it.

#include "app/firmware_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "password/scrambler.h"

namespace corvalink {
namespace {

RouterRecord WithPassword(const std::string& plain) {
  RouterRecord r;
  std::memcpy(r.password.data(), plain.data(), std::min(plain.size(), r.password.size()));
  Scramble(r.password);
  return r;
}

TEST(FirmwareConfig, AsksForThePasswordExactlyWhenTheRouterHasOne) {
  const struct {
    std::string plain;
    bool has;
  } cases[] = {
      {"", false},
      {"a", true},
      {"pw", true},
      {std::string(1, '\xFF'), true},
      {std::string(24, 'z'), true},  // no NUL in the field at all
  };
  for (const auto& c : cases) {
    const RouterRecord router = WithPassword(c.plain);
    const RouterRecord before = router;
    EXPECT_EQ(RouterHasPassword(router), c.has) << "\"" << c.plain << "\"";
    EXPECT_EQ(router.password, before.password) << "the held field is left as it was";
  }
}

}  // namespace
}  // namespace corvalink
