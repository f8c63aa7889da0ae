#include "upgrade/router_upgrade.h"

#include <cstdint>

#include "upgrade/handshake.h"
#include "upgrade/progress_bar.h"
#include "upgrade/upgrade_socket.h"

namespace corvalink {
namespace {

// The transfer's progress bar, turned into the caller's progress reports.
class UpgradeProgressModel : public ProgressModel {
 public:
  UpgradeProgressModel(RouterUpgradeProgress& progress, Clock& clock,
                       const RouterUpgradeOptions& options)
      : m_progress(progress), m_clock(clock), m_options(options) {}

  void OnBlockAcked(const TftpStats& stats) {
    m_progress.stats = stats;
    Report();
  }

  void OnFlashWaitStarted(const FlashWait& flash) {
    m_flash = &flash;
    m_progress.stage = RouterUpgradeStage::FlashWait;
    m_progress.flashMsLeft = flash.MsLeft(m_clock.NowMs());
    Report();
  }

 protected:
  // The bar's final fill steps at least every PROGRESS_FILL_STEP_MS; a report per
  // REPORT_EVERY steps is plenty for a person.
  void OnChanged() override {
    if (m_flash == nullptr) return;
    if (++m_fillSteps % REPORT_EVERY != 0) return;
    m_progress.flashMsLeft = m_flash->MsLeft(m_clock.NowMs());
    Report();
  }

 private:
  static constexpr int REPORT_EVERY = 10;

  void Report() {
    if (m_options.onProgress) m_options.onProgress(m_progress);
  }

  RouterUpgradeProgress& m_progress;
  Clock& m_clock;
  const RouterUpgradeOptions& m_options;
  const FlashWait* m_flash = nullptr;  // while SendFirmware ticks it
  int m_fillSteps = 0;
};

bool Stopped(const RouterUpgradeOptions& options) { return options.stop && options.stop(); }

}  // namespace

RouterUpgradeResult RunRouterUpgrade(const RouterRecord& router, const std::string& path,
                                     Clock& clock, const RouterUpgradeOptions& options) {
  RouterUpgradeResult result;
  RouterUpgradeProgress progress;
  auto report = [&] {
    if (options.onProgress) options.onProgress(progress);
  };
  report();

  bool acknowledged = false;
  {
    CUpgradeSocket socket(acknowledged);
    std::string socketErr;
    if (!socket.Create(&socketErr)) {
      result.message = "cannot create the upgrade socket: " + socketErr;
      return result;
    }
    HandshakeOptions handshake;
    handshake.timeoutMs = options.handshakeTimeoutMs;
    handshake.stop = [&options] { return Stopped(options); };
    handshake.onRequestSent = [&](int sent) {
      progress.requestsSent = sent;
      report();
    };
    const HandshakeResult h = RunUpgradeHandshake(
        socket, acknowledged, router, Endpoint{router.ipAddress, options.upgradePort}, clock,
        handshake);
    socket.Close();
    result.requestsSent = h.requestsSent;
    switch (h.end) {
      case HandshakeEnd::Acknowledged:
        break;
      case HandshakeEnd::Stopped:
        result.end = RouterUpgradeEnd::HandshakeStopped;
        result.message = "stopped before the router acknowledged; nothing was transferred";
        return result;
      case HandshakeEnd::Failed:
        result.end = RouterUpgradeEnd::SocketFailed;
        result.message = h.error;
        return result;
      case HandshakeEnd::Timeout:
        result.end = RouterUpgradeEnd::HandshakeTimeout;
        result.message = "no acknowledgement of " + std::to_string(h.requestsSent) +
                         " upgrade requests; nothing was transferred";
        return result;
    }
  }

  progress.stage = RouterUpgradeStage::Transfer;
  report();
  UpgradeProgressModel bar(progress, clock, options);
  const bool noAbortFlag = false;
  TftpControl control{bar, noAbortFlag, {},
                      [&bar](const TftpStats& stats) { bar.OnBlockAcked(stats); },
                      [&options] { return Stopped(options); },
                      [&bar](const FlashWait& flash) { bar.OnFlashWaitStarted(flash); }};
  TftpEnv env{clock, {}, options.tftpPort, {}};
  result.transfer = SendFirmware(path, Ipv4ToText(router.ipAddress), control, env);
  switch (result.transfer.outcome) {
    case TftpOutcome::Ok:
      result.end = RouterUpgradeEnd::Complete;
      return result;
    case TftpOutcome::FlashWaitStopped:
      result.end = RouterUpgradeEnd::FlashWaitStopped;
      result.message = "stopped while the router writes its flash; every block was "
                       "acknowledged: do not power it off or restart it for a while";
      return result;
    case TftpOutcome::Aborted:
      if (Stopped(options)) {
        result.end = RouterUpgradeEnd::TransferStopped;
        result.message = "stopped during the transfer; the router was told it is aborted";
        return result;
      }
      break;
    default:
      break;
  }
  result.end = RouterUpgradeEnd::TransferFailed;
  result.message = result.transfer.message;
  return result;
}

}  // namespace corvalink
