// corvalink-cli as a user runs it: the real executable in the lab's client namespace, router_sim
// (and a real tftpd-hpa) in the router namespace, checked by exit code, output and what reached
// the routers. The usage checks at the end send nothing and run anywhere.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/router_table.h"
#include "lab_util.h"
#include "platform/byte_order.h"
#include "platform/registry_store.h"
#include "sim_router.h"

extern char** environ;

namespace corvalink::lab {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string CliPath() {
  if (const char* v = std::getenv("CORVALINK_CLI")) return v;
  std::error_code ec;
  return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "corvalink-cli")
      .string();
}

using CliRun = ProgramRun;

// Runs corvalink-cli with `args`, `input` on its standard input (then end of input), and extra
// environment variables; ends it by its pid after `timeoutS`.
CliRun RunCli(const std::vector<std::string>& args, const std::string& input = "",
              const std::vector<std::string>& extraEnv = {}, int timeoutS = 60) {
  std::vector<std::string> argv = {CliPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, input, extraEnv, timeoutS);
}

CliRun RunCli(const std::vector<std::string>& args, const ProgramOptions& options) {
  std::vector<std::string> argv = {CliPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, options);
}

// The lines a terminal run redrew in place ("\r", the line, "erase to its end"), each checked to
// fit a terminal of `columns` columns without wrapping.
int RedrawnLines(const std::string& out, std::size_t columns) {
  int lines = 0;
  for (std::size_t at = out.find("\x1b[K"); at != std::string::npos; at = out.find("\x1b[K", at + 1)) {
    const std::size_t from = out.rfind('\r', at);
    if (from == std::string::npos) {
      ADD_FAILURE() << "a redraw without its carriage return";
      break;
    }
    EXPECT_LT(at - from - 1, columns) << out.substr(from + 1, at - from - 1);
    ++lines;
  }
  return lines;
}

// Runs corvalink-cli on a terminal of `columns` columns (a pseudo-terminal that is its
// controlling terminal and all three standard streams) and returns what the terminal showed.
CliRun RunCliOnTerminal(const std::vector<std::string>& args, int columns, int timeoutS) {
  CliRun run;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
    if (master >= 0) ::close(master);
    return run;
  }
  const std::string slave = ::ptsname(master);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  ::ioctl(master, TIOCSWINSZ, &size);
  std::vector<std::string> argStore = {CliPath()};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = SteadyClock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only calls that are safe between fork and exec.
    ::setsid();
    const int fd = ::open(slave.c_str(), O_RDWR);
    if (fd < 0) ::_exit(127);
    ::ioctl(fd, TIOCSCTTY, 0);
    ::dup2(fd, 0);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  const auto deadline = start + std::chrono::seconds(timeoutS);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) {
      ADD_FAILURE() << "corvalink-cli did not end within " << timeoutS << " s; killing pid " << pid;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the terminal's last user is gone
    run.out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.ms = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
  return run;
}

