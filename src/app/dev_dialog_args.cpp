#include "app/dev_dialog_args.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>

#include "discovery/router_table.h"
#include "password/password_check.h"
#include "password/scrambler.h"
#include "platform/ipv4.h"

namespace corvalink {
namespace {

constexpr std::string_view OPTIONS[] = {"--router-ip", "--mask",         "--mac",      "--password",
                                        "--firmware",  "--upgrade-port", "--tftp-port"};

bool Known(std::string_view name) {
  return std::find(std::begin(OPTIONS), std::end(OPTIONS), name) != std::end(OPTIONS);
}

bool Fail(std::string* err, std::string why) {
  if (err != nullptr) *err = std::move(why);
  return false;
}

bool ParseAddress(const std::map<std::string_view, std::string_view>& v, std::string_view name,
                  Ipv4& out, std::string* err) {
  auto it = v.find(name);
  if (it == v.end()) return true;
  std::optional<Ipv4> a = ParseIpv4(it->second);
  if (!a) return Fail(err, std::string(name) + ": \"" + std::string(it->second) + "\" is not a dotted address");
  out = *a;
  return true;
}

bool ParsePort(const std::map<std::string_view, std::string_view>& v, std::string_view name,
               uint16_t& out, std::string* err) {
  auto it = v.find(name);
  if (it == v.end()) return true;
  unsigned port = 0;
  const std::string_view t = it->second;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), port);
  if (ec != std::errc() || end != t.data() + t.size() || port == 0 || port > 65535) {
    return Fail(err, std::string(name) + ": \"" + std::string(t) + "\" is not a port number");
  }
  out = static_cast<uint16_t>(port);
  return true;
}

/// Twelve hexadecimal digits, with or without ':' or '-' between the pairs.
bool ParseMac(std::string_view text, MacAddress& out, std::string* err) {
  std::string digits;
  for (char c : text) {
    if (c != ':' && c != '-') digits += c;
  }
  const bool allHex = std::all_of(digits.begin(), digits.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
  if (digits.size() != 2 * MAC_SIZE || !allHex) {
    return Fail(err, "--mac: \"" + std::string(text) + "\" is not 12 hexadecimal digits");
  }
  ParseMacText(digits.c_str(), out);
  return true;
}

}  // namespace

std::string DevDialogUsage() {
  return "usage: corvalink --dev-dialog upgrade --router-ip A.B.C.D --firmware FILE\n"
         "                  [--mask A.B.C.D] [--mac HEX12] [--password TEXT]\n"
         "                  [--upgrade-port N] [--tftp-port N]\n"
         "       corvalink --dev-dialog password [--password TEXT]\n";
}

bool ParseDevDialogArgs(const std::vector<std::string_view>& args, AppState& state,
                        DevDialog* which, std::string* err) {
  if (args.empty()) return Fail(err, "which dialog?");
  DevDialog dialog;
  if (args[0] == "upgrade") {
    dialog = DevDialog::Upgrade;
  } else if (args[0] == "password") {
    dialog = DevDialog::Password;
  } else {
    return Fail(err, "unknown dialog \"" + std::string(args[0]) + "\"");
  }
  std::map<std::string_view, std::string_view> values;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::string_view value;
    if (const std::size_t eq = name.find('='); eq != std::string_view::npos && eq > 0) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else {
      if (!Known(name)) return Fail(err, "unknown argument \"" + std::string(name) + "\"");
      if (i + 1 >= args.size()) return Fail(err, std::string(name) + " needs a value");
      value = args[++i];
    }
    if (!Known(name)) return Fail(err, "unknown argument \"" + std::string(name) + "\"");
    values[name] = value;
  }

  RouterRecord router = state.selectedRouter;
  FirmwarePath firmware = state.firmwarePath;
  uint16_t upgradePort = state.upgradePort;
  uint16_t tftpPort = state.tftpPort;
  if (!ParseAddress(values, "--router-ip", router.ipAddress, err) ||
      !ParseAddress(values, "--mask", router.ipMask, err) ||
      !ParsePort(values, "--upgrade-port", upgradePort, err) ||
      !ParsePort(values, "--tftp-port", tftpPort, err)) {
    return false;
  }
  if (auto it = values.find("--mac"); it != values.end() && !ParseMac(it->second, router.macAddress, err)) {
    return false;
  }
  if (auto it = values.find("--password"); it != values.end()) {
    // Held as discovery holds it: the text, zeros after it, scrambled.
    if (it->second.size() > PASSWORD_SIZE) {
      return Fail(err, "--password: a router password has at most 24 characters");
    }
    router.password.fill(0);
    std::copy(it->second.begin(), it->second.end(), router.password.begin());
    ScrambleBuffer(router.password.data(), static_cast<int32_t>(router.password.size()), 1);
  }
  if (auto it = values.find("--firmware"); it != values.end()) {
    const std::string_view path = it->second;
    if (path.size() >= FIRMWARE_FIELD_SIZE) {
      return Fail(err, "--firmware: the path has more than 254 bytes");
    }
    firmware = FirmwarePath{};
    std::copy(path.begin(), path.end(), firmware.path.begin());
    // The title is the name after the last folder separator of either system.
    const std::size_t cut = path.find_last_of("\\/");
    const std::string_view title = cut == std::string_view::npos ? path : path.substr(cut + 1);
    std::copy(title.begin(), title.end(), firmware.title.begin());
  }
  if (dialog == DevDialog::Upgrade && values.find("--router-ip") == values.end()) {
    // Without it the requests would go to 0.0.0.0, which is this very machine.
    return Fail(err, "the upgrade dialog needs --router-ip");
  }
  state.selectedRouter = router;
  SecureWipe(router.password.data(), router.password.size());
  state.firmwarePath = firmware;
  state.upgradePort = upgradePort;
  state.tftpPort = tftpPort;
  if (which != nullptr) *which = dialog;
  return true;
}

}  // namespace corvalink
