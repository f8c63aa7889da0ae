#include "progress_display.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace corvalink::cli {
namespace {

// A terminal line is redrawn at most this often; the transfer calls back far more often.
constexpr uint32_t REDRAW_MS = 100;
// Without a terminal, the countdown is repeated this often.
constexpr uint32_t PLAIN_FLASH_EVERY_MS = 10000;

std::string Fixed1(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

std::string FormatBytes(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char* UNITS[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(UNITS)) {
    value /= 1024.0;
    ++unit;
  }
  return Fixed1(value) + " " + UNITS[unit];
}

std::string FormatDuration(uint64_t seconds) {
  const uint64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  char text[40];
  if (h > 0) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                  static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(m),
                  static_cast<unsigned long long>(s));
  }
  return text;
}

std::string FormatTransferLine(const TransferView& v) {
  const uint64_t size = v.fileSize;
  const uint64_t done = std::min(v.bytesAcked, size);
  // The line is shown once a block is acknowledged, so an empty image is then complete.
  const unsigned percent = size == 0 ? 100u : static_cast<unsigned>(done * 100 / size);
  char head[8];
  std::snprintf(head, sizeof head, "%3u%%", percent);
  std::string line = head;
  line += "  " + FormatBytes(done) + " of " + FormatBytes(size);
  if (v.elapsedMs > 0 && v.bytesAcked > v.rateBaseBytes) {
    const double rate = static_cast<double>(v.bytesAcked - v.rateBaseBytes) * 1000.0 / v.elapsedMs;
    line += "  " + FormatBytes(static_cast<uint64_t>(rate)) + "/s";
    const double left = static_cast<double>(size - done) / rate;
    line += "  " + FormatDuration(static_cast<uint64_t>(left + 0.5)) + " left";
  } else {
    line += "  --/s  --:-- left";
  }
  line += "  " + std::to_string(v.retransmissions) +
          (v.retransmissions == 1 ? " retransmission" : " retransmissions");
  return line;
}

std::string FormatFlashLine(uint32_t msLeft) {
  // Short enough for an 80-column terminal: a wrapped line cannot be redrawn in place.
  return "The router is writing its flash; do not power it off: " +
         FormatDuration((msLeft + 999) / 1000) + " left";
}

std::string FitLine(const std::string& line, std::size_t width) {
  std::string fitted = line;
  while (fitted.size() > width) {
    const std::size_t cut = fitted.rfind("  ");
    if (cut == std::string::npos || cut == 0) return fitted.substr(0, width);
    fitted.erase(cut);
  }
  return fitted;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, ProgressStyle style, Clock& clock,
                                 std::function<int()> terminalColumns)
    : m_out(out), m_style(style), m_columns(std::move(terminalColumns)), m_clock(clock) {}

void ProgressDisplay::OnBlockAcked(const TftpStats& stats) {
  const uint32_t now = m_clock.NowMs();
  if (!m_started) {
    // The rate is measured from the first acknowledged block on.
    m_started = true;
    m_startMs = now;
    m_startBytes = stats.bytesAcked;
  }
  m_stats = stats;
  Show(false);
}

void ProgressDisplay::Pump() { Show(false); }

void ProgressDisplay::OnFlashWaitStarted(const FlashWait& flash) {
  Show(true);  // the last data line stays on screen above the countdown
  Finish();
  m_flash = &flash;
  Show(true);
}

void ProgressDisplay::OnChanged() {
  if (m_flash != nullptr) Show(false);
}

void ProgressDisplay::Finish() {
  if (m_lineOpen) {
    std::fputc('\n', m_out);
    Flush();
    m_lineOpen = false;
    m_lineLength = 0;
  }
}

void ProgressDisplay::Flush() {
  errno = 0;
  if (std::fflush(m_out) != 0 && m_writeError == 0) m_writeError = errno != 0 ? errno : EIO;
}

// `columns` > 0: redraw the one line in place, one column short of the terminal's width, so the
// cursor never reaches the last column, where a terminal may wrap. Otherwise a plain line.
void ProgressDisplay::Emit(const std::string& line, int columns) {
  if (columns <= 0) {
    std::fprintf(m_out, "%s\n", line.c_str());
    Flush();
    return;
  }
  const std::size_t width = static_cast<std::size_t>(columns > 1 ? columns - 1 : 1);
  const std::string fitted = FitLine(line, width);
  if (m_style == ProgressStyle::RedrawErase) {
    // Back to the start of the line, then clear what a longer earlier line left there.
    std::fprintf(m_out, "\r%s\x1b[K", fitted.c_str());
  } else {
    // No escape sequences: spaces cover what a longer earlier line left, within the width.
    const std::size_t cover = std::min(m_lineLength, width);
    const int pad = cover > fitted.size() ? static_cast<int>(cover - fitted.size()) : 0;
    std::fprintf(m_out, "\r%s%*s", fitted.c_str(), pad, "");
    m_lineLength = fitted.size();
  }
  m_lineOpen = true;
  Flush();
}

void ProgressDisplay::Show(bool force) {
  if (!m_started) return;
  const uint32_t now = m_clock.NowMs();
  const int columns = m_style == ProgressStyle::Lines || !m_columns ? 0 : m_columns();
  if (columns <= 0) {
    Finish();  // a redrawn line that was open (the width became unknown) ends first
    ShowPlain();
    return;
  }
  if (!force && ElapsedMs(m_lastDrawMs, now) < REDRAW_MS && m_lineOpen) return;
  m_lastDrawMs = now;
  if (m_flash == nullptr) {
    Emit(FormatTransferLine(View(now)), columns);
    return;
  }
  Emit(FormatFlashLine(m_flash->MsLeft(now)), columns);
}

TransferView ProgressDisplay::View(uint32_t now) const {
  return {m_stats.bytesAcked, m_stats.fileSize, m_stats.retransmissions,
          ElapsedMs(m_startMs, now), m_startBytes};
}

void ProgressDisplay::ShowPlain() {
  const uint32_t now = m_clock.NowMs();
  if (m_flash == nullptr) {
    const uint64_t size = m_stats.fileSize;
    const int tenth = size == 0 ? 10 : static_cast<int>(std::min(m_stats.bytesAcked, size) * 10 / size);
    if (tenth == m_lastPlainTenth) return;
    m_lastPlainTenth = tenth;
    Emit(FormatTransferLine(View(now)), 0);
    return;
  }
  if (m_flashAnnounced && ElapsedMs(m_lastPlainFlashMs, now) < PLAIN_FLASH_EVERY_MS) return;
  m_flashAnnounced = true;
  m_lastPlainFlashMs = now;
  Emit(FormatFlashLine(m_flash->MsLeft(now)), 0);
}

}  // namespace corvalink::cli
