#include "app/dev_dialog_args.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>

#include "app/app_state.h"
#include "discovery/mac_text.h"
#include "platform/ansi_path.h"
#include "password/password_check.h"
#include "password/scrambler.h"
#include "text/ansi_text.h"

namespace corvalink {
namespace {

constexpr std::string_view OPTIONS[] = {"--router-ip", "--mask",         "--mac",      "--password",
                                        "--firmware",  "--upgrade-port", "--tftp-port"};

using Values = std::map<std::string, std::string, std::less<>>;

bool Known(std::string_view name) {
  return std::find(std::begin(OPTIONS), std::end(OPTIONS), name) != std::end(OPTIONS);
}

bool Fail(std::string* err, std::string why) {
  if (err != nullptr) *err = std::move(why);
  return false;
}

bool ReadValues(std::span<const std::string> args, Values& out, std::string* err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    const std::size_t eq = name.find('=');
    if (eq != std::string::npos && eq > 0) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    if (!Known(name)) return Fail(err, "unknown argument \"" + name + "\"");
    if (eq == std::string::npos || eq == 0) {
      if (i + 1 >= args.size()) return Fail(err, name + " needs a value");
      value = args[++i];
    }
    out[name] = value;
  }
  return true;
}

const std::string* Value(const Values& values, std::string_view name) {
  auto it = values.find(name);
  return it == values.end() ? nullptr : &it->second;
}

bool ReadAddress(const Values& values, std::string_view name, Ipv4& out, std::string* err) {
  const std::string* text = Value(values, name);
  if (text == nullptr) return true;
  std::optional<Ipv4> address = ParseIpv4(*text);
  if (!address) return Fail(err, std::string(name) + ": \"" + *text + "\" is not a dotted address");
  out = *address;
  return true;
}

bool ReadPort(const Values& values, std::string_view name, uint16_t& out, std::string* err) {
  const std::string* text = Value(values, name);
  if (text == nullptr) return true;
  unsigned port = 0;
  const char* end = text->data() + text->size();
  auto [ptr, ec] = std::from_chars(text->data(), end, port);
  if (text->empty() || ec != std::errc() || ptr != end || port == 0 || port > 65535) {
    return Fail(err, std::string(name) + ": \"" + *text + "\" is not a port number");
  }
  out = static_cast<uint16_t>(port);
  return true;
}

bool ReadMac(const Values& values, MacAddress& out, std::string* err) {
  const std::string* text = Value(values, "--mac");
  if (text == nullptr) return true;
  std::optional<MacAddress> mac = ParseMacAddress(*text);
  if (!mac) return Fail(err, "--mac: \"" + *text + "\" is not " + MAC_ADDRESS_FORMS);
  out = *mac;
  return true;
}

// The router's password as discovery would hold it: the text, zeros after it, scrambled.
// Router passwords are single-byte (Latin-1) text, as the password dialog reads them.
bool ReadPassword(const Values& values, std::array<uint8_t, PASSWORD_SIZE>& out,
                  std::string* err) {
  const std::string* text = Value(values, "--password");
  if (text == nullptr) return true;
  std::optional<std::u32string> chars = DecodeUtf8(*text);
  if (!chars) return Fail(err, "--password: the text is not UTF-8");
  if (chars->size() > PASSWORD_SIZE) {
    return Fail(err, "--password: a router password has at most " + std::to_string(PASSWORD_SIZE) +
                         " characters");
  }
  std::array<uint8_t, PASSWORD_SIZE> held{};
  for (std::size_t i = 0; i < chars->size(); ++i) {
    const char32_t c = (*chars)[i];
    if (c == 0 || c > 0xFF) {
      SecureWipe(held.data(), held.size());
      SecureWipe(chars->data(), chars->size() * sizeof(char32_t));
      return Fail(err, "--password: only Latin-1 characters can be a router password");
    }
    held[i] = static_cast<uint8_t>(c);
  }
  SecureWipe(chars->data(), chars->size() * sizeof(char32_t));
  Scramble(held);
  out = held;
  return true;
}

bool ReadFirmware(const Values& values, FirmwarePath& out, std::string* err) {
  const std::string* path = Value(values, "--firmware");
  if (path == nullptr) return true;
  if (path->size() >= FIRMWARE_FIELD_SIZE) {
    return Fail(err, "--firmware: the path has more than " +
                         std::to_string(FIRMWARE_FIELD_SIZE - 1) + " bytes");
  }
  out = FirmwarePath{};
  std::copy(path->begin(), path->end(), out.path.begin());
  const std::string title = AnsiFromPath(PathFromAnsi(*path).filename());
  std::copy_n(title.begin(), std::min(title.size(), FIRMWARE_FIELD_SIZE - 1), out.title.begin());
  return true;
}

}  // namespace

std::optional<DevDialog> ParseDevDialogArgs(std::string_view which,
                                            std::span<const std::string> args, AppState& state,
                                            std::string* err) {
  DevDialog dialog = DevDialog::Upgrade;
  if (which == "upgrade") {
    dialog = DevDialog::Upgrade;
  } else if (which == "password") {
    dialog = DevDialog::Password;
  } else {
    Fail(err, "unknown dialog \"" + std::string(which) + "\"");
    return std::nullopt;
  }
  Values values;
  if (!ReadValues(args, values, err)) return std::nullopt;
  RouterRecord router = state.selectedRouter;
  FirmwarePath firmware = state.firmwarePath;
  uint16_t upgradePort = state.upgradePort;
  uint16_t tftpPort = state.tftpPort;
  const bool read = ReadAddress(values, "--router-ip", router.ipAddress, err) &&
                    ReadAddress(values, "--mask", router.ipMask, err) &&
                    ReadMac(values, router.macAddress, err) &&
                    ReadPassword(values, router.password, err) &&
                    ReadFirmware(values, firmware, err) &&
                    ReadPort(values, "--upgrade-port", upgradePort, err) &&
                    ReadPort(values, "--tftp-port", tftpPort, err);
  const bool complete = read && (dialog != DevDialog::Upgrade || Value(values, "--router-ip"));
  if (read && !complete) Fail(err, "the upgrade dialog needs --router-ip");
  if (complete) {
    state.selectedRouter = router;
    state.firmwarePath = firmware;
    state.upgradePort = upgradePort;
    state.tftpPort = tftpPort;
  }
  SecureWipe(router.password.data(), router.password.size());
  if (auto typed = values.find("--password"); typed != values.end()) {
    SecureWipe(typed->second.data(), typed->second.size());
  }
  if (!complete) return std::nullopt;
  return dialog;
}

std::string DevDialogUsage() {
  return "usage: corvalink --dev-dialog upgrade --router-ip A.B.C.D --firmware FILE\n"
         "                  [--mask A.B.C.D] [--mac HEX12] [--password TEXT]\n"
         "                  [--upgrade-port N] [--tftp-port N]\n"
         "       corvalink --dev-dialog password [--password TEXT]\n";
}

}  // namespace corvalink
