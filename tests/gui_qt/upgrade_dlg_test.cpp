// The upgrade dialog in a real (offscreen) window: the 500 ms handshake against a UDP socket on
// loopback that stands in for the router, and the transfer against the router simulator's TFTP
// server on loopback.

#include "qt/upgrade_dlg.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "qt/dev_dialogs.h"
#include "gui_test_util.h"
#include "password/scrambler.h"
#include "platform/ms_clock.h"
#include "platform/udp_socket.h"
#include "simulator.h"
#include "upgrade/tftp_packets.h"
#include "upgrade/upgrade_formats.h"

// Readable QString values in gtest's failure messages.
static void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace corvalink {
namespace {

using testing::MessageBoxWatcher;
using testing::TitleBarWidthFor;

const Endpoint kAnyLoopback{{127, 0, 0, 1}, 0};

RouterRecord MakeRouter(Ipv4 ip) {
  RouterRecord r;
  r.ipAddress = ip;
  r.ipMask = {255, 255, 255, 0};
  r.macAddress = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  const char plain[] = "secret";
  std::memcpy(r.password.data(), plain, sizeof plain - 1);
  Scramble(r.password);
  return r;
}

/// Real time runs on; every rest the transfer takes jumps the clock 50 ms ahead, so its
/// 1000 ms pauses and the final fill of the bar pass in a few milliseconds while its waits for
/// datagrams keep their real length.
class HurriedClock : public Clock {
 public:
  HurriedClock() { m_real.start(); }
  uint32_t NowMs() override { return static_cast<uint32_t>(m_real.elapsed()) + m_skipped; }
  void Skip(uint32_t ms) { m_skipped += 50 * ms; }

 private:
  QElapsedTimer m_real;
  uint32_t m_skipped = 0;
};

struct SeenRequest {
  std::vector<uint8_t> bytes;
  Endpoint from;
  qint64 atMs = 0;   ///< since the dialog was shown
  int barValue = 0;  ///< the bar when the request arrived
};

class UpgradeDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_router = std::move(*UdpSocket::Open(kAnyLoopback));
    state.selectedRouter = MakeRouter({127, 0, 0, 1});
    state.upgradePort = m_router.LocalPort();
    state.tftpPort = m_router.LocalPort();  // overridden where a transfer must reach a server
    m_dlg = std::make_unique<CUpgradeDlg>(state, nullptr, &m_clock,
                                          [this](uint32_t ms) { m_clock.Skip(ms); });
  }

  void Show() {
    m_shown.start();
    m_dlg->show();
  }

  template <typename T>
  T* Child(const char* name) {
    return m_dlg->findChild<T*>(QString::fromLatin1(name));
  }

  /// Processes window events for `ms`, or until `done` holds, collecting the requests.
  template <typename Pred>
  bool PumpUntil(Pred done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > ms) return false;
      QTest::qWait(5);
      Drain();
    }
    return true;
  }
  void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
  }

  void Drain() {
    std::array<uint8_t, 600> buffer{};
    Endpoint from;
    while (m_router.WaitReadable(0)) {
      int n = m_router.ReceiveFrom(buffer, &from);
      if (n < 0) break;
      requests.push_back({{buffer.begin(), buffer.begin() + n},
                          from,
                          m_shown.elapsed(),
                          Child<QProgressBar>("IDC_PROGRESS")->value()});
    }
  }

  /// Sends `bytes` to the dialog's upgrade socket from the "router".
  void Reply(std::vector<uint8_t> bytes) {
    m_router.SendTo(bytes, {{127, 0, 0, 1}, m_dlg->UpgradeSocket().LocalPort()});
  }

  AppState state;
  std::vector<SeenRequest> requests;
  HurriedClock m_clock;
  UdpSocket m_router;
  QElapsedTimer m_shown;
  std::unique_ptr<CUpgradeDlg> m_dlg;
};

