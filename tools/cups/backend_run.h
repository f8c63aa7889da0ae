#pragma once
// What the CUPS backend "corvalink" does with one invocation, decided without doing it: the
// device line for a discovery run, or for a job the lpd backend to hand it to, with the device
// URI that names the router stored as "Server IP". main() prints and executes the decision.
//
// Device URIs: corvalink://QUEUE[?OPTIONS] becomes lpd://SERVER-IP/QUEUE[?OPTIONS]; the options
// are the lpd backend's own (backend(7), lpd: banner, format, order, reserve, contimeout, ...).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipv4.h"
#include "platform/process_exec.h"
#include "platform/registry.h"

namespace corvalink::cups {

// The exit codes of backend(7) that this backend uses.
inline constexpr int CUPS_BACKEND_OK = 0;
inline constexpr int CUPS_BACKEND_FAILED = 1;
inline constexpr int CUPS_BACKEND_STOP = 4;

inline constexpr char SCHEME[] = "corvalink";
/// The discovery line (backend(7), "device-class scheme make-and-model info").
inline constexpr char DEVICE_LINE[] =
    "network corvalink \"Unknown\" \"Corvalink router (stored Server IP)\"\n";
/// Where CUPS keeps its backends when CUPS_SERVERBIN does not say.
inline constexpr char DEFAULT_SERVER_BIN[] = "/usr/lib/cups";

struct DeviceUri {
  std::string queue;
  std::string options;  ///< after '?', as written; empty when there is none
};

/// Splits corvalink://QUEUE[?OPTIONS]. The queue is one or more URI "unreserved" characters or
/// %XX escapes whose decoded name is printable ASCII without space, '/', '?', '#' or '%'; the
/// options printable ASCII without space or '#'. Nothing, with `reason`, for any other text.
std::optional<DeviceUri> ParseDeviceUri(std::string_view uri, std::string* reason);

/// lpd://ADDRESS/QUEUE[?OPTIONS].
std::string LpdDeviceUri(const Ipv4& address, const DeviceUri& device);

struct BackendRun {
  /// The exit status when nothing is executed.
  int exitCode = CUPS_BACKEND_OK;
  std::string out;  ///< for standard output
  std::string err;  ///< for standard error: lines CUPS reads ("ERROR: ...", "INFO: ...")
  bool exec = false;
  std::string program;
  std::vector<std::string> argv;
  EnvironmentChanges env;
};

/// `args` is the backend's argv; `deviceUri` and `serverBin` the DEVICE_URI and CUPS_SERVERBIN
/// variables (null when unset). Reads "Server IP" from `registry` for a job, never for discovery.
BackendRun PlanBackendRun(const std::vector<std::string>& args, const char* deviceUri,
                          const char* serverBin, const Registry& registry);

}  // namespace corvalink::cups