std::string Describe(const CliRun& r) {
  return "exit " + std::to_string(r.exitCode) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

std::size_t CountWithType(const std::vector<sim::LoggedDatagram>& records, uint8_t type) {
  std::size_t n = 0;
  for (const auto& d : records) {
    if (d.socket == "search" && d.bytes.size() >= 2 && d.bytes[0] == 0xDD && d.bytes[1] == type) ++n;
  }
  return n;
}

std::size_t CountTftp(const std::vector<sim::LoggedDatagram>& records) {
  std::size_t n = 0;
  for (const auto& d : records) n += d.socket == "tftp" ? 1 : 0;
  return n;
}

// The lab's router, at the router namespace's main address: the simulator's TFTP server answers
// from that address, and the client takes the ACK of its write request only from the router.
constexpr char ROUTER_MAC[] = "02C04C000001";
constexpr char ROUTER_IP[] = "198.18.0.2";
constexpr char ROUTER_SPEC[] = "mac=02C04C000001,ip=198.18.0.2,location=Lab bench,password=pw1";

TEST(CliLab, SearchListsThirtyRoutersAsTableAndJsonInListOrder) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--routers", "30"}));
  const std::vector<sim::SimRouter> routers = sim::GenerateRouters(30);

  const CliRun table = RunCli({"search", "--timeout", "1"});
  ASSERT_EQ(table.exitCode, 0) << Describe(table);
  std::istringstream lines(table.out);
  std::vector<std::string> rows;
  for (std::string l; std::getline(lines, l);) rows.push_back(l);
  ASSERT_EQ(rows.size(), 31u) << table.out;
  EXPECT_EQ(rows[0].rfind("MAC ADDRESS", 0), 0u);
  for (int i = 0; i < 30; ++i) {
    // The newest reply on top, as in the window's list.
    const sim::SimRouter& r = routers[static_cast<std::size_t>(29 - i)];
    EXPECT_EQ(rows[static_cast<std::size_t>(i + 1)].rfind(MacText(r.mac) + "  " + Ipv4ToText(r.ip), 0), 0u)
        << rows[static_cast<std::size_t>(i + 1)];
  }
  EXPECT_TRUE(table.err.empty()) << table.err;

  const CliRun json = RunCli({"search", "--timeout", "1", "--json"});
  ASSERT_EQ(json.exitCode, 0) << Describe(json);
  const auto parsed = nlohmann::json::parse(json.out);
  ASSERT_EQ(parsed.size(), 30u);
  for (std::size_t i = 0; i < 30; ++i) {
    const sim::SimRouter& r = routers[29 - i];
    EXPECT_EQ(parsed[i]["mac"], MacText(r.mac));
    EXPECT_EQ(parsed[i]["ip"], Ipv4ToText(r.ip));
    EXPECT_EQ(parsed[i]["mask"], "255.255.255.0");
    EXPECT_EQ(parsed[i]["location"], "Router " + std::to_string(30 - i));
  }
  // Each run sent exactly one search request.
  EXPECT_EQ(CountWithType(sim.WaitRecorded(2, 2000), 0x80), 2u);
}

TEST(CliLab, BeyondThirtyRoutersTheRestAreCountedNotListedAndDuplicatesDropped) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  LabSimulator sim;
  // 32 routers, every reply sent twice.
  ASSERT_TRUE(sim.Start(env, {"--routers", "32", "--duplicate", "2"}));
  const CliRun run = RunCli({"search", "--timeout", "1", "--json"});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  const auto parsed = nlohmann::json::parse(run.out);
  ASSERT_EQ(parsed.size(), 30u);
  const std::vector<sim::SimRouter> routers = sim::GenerateRouters(32);
  for (std::size_t i = 0; i < 30; ++i) EXPECT_EQ(parsed[i]["mac"], MacText(routers[29 - i].mac));
  ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
  EXPECT_NE(run.err.find("more than 30 routers answered; 2 more were not listed"),
            std::string::npos)
      << run.err;
}

TEST(CliLab, SearchWithNoRouterSaysSoAndExitsNotFound) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  const CliRun table = RunCli({"search", "--timeout", "0.5"});
  EXPECT_EQ(table.exitCode, 3) << Describe(table);
  EXPECT_TRUE(table.out.empty());
  ASSERT_EQ(table.ErrLines().size(), 1u) << table.err;
  EXPECT_NE(table.err.find("no router answered within 0.5 s"), std::string::npos) << table.err;
  EXPECT_GE(table.ms, 500);

  const CliRun json = RunCli({"search", "--timeout", "0.5", "--json"});
  EXPECT_EQ(json.exitCode, 3);
  EXPECT_EQ(nlohmann::json::parse(json.out), nlohmann::json::array());
}

