#pragma once
// The upgrade dialog: shows the chosen router's address, repeats the upgrade request every
// 500 ms until the router acknowledges it, then sends the firmware file with TFTP and reports
// the result. The protocol lives in the core (upgrade socket, request format, TFTP client); this
// class only wires it to the window.

#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/resource_ids.h"
#include "discovery/search_formats.h"
#include "qt/progress_ctrl.h"
#include "upgrade/handshake.h"
#include "upgrade/upgrade_socket.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;

namespace corvalink {

struct TftpResult;
struct AppState;
class Clock;

/// Modal result when the user closes the dialog (Escape, close box), as IDCANCEL.
inline constexpr int UPGRADE_DLG_CANCELLED = 2;

/// Opened by a caller once AppState.selectedRouter and AppState.firmwarePath are filled. Ends
/// with 0 after "Upgrade complete", or with 2 when the user closes it. `state` must outlive the
/// dialog. Each opening starts a fresh handshake; the abort flag, once set by "&Abort", stays set
/// for the life of the object, while closing the dialog stops only the transfer under way.
/// UI thread only.
class CUpgradeDlg : public QDialog {
  Q_OBJECT

 public:
  /// Rests `ms` milliseconds between polls of the transfer's clock (see TftpEnv::sleepMs).
  using SleepFn = std::function<void(uint32_t ms)>;

  /// `transferClock` times the transfer's pauses; null means the process's MsClock. It must
  /// outlive the dialog. `transferSleep` is handed to the transfer as is.
  explicit CUpgradeDlg(AppState& state, QWidget* parent = nullptr, Clock* transferClock = nullptr,
                       SleepFn transferSleep = {});
  ~CUpgradeDlg() override;

  /// 1 when the interface text file was loaded and its slots 13-15 were applied, else 0.
  int ApplyInterfaceText();
  /// The poll timer's tick: one step of the handshake (a request to the address in the RouterIP
  /// field), or, once the router has acknowledged, the transfer.
  void OnTimer(unsigned timerId);
  void OnAbort();
  /// Runs the transfer and shows its result. Refused while a transfer is already running.
  void OnSend();

  /// The handshake socket, for tests and diagnostics (its port is chosen by the system).
  const CUpgradeSocket& UpgradeSocket() const { return m_socket; }
  bool IsTransferring() const { return m_transferring; }

  /// While a transfer runs, ending the dialog only asks the transfer to stop; the dialog ends
  /// once it has returned.
  void done(int result) override;
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  /// Runs each time the dialog is opened.
  int OnInitDialog();
  void BuildControls();
  void CreateUpgradeSocket();
  void StopWatchingSocket();
  void OnSocketReadable();
  void ShowResult(const TftpResult& result);

  AppState& m_state;

  QLabel* m_staticRouterIp = nullptr;
  QPushButton* m_btnAbort = nullptr;
  QPushButton* m_btnSend = nullptr;
  ProgressCtrl m_progress;
  QLineEdit* m_editRouterIp = nullptr;
  QIcon m_hIcon;
  bool m_abortRequested = false;
  CUpgradeSocket m_socket;
  UpgradeHandshake m_handshake;

  QTimer m_pollTimer;
  QSocketNotifier* m_socketNotifier = nullptr;
  std::unique_ptr<Clock> m_ownClock;
  Clock& m_transferClock;
  SleepFn m_transferSleep;
  bool m_transferring = false;
  /// The result asked for by closing the dialog during a transfer; set, it stops that transfer.
  std::optional<int> m_closeAfterTransfer;
};

}  // namespace corvalink
