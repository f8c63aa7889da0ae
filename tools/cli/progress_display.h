#pragma once
// The upgrade's progress as a terminal shows it: one line redrawn in place on a terminal, never
// wider than the terminal, plain lines now and then when the output goes to a file or a pipe or
// the terminal's width is unknown. It follows the transfer through
// the same progress bar model and block callback the upgrade window uses, and turns the bar's
// final fill, which holds the result back while the router writes its flash, into a countdown.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/ms_clock.h"
#include "upgrade/progress_bar.h"
#include "upgrade/flash_wait.h"

namespace corvalink::cli {

/// "0 B", "512 B", "1.5 KiB", "32.0 MiB".
std::string FormatBytes(uint64_t bytes);
/// "0:07", "12:34", "1:02:03".
std::string FormatDuration(uint64_t seconds);

/// What the data phase line shows at one moment.
struct TransferView {
  uint64_t bytesAcked = 0;
  uint64_t fileSize = 0;
  uint32_t retransmissions = 0;
  /// Time over which the rate is measured, and the bytes already acknowledged at its start.
  uint32_t elapsedMs = 0;
  uint64_t rateBaseBytes = 0;
};

/// " 42%  1.2 MiB of 2.9 MiB  450.0 KiB/s  0:04 left  3 retransmissions"; the rate and the
/// time left read "--" until there is something to measure.
std::string FormatTransferLine(const TransferView& view);

/// The countdown shown while the router writes its flash.
std::string FormatFlashLine(uint32_t msLeft);

/// `line` cut to at most `width` characters: whole fields (separated by two spaces) are dropped
/// from the end first, and only a first field still too long is cut.
std::string FitLine(const std::string& line, std::size_t width);

/// How the progress reaches its reader.
enum class ProgressStyle {
  Lines,        ///< a file or a pipe: a plain line now and then
  Redraw,       ///< a terminal: one line redrawn in place, padded with spaces over what a
                ///< longer earlier line left (a console that follows no escape sequences)
  RedrawErase,  ///< a terminal that follows "erase to the end of the line"
};

/// Drives the display from the transfer's callbacks. Give it to SendFirmware as the progress
/// model, and call OnBlockAcked, Pump and OnFlashWaitStarted from TftpControl's callbacks.
class ProgressDisplay : public ProgressModel {
 public:
  /// `out` receives the display in the given style. For the redrawn styles `terminalColumns`
  /// gives the terminal's width, asked at each redraw; empty, or a width of 0 (unknown), gives
  /// plain lines as ProgressStyle::Lines does.
  ProgressDisplay(std::FILE* out, ProgressStyle style, Clock& clock,
                  std::function<int()> terminalColumns = {});

  void OnBlockAcked(const TftpStats& stats);
  void Pump();
  /// From here on the countdown shows `flash`'s time left; it must last until Finish.
  void OnFlashWaitStarted(const FlashWait& flash);
  /// Ends the redrawn line (after success or failure) so the next output starts clean.
  void Finish();
  /// The error (errno) of the first write to `out` that failed; 0 when none did.
  int WriteError() const { return m_writeError; }

 protected:
  void OnChanged() override;

 private:
  void Show(bool force);
  void ShowPlain();
  void Emit(const std::string& line, int columns);
  void Flush();
  TransferView View(uint32_t now) const;

  std::FILE* m_out;
  ProgressStyle m_style;
  std::function<int()> m_columns;
  std::size_t m_lineLength = 0;  ///< what the open redrawn line shows, for the padding
  Clock& m_clock;
  TftpStats m_stats;
  uint32_t m_startMs = 0;
  uint64_t m_startBytes = 0;
  bool m_started = false;
  const FlashWait* m_flash = nullptr;
  uint32_t m_lastDrawMs = 0;
  bool m_lineOpen = false;
  int m_lastPlainTenth = -1;
  uint32_t m_lastPlainFlashMs = 0;
  bool m_flashAnnounced = false;
  int m_writeError = 0;
};

}  // namespace corvalink::cli
