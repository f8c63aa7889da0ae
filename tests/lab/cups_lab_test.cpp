// Printing as a Linux user prints: a cupsd of the test's own (Debian's cups, its configuration,
// spool and logs in a fresh folder, reachable only on a private socket) with a queue on the
// corvalink backend, corvalink-cli choosing the router, lp sending the job, and the simulated
// routers' print servers in the lab's router namespace receiving it.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "discovery/router_table.h"
#include "lab_util.h"
#include "platform/registry_store.h"
#include "portsetup/server_address.h"
#include "sim_router.h"

namespace corvalink::lab {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char CUPSD[] = "/usr/sbin/cupsd";
constexpr char DEBIAN_SERVER_BIN[] = "/usr/lib/cups";

std::string CliPath() {
  std::error_code ec;
  return (fs::read_symlink("/proc/self/exe", ec).parent_path() / "corvalink-cli").string();
}

std::string Describe(const ProgramRun& r) {
  return "exit " + std::to_string(r.exitCode) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The value of "key=" in a simulator line such as "LPD job to=198.18.0.10:515 ... stored=PATH".
std::string TextField(const std::string& line, const std::string& key) {
  const std::string needle = " " + key + "=";
  const std::size_t at = line.find(needle);
  if (at == std::string::npos) return {};
  const std::size_t start = at + needle.size();
  return line.substr(start, line.find(' ', start) - start);
}

class CupsLab : public ::testing::Test {
 protected:
  void SetUp() override {
    auto env = GetLabEnv();
    if (!env) GTEST_SKIP() << "not in the network lab: run through scripts/lab.sh run";
    if (!fs::exists(CUPSD)) GTEST_SKIP() << "cupsd is not installed (Debian package cups)";
    m_env = *env;
    m_dir = m_tmp.Path();
    // cupsd's helpers run as lp and must reach the spool below this folder.
    fs::permissions(m_dir, fs::perms(0755));
    m_routers = sim::GenerateRouters(2);
    ASSERT_TRUE(m_sim.Start(m_env, {"--routers", "2", "--lpd", "--lpd-dir", (m_dir / "lpd").string()}));

    // The printer-port software's key exists; "Server IP" is set only by an install.
    m_registry = m_dir / "registry";
    fs::create_directories(m_registry / "HKEY_LOCAL_MACHINE" / "Software" / "DED Orezadu Devo");
    ASSERT_NO_FATAL_FAILURE(StartCupsd());
    const ProgramRun add = Cups({"lpadmin", "-p", "office", "-E", "-v", "corvalink://lp", "-m", "raw"});
    ASSERT_EQ(add.exitCode, 0) << Describe(add);
  }

  void StartCupsd() {
    for (const char* d : {"conf", "spool/tmp", "cache", "state", "log", "bin/backend"}) {
      fs::create_directories(m_dir / d);
    }
    // Its ServerBin: the backend installed as the package installs it, Debian's lpd backend
    // beside it, and Debian's helper programs; no other backend, so lpinfo looks nowhere else.
    const fs::path backend = m_dir / "bin/backend/corvalink";
    fs::copy_file(CORVALINK_CUPS_BACKEND, backend);
    fs::permissions(backend, fs::perms(0744));
    fs::create_symlink(fs::path(DEBIAN_SERVER_BIN) / "backend/lpd", m_dir / "bin/backend/lpd");
    for (const char* d : {"daemon", "filter", "notifier", "monitor", "driver"}) {
      fs::create_symlink(fs::path(DEBIAN_SERVER_BIN) / d, m_dir / "bin" / d);
    }
    const std::string d = m_dir.string();
    m_socket = d + "/cups.sock";
    // A local socket only: no Listen on an address, no Port, no browsing, no web interface.
    std::ofstream(m_dir / "conf/cupsd.conf")
        << "LogLevel debug\nListen " << m_socket << "\nBrowsing No\nBrowseLocalProtocols none\n"
        << "WebInterface No\n<Location />\n  Order allow,deny\n  Allow localhost\n</Location>\n"
        << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    std::ofstream(m_dir / "conf/cups-files.conf")
        << "ServerRoot " << d << "/conf\nRequestRoot " << d << "/spool\nTempDir " << d
        << "/spool/tmp\nCacheDir " << d << "/cache\nStateDir " << d << "/state\nServerBin " << d
        << "/bin\nErrorLog " << d << "/log/error_log\nAccessLog " << d << "/log/access_log\n"
        << "PageLog " << d << "/log/page_log\nSetEnv CORVALINK_REGISTRY_ROOT " << m_registry.string()
        << "\n";
    std::string err;
    ASSERT_TRUE(m_cupsd.Start(m_env.clientNs,
                              {CUPSD, "-f", "-c", d + "/conf/cupsd.conf", "-s", d + "/conf/cups-files.conf"},
                              &err))
        << err;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!fs::exists(m_socket) && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(m_socket)) << "cupsd made no socket within 10 s:\n"
                                      << ReadText(m_dir / "log/error_log");
  }

  void TearDown() override {
    // By its pid, before the folder with its spool goes.
    m_cupsd.Stop();
  }

  ProgramRun Cups(const std::vector<std::string>& argv) {
    return RunProgram(argv, "", {"CUPS_SERVER=" + m_socket}, 30);
  }

  void Install(const sim::SimRouter& router) {
    const ProgramRun run = RunProgram({CliPath(), "install", MacText(router.mac), "--timeout", "1"},
                                      "", {"CORVALINK_REGISTRY_ROOT=" + m_registry.string()});
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
  }

  /// Prints `bytes` with lp and returns the file's path.
  fs::path Print(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path file = m_dir / name;
    WriteFile(file, bytes);
    const ProgramRun run = Cups({"lp", "-d", "office", file.string()});
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    return file;
  }

  /// The simulator's line for the job received at `router`, within 30 s.
  std::optional<std::string> JobAt(const sim::SimRouter& router) {
    return m_sim.Process().WaitLine("LPD job to=" + Ipv4ToText(router.ip) + ":515 ", 30000);
  }

  std::string PrinterStatus() { return Cups({"lpstat", "-p", "office"}).out; }

  TempDir m_tmp;
  fs::path m_dir;
  fs::path m_registry;
  std::string m_socket;
  LabEnv m_env;
  std::vector<sim::SimRouter> m_routers;
  LabSimulator m_sim;
  NamespaceProcess m_cupsd;
  TestTimeout m_timeout{120};
};

TEST_F(CupsLab, LpinfoListsTheBackendAndCupsdListensOnItsSocketOnly) {
  const ProgramRun devices = Cups({"lpinfo", "-v"});
  ASSERT_EQ(devices.exitCode, 0) << Describe(devices);
  EXPECT_NE(devices.out.find("network corvalink\n"), std::string::npos) << devices.out;
  EXPECT_FALSE(ProcessListensTcp(m_cupsd.Pid())) << "cupsd listens on a TCP port";
}

TEST_F(CupsLab, EachJobGoesByteForByteToTheRouterInstalledLast) {
  const std::vector<uint8_t> first = RandomBytes(300000, 18);
  const std::vector<uint8_t> second = RandomBytes(70001, 19);

  ASSERT_NO_FATAL_FAILURE(Install(m_routers[0]));
  Print("first.bin", first);
  const auto one = JobAt(m_routers[0]);
  ASSERT_TRUE(one) << ReadText(m_dir / "log/error_log");
  std::cout << "[ router 1 ] " << *one << "\n";
  EXPECT_EQ(TextField(*one, "queue"), "lp");
  EXPECT_TRUE(ReadFile(TextField(*one, "stored")) == first) << *one;
  // Run as root, as its mode asks, the lpd backend sends from a reserved port (RFC 1179 3.1).
  const std::string from = TextField(*one, "from");
  EXPECT_LT(std::stoi(from.substr(from.find(':') + 1)), 1024) << *one;

  ASSERT_NO_FATAL_FAILURE(Install(m_routers[1]));
  Print("second.bin", second);
  const auto two = JobAt(m_routers[1]);
  ASSERT_TRUE(two) << ReadText(m_dir / "log/error_log");
  std::cout << "[ router 2 ] " << *two << "\n";
  EXPECT_TRUE(ReadFile(TextField(*two, "stored")) == second) << *two;
  // Nothing else reached either router: one job directory each, one data file in each.
  for (const auto& r : m_routers) {
    int dataFiles = 0;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(m_dir / "lpd" / Ipv4ToText(r.ip), ec)) {
      dataFiles += f.path().filename().string().find("-df") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(dataFiles, 1) << Ipv4ToText(r.ip);
  }
  EXPECT_NE(PrinterStatus().find("is idle"), std::string::npos) << PrinterStatus();
}

TEST_F(CupsLab, WithoutServerIpThePrinterStopsWithTheBackendsErrorAndResumesAfterInstall) {
  const std::vector<uint8_t> bytes = RandomBytes(4096, 20);
  Print("held.bin", bytes);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (PrinterStatus().find("disabled") == std::string::npos && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string status = PrinterStatus();
  std::cout << "[ stopped  ] " << status;
  EXPECT_NE(status.find("disabled"), std::string::npos) << status;

  // The backend's own message, at error level, for the job, and the stop it caused.
  const std::string log = ReadText(m_dir / "log/error_log");
  std::istringstream lines(log);
  std::string error;
  bool stopped = false;
  for (std::string l; std::getline(lines, l);) {
    if (l.starts_with("E ") && l.find("[Job 1] No router to print to:") != std::string::npos) error = l;
    stopped |= l.find("[Job 1] Backend returned status 4 (stop printer)") != std::string::npos;
  }
  std::cout << "[ error_log] " << error << "\n";
  EXPECT_NE(error.find(std::string(SERVER_IP_VALUE) + "\\\" under"), std::string::npos) << log;
  EXPECT_NE(error.find("is not set"), std::string::npos) << error;
  EXPECT_TRUE(stopped) << log;
  // The job waits in the queue and nothing reached a router.
  EXPECT_NE(Cups({"lpstat", "-o", "office"}).out.find("office-1 "), std::string::npos);
  EXPECT_FALSE(m_sim.Process().WaitLine("LPD ", 200));

  ASSERT_NO_FATAL_FAILURE(Install(m_routers[1]));
  const ProgramRun resume = Cups({"cupsenable", "office"});
  ASSERT_EQ(resume.exitCode, 0) << Describe(resume);
  const auto job = JobAt(m_routers[1]);
  ASSERT_TRUE(job) << ReadText(m_dir / "log/error_log");
  EXPECT_TRUE(ReadFile(TextField(*job, "stored")) == bytes) << *job;
}

}  // namespace
}  // namespace corvalink::lab
