// A CUPS device URI as an administrator (or anyone who can set up a queue) writes it:
// corvalink://QUEUE[?OPTIONS], with the queue name checked after its %XX escapes are decoded.
// Checked against a model of the rule: whatever is taken decodes to a name of printable ASCII
// without space, '/', '?', '#' or '%', and the lpd URI made from it holds nothing unprintable.

#include <string>
#include <string_view>

#include "backend_run.h"
#include "fuzz_check.h"

using namespace corvalink;

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The model: the queue's text must be unreserved characters and complete escapes, and its
// decoded bytes printable, not space, and none of the four delimiters.
bool QueueAllowed(std::string_view queue) {
  if (queue.empty()) return false;
  for (std::size_t i = 0; i < queue.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(queue[i]);
    if (c == '%') {
      if (i + 2 >= queue.size() || Hex(queue[i + 1]) < 0 || Hex(queue[i + 2]) < 0) return false;
      c = static_cast<unsigned char>(Hex(queue[i + 1]) * 16 + Hex(queue[i + 2]));
      i += 2;
      if (c <= 0x20 || c >= 0x7F || c == '/' || c == '?' || c == '#' || c == '%') return false;
    } else if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '-' || c == '.' || c == '_' || c == '~')) {
      return false;
    }
  }
  return true;
}

bool OptionsAllowed(std::string_view options) {
  for (char c : options) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '#') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string rest(reinterpret_cast<const char*>(data), size);
  const std::string uri = "corvalink://" + rest;
  const std::size_t question = rest.find('?');
  const std::string_view queue = std::string_view(rest).substr(0, question);
  const bool allowed =
      QueueAllowed(queue) &&
      (question == std::string::npos || OptionsAllowed(std::string_view(rest).substr(question + 1)));

  std::string reason;
  const std::optional<cups::DeviceUri> device = cups::ParseDeviceUri(uri, &reason);
  FUZZ_CHECK(device.has_value() == allowed);
  if (!device) {
    FUZZ_CHECK(!reason.empty());
    return 0;
  }
  FUZZ_CHECK(device->queue == queue);
  const std::string lpd = cups::LpdDeviceUri(Ipv4{198, 18, 0, 10}, *device);
  for (char c : lpd) {
    const unsigned char u = static_cast<unsigned char>(c);
    FUZZ_CHECK(u > 0x20 && u < 0x7F);
  }
  FUZZ_CHECK(lpd.rfind("lpd://198.18.0.10/" + device->queue, 0) == 0);
  return 0;
}
