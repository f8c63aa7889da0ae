#include "app/dev_dialog_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "password/scrambler.h"

namespace corvalink {
namespace {

using Args = std::vector<std::string>;

TEST(ParseDevDialogArgs, FillsTheRouterAndFileAsDiscoveryAndTheChooserWould) {
  AppState state;
  std::string err;
  const Args args = {"--router-ip", "198.18.0.10", "--mask=255.255.255.0",
                     "--mac",       "00-1a-2b-3c-4d-5e", "--password",  "p\xC3\xA4ss",
                     "--firmware",  "/srv/fw/image.all", "--upgrade-port=4000", "--tftp-port", "69"};
  ASSERT_EQ(ParseDevDialogArgs("upgrade", args, state, &err), DevDialog::Upgrade) << err;
  EXPECT_EQ(state.selectedRouter.ipAddress, (Ipv4{198, 18, 0, 10}));
  EXPECT_EQ(state.selectedRouter.ipMask, (Ipv4{255, 255, 255, 0}));
  EXPECT_EQ(state.selectedRouter.macAddress, (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  std::array<uint8_t, PASSWORD_SIZE> held = state.selectedRouter.password;
  Unscramble(held);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(held.data())), "p\xE4ss");  // Latin-1
  EXPECT_EQ(state.firmwarePath.Path(), "/srv/fw/image.all");
  EXPECT_EQ(state.firmwarePath.Title(), "image.all");
  EXPECT_EQ(state.upgradePort, 4000);
  EXPECT_EQ(state.tftpPort, 69);
  EXPECT_EQ(ParseDevDialogArgs("password", {}, state, &err), DevDialog::Password) << err;
}

TEST(ParseDevDialogArgs, RefusesWithAReasonAndLeavesTheStateAlone) {
  const std::string longPath(FIRMWARE_FIELD_SIZE, 'f');
  const std::pair<Args, const char*> cases[] = {
      {{"--router-ip", "300.1.1.1"}, "--router-ip"},
      {{"--router-ip", "10.0.0.1", "--mac", "0211223344"}, "--mac"},
      {{"--router-ip", "10.0.0.1", "--mac", "02:11-22:33:44:55"}, "--mac"},
      {{"--router-ip", "10.0.0.1", "--password", "\xE2\x82\xAC"}, "Latin-1"},
      {{"--router-ip", "10.0.0.1", "--password", "\xC3"}, "UTF-8"},
      {{"--router-ip", "10.0.0.1", "--password", std::string(PASSWORD_SIZE + 1, 'x')}, "at most"},
      {{"--router-ip", "10.0.0.1", "--firmware", longPath}, "--firmware"},
      {{"--router-ip", "10.0.0.1", "--tftp-port", "0"}, "port"},
      {{"--router-ip", "10.0.0.1", "--upgrade-port", "+5"}, "port"},
      {{"--router-ip", "10.0.0.1", "--firmware"}, "needs a value"},
      {{"--colour", "red"}, "unknown argument"},
      {{"--mask", "255.0.0.0", "--firmware", "/fw.all"}, "--router-ip"},
      {{}, "--router-ip"},
  };
  for (const auto& [args, reason] : cases) {
    AppState state;
    std::string err;
    EXPECT_FALSE(ParseDevDialogArgs("upgrade", args, state, &err)) << reason;
    EXPECT_NE(err.find(reason), std::string::npos) << err;
    EXPECT_EQ(state.firmwarePath.Path(), "");
    EXPECT_EQ(state.selectedRouter.ipMask, (Ipv4{})) << reason;
    EXPECT_EQ(state.upgradePort, AppState{}.upgradePort);
  }
  AppState state;
  std::string err;
  EXPECT_FALSE(ParseDevDialogArgs("settings", {}, state, &err));
  EXPECT_NE(err.find("\"settings\""), std::string::npos) << err;
}

}  // namespace
}  // namespace corvalink
