// Searches across the lab's three segments: the client's own two (198.18.0.0/24 on lab0,
// 198.18.1.0/24 on lab2) and the one routed behind the second (198.18.2.0/24). A simulator runs
// in each segment's router namespace and records what reaches it.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "discovery/router_table.h"
#include "discovery/search_loop.h"
#include "discovery/search_socket.h"
#include "lab_util.h"
#include "platform/ms_clock.h"

namespace corvalink::lab {
namespace {

using SteadyClock = std::chrono::steady_clock;

#define SEGMENTS_OR_SKIP(env)                                                                  \
  LAB_OR_SKIP(env);                                                                            \
  if (env.router2Ns.empty() || env.router3Ns.empty())                                          \
  GTEST_SKIP() << "this lab has one segment only (CORVALINK_LAB_ROUTER2_NS is unset)"

// The lab with the router namespace of segment `segment` (0, 1 or 2) in the simulator's place.
LabEnv OnSegment(const LabEnv& env, int segment) {
  LabEnv e = env;
  if (segment == 1) e.routerNs = env.router2Ns;
  if (segment == 2) e.routerNs = env.router3Ns;
  return e;
}

// `count` routers of segment `segment`: MAC 02C04C5S00nn, IP 198.18.S.(9 + n), n from 1.
std::vector<std::string> RouterArgs(int segment, int count) {
  std::vector<std::string> args;
  for (int n = 1; n <= count; ++n) {
    char router[96];
    std::snprintf(router, sizeof router, "mac=02C04C5%d00%02d,ip=198.18.%d.%d,location=Segment %d/%d",
                  segment, n, segment, 9 + n, segment, n);
    args.insert(args.end(), {"--router", router});
  }
  return args;
}

std::string MacOf(int segment, int n) {
  char text[16];
  std::snprintf(text, sizeof text, "02C04C5%d00%02d", segment, n);
  return text;
}

std::string CliPath() {
  if (const char* v = std::getenv("CORVALINK_CLI")) return v;
  std::error_code ec;
  return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / "corvalink-cli")
      .string();
}

ProgramRun RunCli(std::vector<std::string> args) {
  args.insert(args.begin(), CliPath());
  return RunProgram(args, "", {}, 60);
}

std::string Describe(const ProgramRun& r) {
  return "exit " + std::to_string(r.exitCode) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

// Checks that `records` hold exactly one datagram, the search request byte for byte, from
// `from`.
void ExpectOneRequest(const std::vector<sim::LoggedDatagram>& records, const Ipv4& from,
                      const char* segment) {
  ASSERT_EQ(records.size(), 1u) << segment;
  EXPECT_EQ(records[0].bytes, EXPECTED_REQUEST) << segment;
  EXPECT_EQ(records[0].bytes.size(), 54u) << segment;
  EXPECT_EQ(records[0].from.address, from) << segment;
  EXPECT_NE(records[0].from.port, DISCOVERY_PORT) << segment;
}

// The client's second interface taken down for one test, and brought back on every way out,
// with the route to the third segment that went down with it.
class SecondInterfaceDown {
 public:
  SecondInterfaceDown() { m_ok = RunProgram({"ip", "link", "set", "lab2", "down"}).exitCode == 0; }
  ~SecondInterfaceDown() {
    RunProgram({"ip", "link", "set", "lab2", "up"});
    // Up means operational: before the kernel marks it so, what is sent on it is dropped.
    for (int i = 0; i < 40; ++i) {
      if (RunProgram({"ip", "link", "show", "lab2"}).out.find("state UP") != std::string::npos) {
        break;
      }
      RunProgram({"sleep", "0.05"});
    }
    RunProgram({"ip", "route", "replace", "198.18.2.0/24", "via", "198.18.1.2", "dev", "lab2"});
  }
  SecondInterfaceDown(const SecondInterfaceDown&) = delete;
  SecondInterfaceDown& operator=(const SecondInterfaceDown&) = delete;
  bool Ok() const { return m_ok; }

 private:
  bool m_ok = false;
};

TEST(LabSegments, DefaultSearchFindsBothAttachedSegmentsWithOneRequestOnEach) {
  SEGMENTS_OR_SKIP(env);
  TestTimeout timeout(60);
  LabSimulator sims[3];
  for (int s = 0; s < 3; ++s) ASSERT_TRUE(sims[s].Start(OnSegment(env, s), RouterArgs(s, 2)));

  const ProgramRun run = RunCli({"search", "--timeout", "1", "--json"});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  EXPECT_TRUE(run.err.empty()) << run.err;
  const auto routers = nlohmann::json::parse(run.out);
  ASSERT_EQ(routers.size(), 4u) << run.out;
  std::vector<std::string> found;
  for (const auto& r : routers) {
    found.push_back(r["mac"].get<std::string>() + " " + r["interface"].get<std::string>() + " " +
                    r["local_ip"].get<std::string>());
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{
                       MacOf(0, 1) + " lab0 198.18.0.1", MacOf(0, 2) + " lab0 198.18.0.1",
                       MacOf(1, 1) + " lab2 198.18.1.1", MacOf(1, 2) + " lab2 198.18.1.1"}));

  ExpectOneRequest(sims[0].WaitRecorded(1, 2000), {198, 18, 0, 1}, "first segment");
  ExpectOneRequest(sims[1].WaitRecorded(1, 2000), {198, 18, 1, 1}, "second segment");
  EXPECT_TRUE(sims[2].Recorded().empty()) << "no router forwards a limited broadcast";

  // The table shows the same, with the interface before the location.
  const ProgramRun table = RunCli({"search", "--timeout", "1"});
  ASSERT_EQ(table.exitCode, 0) << Describe(table);
  EXPECT_NE(table.out.find("INTERFACE        Location\n"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("lab2 198.18.1.1  Segment 1/2\n"), std::string::npos) << table.out;
}

TEST(LabSegments, ToFindsTheRoutedSegmentByBlockOrByItsDirectedBroadcast) {
  SEGMENTS_OR_SKIP(env);
  TestTimeout timeout(90);
  struct Row {
    std::vector<std::string> to;
    std::size_t requestsThere;  // datagrams that reach the routed segment's simulator
    long long atLeastMs;
  };
  // The block: one request per address of the simulator's namespace (.2 and .10-.49), paced
  // 4 ms apart over its 254 addresses.
  const Row rows[] = {
      {{"--to", "198.18.2.0/24"}, 41, 253 * 4},
      {{"--to", "198.18.2.255"}, 1, 0},
      {{"--to", "198.18.2.11", "--to", "198.18.2.10"}, 2, 0},
  };
  for (const Row& row : rows) {
    LabSimulator routed;
    ASSERT_TRUE(routed.Start(OnSegment(env, 2), RouterArgs(2, 2)));
    std::vector<std::string> args = {"search", "--timeout", "0.5", "--json"};
    args.insert(args.end(), row.to.begin(), row.to.end());
    const ProgramRun run = RunCli(args);
    ASSERT_EQ(run.exitCode, 0) << Describe(run);
    const auto routers = nlohmann::json::parse(run.out);
    ASSERT_EQ(routers.size(), 2u) << run.out;
    for (const auto& r : routers) {
      EXPECT_EQ(r["ip"].get<std::string>().rfind("198.18.2.", 0), 0u) << r;
      EXPECT_EQ(r["interface"], "lab2") << "the routed segment answers by the second segment";
      EXPECT_EQ(r["local_ip"], "198.18.1.1");
    }
    EXPECT_GE(run.ms, row.atLeastMs + 500) << "a sweep is paced, then replies are awaited";
    EXPECT_EQ(routed.WaitRecorded(row.requestsThere, 3000).size(), row.requestsThere);
    for (const auto& d : routed.Recorded()) EXPECT_EQ(d.bytes, EXPECTED_REQUEST);
  }

  // Found by MAC behind the router, as install and upgrade find it.
  LabSimulator routed;
  ASSERT_TRUE(routed.Start(OnSegment(env, 2), RouterArgs(2, 2)));
  TempDir registry;
  const ProgramRun install = RunProgram(
      {CliPath(), "install", MacOf(2, 2), "--to", "198.18.2.0/24", "--timeout", "0.5"}, "",
      {"CORVALINK_REGISTRY_ROOT=" + registry.Path().string()});
  EXPECT_NE(install.out.find("Found router " + MacOf(2, 2) + " at 198.18.2.11"), std::string::npos)
      << Describe(install);

  // Blocks beyond a /22 are refused before anything is sent.
  const ProgramRun wide = RunCli({"search", "--to", "198.18.0.0/16"});
  EXPECT_EQ(wide.exitCode, 2) << Describe(wide);
  EXPECT_NE(wide.err.find("--to: '198.18.0.0/16' is larger than a /22"), std::string::npos)
      << wide.err;
}

TEST(LabSegments, OneInterfaceSendsWhatItSentBeforeByteForByte) {
  SEGMENTS_OR_SKIP(env);
  TestTimeout timeout(60);
  SecondInterfaceDown down;
  ASSERT_TRUE(down.Ok()) << "cannot take lab2 down";
  LabSimulator sims[2];
  for (int s = 0; s < 2; ++s) ASSERT_TRUE(sims[s].Start(OnSegment(env, s), RouterArgs(s, 1)));

  const ProgramRun run = RunCli({"search", "--timeout", "0.5"});
  ASSERT_EQ(run.exitCode, 0) << Describe(run);
  ExpectOneRequest(sims[0].WaitRecorded(1, 2000), env.clientIp, "the one segment");
  EXPECT_TRUE(sims[1].Recorded().empty());
  EXPECT_NE(run.out.find(MacOf(0, 1)), std::string::npos) << run.out;
}

// The figure for people: 30 routers, 15 on each attached segment, each answering at once; from
// the search to the 30th router stored, over several rounds.
TEST(LabSegments, ThirtyRoutersOnTwoSegmentsAreListedWithinASecond) {
  SEGMENTS_OR_SKIP(env);
  TestTimeout timeout(90);
  LabSimulator sims[2];
  for (int s = 0; s < 2; ++s) ASSERT_TRUE(sims[s].Start(OnSegment(env, s), RouterArgs(s, 15)));

  constexpr int ROUNDS = 10;
  std::vector<long long> lastUs;
  long long firstRoundUs = 0;
  // Round 0 is not counted: its replies wait for the client's address to be resolved (ARP)
  // on each segment, which later searches find known.
  for (int round = 0; round <= ROUNDS; ++round) {
    RouterTable table;
    SteadyClock::time_point last{};
    CSearchSocket socket([&](const Packet& reply) {
      if (table.Add(reply) == AddResult::Added) last = SteadyClock::now();
    });
    ASSERT_TRUE(socket.Create());
    MsClock clock;
    SearchPlan plan;
    plan.timeoutMs = 3000;
    const auto start = SteadyClock::now();
    const PollResult r = RunSearch(socket, table, clock, plan, [&] { return table.Count() >= 30; });
    ASSERT_EQ(r.end, PollEnd::Stopped) << r.error << " routers: " << table.Count();
    EXPECT_EQ(socket.LastSearchDatagrams(), 2);
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(last - start).count();
    if (round == 0) {
      firstRoundUs = us;
      continue;
    }
    lastUs.push_back(us);
  }
  // One request per segment and round, never more.
  EXPECT_EQ(sims[0].WaitRecorded(ROUNDS + 1, 2000).size(), std::size_t{ROUNDS + 1});
  EXPECT_EQ(sims[1].WaitRecorded(ROUNDS + 1, 2000).size(), std::size_t{ROUNDS + 1});
  std::sort(lastUs.begin(), lastUs.end());
  std::printf("BENCH two-segments routers=30 rounds=%d datagrams_per_segment=1 "
              "search_to_last_us median=%lld max=%lld (uncounted first round %lld)\n",
              ROUNDS, lastUs[ROUNDS / 2], lastUs.back(), firstRoundUs);
  EXPECT_LT(lastUs.back(), 1'000'000) << "the 30th router within a second of the search";
}

}  // namespace
}  // namespace corvalink::lab
