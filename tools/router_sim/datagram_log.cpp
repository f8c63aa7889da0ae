#include "datagram_log.h"

#include <charconv>

#include "sim_router.h"

namespace corvalink::sim {

bool DatagramLog::OpenFile(const std::string& path) {
  std::lock_guard lock(m_mutex);
  m_file.open(path, std::ios::out | std::ios::trunc);
  return m_file.is_open();
}

void DatagramLog::SetMemoryLimit(std::size_t limit) {
  std::lock_guard lock(m_mutex);
  m_limit = limit;
}

void DatagramLog::Record(std::string_view socket, const Endpoint& from,
                         std::span<const uint8_t> bytes) {
  LoggedDatagram d{std::string(socket), from, {bytes.begin(), bytes.end()}};
  std::lock_guard lock(m_mutex);
  if (m_file.is_open()) {
    m_file << FormatLine(d) << '\n';
    m_file.flush();
  }
  if (m_records.size() < m_limit) m_records.push_back(std::move(d));
}

std::vector<LoggedDatagram> DatagramLog::Records() const {
  std::lock_guard lock(m_mutex);
  return m_records;
}

std::string DatagramLog::FormatLine(const LoggedDatagram& d) {
  return d.socket + ' ' + Ipv4ToText(d.from.address) + ':' + std::to_string(d.from.port) + ' ' +
         std::to_string(d.bytes.size()) + ' ' + ToHex(d.bytes);
}

std::optional<LoggedDatagram> DatagramLog::ParseLine(std::string_view line) {
  std::size_t s1 = line.find(' ');
  if (s1 == std::string_view::npos) return std::nullopt;
  std::size_t s2 = line.find(' ', s1 + 1);
  if (s2 == std::string_view::npos) return std::nullopt;
  std::size_t s3 = line.find(' ', s2 + 1);
  if (s3 == std::string_view::npos) return std::nullopt;

  LoggedDatagram d;
  d.socket = std::string(line.substr(0, s1));
  std::string_view peer = line.substr(s1 + 1, s2 - s1 - 1);
  std::size_t colon = peer.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto address = ParseIpv4(peer.substr(0, colon));
  if (!address) return std::nullopt;
  d.from.address = *address;
  std::string_view port = peer.substr(colon + 1);
  if (std::from_chars(port.data(), port.data() + port.size(), d.from.port).ec != std::errc()) {
    return std::nullopt;
  }
  std::string_view lengthText = line.substr(s2 + 1, s3 - s2 - 1);
  std::size_t length = 0;
  if (std::from_chars(lengthText.data(), lengthText.data() + lengthText.size(), length).ec !=
      std::errc()) {
    return std::nullopt;
  }
  auto bytes = ParseHex(line.substr(s3 + 1));
  if (!bytes || bytes->size() != length) return std::nullopt;
  d.bytes = std::move(*bytes);
  return d;
}

}  // namespace corvalink::sim
