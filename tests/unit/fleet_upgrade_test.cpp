// The fleet upgrade's pieces: the password file, the summary and its exit code, the choice of
// display, the simulator's per-router faults, and several whole router upgrades at once on
// loopback against the in-process simulator.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/exit_codes.h"
#include "discovery/router_table.h"
#include "fleet_report.h"
#include "fleet_run.h"
#include "password_file.h"
#include "platform/ms_clock.h"
#include "simulator.h"
#include "upgrade/router_upgrade.h"

namespace corvalink {
namespace {

using cli::FleetRow;
using cli::FleetState;

TEST(PasswordFile, ReadsMacAndPasswordPerLineAndRefusesBadLines) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::string, std::string>> entries;  // MAC text, password
    const char* error;  // part of the message, or nullptr
  };
  const Case cases[] = {
      {"", {}, nullptr},
      {"# fleet\n\n02C04C000001 pass1\n02:c0:4c:00:00:02\t\tpass two \r\n",
       {{"02C04C000001", "pass1"}, {"02C04C000002", "pass two "}}, nullptr},
      {"  02-C0-4C-00-00-03 p#3", {{"02C04C000003", "p#3"}}, nullptr},
      {"02C04C000001 a\n02C04C00000 s3cret\n", {}, "f:2: the line does not start with a MAC"},
      {"02C04C000001\n", {}, "f:1: no password after the MAC address 02C04C000001"},
      {"02C04C000001   \n", {}, "f:1: no password"},
      {"02C04C000001 a\n\n02c04c000001 s3cret\n", {}, "f:3: the MAC address 02C04C000001 was given before"},
  };
  for (const Case& c : cases) {
    std::string err;
    const auto entries = cli::ParsePasswordFile(c.text, "f", &err);
    if (c.error != nullptr) {
      EXPECT_FALSE(entries) << c.text;
      EXPECT_NE(err.find(c.error), std::string::npos) << err;
      // The message never carries a password.
      EXPECT_EQ(err.find("s3cret"), std::string::npos) << err;
      continue;
    }
    ASSERT_TRUE(entries) << c.text << ": " << err;
    ASSERT_EQ(entries->size(), c.entries.size()) << c.text;
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
      EXPECT_EQ(MacText((*entries)[i].mac), c.entries[i].first);
      EXPECT_EQ((*entries)[i].password, c.entries[i].second);
    }
  }
}

TEST(PasswordFile, RefusesWhatIsNoRegularFile) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  std::string err;
  EXPECT_FALSE(cli::ReadPasswordFile(dir.string(), &err));
  EXPECT_NE(err.find("is not a regular file"), std::string::npos) << err;
  EXPECT_FALSE(cli::ReadPasswordFile((dir / "corvalink-no-such-file").string(), &err));
}

FleetRow Row(const std::string& router, FleetState state) {
  FleetRow r;
  r.router = router;
  r.ip = "198.18.0.10";
  r.state = state;
  return r;
}

TEST(FleetReport, ExitCodeIsZeroOnlyWhenEveryRouterIsComplete) {
  using cli::FleetExitCode;
  const FleetRow ok = Row("A", FleetState::Complete);
  EXPECT_EQ(FleetExitCode({ok, ok}, false), cli::EXIT_OK);
  EXPECT_EQ(FleetExitCode({}, false), cli::EXIT_NOT_FOUND);
  EXPECT_EQ(FleetExitCode({ok, ok}, true), cli::EXIT_INTERRUPTED);
  EXPECT_EQ(FleetExitCode({ok, Row("B", FleetState::PasswordRefused),
                           Row("C", FleetState::TransferFailed)}, false),
            cli::EXIT_PASSWORD_REFUSED);
  EXPECT_EQ(FleetExitCode({Row("B", FleetState::NoAcknowledgement), ok}, false),
            cli::EXIT_HANDSHAKE_TIMEOUT);
  EXPECT_EQ(FleetExitCode({Row("B", FleetState::Ambiguous)}, false), cli::EXIT_NOT_FOUND);
  // A router still running can never count as done.
  EXPECT_NE(FleetExitCode({Row("B", FleetState::Flashing)}, false), cli::EXIT_OK);
}

