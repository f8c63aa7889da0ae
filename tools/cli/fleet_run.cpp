#include "fleet_run.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "discovery/router_table.h"
#include "platform/console.h"
#include "platform/ms_clock.h"
#include "progress_display.h"

namespace corvalink::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The terminal block is redrawn this often; a person sees no difference, and the lines of up to
// 30 routers cost nothing at this rate.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(200);

uint32_t MsSince(SteadyClock::time_point start) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
}

FleetState StateOf(RouterUpgradeStage stage) {
  switch (stage) {
    case RouterUpgradeStage::Handshake: return FleetState::Asking;
    case RouterUpgradeStage::Transfer: return FleetState::Sending;
    case RouterUpgradeStage::FlashWait: return FleetState::Flashing;
  }
  return FleetState::Asking;
}

FleetState StateOf(RouterUpgradeEnd end) {
  switch (end) {
    case RouterUpgradeEnd::Complete: return FleetState::Complete;
    case RouterUpgradeEnd::SocketFailed: return FleetState::Error;
    case RouterUpgradeEnd::HandshakeTimeout: return FleetState::NoAcknowledgement;
    case RouterUpgradeEnd::HandshakeStopped:
    case RouterUpgradeEnd::TransferStopped: return FleetState::Interrupted;
    case RouterUpgradeEnd::TransferFailed: return FleetState::TransferFailed;
    case RouterUpgradeEnd::FlashWaitStopped: return FleetState::FlashInterrupted;
  }
  return FleetState::Error;
}

// The rows the jobs write and the display reads, and the lines of state changes waiting to be
// printed. Only the calling thread prints.
class FleetBoard {
 public:
  explicit FleetBoard(std::vector<FleetTarget>& targets) : m_targets(targets) {}

  void Update(std::size_t i, const FleetRow& row) {
    std::lock_guard lock(m_mutex);
    const bool changed = m_targets[i].row.state != row.state;
    m_targets[i].row = row;
    if (changed) m_changes.push_back(row);
    if (changed) m_wake.notify_all();
  }
  FleetRow Row(std::size_t i) {
    std::lock_guard lock(m_mutex);
    return m_targets[i].row;
  }
  std::vector<FleetRow> Rows() {
    std::lock_guard lock(m_mutex);
    std::vector<FleetRow> rows;
    for (const FleetTarget& t : m_targets) rows.push_back(t.row);
    return rows;
  }
  std::vector<FleetRow> TakeChanges() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_changes, {});
  }
  /// Waits until `done` says so or `interval` passes.
  void Wait(std::chrono::milliseconds interval, const std::atomic<int>& running) {
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, interval, [&] { return running.load() == 0 || !m_changes.empty(); });
  }
  void Wake() { m_wake.notify_all(); }

 private:
  std::vector<FleetTarget>& m_targets;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<FleetRow> m_changes;
};

// One router's whole upgrade, on a job's thread.
void UpgradeOne(FleetBoard& board, std::size_t i, const RouterRecord& record,
                const FleetRunOptions& options) {
  const SteadyClock::time_point start = SteadyClock::now();
  FleetRow row = board.Row(i);
  if (InterruptRequested()) {
    row.state = FleetState::Interrupted;
    row.message = "not started: interrupted";
    board.Update(i, row);
    return;
  }
  RouterUpgradeOptions upgrade = options.upgrade;
  upgrade.stop = [] { return InterruptRequested(); };
  upgrade.onProgress = [&](const RouterUpgradeProgress& p) {
    row.state = StateOf(p.stage);
    row.requests = p.requestsSent;
    row.bytes = p.stats.bytesAcked;
    row.fileSize = p.stats.fileSize;
    row.retransmissions = p.stats.retransmissions;
    row.flashMsLeft = p.flashMsLeft;
    row.ms = MsSince(start);
    board.Update(i, row);
  };
  MsClock clock;
  const RouterUpgradeResult result = RunRouterUpgrade(record, options.file, clock, upgrade);
  row.state = StateOf(result.end);
  row.requests = result.requestsSent;
  row.bytes = result.transfer.stats.bytesAcked;
  row.fileSize = result.transfer.stats.fileSize;
  row.retransmissions = result.transfer.stats.retransmissions;
  row.flashMsLeft = 0;
  row.ms = MsSince(start);
  row.message = result.message;
  board.Update(i, row);
}

// Draws the rows as a block of lines, moving back over the block drawn before.
class BlockPainter {
 public:
  BlockPainter(std::FILE* out, ConsoleStream stream) : m_out(out), m_stream(stream) {}
  void Paint(const std::vector<FleetRow>& rows) {
    if (m_drawn > 0) std::fprintf(m_out, "\x1b[%zuA", m_drawn);
    const int columns = TerminalColumns(m_stream);
    // One column short of the width: a line that fills it would wrap on some terminals.
    const std::size_t width = columns > 1 ? static_cast<std::size_t>(columns - 1) : 79;
    for (const FleetRow& row : rows) {
      std::fprintf(m_out, "\r%s\x1b[K\n", FitLine(FormatFleetLine(row), width).c_str());
    }
    m_drawn = rows.size();
    std::fflush(m_out);
  }

 private:
  std::FILE* m_out;
  ConsoleStream m_stream;
  std::size_t m_drawn = 0;
};

}  // namespace

FleetDisplay ChooseFleetDisplay(bool terminal, bool sequences, bool tracing, int rows,
                                std::size_t routers) {
  // The block needs the whole of it on the screen, with the line the cursor rests on below it.
  if (!terminal || !sequences || tracing || rows <= 0) return FleetDisplay::Lines;
  return routers + 1 < static_cast<std::size_t>(rows) ? FleetDisplay::Block : FleetDisplay::Lines;
}

void RunFleet(std::vector<FleetTarget>& targets, const FleetRunOptions& options) {
  // Every row as it stands, before the jobs start writing them.
  if (options.display == FleetDisplay::Lines) {
    for (const FleetTarget& t : targets) {
      std::fprintf(options.out, "%s\n", FormatFleetLine(t.row).c_str());
    }
  }
  FleetBoard board(targets);
  std::vector<std::size_t> queue;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (targets[i].row.state == FleetState::Waiting) queue.push_back(i);
  }
  std::atomic<std::size_t> next{0};
  const std::size_t jobCount =
      std::min(queue.size(), static_cast<std::size_t>(std::max(1, options.jobs)));
  std::atomic<int> running{static_cast<int>(jobCount)};
  std::vector<std::thread> jobs;
  jobs.reserve(jobCount);
  for (std::size_t j = 0; j < jobCount; ++j) {
    jobs.emplace_back([&] {
      for (std::size_t k = next++; k < queue.size(); k = next++) {
        UpgradeOne(board, queue[k], targets[queue[k]].record, options);
      }
      --running;
      board.Wake();
    });
  }

  BlockPainter painter(options.out, options.stream);
  auto show = [&] {
    if (options.display == FleetDisplay::Block) {
      board.TakeChanges();
      painter.Paint(board.Rows());
      return;
    }
    for (const FleetRow& row : board.TakeChanges()) {
      std::fprintf(options.out, "%s\n", FormatFleetLine(row).c_str());
    }
    std::fflush(options.out);
  };
  while (running.load() > 0) {
    show();
    board.Wait(options.display == FleetDisplay::Block ? REDRAW_INTERVAL
                                                      : std::chrono::milliseconds(1000),
               running);
  }
  for (std::thread& job : jobs) job.join();
  show();
}

}  // namespace corvalink::cli
