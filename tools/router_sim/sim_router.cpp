#include "sim_router.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "discovery/mac_text.h"
#include "platform/byte_order.h"

namespace corvalink::sim {
namespace {

constexpr uint8_t MAGIC = 0xDD;
constexpr uint8_t SEARCH = 0x80;
constexpr uint8_t UPGRADE = 0x82;
constexpr std::size_t REPLY_PASSWORD_BYTES = 12;

void PutHeader(ReplyBytes& b, uint8_t type) {
  b[0] = MAGIC;
  b[1] = type;
  PutU16Be(b, 2, static_cast<uint16_t>(SIM_REPLY_SIZE));
}

void PutAddressFields(ReplyBytes& b, const SimRouter& r) {
  std::copy(r.ip.begin(), r.ip.end(), b.begin() + 4);
  std::copy(r.mask.begin(), r.mask.end(), b.begin() + 8);
  std::copy(r.mac.begin(), r.mac.end(), b.begin() + 12);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SetError(std::string* err, std::string text) {
  if (err != nullptr) *err = std::move(text);
  return false;
}

}  // namespace

ReplyBytes BuildSimSearchReply(const SimRouter& router) {
  ReplyBytes b{};
  PutHeader(b, SEARCH);
  PutAddressFields(b, router);
  std::copy(router.location.begin(), router.location.end(), b.begin() + 18);
  std::size_t n = std::min(router.password.size(), REPLY_PASSWORD_BYTES);
  std::memcpy(b.data() + 42, router.password.data(), n);
  return b;
}

ReplyBytes BuildSimUpgradeReply(const SimRouter& router) {
  ReplyBytes b{};
  PutHeader(b, UPGRADE);
  PutAddressFields(b, router);
  return b;
}

std::optional<std::vector<uint8_t>> ParseHex(std::string_view text) {
  std::vector<uint8_t> out;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ':' || c == '-' || c == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    int hi = HexValue(c);
    int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    i += 2;
  }
  return out;
}

std::string ToHex(std::span<const uint8_t> bytes) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    s += DIGITS[b >> 4];
    s += DIGITS[b & 0x0F];
  }
  return s;
}

std::optional<SimRouter> ParseRouterSpec(std::string_view spec, std::string* err) {
  SimRouter r;
  bool haveMac = false;
  bool haveIp = false;
  std::size_t pos = 0;
  while (pos <= spec.size()) {
    std::size_t end = spec.find(',', pos);
    if (end == std::string_view::npos) end = spec.size();
    std::string_view item = spec.substr(pos, end - pos);
    pos = end + 1;
    if (item.empty()) continue;
    std::size_t eq = item.find('=');
    if (item == "refuse-password") {
      r.refusePassword = true;
      continue;
    }
    if (eq == std::string_view::npos) {
      SetError(err, "router item without '=': " + std::string(item));
      return std::nullopt;
    }
    std::string_view key = item.substr(0, eq);
    std::string_view value = item.substr(eq + 1);
    if (key == "mac") {
      std::optional<MacAddress> mac = ParseMacAddress(value);
      if (!mac) {
        SetError(err, "mac needs 12 hex digits (bare, or pairs with ':' or '-'): " +
                          std::string(value));
        return std::nullopt;
      }
      r.mac = *mac;
      haveMac = true;
    } else if (key == "ip" || key == "mask") {
      auto address = ParseIpv4(value);
      if (!address) {
        SetError(err, std::string(key) + " is not a dotted address: " + std::string(value));
        return std::nullopt;
      }
      (key == "ip" ? r.ip : r.mask) = *address;
      haveIp = haveIp || key == "ip";
    } else if (key == "location" || key == "locationhex") {
      std::vector<uint8_t> bytes(value.begin(), value.end());
      if (key == "locationhex") {
        auto parsed = ParseHex(value);
        if (!parsed) {
          SetError(err, "locationhex is not hex: " + std::string(value));
          return std::nullopt;
        }
        bytes = *parsed;
      }
      if (bytes.size() > LOCATION_SIZE) {
        SetError(err, "location longer than 24 bytes: " + std::string(value));
        return std::nullopt;
      }
      r.location = {};
      std::copy(bytes.begin(), bytes.end(), r.location.begin());
    } else if (key == "password") {
      r.password = std::string(value);
    } else if (key == "passwordhex") {
      auto parsed = ParseHex(value);
      if (!parsed) {
        SetError(err, "passwordhex is not hex: " + std::string(value));
        return std::nullopt;
      }
      r.password.assign(parsed->begin(), parsed->end());
    } else if (key == "flash-ms" || key == "loss") {
      const int max = key == "loss" ? 100 : 600000;
      int n = -1;
      auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (value.empty() || ec != std::errc() || ptr != value.data() + value.size() || n < 0 ||
          n > max) {
        SetError(err, std::string(key) + " needs a whole number from 0 to " +
                          std::to_string(max) + ": " + std::string(value));
        return std::nullopt;
      }
      if (key == "loss") {
        r.lossPercent = n;
      } else {
        r.flashMs = static_cast<uint32_t>(n);
      }
    } else {
      SetError(err, "unknown router key: " + std::string(key));
      return std::nullopt;
    }
  }
  if (!haveMac || !haveIp) {
    SetError(err, "a router needs at least mac= and ip=: " + std::string(spec));
    return std::nullopt;
  }
  return r;
}

std::vector<SimRouter> GenerateRouters(int count) {
  std::vector<SimRouter> routers;
  for (int i = 0; i < count; ++i) {
    SimRouter r;
    r.mac = {0x02, 0xC0, 0x4C, 0x00, static_cast<uint8_t>((i + 1) >> 8),
             static_cast<uint8_t>(i + 1)};
    r.ip = {198, 18, 0, static_cast<uint8_t>(10 + i % 245)};
    std::string location = "Router " + std::to_string(i + 1);
    std::copy(location.begin(), location.end(), r.location.begin());
    r.password = "pass" + std::to_string(i + 1);
    routers.push_back(r);
  }
  return routers;
}

}  // namespace corvalink::sim