TEST(CliLab, LocationWithOddBytesIsEscapedInTheTableAndExactInJson) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  // 24 bytes and no NUL: an escape sequence, a quote, a backslash, DEL, C1 and Latin-1 bytes.
  const std::vector<uint8_t> location = {0x1B, '[', '2', 'J', '"', '\\', 0x7F, 0x81, 0xE9, 0xFF,
                                         'L', 'a', 'b', 0x0A, 'x', 'x', 'x', 'x', 'x', 'x',
                                         'x', 'x', 'x', 'Z'};
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", "mac=02C04C000001,ip=198.18.0.11,locationhex=" +
                                              sim::ToHex(location)}));
  const CliRun json = RunCli({"search", "--timeout", "0.5", "--json"});
  ASSERT_EQ(json.exitCode, 0) << Describe(json);
  const auto parsed = nlohmann::json::parse(json.out);
  ASSERT_EQ(parsed.size(), 1u);
  std::string expected;  // the 24 bytes as Latin-1 characters, in UTF-8
  for (uint8_t b : location) {
    if (b < 0x80) {
      expected += static_cast<char>(b);
    } else {
      expected += static_cast<char>(0xC0 | b >> 6);
      expected += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  EXPECT_EQ(parsed[0]["location"].get<std::string>(), expected);

  const CliRun table = RunCli({"search", "--timeout", "0.5"});
  ASSERT_EQ(table.exitCode, 0) << Describe(table);
  EXPECT_NE(table.out.find("\\x1B[2J\"\\x5C\\x7F\\x81\xC3\xA9\xC3\xBFLab\\x0AxxxxxxxxxZ\n"),
            std::string::npos)
      << table.out;
  EXPECT_EQ(table.out.find('\x1B'), std::string::npos);
}

TEST(CliLab, InterfaceOptionSendsADirectedBroadcastOnThatInterface) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC}));
  const CliRun found = RunCli({"search", "--timeout", "0.5", "--interface", "lab0"});
  ASSERT_EQ(found.exitCode, 0) << Describe(found);
  EXPECT_NE(found.out.find(ROUTER_MAC), std::string::npos);

  const CliRun unknown = RunCli({"search", "--interface", "nosuch0"});
  EXPECT_EQ(unknown.exitCode, 2);
  ASSERT_EQ(unknown.ErrLines().size(), 1u) << unknown.err;
  EXPECT_NE(unknown.err.find("\"nosuch0\""), std::string::npos);
  EXPECT_EQ(CountWithType(sim.WaitRecorded(1, 2000), 0x80), 1u) << "the failed run sent nothing";
}

// A registry store with the printer-port software's key, or without it.
struct Registry {
  explicit Registry(bool withKey) {
    if (withKey) {
      std::filesystem::create_directories(dir.Path() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" /
                                          "DED Orezadu Devo");
    }
  }
  std::string EnvVar() const { return "CORVALINK_REGISTRY_ROOT=" + dir.Path().string(); }
  std::optional<RegistryValue> ServerIp() const {
    RegistryStore store(dir.Path());
    RegistryKey key = store.OpenKey("HKEY_LOCAL_MACHINE", "Software\\DED Orezadu Devo", RegAccess::Read);
    if (!key.IsOpen()) return std::nullopt;
    return store.QueryValue(key, "Server IP");
  }
  TempDir dir;
};

TEST(CliLab, InstallStoresTheRoutersAddressByMacOrIp) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--routers", "5"}));
  // Router 3 of 5: 198.18.0.12, MAC 02C04C000003, named by MAC (any spelling) and by IP.
  const sim::SimRouter third = sim::GenerateRouters(5)[2];
  ASSERT_EQ(Ipv4ToText(third.ip), "198.18.0.12");
  ASSERT_EQ(MacText(third.mac), "02C04C000003");
  for (const char* name : {"02C04C000003", "02:c0:4c:00:00:03", "198.18.0.12"}) {
    SCOPED_TRACE(name);
    Registry registry(true);
    const CliRun run = RunCli({"install", name, "--timeout", "1"}, "", {registry.EnvVar()});
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_NE(run.out.find("\"Server IP\" = 198.18.0.12"), std::string::npos) << run.out;
    const auto value = registry.ServerIp();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, REG_TYPE_SZ);
    std::vector<uint8_t> expected = {'1', '9', '8', '.', '1', '8', '.', '0', '.', '1', '2'};
    expected.resize(60, 0);  // NUL and zeros up to 60 bytes
    EXPECT_EQ(value->data, expected);
  }
}

TEST(CliLab, InstallRefusesToCreateAMissingKeyAndNamesIt) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC}));
  Registry registry(false);
  const CliRun run = RunCli({"install", ROUTER_MAC}, "", {registry.EnvVar()});
  EXPECT_EQ(run.exitCode, 4) << Describe(run);
  const auto lines = run.ErrLines();
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_NE(lines[0].find("SOFTWARE\\DED Orezadu Devo"), std::string::npos) << lines[0];
  EXPECT_TRUE(std::filesystem::is_empty(registry.dir.Path())) << "nothing was created";

  const CliRun missing = RunCli({"install", "02C04C00FFFF", "--timeout", "0.5"}, "", {registry.EnvVar()});
  EXPECT_EQ(missing.exitCode, 3) << Describe(missing);
  EXPECT_NE(missing.err.find("02C04C00FFFF"), std::string::npos);
}