TEST(FleetReport, TableAndJsonCarryEveryRouterWithItsFigures) {
  FleetRow done = Row("02C04C000001", FleetState::Complete);
  done.bytes = done.fileSize = 1048576;
  done.retransmissions = 3;
  done.ms = 19250;
  FleetRow refused = Row("02C04C000002", FleetState::PasswordRefused);
  refused.message = "Password Error: refused";
  FleetRow missing = Row("nosuch\x1b[2J", FleetState::NotFound);
  missing.ip.clear();
  missing.message = "no router answered";
  const std::vector<FleetRow> rows{done, refused, missing};

  const std::string table = cli::FormatFleetTable(rows);
  EXPECT_NE(table.find("ROUTER        IP ADDRESS       RESULT"), std::string::npos) << table;
  EXPECT_NE(table.find("complete"), std::string::npos);
  EXPECT_NE(table.find("   1048576                3    19.2 s"), std::string::npos) << table;
  EXPECT_NE(table.find("02C04C000002: Password Error: refused\n"), std::string::npos);
  EXPECT_NE(table.find("1 of 3 routers upgraded\n"), std::string::npos);

  const auto json = nlohmann::json::parse(cli::FormatFleetJson(rows));
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[0]["router"], "02C04C000001");
  EXPECT_EQ(json[0]["result"], "complete");
  EXPECT_EQ(json[0]["exit_code"], 0);
  EXPECT_EQ(json[0]["bytes"], 1048576);
  EXPECT_EQ(json[0]["retransmissions"], 3);
  EXPECT_DOUBLE_EQ(json[0]["seconds"].get<double>(), 19.25);
  EXPECT_EQ(json[1]["result"], "password-refused");
  EXPECT_EQ(json[1]["exit_code"], cli::EXIT_PASSWORD_REFUSED);
  EXPECT_TRUE(json[2]["ip"].is_null());
  EXPECT_EQ(json[2]["router"], "nosuch\\x1B[2J");
}

TEST(FleetReport, ProgressLineShowsWhatTheStateNeeds) {
  FleetRow r = Row("02C04C000001", FleetState::Asking);
  r.requests = 3;
  EXPECT_EQ(cli::FormatFleetLine(r), "02C04C000001  198.18.0.10      asking     3 requests sent");
  r.state = FleetState::Sending;
  r.bytes = 512;
  r.fileSize = 2048;
  r.retransmissions = 1;
  EXPECT_EQ(cli::FormatFleetLine(r),
            "02C04C000001  198.18.0.10      sending     25%  512 B of 2.0 KiB  1 retransmission");
  r.state = FleetState::Flashing;
  r.flashMsLeft = 61001;
  EXPECT_NE(cli::FormatFleetLine(r).find("flashing   1:02 left"), std::string::npos);
}

TEST(FleetDisplay, RedrawnBlockOnlyOnATerminalThatHoldsIt) {
  using cli::ChooseFleetDisplay;
  using cli::FleetDisplay;
  EXPECT_EQ(ChooseFleetDisplay(true, true, false, 24, 22), FleetDisplay::Block);
  EXPECT_EQ(ChooseFleetDisplay(true, true, false, 24, 23), FleetDisplay::Lines);
  EXPECT_EQ(ChooseFleetDisplay(true, true, false, 0, 2), FleetDisplay::Lines);
  EXPECT_EQ(ChooseFleetDisplay(false, true, false, 50, 2), FleetDisplay::Lines);
  EXPECT_EQ(ChooseFleetDisplay(true, false, false, 50, 2), FleetDisplay::Lines);
  EXPECT_EQ(ChooseFleetDisplay(true, true, true, 50, 2), FleetDisplay::Lines);
}