TEST_F(UpgradeDlgTest, RequestsEveryTickIdenticalWhileTheBarCycles) {
  Show();
  EXPECT_EQ(m_dlg->windowTitle(), "Router Firmware Upgrade Utility");
  EXPECT_EQ(Child<QLabel>("IDC_ROUTER_IP_LABEL")->text(), "RouterIP :");
  EXPECT_EQ(Child<QLineEdit>("IDC_ROUTER_IP")->text(), "127.0.0.1");
  EXPECT_FALSE(Child<QLineEdit>("IDC_ROUTER_IP")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>("IDC_SEND")->isEnabled());
  EXPECT_FALSE(Child<QPushButton>("IDC_ABORT")->isVisible());

  ASSERT_TRUE(PumpUntil([&] { return requests.size() >= 3; }, 3000));
  testing::SaveScreenshot(m_dlg.get(), "upgrade");  // the bar at 3 of 5
  ASSERT_TRUE(PumpUntil([&] { return requests.size() >= 7; }, 4000));
  const Packet expected = BuildUpgradeRequest(state.selectedRouter);
  std::vector<int> bar;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(requests[i].bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(requests[i].from.port, m_dlg->UpgradeSocket().LocalPort());
    bar.push_back(requests[i].barValue);
  }
  // Nothing is sent on opening: the first request waits for the first tick.
  EXPECT_GE(requests[0].atMs, 400);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    const qint64 gap = requests[i].atMs - requests[i - 1].atMs;
    EXPECT_GE(gap, 350) << "request " << i;
    EXPECT_LE(gap, 1500) << "request " << i;
  }
  // A Windows bar's step-it starts over from the bottom once it passes the top.
  EXPECT_EQ((std::vector<int>(bar.begin(), bar.begin() + 7)),
            (std::vector<int>{1, 2, 3, 4, 5, 0, 1}));
  EXPECT_FALSE(state.upgradeAcknowledged);
}

TEST_F(UpgradeDlgTest, OnlyAnUpgradeReplyEndsTheHandshake) {
  MessageBoxWatcher boxes;
  state.firmwarePath = FirmwarePath{};  // no file: the transfer fails at once, sending nothing
  Show();
  ASSERT_TRUE(PumpUntil([&] { return requests.size() == 1; }, 2000));
  Reply({0xDD, 0x80});  // a search reply is not the answer
  ASSERT_TRUE(PumpUntil([&] { return requests.size() == 2; }, 2000));
  EXPECT_FALSE(state.upgradeAcknowledged);
  EXPECT_TRUE(m_dlg->UpgradeSocket().IsOpen());

  Reply({0xDD, 0x82});  // two bytes are enough
  ASSERT_TRUE(PumpUntil([&] { return state.upgradeAcknowledged == 1; }, 1000));
  EXPECT_FALSE(m_dlg->UpgradeSocket().IsOpen());
  ASSERT_TRUE(PumpUntil([&] { return !boxes.Seen().empty(); }, 2000));
  PumpFor(1200);  // two more tick periods: the timer must have stopped
  EXPECT_EQ(requests.size(), 2u);
  ASSERT_EQ(boxes.Seen().size(), 1u);
  EXPECT_EQ(boxes.Seen()[0].text, "Upgrade failed");
  EXPECT_EQ(boxes.Seen()[0].title, "Upgrade failed");
  EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::NoIcon);
  EXPECT_TRUE(m_dlg->isVisible());
  EXPECT_TRUE(Child<QPushButton>("IDC_SEND")->isEnabled());
  EXPECT_EQ(Child<QProgressBar>("IDC_PROGRESS")->value(), 0);
}

TEST_F(UpgradeDlgTest, ReplyBeforeTheFirstTickStartsTheTransferWithoutAnyRequest) {
  MessageBoxWatcher boxes;
  Show();
  Reply({0xDD, 0x82, 0x00, 0x36});
  ASSERT_TRUE(PumpUntil([&] { return !boxes.Seen().empty(); }, 2000));
  EXPECT_GE(m_shown.elapsed(), 400);  // at the first tick, not at once
  PumpFor(700);
  EXPECT_TRUE(requests.empty());
  EXPECT_EQ(boxes.Seen()[0].text, "Upgrade failed");
}

TEST_F(UpgradeDlgTest, AbortWhileWaitingStopsTheTransferAtItsFirstCheck) {
  std::string err;
  sim::SimOptions options;
  options.bindAddress = {127, 0, 0, 1};
  options.searchPort = 0;
  options.tftpEnabled = true;
  options.tftpPort = 0;
  sim::SimulatorThread sim;
  ASSERT_TRUE(sim.Start(options, &err)) << err;
  state.tftpPort = sim.Sim().TftpPort();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "corvalink_abort_fw.all";
  std::ofstream(file, std::ios::binary) << std::string(700, 'x');
  std::strncpy(state.firmwarePath.path.data(), file.c_str(), FIRMWARE_FIELD_SIZE - 1);

  MessageBoxWatcher boxes;
  Show();
  Child<QPushButton>("IDC_ABORT")->click();  // hidden in the template, yet wired
  ASSERT_TRUE(PumpUntil([&] { return requests.size() == 1; }, 2000));  // the handshake goes on
  Reply({0xDD, 0x82});
  ASSERT_TRUE(PumpUntil([&] { return !boxes.Seen().empty(); }, 3000));
  EXPECT_EQ(boxes.Seen()[0].text, "Upgrade failed");
  ASSERT_TRUE(PumpUntil([&] { return !sim.Sim().Log().Records().empty(); }, 1000));
  sim.Stop();
  // No write request: only the ERROR "Transfer Aborted" reached the server's port.
  std::vector<sim::LoggedDatagram> seen = sim.Sim().Log().Records();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(TftpOpcode(seen[0].bytes), TFTP_OP_ERROR);
  std::filesystem::remove(file);
}

