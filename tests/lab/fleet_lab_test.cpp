// The fleet upgrade as an administrator runs it: corvalink-cli in the client namespace, 30
// simulated routers in the router namespace, each storing what it took in a folder of its own,
// so every image is checked byte for byte against the file sent.

#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lab_util.h"

namespace corvalink::lab {
namespace {

constexpr int ROUTERS = 30;
constexpr int REFUSING = 7;  // refuses every upgrade request's password
constexpr int LOSSY = 13;    // loses 10 % of its datagrams both ways

std::string CliPath() {
  if (const char* v = std::getenv("CORVALINK_CLI")) return v;
  std::error_code ec;
  return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "corvalink-cli")
      .string();
}

std::string Mac(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "02C04C0000%02X", n);
  return text;
}

std::string Ip(int n) { return "198.18.0." + std::to_string(9 + n); }

// Router n (1..count) with password "pass<n>" and a flash time of its own; the two faulty
// ones as above.
std::vector<std::string> FleetArgs(int count, const std::filesystem::path& store) {
  std::vector<std::string> args{"--tftp", "--tftp-dir", store.string(), "--tftp-dir-per-router"};
  for (int n = 1; n <= count; ++n) {
    std::string spec = "mac=" + Mac(n) + ",ip=" + Ip(n) + ",password=pass" + std::to_string(n) +
                       ",flash-ms=" + std::to_string(300 + 20 * n);
    if (n == REFUSING) spec += ",refuse-password";
    if (n == LOSSY) spec += ",loss=10";
    args.insert(args.end(), {"--router", spec});
  }
  return args;
}

void WritePasswords(const std::filesystem::path& file, int count) {
  std::ofstream out(file);
  out << "# the lab's routers\n";
  for (int n = 1; n <= count; ++n) out << Mac(n) << " pass" << n << "\n";
}

std::string Describe(const ProgramRun& run) {
  return "exit " + std::to_string(run.exitCode) + "\nstdout:\n" + run.out + "\nstderr:\n" + run.err;
}

TEST(FleetLab, ThirtyRoutersAtOnceEveryImageWholeTheFaultyOnesReported) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(150);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, FleetArgs(ROUTERS, store.Path())));
  const auto image = RandomBytes(11 * 512 + 300, 26);
  const auto imagePath = client.Path() / "fleet.img";
  WriteFile(imagePath, image);
  WritePasswords(client.Path() / "passwords", ROUTERS);

  const ProgramRun run = RunProgram(
      {CliPath(), "upgrade", imagePath.string(), "--all", "--yes", "--json", "--jobs", "30",
       "--password-file", (client.Path() / "passwords").string(), "--handshake-timeout", "3",
       "--timeout", "1"},
      "", {}, 120);
  // The first router listed that failed sets the code: the refusing one.
  EXPECT_EQ(run.exitCode, 6) << Describe(run);
  const auto rows = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_TRUE(rows.is_array()) << Describe(run);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(ROUTERS)) << run.out;
  int complete = 0;
  for (const auto& row : rows) {
    const std::string mac = row["router"];
    const int n = std::stoi(mac.substr(10), nullptr, 16);
    const auto stored = store.Path() / Ip(n) / "fleet.img";
    if (n == REFUSING) {
      EXPECT_EQ(row["result"], "no-acknowledgement") << row.dump();
      EXPECT_GE(row["requests"].get<int>(), 2);
      EXPECT_FALSE(std::filesystem::exists(stored));
      continue;
    }
    EXPECT_EQ(row["result"], "complete") << row.dump();
    EXPECT_EQ(row["bytes"], image.size());
    EXPECT_EQ(row["ip"], Ip(n));
    EXPECT_EQ(ReadFile(stored), image) << "router " << n << " did not get the image whole";
    if (n == LOSSY) {
      EXPECT_GT(row["retransmissions"].get<int>(), 0) << row.dump();
    }
    ++complete;
  }
  EXPECT_EQ(complete, ROUTERS - 1);
  // Every router that took the image wrote it to its flash, then answered again.
  int flashed = 0;
  for (int n = 1; n <= ROUTERS; ++n) {
    if (sim.Process().WaitLine("FLASH done router=" + Ip(n) + " ", 3000)) ++flashed;
  }
  EXPECT_EQ(flashed, ROUTERS - 1);
  // People read the progress and the table on standard error; it ends with the count.
  EXPECT_NE(run.err.find(std::to_string(ROUTERS - 1) + " of 30 routers upgraded"),
            std::string::npos) << run.err;
}

