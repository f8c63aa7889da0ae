// The CUPS backend's decisions: the discovery line, which device URIs it takes and the lpd URI
// each becomes, and what CUPS is told (exit code, one ERROR line) when "Server IP" is unusable.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "backend_run.h"
#include "platform/registry_store.h"
#include "portsetup/server_address.h"
#include "temp_tree.h"

namespace corvalink::cups {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> JOB_ARGS = {"office", "42", "alice", "report", "1", "", "/spool/d42"};

class CupsBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_tmp.Path().empty());
    fs::create_directories(m_tmp.Path() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "DED Orezadu Devo");
  }
  void Store(const Ipv4& address) {
    std::string err;
    ASSERT_TRUE(StoreServerAddress(m_registry, address, &err)) << err;
  }
  test::TempDir m_tmp;
  RegistryStore m_registry{m_tmp.Path()};
};

TEST_F(CupsBackend, WithoutArgumentsPrintsItsDeviceLineAndReadsNothing) {
  const BackendRun run = PlanBackendRun({"corvalink"}, nullptr, nullptr, m_registry);
  EXPECT_EQ(run.exitCode, CUPS_BACKEND_OK);
  EXPECT_EQ(run.out, "network corvalink \"Unknown\" \"Corvalink router (stored Server IP)\"\n");
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(run.exec);

  const BackendRun wrong = PlanBackendRun({"corvalink", "42", "alice"}, nullptr, nullptr, m_registry);
  EXPECT_EQ(wrong.exitCode, CUPS_BACKEND_FAILED);
  EXPECT_EQ(wrong.err.rfind("Usage: corvalink job-id user title copies options [file]", 0), 0u);
  EXPECT_FALSE(wrong.exec);
}

TEST_F(CupsBackend, HandsEachJobToLpdWithTheStoredRouterInTheUri) {
  Store({198, 18, 0, 11});
  struct Case {
    const char* deviceUri;
    const char* lpdUri;  // null: refused, with `because` in the ERROR line
    const char* because;
  };
  const Case cases[] = {
      {"corvalink://lp", "lpd://198.18.0.11/lp", ""},
      {"corvalink://lp?reserve=none&contimeout=30", "lpd://198.18.0.11/lp?reserve=none&contimeout=30", ""},
      {"CorvaLink://PORT1", "lpd://198.18.0.11/PORT1", ""},
      {"corvalink://raw%41q_1.~-", "lpd://198.18.0.11/raw%41q_1.~-", ""},
      {"corvalink://lp%0A%02evil%0A", nullptr, "decoded queue name"},
      {"corvalink://lp%00", nullptr, "decoded queue name"},
      {"corvalink://lp%20q", nullptr, "decoded queue name"},
      {"corvalink://lp%2Fx", nullptr, "decoded queue name"},
      {"corvalink://lp%3fx", nullptr, "decoded queue name"},
      {"corvalink://lp%23", nullptr, "decoded queue name"},
      {"corvalink://lp%25", nullptr, "decoded queue name"},
      {"corvalink://lp%7F", nullptr, "decoded queue name"},
      {"corvalink://lp%C3%A9", nullptr, "decoded queue name"},
      {"corvalink://", nullptr, "it names no LPD queue"},
      {"corvalink://?banner=on", nullptr, "it names no LPD queue"},
      {"corvalink://lp/extra", nullptr, "only letters"},
      {"corvalink://user@lp", nullptr, "only letters"},
      {"corvalink://lp%2", nullptr, "only letters"},
      {"corvalink://lp?title=a b", nullptr, "without spaces"},
      {"corvalink://lp?a#b", nullptr, "without spaces or '#'"},
      {"corvalink://lp?a\nERROR: forged", nullptr, "printable"},
      {"lpd://198.18.0.11/lp", nullptr, "does not start with corvalink://"},
      {"corvalinkx://lp", nullptr, "does not start with corvalink://"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deviceUri);
    const BackendRun run = PlanBackendRun(JOB_ARGS, c.deviceUri, "/opt/cups", m_registry);
    if (c.lpdUri == nullptr) {
      EXPECT_FALSE(run.exec);
      EXPECT_EQ(run.exitCode, CUPS_BACKEND_STOP);
      EXPECT_EQ(run.err.rfind("ERROR: The device URI \"", 0), 0u) << run.err;
      EXPECT_NE(run.err.find(c.because), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
      continue;
    }
    ASSERT_TRUE(run.exec) << run.err;
    EXPECT_EQ(run.program, "/opt/cups/backend/lpd");
    std::vector<std::string> argv = JOB_ARGS;
    argv[0] = c.lpdUri;
    EXPECT_EQ(run.argv, argv);
    EXPECT_EQ(run.env, (EnvironmentChanges{{"DEVICE_URI", c.lpdUri}}));
    EXPECT_NE(run.err.find("INFO: Printing to the router at 198.18.0.11 (Server IP)"), std::string::npos);
  }

  // Without DEVICE_URI the device URI is argv[0]; without CUPS_SERVERBIN, CUPS's own folder.
  std::vector<std::string> args = JOB_ARGS;
  args[0] = "corvalink://lp";
  args.pop_back();  // the job on standard input
  for (const char* serverBin : {static_cast<const char*>(nullptr), ""}) {
    const BackendRun run = PlanBackendRun(args, nullptr, serverBin, m_registry);
    ASSERT_TRUE(run.exec) << run.err;
    EXPECT_EQ(run.program, "/usr/lib/cups/backend/lpd");
    EXPECT_EQ(run.argv[0], "lpd://198.18.0.11/lp");
    EXPECT_EQ(run.argv.size(), 6u);
  }
}

TEST_F(CupsBackend, AnUnusableServerIpStopsThePrinterWithOneErrorLine) {
  auto expectStop = [&](const char* because) {
    const BackendRun run = PlanBackendRun(JOB_ARGS, "corvalink://lp", nullptr, m_registry);
    EXPECT_FALSE(run.exec);
    EXPECT_EQ(run.exitCode, CUPS_BACKEND_STOP);
    EXPECT_EQ(run.err.rfind("ERROR: No router to print to: \"Server IP\" under ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(because), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  };
  expectStop("is not set");
  Store({0, 0, 0, 0});
  expectStop("0.0.0.0, which is no router's address");
  // A line break in the stored text must not become a second message to CUPS.
  test::WriteRegValue(m_tmp.Path() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "DED Orezadu Devo" / "Server IP",
                      REG_TYPE_SZ, "10.0.0.1\nINFO: forged");
  expectStop("is malformed");
  EXPECT_EQ(PlanBackendRun(JOB_ARGS, "corvalink://lp", nullptr, m_registry).err.find("forged"),
            std::string::npos)
      << "the stored bytes are never repeated";
}

}  // namespace
}  // namespace corvalink::cups
