// What a user types for the command line's router, destination, --to and seconds arguments,
// through its parsers. Checked against models of the accepted forms: a strict dotted quad or a
// MAC of 12 hexadecimal digits (bare, or with one separator ':' or '-' throughout);
// "a.b.c.d:port" with a port of 1-65535; a quad alone or "quad/N" with N of one or two digits
// from 22 to 32; a plain finite decimal within the range.

#include <cmath>
#include <cstdlib>
#include <string>

#include "cli_args.h"
#include "discovery/router_table.h"
#include "discovery/search_targets.h"
#include "fuzz_check.h"

using namespace corvalink;
using namespace corvalink::cli;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Four numbers of 1-3 digits, each at most 255 (leading zeros allowed), joined by dots.
bool IsQuad(const std::string& t) {
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (at >= t.size() || t[at++] != '.')) return false;
    size_t end = at;
    while (end < t.size() && IsDigit(t[end])) ++end;
    if (end == at || end - at > 3 || std::stoi(t.substr(at, end - at)) > 255) return false;
    at = end;
  }
  return at == t.size();
}

std::string MacModel(const std::string& t) {
  std::string digits;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t.size() == 17 && i % 3 == 2) {
      if (t[i] != t[2] || (t[2] != ':' && t[2] != '-')) return {};
      continue;
    }
    if (!IsHexDigit(t[i])) return {};
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(t[i])));
  }
  return (t.size() == 12 || t.size() == 17) ? digits : std::string();
}

// [-]digits[.digits][e[+-]digits], at least one digit before the exponent.
bool IsPlainDecimal(const std::string& t) {
  size_t at = t.empty() || t[0] != '-' ? 0 : 1, digits = 0;
  while (at < t.size() && IsDigit(t[at])) ++at, ++digits;
  if (at < t.size() && t[at] == '.') {
    ++at;
    while (at < t.size() && IsDigit(t[at])) ++at, ++digits;
  }
  if (digits == 0) return false;
  if (at < t.size() && (t[at] == 'e' || t[at] == 'E')) {
    ++at;
    if (at < t.size() && (t[at] == '+' || t[at] == '-')) ++at;
    const size_t expAt = at;
    while (at < t.size() && IsDigit(t[at])) ++at;
    if (at == expAt) return false;
  }
  return at == t.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string err;

  const std::optional<RouterSelector> selector = ParseRouterSelector(text, &err);
  const std::string mac = MacModel(text);
  FUZZ_CHECK(selector.has_value() == (IsQuad(text) || !mac.empty()));
  if (!selector) FUZZ_CHECK(!err.empty());
  if (selector && selector->kind == RouterSelector::Kind::Ip) {
    FUZZ_CHECK(IsQuad(text));
    FUZZ_CHECK(ParseIpv4(Ipv4ToText(selector->ip)) == selector->ip);  // round trip
  } else if (selector) {
    FUZZ_CHECK(!IsQuad(text) && MacText(selector->mac) == mac);
  }

  err.clear();
  const std::optional<Endpoint> endpoint = ParseEndpoint(text, &err);
  const size_t colon = text.rfind(':');
  bool endpointOk = colon != std::string::npos && IsQuad(text.substr(0, colon));
  const std::string portText = endpointOk ? text.substr(colon + 1) : std::string();
  // Leading zeros are taken; the number is what counts.
  const std::string port = portText.substr(std::min(portText.find_first_not_of('0'), portText.size()));
  endpointOk = endpointOk && !portText.empty() &&
               portText.find_first_not_of("0123456789") == std::string::npos && !port.empty() &&
               port.size() <= 5 && std::stoll(port) <= 65535;
  FUZZ_CHECK(endpoint.has_value() == endpointOk);
  if (endpoint) {
    FUZZ_CHECK(endpoint->port == std::stoll(port));
    FUZZ_CHECK(ParseEndpoint(Ipv4ToText(endpoint->address) + ":" + std::to_string(endpoint->port),
                             nullptr) == endpoint);
  } else {
    FUZZ_CHECK(!err.empty());
  }

  // --to: one address, or every host address of a block of at most 1024.
  err.clear();
  const std::optional<SearchTarget> target = ParseSearchTarget(text, &err);
  const size_t slash = text.find('/');
  const std::string bits = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  const bool bitsOk = !bits.empty() && bits.size() <= 2 &&
                      bits.find_first_not_of("0123456789") == std::string::npos &&
                      std::stoi(bits) >= MIN_SWEEP_PREFIX && std::stoi(bits) <= 32;
  const bool targetOk = slash == std::string::npos ? IsQuad(text)
                                                   : IsQuad(text.substr(0, slash)) && bitsOk;
  FUZZ_CHECK(target.has_value() == targetOk);
  if (target && slash != std::string::npos) {
    const int n = std::stoi(bits);
    const uint32_t size = n == 32 ? 1u : 1u << (32 - n);
    FUZZ_CHECK(target->count == (size >= 4 ? size - 2 : size));
    // The first and the last address lie in the block the text names.
    const Ipv4 given = *ParseIpv4(text.substr(0, slash));
    auto number = [](const Ipv4& a) {
      return uint32_t{a[0]} << 24 | uint32_t{a[1]} << 16 | uint32_t{a[2]} << 8 | a[3];
    };
    const uint32_t network = number(given) & ~(size - 1);
    FUZZ_CHECK((number(target->first) & ~(size - 1)) == network);
    FUZZ_CHECK((number(TargetAddress(*target, target->count - 1)) & ~(size - 1)) == network);
  } else if (target) {
    FUZZ_CHECK(target->count == 1 && ParseIpv4(text) == target->first);
  } else {
    FUZZ_CHECK(!err.empty());
  }

  // The ranges of --timeout and --handshake-timeout.
  for (auto [min, max] : {std::pair{0.01, 3600.0}, std::pair{0.01, 86400.0}}) {
    err.clear();
    const std::optional<double> seconds = ParseSeconds(text, min, max, &err);
    const double value = IsPlainDecimal(text) ? std::strtod(text.c_str(), nullptr) : NAN;
    const bool ok = std::isfinite(value) && value >= min && value <= max;
    FUZZ_CHECK(seconds.has_value() == ok);
    if (seconds) FUZZ_CHECK(*seconds == value);
    else FUZZ_CHECK(!err.empty());
  }
  return 0;
}
