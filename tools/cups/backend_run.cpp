#include "backend_run.h"

#include <optional>

#include "portsetup/server_address.h"
#include "text/escape_text.h"

namespace corvalink::cups {
namespace {

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'); }

bool Fail(std::string* reason, std::string text) {
  if (reason != nullptr) *reason = std::move(text);
  return false;
}


int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

/// The queue name as the lpd backend and the print server get it: %XX escapes decoded.
std::optional<std::string> DecodeQueue(std::string_view queue) {
  std::string decoded;
  for (std::size_t i = 0; i < queue.size(); ++i) {
    if (IsUnreserved(queue[i])) {
      decoded += queue[i];
    } else if (queue[i] == '%' && i + 2 < queue.size() && IsHex(queue[i + 1]) && IsHex(queue[i + 2])) {
      decoded += static_cast<char>(HexValue(queue[i + 1]) * 16 + HexValue(queue[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return decoded;
}

bool ValidQueue(std::string_view queue, std::string* reason) {
  if (queue.empty()) return Fail(reason, "it names no LPD queue");
  const std::optional<std::string> decoded = DecodeQueue(queue);
  if (!decoded) {
    return Fail(reason, "the queue name may hold only letters, digits, \"-._~\" and %XX escapes");
  }
  // Decoded, the name goes into the LPD commands (one line each) and into the lpd backend's
  // URI: a control byte, a space or a URI delimiter there would make another command or URI.
  for (char c : *decoded) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '/' || c == '?' || c == '#' || c == '%') {
      return Fail(reason, "the decoded queue name holds a control character, a space or one of "
                          "\"/?#%\"");
    }
  }
  return true;
}

bool ValidOptions(std::string_view options, std::string* reason) {
  for (char c : options) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '#') {
      return Fail(reason, "the options may hold only printable characters, without spaces or '#'");
    }
  }
  return true;
}

}  // namespace

std::optional<DeviceUri> ParseDeviceUri(std::string_view uri, std::string* reason) {
  const std::string_view scheme = SCHEME;
  const bool schemeMatches =
      uri.size() >= scheme.size() + 3 && uri.substr(scheme.size(), 3) == "://" &&
      std::equal(scheme.begin(), scheme.end(), uri.begin(),
                 [](char a, char b) { return a == (b | 0x20); });
  if (!schemeMatches) {
    Fail(reason, "it does not start with corvalink://");
    return std::nullopt;
  }
  std::string_view rest = uri.substr(scheme.size() + 3);
  const std::size_t question = rest.find('?');
  DeviceUri device;
  const std::string_view queue = rest.substr(0, question);
  if (!ValidQueue(queue, reason)) return std::nullopt;
  device.queue = std::string(queue);
  if (question != std::string_view::npos) {
    const std::string_view options = rest.substr(question + 1);
    if (!ValidOptions(options, reason)) return std::nullopt;
    device.options = std::string(options);
  }
  return device;
}

std::string LpdDeviceUri(const Ipv4& address, const DeviceUri& device) {
  std::string uri = "lpd://" + Ipv4ToText(address) + "/" + device.queue;
  if (!device.options.empty()) uri += "?" + device.options;
  return uri;
}

BackendRun PlanBackendRun(const std::vector<std::string>& args, const char* deviceUri,
                          const char* serverBin, const Registry& registry) {
  BackendRun run;
  if (args.size() <= 1) {
    run.out = DEVICE_LINE;
    return run;
  }
  if (args.size() < 6 || args.size() > 7) {
    run.err = "Usage: " + EscapeForPeople(args[0], {.limit = 100}) + " job-id user title copies options [file]\n";
    run.exitCode = CUPS_BACKEND_FAILED;
    return run;
  }
  // backend(7): argv[0] is the device URI with any password taken out; DEVICE_URI is the whole.
  const std::string uri = deviceUri != nullptr ? deviceUri : args[0];
  std::string reason;
  const std::optional<DeviceUri> device = ParseDeviceUri(uri, &reason);
  if (!device) {
    run.err = "ERROR: The device URI " + QuoteForPeople(uri, 100) + " is not corvalink://QUEUE[?OPTIONS]: " +
              reason + ".\n";
    run.exitCode = CUPS_BACKEND_STOP;
    return run;
  }
  Ipv4 address{};
  if (!ReadServerAddress(registry, &address, &reason)) {
    run.err = "ERROR: No router to print to: " + reason +
              ". Choose the router with \"corvalink\" (Install / Modify) or "
              "\"corvalink-cli install\", then resume the printer.\n";
    run.exitCode = CUPS_BACKEND_STOP;
    return run;
  }
  const std::string lpdUri = LpdDeviceUri(address, *device);
  const std::string bin = serverBin != nullptr && serverBin[0] != '\0' ? serverBin : DEFAULT_SERVER_BIN;
  run.err = "INFO: Printing to the router at " + Ipv4ToText(address) + " (Server IP), LPD queue " +
            device->queue + "\nDEBUG: corvalink: handing the job to " + bin + "/backend/lpd as " +
            lpdUri + "\n";
  run.exec = true;
  run.program = bin + "/backend/lpd";
  run.argv = args;
  run.argv[0] = lpdUri;
  run.env = {{"DEVICE_URI", lpdUri}};
  return run;
}

}  // namespace corvalink::cups
