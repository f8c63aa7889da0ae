#include "upgrade/tftp_packets.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace corvalink {
namespace {

constexpr std::string_view TRANSFER_MODE = "octet";

// Appends `text` and its terminating NUL at `at`; returns the offset after the NUL.
std::size_t PutText(std::span<uint8_t> b, std::size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  b[at + text.size()] = 0;
  return at + text.size() + 1;
}

}  // namespace

std::vector<uint8_t> BuildWrq(std::string_view remoteName) {
  std::vector<uint8_t> d(2 + remoteName.size() + 1 + TRANSFER_MODE.size() + 1, 0);
  PutU16Be(d, 0, TFTP_OP_WRQ);
  PutText(d, PutText(d, 2, remoteName), TRANSFER_MODE);
  return d;
}

std::vector<uint8_t> BuildError(uint16_t code, std::string_view text) {
  std::vector<uint8_t> d(4 + text.size() + 1, 0);
  PutU16Be(d, 0, TFTP_OP_ERROR);
  PutU16Be(d, 2, code);
  PutText(d, 4, text);
  return d;
}

std::optional<uint16_t> TftpOpcode(std::span<const uint8_t> datagram) {
  if (datagram.size() < 2) return std::nullopt;
  return GetU16Be(datagram, 0);
}

std::optional<uint16_t> ParseAck(std::span<const uint8_t> datagram) {
  if (datagram.size() < TFTP_HEADER_SIZE || GetU16Be(datagram, 0) != TFTP_OP_ACK) {
    return std::nullopt;
  }
  return GetU16Be(datagram, 2);
}

std::optional<TftpErrorPacket> ParseError(std::span<const uint8_t> datagram) {
  if (datagram.size() < 4 || GetU16Be(datagram, 0) != TFTP_OP_ERROR) return std::nullopt;
  auto text = datagram.subspan(4);
  auto end = std::find(text.begin(), text.end(), uint8_t{0});
  return TftpErrorPacket{GetU16Be(datagram, 2), std::string(text.begin(), end)};
}

}  // namespace corvalink