TEST(RouterSimSpec, PerRouterFaultKeys) {
  struct Case {
    const char* extra;
    bool ok;
    uint32_t flashMs;
    int loss;
    bool refuse;
  };
  const Case cases[] = {
      {"", true, 0, 0, false},
      {",flash-ms=19000,loss=10", true, 19000, 10, false},
      {",refuse-password", true, 0, 0, true},
      {",loss=101", false, 0, 0, false},
      {",flash-ms=-1", false, 0, 0, false},
      {",flash-ms=5x", false, 0, 0, false},
      {",loss=", false, 0, 0, false},
      {",refuse", false, 0, 0, false},
  };
  for (const Case& c : cases) {
    std::string err;
    const auto r = sim::ParseRouterSpec(std::string("mac=02C04C000001,ip=198.18.0.10") + c.extra,
                                        &err);
    ASSERT_EQ(r.has_value(), c.ok) << c.extra << ": " << err;
    if (!r) continue;
    EXPECT_EQ(r->flashMs, c.flashMs) << c.extra;
    EXPECT_EQ(r->lossPercent, c.loss) << c.extra;
    EXPECT_EQ(r->refusePassword, c.refuse) << c.extra;
  }
}

TEST(RouterSimSpec, LossShareIsKeptOverManyDatagrams) {
  for (int percent : {0, 10, 50, 100}) {
    uint32_t state = 0x2545F491;
    int lost = 0;
    for (int i = 0; i < 10000; ++i) lost += sim::LoseDatagram(state, percent) ? 1 : 0;
    EXPECT_NEAR(lost, percent * 100, 300) << percent;
  }
}

// In-process simulator on loopback, standing in for every router a request names.
struct LoopbackRouters {
  sim::SimulatorThread thread;
  explicit LoopbackRouters(std::vector<sim::SimRouter> routers = {}) {
    sim::SimOptions o;
    o.bindAddress = {127, 0, 0, 1};
    o.searchPort = 0;
    o.tftpEnabled = true;
    o.tftpPort = 0;
    o.maxSeconds = 60;
    o.responder.routers = std::move(routers);
    std::string err;
    EXPECT_TRUE(thread.Start(o, &err)) << err;
  }
  RouterUpgradeOptions Options(uint32_t handshakeMs = 5000) {
    RouterUpgradeOptions options;
    options.handshakeTimeoutMs = handshakeMs;
    options.upgradePort = thread.Sim().SearchPort();
    options.tftpPort = thread.Sim().TftpPort();
    return options;
  }
};

RouterRecord LoopbackRouter(uint8_t n) {
  RouterRecord r{};
  r.ipAddress = {127, 0, 0, 1};
  r.macAddress = {0x02, 0xC0, 0x4C, 0x00, 0x00, n};
  return r;
}

std::filesystem::path WriteImage(const std::string& name, std::size_t size) {
  const auto path = std::filesystem::temp_directory_path() / name;
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + i / 251));
  return path;
}