TEST(CliLab, TwoRoutersWithOneIpMustBeNamedByMac) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", "mac=02C04C000001,ip=198.18.0.11", "--router",
                              "mac=02C04C000002,ip=198.18.0.11"}));
  Registry registry(true);
  const CliRun run = RunCli({"install", "198.18.0.11", "--timeout", "0.5"}, "", {registry.EnvVar()});
  EXPECT_EQ(run.exitCode, 3) << Describe(run);
  EXPECT_NE(run.err.find("02C04C000001"), std::string::npos);
  EXPECT_NE(run.err.find("02C04C000002"), std::string::npos);
  EXPECT_FALSE(registry.ServerIp());
}

TEST(CliLab, UpgradeWithPasswordOnStdinSendsTheImageToTheSimulator) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC, "--upgrade", "after=2", "--tftp",
                              "--tftp-dir", store.Path().string()}));
  const auto image = RandomBytes(40 * 512 + 77, 9);
  WriteFile(client.Path() / "fw.all", image);
  const CliRun run = RunCli({"upgrade", ROUTER_MAC, (client.Path() / "fw.all").string(),
                             "--password-stdin"},
                            "pw1\n");
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(ReadFile(store.Path() / "fw.all"), image);
  EXPECT_NE(run.out.find("accepted after 2 requests"), std::string::npos) << run.out;
  // Plain lines (not a terminal), the last one at 100%, then the flash countdown and the end.
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  const std::size_t full = run.out.find("100%");
  const std::size_t flash = run.out.find("do not power it off");
  const std::size_t done = run.out.find("Upgrade complete\n");
  ASSERT_NE(full, std::string::npos) << run.out;
  ASSERT_NE(flash, std::string::npos) << run.out;
  ASSERT_NE(done, std::string::npos) << run.out;
  EXPECT_LT(full, flash);
  EXPECT_LT(flash, done);
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_EQ(CountWithType(sim.Recorded(), 0x82), 2u);
}

// The README's recipe: five simulated routers, each on an address of its own, and the image for
// the third. Its TFTP answers come from 198.18.0.12, not from the namespace's 198.18.0.2. A
// device or a folder as the image is refused before anything is sent.
TEST(CliLab, UpgradeOfARouterOtherThanTheFirstAnswersFromItsOwnAddress) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--routers", "5", "--upgrade", "at-once", "--tftp", "--tftp-dir",
                              store.Path().string()}));
  for (const std::string& bad : std::vector<std::string>{"/dev/zero", client.Path().string()}) {
    const CliRun refused = RunCli({"upgrade", "02C04C000003", bad, "--password-stdin"}, "pass3\n");
    EXPECT_EQ(refused.exitCode, 2) << Describe(refused);
    EXPECT_NE(refused.err.find("not a regular file"), std::string::npos) << refused.err;
  }
  EXPECT_TRUE(sim.Recorded().empty()) << "nothing may be sent for a file that is refused";

  const auto image = RandomBytes(100 * 512 + 5, 12);
  WriteFile(client.Path() / "fw3.all", image);
  const CliRun run = RunCli({"upgrade", "02C04C000003", (client.Path() / "fw3.all").string(),
                             "--password-stdin"},
                            "pass3\n");
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(ReadFile(store.Path() / "fw3.all"), image);
  EXPECT_NE(run.out.find("198.18.0.12"), std::string::npos) << run.out;
}

TEST(CliLab, UpgradeToRealTftpdHpa) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  if (::access(TFTPD_HPA, X_OK) != 0)
    GTEST_SKIP() << "tftpd-hpa is not installed (" << TFTPD_HPA << ")";
  TempDir serverDir, client;
  NamespaceProcess server;
  std::string err;
  ASSERT_TRUE(StartTftpdHpa(env, serverDir.Path(), server, &err)) << err;
  // The simulator answers the search and the handshake; tftpd-hpa takes the file.
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", "mac=02C04C000001,ip=198.18.0.2", "--upgrade", "at-once"}));
  const auto image = RandomBytes(256 * 1024, 3);
  WriteFile(client.Path() / "image.rst", image);
  // A router without a password, and no terminal: nothing to ask.
  const CliRun run = RunCli({"upgrade", "198.18.0.2", (client.Path() / "image.rst").string()});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(ReadFile(serverDir.Path() / "image.rst"), image);
  std::printf("[ lab figure ] corvalink-cli upgrade of 256 KiB to tftpd-hpa: %lld ms in all\n", run.ms);
}

