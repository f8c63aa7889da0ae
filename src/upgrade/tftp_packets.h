#pragma once
// TFTP datagrams (RFC 1350 sec. 5). Opcode, block number and error code are big-endian 16-bit
// numbers at fixed offsets; texts are NUL-terminated.
//
//   offset  size  WRQ          DATA          ACK           ERROR
//   0       2     opcode 2     opcode 3      opcode 4      opcode 5
//   2       n+1   name, 0      block (2)     block (2)     code (2)
//   ...           "octet", 0   0..512 bytes                text, 0

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvalink {

inline constexpr uint16_t TFTP_OP_RRQ = 1;
inline constexpr uint16_t TFTP_OP_WRQ = 2;
inline constexpr uint16_t TFTP_OP_DATA = 3;
inline constexpr uint16_t TFTP_OP_ACK = 4;
inline constexpr uint16_t TFTP_OP_ERROR = 5;

/// Opcode and block number in front of every DATA and ACK.
inline constexpr std::size_t TFTP_HEADER_SIZE = 4;

/// RFC 1350 sec. 4: the answer to a datagram from a port that is not the transfer's peer.
inline constexpr uint16_t TFTP_ERROR_UNKNOWN_TID = 5;
inline constexpr std::string_view TFTP_UNKNOWN_TID_TEXT = "Unknown transfer ID";
/// What the routers expect when a client gives up; 8 lies outside RFC 1350's codes 0 to 7.
inline constexpr uint16_t TFTP_ERROR_ABORTED = 8;
inline constexpr std::string_view TFTP_ABORT_TEXT = "Transfer Aborted";

/// WRQ for `remoteName` in "octet" mode: name length + 9 bytes.
std::vector<uint8_t> BuildWrq(std::string_view remoteName);

/// ERROR with `code` and `text`: text length + 5 bytes.
std::vector<uint8_t> BuildError(uint16_t code, std::string_view text);

/// The opcode of a datagram, or nothing when it is shorter than an opcode.
std::optional<uint16_t> TftpOpcode(std::span<const uint8_t> datagram);

/// The block number of an ACK; nothing for any other datagram, and for one too short to hold it.
std::optional<uint16_t> ParseAck(std::span<const uint8_t> datagram);

struct TftpErrorPacket {
  uint16_t code = 0;
  std::string text;
};

/// The code and text of an ERROR. The text ends at its NUL or, when the NUL is missing, at the
/// end of the datagram; nothing for any other datagram.
std::optional<TftpErrorPacket> ParseError(std::span<const uint8_t> datagram);

}  // namespace corvalink