// Routers named one by one: a wrong password in the file and a name no router answers to are
// rows of their own, and the others go on; the single-router form still works beside it.
TEST(FleetLab, NamedRoutersFailAloneAndOthersGoOn) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(90);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, FleetArgs(3, store.Path())));
  const auto image = RandomBytes(3 * 512, 27);
  const auto imagePath = client.Path() / "named.img";
  WriteFile(imagePath, image);
  {
    std::ofstream out(client.Path() / "passwords");
    out << Mac(1) << " pass1\n" << Mac(2) << " wrong\n";
  }
  const ProgramRun run = RunProgram(
      {CliPath(), "upgrade", imagePath.string(), "--router", Mac(2), "-r", Ip(1), "-r",
       "02C04C00FFFF", "-r", Mac(3), "--password-file", (client.Path() / "passwords").string(),
       "--password-stdin", "--timeout", "1"},
      "pass3\n", {}, 60);
  EXPECT_EQ(run.exitCode, 5) << Describe(run);
  EXPECT_EQ(run.out.find('\r'), std::string::npos) << "plain lines when not a terminal";
  for (const char* wanted :
       {"02C04C000002  198.18.0.11      password-refused", "02C04C000001  198.18.0.10      complete",
        "02C04C00FFFF  -                not-found", "02C04C000003  198.18.0.12      complete",
        "2 of 4 routers upgraded"}) {
    EXPECT_NE(run.out.find(wanted), std::string::npos) << wanted << "\n" << run.out;
  }
  EXPECT_EQ(ReadFile(store.Path() / Ip(1) / "named.img"), image);
  EXPECT_EQ(ReadFile(store.Path() / Ip(3) / "named.img"), image);
  EXPECT_FALSE(std::filesystem::exists(store.Path() / Ip(2)));

  const ProgramRun single = RunProgram(
      {CliPath(), "upgrade", Mac(2), imagePath.string(), "--password-stdin"}, "pass2\n", {}, 60);
  EXPECT_EQ(single.exitCode, 0) << Describe(single);
  EXPECT_NE(single.out.find("Upgrade complete\n"), std::string::npos) << single.out;
  EXPECT_EQ(ReadFile(store.Path() / Ip(2) / "named.img"), image);
}

// Ctrl-C in the middle: every running transfer tells its router (ERROR), the summary is still
// printed, and the code is 130.
TEST(FleetLab, InterruptStopsEveryRouterCleanly) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  // A slow ACK keeps the transfers running long enough to be interrupted in the middle.
  std::vector<std::string> args = FleetArgs(4, store.Path());
  args.insert(args.end(), {"--tftp-fault", "delay=20"});
  ASSERT_TRUE(sim.Start(env, args));
  const auto imagePath = client.Path() / "big.img";
  WriteFile(imagePath, RandomBytes(400 * 512, 28));
  WritePasswords(client.Path() / "passwords", 4);
  // Once all four are sending, as the plain lines say, and have had time to get their write
  // requests acknowledged, Ctrl-C.
  std::atomic<pid_t> cli{0};
  std::atomic<bool> sent{false};
  ProgramOptions options;
  options.timeoutS = 40;
  options.onOutput = [&](pid_t pid, const std::string& out) {
    std::size_t sending = 0;
    for (std::size_t at = out.find(" sending"); at != std::string::npos;
         at = out.find(" sending", at + 1)) {
      ++sending;
    }
    if (sending >= 4) cli = pid;
  };
  std::thread interrupter([&] {
    for (int i = 0; i < 300 && cli.load() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (cli.load() == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ::kill(cli.load(), SIGINT);
    sent = true;
  });
  const ProgramRun run = RunProgram(
      {CliPath(), "upgrade", imagePath.string(), "-r", Mac(1), "-r", Mac(2), "-r", Mac(3), "-r",
       Mac(4), "--password-file", (client.Path() / "passwords").string(), "--timeout", "1"},
      options);
  interrupter.join();
  ASSERT_TRUE(sent) << Describe(run);
  EXPECT_EQ(run.exitCode, 130) << Describe(run);
  EXPECT_NE(run.out.find("0 of 4 routers upgraded"), std::string::npos) << run.out;
  for (int n = 1; n <= 4; ++n) {
    const auto failed = sim.Process().WaitLine("TFTP failed router=" + Ip(n) + " ", 3000);
    ASSERT_TRUE(failed) << "router " << n << " was not told";
    EXPECT_NE(failed->find("reason=the client sent ERROR"), std::string::npos) << *failed;
  }
}

}  // namespace
}  // namespace corvalink::lab