TEST(CliLab, WrongPasswordStopsBeforeAnythingIsSent) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  TempDir client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC, "--upgrade", "at-once", "--tftp"}));
  WriteFile(client.Path() / "fw.all", RandomBytes(1000, 1));
  const std::string file = (client.Path() / "fw.all").string();
  for (const std::string& typed : {"pw2\n", "pw1x\n", "\n", ""}) {
    const CliRun run = RunCli({"upgrade", ROUTER_MAC, file, "--password-stdin"}, typed);
    EXPECT_EQ(run.exitCode, 5) << Describe(run);
    EXPECT_EQ(run.ErrLines().size(), 1u) << run.err;
  }
  // Without --password-stdin and without a terminal, a router with a password cannot be asked.
  const CliRun noTty = RunCli({"upgrade", ROUTER_MAC, file});
  EXPECT_EQ(noTty.exitCode, 2) << Describe(noTty);
  EXPECT_NE(noTty.err.find("--password-stdin"), std::string::npos);
  const auto records = sim.WaitRecorded(5, 2000);
  EXPECT_EQ(CountWithType(records, 0x80), 5u);
  EXPECT_EQ(CountWithType(records, 0x82), 0u) << "no upgrade request after a refusal";
  EXPECT_EQ(CountTftp(records), 0u);
}

TEST(CliLab, RouterThatNeverAcknowledgesEndsTheHandshakeInTime) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  TempDir client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC, "--upgrade", "never", "--tftp"}));
  WriteFile(client.Path() / "fw.all", RandomBytes(1000, 2));
  const CliRun run = RunCli({"upgrade", ROUTER_IP, (client.Path() / "fw.all").string(),
                             "--password-stdin", "--handshake-timeout", "1.2"},
                            "pw1\n");
  EXPECT_EQ(run.exitCode, 6) << Describe(run);
  ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
  EXPECT_NE(run.err.find("did not acknowledge"), std::string::npos);
  // At 0, 500 and 1000 ms, then the time is up; nothing reaches the TFTP server.
  const auto records = sim.WaitRecorded(4, 2000);
  EXPECT_EQ(CountWithType(records, 0x82), 3u);
  EXPECT_EQ(CountTftp(records), 0u);
}

TEST(CliLab, FailedTransferExitsWithItsOwnCodeAndTheRoutersError) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  // The third datagram to the client is an ERROR and the server drops the transfer: the block
  // is sent again into silence until its attempts are used up.
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC, "--upgrade", "at-once", "--tftp",
                              "--tftp-dir", store.Path().string(), "--tftp-fault", "error=3"}));
  WriteFile(client.Path() / "fw.all", RandomBytes(10 * 512, 4));
  const CliRun run = RunCli({"upgrade", ROUTER_MAC, (client.Path() / "fw.all").string(),
                             "--password-stdin"},
                            "pw1\n");
  EXPECT_EQ(run.exitCode, 7) << Describe(run);
  const auto lines = run.ErrLines();
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("corvalink-cli: Upgrade failed: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("Simulated failure"), std::string::npos) << lines[0];
  EXPECT_EQ(run.out.find("Upgrade complete"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(store.Path() / "fw.all"));
}

// Once every block is acknowledged, Ctrl-C ends the flash wait at once: nothing more is sent to
// the router (there is nothing to abort), and the warning says the router may still be writing.
TEST(CliLab, CtrlCDuringTheFlashWaitStopsAtOnceWithAWarning) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC, "--upgrade", "at-once", "--tftp",
                              "--tftp-dir", store.Path().string()}));
  const auto image = RandomBytes(1000 * 512 + 3, 21);  // a flash wait of about 9 s
  WriteFile(client.Path() / "fw.all", image);
  SteadyClock::time_point signalledAt{};
  ProgramOptions options;
  options.input = "pw1\n";
  options.onOutput = [&signalledAt](pid_t pid, const std::string& out) {
    if (signalledAt == SteadyClock::time_point{} &&
        out.find("do not power it off") != std::string::npos) {
      signalledAt = SteadyClock::now();
      ::kill(pid, SIGINT);
    }
  };
  const CliRun run = RunCli({"upgrade", ROUTER_MAC, (client.Path() / "fw.all").string(),
                             "--password-stdin"},
                            options);
  const auto afterSignal = SteadyClock::now() - signalledAt;
  ASSERT_NE(signalledAt, SteadyClock::time_point{}) << Describe(run);
  EXPECT_EQ(run.exitCode, 130) << Describe(run);
  EXPECT_LT(afterSignal, std::chrono::milliseconds(1000));
  const auto lines = run.ErrLines();
  ASSERT_EQ(lines.size(), 1u) << run.err;
  for (const char* part : {"warning", "every block of the image was acknowledged",
                           "may still be writing", "do not power it off"}) {
    EXPECT_NE(lines[0].find(part), std::string::npos) << part << " in: " << lines[0];
  }
  EXPECT_EQ(run.out.find("Upgrade complete"), std::string::npos);
  EXPECT_EQ(ReadFile(store.Path() / "fw.all"), image);
  // The client's last TFTP datagram is the last block, not an ERROR.
  const auto records = sim.Recorded();
  const sim::LoggedDatagram* last = nullptr;
  for (const auto& d : records) {
    if (d.socket == "tftp" && d.bytes.size() >= 2) last = &d;
  }
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(GetU16Be(last->bytes, 0), 3u) << "opcode of the last datagram";
}