TEST(RouterUpgrade, SeveralRoutersAtOnceEachGetTheWholeImage) {
  LoopbackRouters sim;
  const auto image = WriteImage("corvalink-fleet-unit.bin", 3 * 512 + 100);
  constexpr int ROUTERS = 4;
  std::vector<RouterUpgradeResult> results(ROUTERS);
  std::vector<std::atomic<bool>> sawFlashWait(ROUTERS);
  std::vector<std::thread> jobs;
  for (int i = 0; i < ROUTERS; ++i) {
    jobs.emplace_back([&, i] {
      RouterUpgradeOptions options = sim.Options();
      options.onProgress = [&, i](const RouterUpgradeProgress& p) {
        if (p.stage == RouterUpgradeStage::FlashWait) sawFlashWait[i] = true;
      };
      MsClock clock;
      results[i] = RunRouterUpgrade(LoopbackRouter(static_cast<uint8_t>(i + 1)), image.string(),
                                    clock, options);
    });
  }
  for (std::thread& j : jobs) j.join();
  for (int i = 0; i < ROUTERS; ++i) {
    EXPECT_TRUE(results[i].ok()) << i << ": " << results[i].message;
    EXPECT_GE(results[i].requestsSent, 1);
    EXPECT_EQ(results[i].transfer.stats.bytesAcked, 3u * 512 + 100);
    EXPECT_TRUE(sawFlashWait[i]) << i;
  }
  sim.thread.Stop();
  std::vector<uint8_t> want;
  {
    std::ifstream in(image, std::ios::binary);  // closed before the remove: Windows refuses it
    want.assign(std::istreambuf_iterator<char>(in), {});
  }
  const auto transfers = sim.thread.Sim().Transfers();
  ASSERT_EQ(transfers.size(), static_cast<std::size_t>(ROUTERS));
  for (const auto& t : transfers) {
    EXPECT_TRUE(t.complete) << t.failure;
    EXPECT_EQ(t.data, want);
  }
  std::filesystem::remove(image);
}

TEST(RouterUpgrade, RefusedPasswordAndStopEndWithoutAnImage) {
  sim::SimRouter refusing;
  refusing.mac = LoopbackRouter(9).macAddress;
  refusing.ip = {127, 0, 0, 1};
  refusing.refusePassword = true;
  LoopbackRouters sim({refusing});
  const auto image = WriteImage("corvalink-fleet-unit-2.bin", 40 * 512);

  MsClock clock;
  const RouterUpgradeResult refused =
      RunRouterUpgrade(LoopbackRouter(9), image.string(), clock, sim.Options(700));
  EXPECT_EQ(refused.end, RouterUpgradeEnd::HandshakeTimeout) << refused.message;
  EXPECT_GE(refused.requestsSent, 2);

  // A router the simulator does not know is not answered either; stop while it is asked.
  std::atomic<int> progressCalls{0};
  RouterUpgradeOptions stopping = sim.Options();
  stopping.onProgress = [&](const RouterUpgradeProgress&) { ++progressCalls; };
  stopping.stop = [&] { return progressCalls.load() >= 3; };
  const RouterUpgradeResult stopped =
      RunRouterUpgrade(LoopbackRouter(8), image.string(), clock, stopping);
  EXPECT_EQ(stopped.end, RouterUpgradeEnd::HandshakeStopped) << stopped.message;
  sim.thread.Stop();
  EXPECT_TRUE(sim.thread.Sim().Transfers().empty());
  std::filesystem::remove(image);
}

TEST(RouterUpgrade, StopDuringTheTransferTellsTheRouter) {
  LoopbackRouters sim;
  const auto image = WriteImage("corvalink-fleet-unit-3.bin", 200 * 512);
  RouterUpgradeOptions options = sim.Options();
  std::atomic<bool> stop{false};
  options.onProgress = [&](const RouterUpgradeProgress& p) {
    if (p.stats.blocksAcked >= 10) stop = true;
  };
  options.stop = [&] { return stop.load(); };
  MsClock clock;
  const RouterUpgradeResult result =
      RunRouterUpgrade(LoopbackRouter(1), image.string(), clock, options);
  EXPECT_EQ(result.end, RouterUpgradeEnd::TransferStopped) << result.message;
  // The ERROR reaches the simulator, which ends its half of the transfer at once.
  for (int i = 0; i < 100 && sim.thread.Sim().Transfers().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  sim.thread.Stop();
  const auto transfers = sim.thread.Sim().Transfers();
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_FALSE(transfers[0].complete);
  EXPECT_NE(transfers[0].failure.find("the client sent ERROR"), std::string::npos)
      << transfers[0].failure;
  std::filesystem::remove(image);
}

}  // namespace
}  // namespace corvalink
