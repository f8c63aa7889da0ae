#pragma once
// After the TFTP write: the wait while the router writes the image to its flash, shown as the
// upgrade bar's final fill, and how a window ends a transfer. FlashWait is the one schedule of
// that wait: SendFirmware ticks it for both windows, the CLI and a fleet's routers, the CLI's
// announcement and countdown read it, and the bar's data phase (BLOCKS_PER_PROGRESS_STEP) is
// set here too, so where the fill starts and how long it lasts are known in one place.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "upgrade/firmware_file.h"
#include "upgrade/progress_bar.h"
#include "upgrade/tftp_client.h"

namespace corvalink {

/// During the data phase the bar steps once per this many full blocks.
inline constexpr int BLOCKS_PER_PROGRESS_STEP = 5;
/// A step of the final fill comes once more than this has passed since the one before.
inline constexpr uint32_t PROGRESS_FILL_STEP_MS = 10;
/// So each step of the final fill takes at least this long on a millisecond clock.
inline constexpr uint32_t FILL_STEP_LEAST_MS = PROGRESS_FILL_STEP_MS + 1;

/// The top of the bar's range for a file of `fileSize` bytes: one more than its full blocks.
uint64_t ProgressTop(uint64_t fileSize);
/// The steps of the final fill after the last block of such a file: from where the data phase
/// leaves the bar up to its top.
uint64_t FinalFillSteps(uint64_t fileSize);
/// The least time the final fill (the router writing its flash) holds the result back.
uint32_t FinalFillMs(uint64_t fileSize);

/// The bar as a transfer starts (position 0, step 1), once the write request is acknowledged
/// (its range for the file) and after the `fullBlocksAcked`-th full block (a step per
/// BLOCKS_PER_PROGRESS_STEP of them).
void ResetUpgradeBar(ProgressModel& bar);
void SetUpgradeBarRange(ProgressModel& bar, uint64_t fileSize);
void StepUpgradeBarAfterFullBlock(ProgressModel& bar, uint32_t fullBlocksAcked);

/// The final fill as a stepper: started after the last block's acknowledgement, then ticked
/// with the time; each tick steps the bar once more than PROGRESS_FILL_STEP_MS have passed
/// since the last step, until the bar reaches its top.
class FlashWait {
 public:
  void Start(ProgressModel& bar, uint32_t now);
  /// True once the bar is full (then the router has had its least time to write its flash).
  bool Tick(uint32_t now);
  bool Started() const { return m_bar != nullptr; }
  /// The time the wait still lasts: the steps left at FILL_STEP_LEAST_MS each, or at the pace
  /// measured so far once enough steps were made to average (a busy machine steps slower).
  /// 0 before the wait.
  uint32_t MsLeft(uint32_t now) const;

 private:
  ProgressModel* m_bar = nullptr;
  uint32_t m_startMs = 0;
  uint32_t m_lastStepMs = 0;
  int64_t m_steps = 0;
  int64_t m_maxSteps = 0;
  bool m_done = false;
};

/// Sends `file` over TFTP (TftpSendFile), then holds the result back while `flash` ticks the
/// bar full, calling control.pump between ticks and ending early (TftpOutcome::FlashWaitStopped,
/// no ERROR: the router has the whole image) on the abort flag or control.stopRequested.
/// control.onFlashWaitStarted (may be empty) is called once the wait has begun.
TftpResult SendFirmware(FirmwareFile& file, std::string_view routerAddress, TftpControl& control,
                        TftpEnv& env, FlashWait& flash);
/// The same for the file at `path`, opened here once (OpenFirmwareFile).
TftpResult SendFirmware(std::string_view path, std::string_view routerAddress,
                        TftpControl& control, TftpEnv& env);

/// How an upgrade window ends a transfer: whether it shows the result, and the code it closes
/// with (none: it stays open, and "&Send" tries again). `closeAfter` is the code that a close
/// asked for during the transfer left. A close during the flash wait shows nothing: the image
/// arrived whole, so there is no failure to report, and no success either, as the wait was not
/// seen through.
struct TransferEnding {
  bool showResult = true;
  std::optional<int64_t> closeWith;
};
TransferEnding EndOfTransfer(const TftpResult& result, std::optional<int64_t> closeAfter);

}  // namespace corvalink