// Output that cannot be written is an error: a full disk, or a reader that went away.
TEST(CliLab, OutputThatCannotBeWrittenEndsNonZeroWithAMessage) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", ROUTER_SPEC}));
  const std::pair<ProgramOptions::Out, const char*> rows[] = {
      {ProgramOptions::Out::DevFull, "No space left on device"},
      {ProgramOptions::Out::ClosedPipe, "Broken pipe"},
  };
  for (const auto& [out, cause] : rows) {
    SCOPED_TRACE(cause);
    ProgramOptions options;
    options.out = out;
    const CliRun run = RunCli({"search", "--timeout", "0.5"}, options);
    EXPECT_EQ(run.exitCode, 1) << Describe(run);
    const auto lines = run.ErrLines();
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find("cannot write to standard output"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(cause), std::string::npos) << lines[0];
  }
}

// On a terminal 50 columns wide, a router without a password: no prompt, and each redraw of the
// progress line stays within 49 columns, so it never wraps.
TEST(CliLab, OnATerminalTheProgressFitsItsWidthAndARouterWithoutPasswordIsNotAsked) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", "mac=02C04C000001,ip=198.18.0.2", "--upgrade",
                              "at-once", "--tftp", "--tftp-dir", store.Path().string()}));
  const auto image = RandomBytes(300 * 512, 22);
  WriteFile(client.Path() / "fw.all", image);
  const CliRun run =
      RunCliOnTerminal({"upgrade", ROUTER_MAC, (client.Path() / "fw.all").string()}, 50, 40);
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_EQ(ReadFile(store.Path() / "fw.all"), image);
  EXPECT_EQ(run.out.find("Password"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Upgrade complete"), std::string::npos) << run.out;
  EXPECT_GE(RedrawnLines(run.out, 50), 2) << run.out;
}

// Several routers on a terminal: one line each, redrawn in place as a block, each within the
// terminal's width; the summary table follows it.
TEST(CliLab, FleetOnATerminalRedrawsOneLinePerRouter) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir store, client;
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--routers", "3", "--tftp", "--tftp-dir", store.Path().string(),
                              "--tftp-dir-per-router"}));
  const auto image = RandomBytes(200 * 512, 23);
  WriteFile(client.Path() / "fw.all", image);
  {
    std::ofstream out(client.Path() / "pw");
    out << "02C04C000001 pass1\n02C04C000002 pass2\n02C04C000003 pass3\n";
  }
  const CliRun run = RunCliOnTerminal(
      {"upgrade", (client.Path() / "fw.all").string(), "-r", "02C04C000001", "-r",
       "02C04C000002", "-r", "02C04C000003", "--password-file", (client.Path() / "pw").string()},
      50, 40);
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  for (const char* ip : {"198.18.0.10", "198.18.0.11", "198.18.0.12"}) {
    EXPECT_EQ(ReadFile(store.Path() / ip / "fw.all"), image) << ip;
  }
  const std::size_t table = run.out.find("ROUTER ");
  ASSERT_NE(table, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("3 of 3 routers upgraded"), std::string::npos) << run.out;
  // The block moves back over its three lines before each redraw, and only before the table.
  const std::size_t back = run.out.find("\x1b[3A");
  ASSERT_NE(back, std::string::npos) << run.out;
  EXPECT_LT(run.out.rfind("\x1b[3A"), table);
  const int lines = RedrawnLines(run.out, 50);
  EXPECT_EQ(lines % 3, 0) << run.out;
  EXPECT_GE(lines, 6) << run.out;
}