TEST_F(UpgradeDlgTest, InterfaceTextsAreTrimmedOnceAndStayAcrossOpenings) {
  state.interfaceText.loaded = true;
  auto put = [&](std::size_t slot, const char* text) {
    std::strncpy(state.interfaceText.slots[slot].data(), text, TEXT_SLOT_SIZE - 1);
  };
  put(0, "ZUD Arora Ruza vez Udu98/De");
  put(13, "Firmware\r\n");
  put(14, "Address:\n");
  put(15, "&Go");  // a last line may have no line end
  put(19, "It failed");

  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    MessageBoxWatcher boxes;
    Show();
    const uint16_t port = m_dlg->UpgradeSocket().LocalPort();
    EXPECT_EQ(m_dlg->windowTitle(), "Firmware");
    EXPECT_EQ(Child<QLabel>("IDC_ROUTER_IP_LABEL")->text(), "Address:");
    EXPECT_EQ(Child<QPushButton>("IDC_SEND")->text(), "&Go");
    EXPECT_EQ(state.interfaceText.Text(13), "Firmware");
    EXPECT_EQ(state.interfaceText.Text(14), "Address:");
    Reply({0xDD, 0x82});
    ASSERT_TRUE(PumpUntil([&] { return !boxes.Seen().empty(); }, 2000));
    EXPECT_EQ(boxes.Seen()[0].text, "It failed");
    EXPECT_EQ(boxes.Seen()[0].title, "ZUD Arora Ruza vez Udu98/De");
    EXPECT_GE(boxes.Seen()[0].width, TitleBarWidthFor(boxes.Seen()[0].title)) << "caption cut";
    m_dlg->reject();
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), UPGRADE_DLG_CANCELLED);
    m_dlg->show();
    // Opening again replaces the earlier socket, which leaves its port free.
    EXPECT_TRUE(UdpSocket::Open({{127, 0, 0, 1}, port}).has_value());
    m_dlg->reject();
  }
}

/// The simulator on loopback as router: it answers the upgrade requests and runs the TFTP
/// server; the firmware file is written to a temporary path.
class UpgradeTransferTest : public UpgradeDlgTest {
 protected:
  void StartSimulator(sim::TftpFaults faults = {}) {
    sim::SimOptions options;
    options.bindAddress = {127, 0, 0, 1};
    options.searchPort = 0;
    options.responder.upgrade.mode = sim::UpgradeMode::After;
    options.responder.upgrade.afterN = 2;
    options.tftpEnabled = true;
    options.tftpPort = 0;
    options.tftpFaults = std::move(faults);
    std::string err;
    ASSERT_TRUE(m_sim.Start(options, &err)) << err;
    state.upgradePort = m_sim.Sim().SearchPort();
    state.tftpPort = m_sim.Sim().TftpPort();
  }

  void SetFirmware(const std::string& name, std::size_t size) {
    m_file = std::filesystem::temp_directory_path() / name;
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + 3);
    m_content.assign(content.begin(), content.end());
    std::ofstream(m_file, std::ios::binary) << content;
    state.firmwarePath = FirmwarePath{};
    std::strncpy(state.firmwarePath.path.data(), m_file.c_str(), FIRMWARE_FIELD_SIZE - 1);
  }

  int Opcodes(uint16_t opcode) {
    int n = 0;
    for (const auto& d : m_sim.Sim().Log().Records())
      n += d.socket == "tftp" && TftpOpcode(d.bytes) == opcode;
    return n;
  }

  void TearDown() override {
    m_sim.Stop();
    if (!m_file.empty()) std::filesystem::remove(m_file);
  }

  sim::SimulatorThread m_sim;
  std::filesystem::path m_file;
  std::vector<uint8_t> m_content;
};

