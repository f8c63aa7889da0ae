#pragma once
// Search replies for tests that fill a RouterTable: the reply a router holding `r` would send.

#include <algorithm>

#include "discovery/search_formats.h"

namespace corvalink {

inline Packet ReplyOf(const RouterRecord& r) {
  Packet p{};
  p[0] = 0xDD;
  p[1] = 0x80;
  std::copy(r.ipAddress.begin(), r.ipAddress.end(), p.begin() + 4);
  std::copy(r.ipMask.begin(), r.ipMask.end(), p.begin() + 8);
  std::copy(r.macAddress.begin(), r.macAddress.end(), p.begin() + 12);
  std::copy(r.location.begin(), r.location.end(), p.begin() + 18);
  std::copy_n(r.password.begin(), 12, p.begin() + 42);  // the first half, plain
  return p;
}

}  // namespace corvalink
