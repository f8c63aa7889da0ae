#pragma once
// The command line's own small parsers: which router the user means (by MAC or by IP), where a
// search goes, and which stored routers match. Pure functions, so the tests can feed them
// anything a user might type.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/router_record.h"
#include "discovery/router_table.h"
#include "platform/ipv4.h"

namespace corvalink::cli {

struct RouterSelector {
  enum class Kind { Mac, Ip };
  Kind kind = Kind::Mac;
  MacAddress mac{};
  Ipv4 ip{};
};

/// A MAC as ParseMacAddress reads it names a MAC; a strict dotted quad names an IP. Anything else: nothing, and `err` says what was
/// expected.
std::optional<RouterSelector> ParseRouterSelector(std::string_view text, std::string* err);

/// "a.b.c.d:port" with a port from 1 to 65535.
std::optional<Endpoint> ParseEndpoint(std::string_view text, std::string* err);

/// A number of seconds from `min` to `max` written as a plain decimal ("2", "0.5", "1e1"):
/// nothing else may follow it. Empty texts, NaN and infinities are refused, and `err` says what
/// was expected.
std::optional<double> ParseSeconds(std::string_view text, double min, double max, std::string* err);

/// The stored slots whose router the selector names, newest first as the list
/// shows them. A MAC names at most one router; several routers may answer with one IP.
std::vector<int> FindRouters(const RouterTable& table, const RouterSelector& selector);

}  // namespace corvalink::cli