TEST_F(UpgradeTransferTest, AcknowledgedUpgradeSendsTheFileAndEndsWithZero) {
  StartSimulator();
  SetFirmware("corvalink_fw_ok.all", 1000);
  MessageBoxWatcher boxes;
  Show();
  ASSERT_TRUE(PumpUntil([&] { return !boxes.Seen().empty(); }, 5000));
  EXPECT_EQ(boxes.Seen()[0].text, "Upgrade complete");
  EXPECT_EQ(boxes.Seen()[0].title, "Upgrade complete");
  EXPECT_EQ(boxes.Seen()[0].icon, QMessageBox::NoIcon);
  ASSERT_TRUE(PumpUntil([&] { return !m_dlg->isVisible(); }, 1000));
  EXPECT_EQ(m_dlg->result(), 0);
  // The bar ends full: range 0..2 for 1,000 bytes.
  EXPECT_EQ(Child<QProgressBar>("IDC_PROGRESS")->value(), 2);
  EXPECT_EQ(Child<QProgressBar>("IDC_PROGRESS")->maximum(), 2);
  // Opened again, the dialog starts its handshake with the bar at 0 of 0..5, not full.
  m_dlg->show();
  EXPECT_EQ(Child<QProgressBar>("IDC_PROGRESS")->value(), 0);
  EXPECT_EQ(Child<QProgressBar>("IDC_PROGRESS")->maximum(), 5);
  m_dlg->reject();
  m_sim.Stop();
  std::vector<sim::TftpTransfer> done = m_sim.Sim().Transfers();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_TRUE(done[0].complete) << done[0].failure;
  EXPECT_EQ(done[0].name, "corvalink_fw_ok.all");
  EXPECT_EQ(done[0].data, m_content);
}

TEST_F(UpgradeTransferTest, FailedTransferReenablesSendWhichRetriesWithoutANewHandshake) {
  StartSimulator();
  SetFirmware("corvalink_fw_retry.all", 600);
  std::filesystem::path missing = m_file;
  missing += ".missing";
  std::strncpy(state.firmwarePath.path.data(), missing.c_str(), FIRMWARE_FIELD_SIZE - 1);
  MessageBoxWatcher boxes;
  Show();
  ASSERT_TRUE(PumpUntil([&] { return boxes.Seen().size() == 1; }, 5000));
  EXPECT_EQ(boxes.Seen()[0].text, "Upgrade failed");
  auto* send = Child<QPushButton>("IDC_SEND");
  ASSERT_TRUE(PumpUntil([&] { return send->isEnabled(); }, 1000));
  EXPECT_EQ(Opcodes(TFTP_OP_WRQ), 0);  // a missing file sends nothing

  std::strncpy(state.firmwarePath.path.data(), m_file.c_str(), FIRMWARE_FIELD_SIZE - 1);
  const std::size_t requestsBefore = m_sim.Sim().Log().Records().size();
  QTest::mouseClick(send, Qt::LeftButton);
  ASSERT_TRUE(PumpUntil([&] { return boxes.Seen().size() == 2; }, 5000));
  EXPECT_EQ(boxes.Seen()[1].text, "Upgrade complete");
  ASSERT_TRUE(PumpUntil([&] { return !m_dlg->isVisible(); }, 1000));
  EXPECT_EQ(m_dlg->result(), 0);
  EXPECT_EQ(Opcodes(TFTP_OP_WRQ), 1);
  for (std::size_t i = requestsBefore; i < m_sim.Sim().Log().Records().size(); ++i) {
    EXPECT_EQ(m_sim.Sim().Log().Records()[i].socket, "tftp");  // no further upgrade request
  }
}

