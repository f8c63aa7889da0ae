// The rules of the firmware configuration's "Install / Modify" that both windows follow.

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

TEST(FirmwareConfig, OnlyAnAcceptedPasswordAndAChosenFileLeadToTheUpgrade) {
  EXPECT_TRUE(PasswordLetsUpgradeGoOn(1));
  EXPECT_FALSE(PasswordLetsUpgradeGoOn(0));  // refused
  EXPECT_FALSE(PasswordLetsUpgradeGoOn(2));  // cancelled
  FirmwarePath firmware;
  EXPECT_FALSE(FirmwareChosen(firmware));
  firmware.path[0] = 'x';
  EXPECT_TRUE(FirmwareChosen(firmware));
}

TEST(FirmwareConfig, RowLiesBelowTheListInsideTheDialog) {
  // The template's list: 7, 24, 325 x 91 in a dialog 339 units wide.
  constexpr int LIST_BOTTOM = 24 + 91;
  for (const DialogUnitRect& r : {FIRMWARE_LINE_RECT, FIRMWARE_LABEL_RECT, FIRMWARE_PATH_RECT,
                                  FIRMWARE_SELECT_RECT}) {
    EXPECT_GT(r.y, LIST_BOTTOM);
    EXPECT_LE(r.y + r.cy + 7, FIRMWARE_DIALOG_CY) << "a margin below, as at the top";
    EXPECT_LE(r.x + r.cx, 339 - 7);
  }
  EXPECT_LE(FIRMWARE_LABEL_RECT.y + FIRMWARE_LABEL_RECT.cy, FIRMWARE_PATH_RECT.y);
  EXPECT_LT(FIRMWARE_PATH_RECT.x + FIRMWARE_PATH_RECT.cx, FIRMWARE_SELECT_RECT.x);
}

}  // namespace
}  // namespace corvalink