// These send nothing: the command line is refused before any socket is made.
// -v: one line on standard error per datagram, with the reason for each refused one. The
// simulator sends a wrong-type and a wrong-magic datagram before its reply, and a stray TFTP
// sender copies a datagram from another port, or (the second run) from another address.
TEST(CliLab, VerboseTracesEachDatagramAndWhyOneWasRefused) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  TempDir client;
  WriteFile(client.Path() / "fw.all", RandomBytes(5 * 512 + 3, 4));
  struct Row {
    std::vector<std::string> simArgs;
    std::vector<std::string> wanted;
  } rows[] = {
      {{"--extra", "wrongtype,wrongmagic", "--tftp-fault", "stray=3"},
       {"> search 255.255.255.255:56415 54 bytes DD 80 00 36 search request\n",
        "< search 198.18.0.2:56415 54 bytes DD 80 00 36 search reply\n",
        "refused: wrong type (a search reply is DD 80)\n", "refused: wrong magic (not DD)\n",
        "> upgrade 198.18.0.2:56415 54 bytes DD 82 00 36 upgrade request\n",
        "upgrade reply\n", "> tftp 198.18.0.2:69 ", " WRQ \"fw.all\" \"octet\"\n", " ACK 0\n",
        " DATA 6\n", "refused: stray TFTP sender (the transfer is with 198.18.0.2:"}},
      {{"--tftp-fault", "stray=1", "--tftp-stray-address", "198.18.0.10"},
       {"< tftp 198.18.0.10:", "refused: reply from another address (the write request went to "
                               "198.18.0.2)\n"}},
  };
  for (const Row& row : rows) {
    LabSimulator sim;
    std::vector<std::string> simArgs = {"--router", ROUTER_SPEC, "--tftp"};
    simArgs.insert(simArgs.end(), row.simArgs.begin(), row.simArgs.end());
    ASSERT_TRUE(sim.Start(env, simArgs));
    const CliRun run = RunCli({"upgrade", "-v", ROUTER_MAC, (client.Path() / "fw.all").string(),
                               "--password-stdin", "-t", "1"},
                              "pw1\n");
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    for (const std::string& w : row.wanted) EXPECT_NE(run.err.find(w), std::string::npos) << w << "\n" << run.err;
    EXPECT_EQ(run.out.find("> "), std::string::npos) << "the trace stays on standard error";
  }
}

TEST(CliLab, InterfacesListsWhatInterfaceAcceptsAndAnUnknownOneNamesThem) {
  LAB_OR_SKIP(env);
  const CliRun list = RunCli({"interfaces"});
  ASSERT_EQ(list.exitCode, 0) << Describe(list);
  EXPECT_EQ(list.out.rfind("NAME ", 0), 0u) << list.out;
  std::istringstream lines(list.out);
  std::string line;
  bool lab0 = false;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, address, broadcast, state;
    fields >> name >> address >> broadcast >> state;
    if (name == "lab0") lab0 = address == "198.18.0.1" && broadcast == "198.18.0.255" && state == "up";
  }
  EXPECT_TRUE(lab0) << list.out;
  const CliRun unknown = RunCli({"search", "-i", "nosuch0"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("lab0 198.18.0.1 up"), std::string::npos) << unknown.err;
}

