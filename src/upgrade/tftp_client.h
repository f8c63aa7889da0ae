#pragma once
// A TFTP client (RFC 1350) that writes one file to a router in "octet" mode, lock-step, one
// 512-byte block per DATA/ACK exchange, with fixed attempt counts and waits. It blocks the
// calling thread for the whole transfer; Control::pump lets a window stay alive meanwhile.
// The wait after it, while the router writes its flash, is upgrade/flash_wait.h's.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ms_clock.h"
#include "platform/udp_socket.h"
#include "upgrade/firmware_file.h"
#include "upgrade/progress_bar.h"

namespace corvalink {

class FlashWait;

inline constexpr uint16_t TFTP_PORT = 69;
inline constexpr int TFTP_BLOCK_SIZE = 512;
inline constexpr int TFTP_WRQ_ATTEMPTS = 14;
inline constexpr int TFTP_DATA_ATTEMPTS = 4;
inline constexpr int TFTP_REPLY_TIMEOUT_MS = 2000;
inline constexpr uint32_t TFTP_WRQ_PAUSE_MS = 1000;
/// An ACK of the block before the one outstanding that arrives within this time of the block's
/// send is a copy (the network duplicated it, or the router answered a block that went twice)
/// and is ignored; a later one is the router's own retransmission, a sign that the block was
/// lost, and the block goes again at once. 20 ms is far above a LAN round trip (well under
/// 1 ms wired, a few ms over Wi-Fi) and far below the retransmission timers of TFTP servers
/// (1 s for tftpd-hpa, the smallest timeout RFC 2349 allows, 5 s for atftpd). A copy read later
/// than this (the window was busy) costs one extra DATA, never a run of them.
inline constexpr uint32_t DUPLICATE_ACK_HOLDOFF_MS = 20;
/// With a pump, the transfer calls it at least this often while it waits or sends.
inline constexpr uint32_t PUMP_INTERVAL_MS = 50;

enum class TftpOutcome {
  Ok,         ///< the last block was acknowledged (and, by SendFirmware, the bar filled)
  FileError,  ///< the file could not be opened (nothing was sent) or read (ERROR sent)
  Timeout,    ///< attempts used up; ERROR sent
  Aborted,    ///< the abort flag was set or a stop was asked for; ERROR sent
  /// Every block was acknowledged, but the wait that follows (SendFirmware's final fill, while
  /// the router writes its flash) was cut short by the abort flag or a stop; no ERROR was sent.
  FlashWaitStopped,
  NetworkError,  ///< the router address is not a dotted quad, or no socket; nothing was sent
};

struct TftpStats {
  uint64_t bytesAcked = 0;
  uint64_t fileSize = 0;
  uint32_t blocksAcked = 0;
  uint32_t retransmissions = 0;
  /// Every datagram the transfer sent: write requests, DATA, ERROR.
  uint32_t datagramsSent = 0;
  /// Copies of the previous block's ACK that were ignored.
  uint32_t duplicateAcksIgnored = 0;
  /// The short block that ends the file is acknowledged: the router has the whole image.
  bool lastBlockAcked = false;
};

struct TftpResult {
  TftpOutcome outcome = TftpOutcome::FileError;
  std::string message;  ///< for people: names the file, the block, the peer
  TftpStats stats;
  bool ok() const { return outcome == TftpOutcome::Ok; }
};

/// What the transfer reads and drives on its caller's side. Everything must outlive the call.
struct TftpControl {
  /// The upgrade bar: SendFirmware drives it around the transfer (upgrade/flash_wait.h).
  ProgressModel& progress;
  /// Read before every attempt; once set, the transfer ends with ERROR.
  const bool& abortRequested;
  /// Called at least every PUMP_INTERVAL_MS while the transfer runs, so a window can repaint
  /// and take clicks. May be empty: then the data phase reads no clock beyond its own needs.
  std::function<void()> pump;
  /// Called after each acknowledged block. May be empty.
  std::function<void(const TftpStats&)> onBlockAcked;
  /// Asked with the abort flag, also during waits and the final fill; true stops the transfer as
  /// the flag does. Unlike the flag it belongs to one call (a window being closed, Ctrl-C).
  /// May be empty.
  std::function<bool()> stopRequested;
  /// Called by SendFirmware once the last block is acknowledged and the flash wait has begun;
  /// the wait is ticked until SendFirmware returns. May be empty.
  std::function<void(const FlashWait&)> onFlashWaitStarted;
  /// Called once the router acknowledged the write request, the file's size in the stats.
  /// May be empty.
  std::function<void(const TftpStats&)> onWriteAcknowledged;
};

/// The services the transfer uses; tests hand in a fake clock and fake sockets.
struct TftpEnv {
  Clock& clock;
  /// Makes the transfer's socket; empty means a real UdpSocket on a system-chosen port.
  std::function<std::unique_ptr<DatagramSocket>()> openSocket;
  /// Where the write request goes; the routers listen on TFTP_PORT.
  uint16_t serverPort = TFTP_PORT;
  /// How the transfer rests between polls of the clock during its pauses, in milliseconds;
  /// empty means the thread sleeps. The owner of a fake clock moves it on here.
  std::function<void(uint32_t)> sleepMs;
};

/// The remote name for a local path: the part after the last '\' or '/', or the whole path.
std::string RemoteFileName(std::string_view path);

/// Writes `file` (read from where its stream stands) to `routerAddress` (dotted decimal); Ok
/// once the last block is acknowledged. The stream is not closed here.
TftpResult TftpSendFile(FirmwareFile& file, std::string_view routerAddress, TftpControl& control,
                        TftpEnv& env);

}  // namespace corvalink