// Escape while the write request waits for its (late) answer, in the data phase against a
// router that answers at once, and while the bar fills after the last ACK: each time the
// transfer stops within 100 ms, because the window handles events all along. Closing stops only
// the transfer under way: the same dialog object then upgrades again.
TEST_F(UpgradeTransferTest, EscapeStopsTheTransferWithin100msInEveryPhaseAndLaterOnesWork) {
  sim::TftpFaults faults;
  faults.delayMs = 400;  // the ACK of each write request comes late
  faults.delayNth = 1;
  StartSimulator(faults);
  SetFirmware("corvalink_fw_close.all", 4 << 20);
  std::vector<QString> reasons;
  MessageBoxWatcher boxes([&](QMessageBox* box) { reasons.push_back(box->informativeText()); });
  auto* bar = Child<QProgressBar>("IDC_PROGRESS");
  const struct {
    const char* phase;
    std::function<bool()> reached;
    bool failureShown;
  } rows[] = {
      {"write request", [&] { return Opcodes(TFTP_OP_WRQ) > 0 && Opcodes(TFTP_OP_DATA) == 0; },
       true},
      {"data", [&] { return bar->value() >= 100; }, true},
      {"final fill", [&] { return !m_sim.Sim().Transfers().empty(); }, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.phase);
    m_sim.Stop();
    StartSimulator(faults);  // a fresh log and transfer list for each row
    const std::size_t boxesBefore = boxes.Seen().size();
    QElapsedTimer clock;
    clock.start();
    qint64 pressedAt = -1, endedAt = -1, lastTick = -1, longestGap = 0;
    bool secondSendRefused = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      if (!m_dlg->IsTransferring()) {
        if (pressedAt >= 0 && endedAt < 0) endedAt = now;
        lastTick = -1;
        return;
      }
      if (lastTick >= 0) longestGap = std::max(longestGap, now - lastTick);
      lastTick = now;
      if (pressedAt < 0 && row.reached()) {
        m_dlg->OnSend();  // a second Send inside the first one is refused
        secondSendRefused = m_dlg->IsTransferring();
        pressedAt = clock.elapsed();
        QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
      }
    });
    watch.start();
    Show();
    ASSERT_TRUE(PumpUntil([&] { return !m_dlg->isVisible() && endedAt >= 0; }, 60000));
    ASSERT_GE(pressedAt, 0);
    EXPECT_TRUE(secondSendRefused);
    EXPECT_LE(endedAt - pressedAt, 100);
    EXPECT_LE(longestGap, 100);
    EXPECT_EQ(m_dlg->result(), UPGRADE_DLG_CANCELLED);
    if (row.failureShown) {
      ASSERT_EQ(boxes.Seen().size(), boxesBefore + 1);
      EXPECT_EQ(boxes.Seen().back().text, "Upgrade failed");
      EXPECT_TRUE(reasons.back().contains("aborted")) << reasons.back().toStdString();
      ASSERT_TRUE(PumpUntil([&] { return Opcodes(TFTP_OP_ERROR) == 1; }, 1000));
    } else {
      EXPECT_EQ(boxes.Seen().size(), boxesBefore) << "the image is whole: nothing failed";
      EXPECT_EQ(Opcodes(TFTP_OP_ERROR), 0);
    }
  }
  SetFirmware("corvalink_fw_close.all", 3000);
  Show();
  ASSERT_TRUE(PumpUntil([&] { return !m_dlg->isVisible(); }, 10000));
  ASSERT_FALSE(boxes.Seen().empty());
  EXPECT_EQ(boxes.Seen().back().text, "Upgrade complete");
  EXPECT_EQ(m_dlg->result(), 0);
}

TEST(DevDialog, OpensTheUpgradeDialogOnTheRouterGiven) {
  std::optional<UdpSocket> router = UdpSocket::Open(kAnyLoopback);
  ASSERT_TRUE(router);
  AppState state;
  state.registryRoot = std::filesystem::temp_directory_path() / "corvalink_no_registry";
  const QString port = QString::number(router->LocalPort());
  // Bad arguments never open a window.
  const QStringList bad[] = {{"--router-ip", "300.1.1.1"},
                             {"--mac", "0211223344"},
                             {"--firmware"},
                             {"--colour", "red"},
                             {}};
  for (const QStringList& args : bad)
    EXPECT_EQ(RunDevDialog(state, "upgrade", args), DEV_DIALOG_USAGE_ERROR)
        << args.join(' ').toStdString();
  EXPECT_EQ(RunDevDialog(state, "settings", {}), DEV_DIALOG_USAGE_ERROR);

  std::vector<uint8_t> first;
  QTimer::singleShot(0, [&] {
    // Inside the modal run: wait for the first request, then close the window.
    QElapsedTimer t;
    t.start();
    while (first.empty() && t.elapsed() < 2000) {
      QTest::qWait(10);
      std::array<uint8_t, 64> buffer{};
      if (router->WaitReadable(0)) {
        int n = router->ReceiveFrom(buffer, nullptr);
        if (n > 0) first.assign(buffer.begin(), buffer.begin() + n);
      }
    }
    QApplication::activeModalWidget()->close();
  });
  const int result = RunDevDialog(
      state, "upgrade",
      {"--router-ip", "127.0.0.1", "--mask", "255.255.255.0", "--mac", "02:11:22:33:44:55",
       "--password=secret", "--upgrade-port", port, "--firmware", "/nonexistent/fw.all"});
  EXPECT_EQ(result, UPGRADE_DLG_CANCELLED);
  EXPECT_EQ(state.firmwarePath.Path(), "/nonexistent/fw.all");
  EXPECT_EQ(state.firmwarePath.Title(), "fw.all");
  const Packet expected = BuildUpgradeRequest(MakeRouter({127, 0, 0, 1}));
  EXPECT_EQ(first, std::vector<uint8_t>(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace corvalink