// Usage errors name the word that is wrong; help begins with Usage and fits 80 columns.
TEST(CliUsage, ErrorsNameTheBadWordAndHelpFitsEightyColumns) {
  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"foo"}, "corvalink-cli: unknown command 'foo'"},
      {{"help", "foo"}, "unknown command 'foo'"},
      {{}, "which command? one of: search, install, upgrade, interfaces, help"},
      {{"search", "--timeout", "abc"}, "--timeout: 'abc' is not a number of seconds"},
      {{"search", "-t", "nan"}, "--timeout: 'nan' is not a number of seconds"},
      {{"search", "-t"}, "--timeout needs a value"},
      {{"search", "--bogus"}, "unknown option '--bogus'"},
      {{"install", "02C04C000001", "extra"}, "unexpected argument 'extra'"},
  };
  for (const auto& [args, wanted] : errors) {
    const CliRun run = RunCli(args, "", {}, 10);
    EXPECT_EQ(run.exitCode, 2) << wanted;
    EXPECT_NE(run.err.find(wanted), std::string::npos) << run.err;
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"-h"}, {"help"}, {"search", "--help"},
        {"help", "install"}, {"upgrade", "-h"}, {"interfaces", "--help"}}) {
    const CliRun run = RunCli(args, "", {}, 10);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind("Usage: corvalink-cli", 0), 0u) << run.out;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  }
  EXPECT_EQ(RunCli({"help", "install"}, "", {}, 10).out, RunCli({"install", "--help"}, "", {}, 10).out);
  for (const char* flag : {"--version", "-V"}) {
    EXPECT_EQ(RunCli({flag}, "", {}, 10).out, "corvalink-cli 1.0.0\n");
  }
}

TEST(CliUsage, BadCommandLinesExitTwoWithOneLine) {
  TempDir dir;
  WriteFile(dir.Path() / "fw.all", {1, 2, 3});
  const std::string fw = (dir.Path() / "fw.all").string();
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"frobnicate"},
      {"search", "--bogus"},
      {"search", "--timeout", "0"},
      {"search", "--timeout", "soon"},
      {"search", "--timeout", "nan"},
      {"search", "--timeout", "inf"},
      {"search", "--timeout", ""},
      {"search", "--timeout="},
      {"upgrade", ROUTER_MAC, fw, "--handshake-timeout", "nan"},
      {"upgrade", ROUTER_MAC, fw, "--handshake-timeout", "-inf"},
      {"upgrade", ROUTER_MAC, fw, "--handshake-timeout", ""},
      {"search", "--interface", "nosuch0"},
      {"search", "--interface", "lo", "--destination", "127.0.0.1:9"},
      {"search", "--destination", "127.0.0.1"},
      {"install"},
      {"install", "not-a-router"},
      {"upgrade", ROUTER_MAC},
      {"upgrade", ROUTER_MAC, (dir.Path() / "missing.all").string()},
      {"upgrade", ROUTER_MAC, dir.Path().string()},
      {"upgrade", "1.2.3", fw},
      {"upgrade", ROUTER_MAC, fw, "--password", "secret"},
  };
  for (const auto& args : rows) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    const CliRun run = RunCli(args, "", {}, 10);
    EXPECT_EQ(run.exitCode, 2) << shown << "\n" << Describe(run);
    ASSERT_EQ(run.ErrLines().size(), 1u) << shown << "\n" << run.err;
    EXPECT_EQ(run.err.rfind("corvalink-cli: ", 0), 0u) << run.err;
    EXPECT_TRUE(run.out.empty()) << shown;
    EXPECT_LT(run.ms, 5000) << shown;
  }
}

TEST(CliUsage, HelpForEveryCommandAndVersion) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"search", "--help"}, {"install", "--help"},
        {"upgrade", "--help"}}) {
    const CliRun run = RunCli(args, "", {}, 10);
    EXPECT_EQ(run.exitCode, 0) << args[0];
    EXPECT_NE(run.out.find("Usage:"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("--destination"), std::string::npos) << "test options stay hidden";
  }
  const CliRun upgradeHelp = RunCli({"upgrade", "--help"}, "", {}, 10);
  EXPECT_NE(upgradeHelp.out.find("--password-stdin"), std::string::npos);
  EXPECT_NE(upgradeHelp.out.find("--handshake-timeout"), std::string::npos);
  const CliRun version = RunCli({"--version"}, "", {}, 10);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.out.find("1.0"), std::string::npos) << version.out;
}

}  // namespace
}  // namespace corvalink::lab
