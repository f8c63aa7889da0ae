#pragma once
// The simulator's record of what reached it: one text line per datagram, flushed at once, so a
// test in another process (or another network namespace) can read it while the simulator runs.
//
// Line format (fields separated by one space):
//   <socket> <sender address>:<sender port> <length> <bytes as upper-case hex, empty when 0>
// e.g. "search 198.18.0.1:40312 54 DD80003656454C4D4F524100..."; <socket> is "search" or "tftp".
// Thread-safe: the simulator writes, a test in the same process may read Lines().

#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipv4.h"

namespace corvalink::sim {

struct LoggedDatagram {
  std::string socket;
  Endpoint from;
  std::vector<uint8_t> bytes;
};

class DatagramLog {
 public:
  DatagramLog() = default;
  DatagramLog(const DatagramLog&) = delete;
  DatagramLog& operator=(const DatagramLog&) = delete;

  /// Also writes every record to `path` (truncated first). False when it cannot be opened.
  bool OpenFile(const std::string& path);
  /// Keeps at most `limit` records in memory (the file gets all); 0 keeps none.
  void SetMemoryLimit(std::size_t limit);

  void Record(std::string_view socket, const Endpoint& from, std::span<const uint8_t> bytes);
  std::vector<LoggedDatagram> Records() const;

  static std::string FormatLine(const LoggedDatagram& d);
  /// The inverse of FormatLine; nothing for a line that is not in the format.
  static std::optional<LoggedDatagram> ParseLine(std::string_view line);

 private:
  mutable std::mutex m_mutex;
  std::ofstream m_file;
  std::vector<LoggedDatagram> m_records;
  std::size_t m_limit = 10000;
};

}  // namespace corvalink::sim
