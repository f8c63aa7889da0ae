#include "qt/upgrade_dlg.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSocketNotifier>
#include <algorithm>
#include <string>

#include "qt/app_icon.h"
#include "app/app_state.h"
#include "qt/app_message.h"
#include "qt/dialog_builder.h"
#include "qt/dialog_units.h"
#include "platform/ipv4.h"
#include "platform/ms_clock.h"
#include "text/ui_texts.h"
#include "upgrade/flash_wait.h"

namespace corvalink {

CUpgradeDlg::CUpgradeDlg(AppState& state, QWidget* parent, Clock* transferClock,
                         SleepFn transferSleep)
    : QDialog(parent),
      m_state(state),
      m_progress(this),
      m_hIcon(AppIcon()),
      m_socket(state.upgradeAcknowledged),
      m_handshake(m_socket, state.upgradeAcknowledged),
      m_ownClock(transferClock == nullptr ? std::make_unique<MsClock>() : nullptr),
      m_transferClock(transferClock == nullptr ? *m_ownClock : *transferClock),
      m_transferSleep(std::move(transferSleep)) {
  BuildControls();
  m_pollTimer.setInterval(static_cast<int>(UPGRADE_REQUEST_INTERVAL_MS));
  connect(&m_pollTimer, &QTimer::timeout, this, [this] { OnTimer(UPGRADE_POLL_TIMER); });
  connect(m_btnSend, &QPushButton::clicked, this, &CUpgradeDlg::OnSend);
  connect(m_btnAbort, &QPushButton::clicked, this, &CUpgradeDlg::OnAbort);
}

CUpgradeDlg::~CUpgradeDlg() {
  // The notifier must let go of the descriptor before the socket member closes it.
  StopWatchingSocket();
}

void CUpgradeDlg::BuildControls() {
  const DialogUnits du = DialogUnits::ForFont(font());
  SetUpDialogFrame(*this, CORVALINK_ID(IDD_UPGRADE), BuiltInQText(UiText::UpgradeCaption),
                   du.Size(211, 108));

  // The group box comes last in the template and so lies beneath the other controls.
  PlaceControl<QGroupBox>(this, nullptr, du.Rect(7, 7, 197, 73));

  m_staticRouterIp = PlaceControl<QLabel>(this, CORVALINK_ID(IDC_ROUTER_IP_LABEL),
                                          du.Rect(15, 27, 77, 8), BuiltInQText(UiText::UpgradeRouterIpLabel));
  m_staticRouterIp->setAlignment(Qt::AlignRight | Qt::AlignTop);

  m_editRouterIp =
      PlaceControl<QLineEdit>(this, CORVALINK_ID(IDC_ROUTER_IP), du.Rect(95, 24, 93, 14));
  m_editRouterIp->setEnabled(false);
  MakeStaticText(m_staticRouterIp, m_editRouterIp);

  m_btnSend = PlaceControl<QPushButton>(this, CORVALINK_ID(IDC_SEND), du.Rect(95, 50, 93, 14),
                                        BuiltInQText(UiText::UpgradeSend));
  m_btnSend->setDefault(true);

  m_btnAbort = PlaceControl<QPushButton>(this, CORVALINK_ID(IDC_ABORT), du.Rect(21, 66, 77, 16),
                                         QStringLiteral("&Abort"));
  m_btnAbort->setVisible(false);

  QProgressBar* bar = m_progress.Bar();
  SetControlId(*bar, CORVALINK_ID(IDC_PROGRESS));
  bar->setGeometry(du.Rect(7, 87, 197, 14));

  setTabOrder(m_btnSend, m_btnAbort);
  setTabOrder(m_btnAbort, m_editRouterIp);
}

void CUpgradeDlg::showEvent(QShowEvent* event) {
  // A spontaneous show is the window coming back from being minimised, not a new opening.
  if (!event->spontaneous()) OnInitDialog();
  QDialog::showEvent(event);
}

void CUpgradeDlg::hideEvent(QHideEvent* event) {
  // The poll timer belongs to the window: closing the dialog ends it. The socket stays open, as
  // a late reply may still arrive; the next opening replaces it.
  if (!event->spontaneous()) m_pollTimer.stop();
  QDialog::hideEvent(event);
}

int CUpgradeDlg::OnInitDialog() {
  setWindowIcon(m_hIcon);
  ApplyInterfaceText();
  m_editRouterIp->setText(QString::fromStdString(Ipv4ToText(m_state.selectedRouter.ipAddress)));
  m_state.upgradeAcknowledged = false;
  m_btnSend->setEnabled(false);
  CreateUpgradeSocket();
  m_handshake.Open(m_state.selectedRouter, m_progress);
  // Nothing is sent now: the first request goes out with the first tick.
  m_pollTimer.start();
  return 1;
}

int CUpgradeDlg::ApplyInterfaceText() {
  InterfaceTextTable& table = m_state.interfaceText;
  if (table.loaded == 0) return 0;
  TrimUpgradeDialogSlots(table);
  SetCaption(*this, QtText(table, UiText::UpgradeCaption));
  m_staticRouterIp->setText(QtText(table, UiText::UpgradeRouterIpLabel));
  m_btnSend->setText(QtText(table, UiText::UpgradeSend));
  return 1;
}

void CUpgradeDlg::CreateUpgradeSocket() {
  // A socket left open by an earlier opening is closed first; its notifier goes before it.
  StopWatchingSocket();
  m_socket.Close();
  if (!m_socket.Create()) return;
  int fd = m_socket.Descriptor();
  if (fd < 0) return;
  m_socketNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(m_socketNotifier, &QSocketNotifier::activated, this, &CUpgradeDlg::OnSocketReadable);
}

void CUpgradeDlg::StopWatchingSocket() {
  if (m_socketNotifier == nullptr) return;
  m_socketNotifier->setEnabled(false);
  m_socketNotifier->deleteLater();
  m_socketNotifier = nullptr;
}

void CUpgradeDlg::OnSocketReadable() {
  m_socket.OnReceive(0);
  // An accepted reply closes the socket; its descriptor number may soon belong to another.
  if (!m_socket.IsOpen()) StopWatchingSocket();
}

void CUpgradeDlg::OnTimer(unsigned timerId) {
  if (timerId != UPGRADE_POLL_TIMER) return;
  // The field is filled from the selected router, so it always holds a dotted address; should
  // it ever hold anything else the tick sends nothing.
  struct Window : HandshakeWindow {
    explicit Window(CUpgradeDlg& d) : dlg(d) {}
    std::string RouterAddressField() const override {
      return dlg.m_editRouterIp->text().toStdString();
    }
    void EnableSendButton() override { dlg.m_btnSend->setEnabled(true); }
    void StopPollTimer() override { dlg.m_pollTimer.stop(); }
    void StopWatchingSocket() override { dlg.StopWatchingSocket(); }
    void StartTransfer() override { dlg.OnSend(); }
    CUpgradeDlg& dlg;
  } window(*this);
  m_handshake.OnPollTimer(window, m_progress, m_state.upgradePort);
}

void CUpgradeDlg::OnAbort() { m_abortRequested = true; }

void CUpgradeDlg::OnSend() {
  // A transfer pumps window events while it waits, so a second Send (or the timer) could try to
  // start another one inside it.
  if (m_transferring) return;
  const std::string routerIp = m_editRouterIp->text().left(255).toStdString();
  m_btnSend->setEnabled(false);

  m_closeAfterTransfer.reset();
  TftpControl control{m_progress,
                      m_abortRequested,
                      [] { QCoreApplication::processEvents(QEventLoop::AllEvents); },
                      {},
                      [this] { return m_closeAfterTransfer.has_value(); },
                      {}};
  TftpEnv env{m_transferClock, {}, m_state.tftpPort, m_transferSleep};
  m_transferring = true;
  TftpResult result = SendFirmware(m_state.firmwarePath.Path(), routerIp, control, env);
  m_transferring = false;

  const TransferEnding ending = EndOfTransfer(result, m_closeAfterTransfer);
  if (ending.showResult) ShowResult(result);
  if (ending.closeWith) {
    done(static_cast<int>(*ending.closeWith));
    return;
  }
  // The router has already accepted the upgrade: Send retries the transfer without a new
  // handshake.
  m_btnSend->setEnabled(true);
}

void CUpgradeDlg::ShowResult(const TftpResult& result) {
  const bool ok = result.ok();
  const InterfaceTextTable& table = m_state.interfaceText;
  const QString text =
      QtText(table, ok ? UiText::UpgradeCompleteText : UiText::UpgradeFailedText);
  const QString caption =
      QtText(table, ok ? UiText::UpgradeCompleteCaption : UiText::UpgradeFailedCaption);
  // Beneath the fixed text, why it failed: the file, the block, what the router said.
  ExecMessageBox(this, QMessageBox::NoIcon, caption, text,
                 ok ? QString() : QString::fromStdString(result.message));
}

void CUpgradeDlg::done(int result) {
  if (m_transferring) {
    // Stop this transfer at its next check; OnSend ends the dialog once it has returned. The
    // abort flag stays as it is: only "&Abort" sets it, and later transfers must still work.
    m_closeAfterTransfer = result;
    return;
  }
  m_closeAfterTransfer.reset();
  QDialog::done(result);
}

void CUpgradeDlg::reject() { done(UPGRADE_DLG_CANCELLED); }

}  // namespace corvalink
