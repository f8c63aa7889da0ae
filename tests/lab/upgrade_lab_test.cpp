// The upgrade road in the network lab: the handshake against router_sim, and the firmware
// write against a real Debian TFTP server (tftpd-hpa) and against the simulator's faulty one,
// all on the routers' real ports in the router namespace.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "discovery/packet_header.h"
#include "discovery/search_loop.h"
#include "lab_util.h"
#include "platform/byte_order.h"
#include "platform/ms_clock.h"
#include "upgrade/progress_bar.h"
#include "upgrade/flash_wait.h"
#include "upgrade/upgrade_formats.h"
#include "upgrade/upgrade_socket.h"

namespace corvalink::lab {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct SendOutcome {
  TftpResult result;
  /// From the ACK of block 1 to the ACK of the last block.
  long long dataPhaseUs = 0;
};

SendOutcome Send(const std::filesystem::path& file, const std::string& router) {
  ProgressModel progress;
  bool abortRequested = false;
  SteadyClock::time_point first{}, last{};
  TftpControl control{progress, abortRequested, {}, [&](const TftpStats&) {
                        last = SteadyClock::now();
                        if (first == SteadyClock::time_point{}) first = last;
                      }};
  MsClock clock;
  TftpEnv env{clock, {}, TFTP_PORT, {}};
  SendOutcome out{SendFirmware(file.string(), router, control, env), 0};
  out.dataPhaseUs = std::chrono::duration_cast<std::chrono::microseconds>(last - first).count();
  if (out.result.ok()) {
    EXPECT_EQ(progress.GetPos(), progress.GetRangeHigh()) << "the bar ends full";
  }
  return out;
}

TEST(LabUpgrade, HandshakeIsAnsweredAtTheThirdIdenticalRequest) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(30);
  LabSimulator sim;
  ASSERT_TRUE(sim.Start(env, {"--router", "mac=021122334455,ip=198.18.0.12,password=pw",
                              "--upgrade", "after=3"}));
  RouterRecord router;
  router.ipAddress = {198, 18, 0, 12};
  router.ipMask = {255, 255, 255, 0};
  router.macAddress = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  router.password = {0xA5, 0x01};
  const Packet request = BuildUpgradeRequest(router);

  bool acknowledged = false;
  CUpgradeSocket socket(acknowledged);
  ASSERT_TRUE(socket.Create());
  int sent = 0;
  MsClock clock;
  for (int i = 0; i < 20 && !acknowledged; ++i) {
    ASSERT_EQ(socket.SendRequest(request, Endpoint{router.ipAddress, DISCOVERY_PORT}), 54);
    ++sent;
    // Up to 300 ms for the answer; the router answers the third request at once.
    PollReadable([&] { return socket.Descriptor(); }, [&] { socket.OnReceive(0); }, clock, 300,
                 [&] { return acknowledged; });
  }
  EXPECT_TRUE(acknowledged);
  EXPECT_EQ(sent, 3);
  EXPECT_FALSE(socket.IsOpen()) << "the reply closes the upgrade socket";

  auto recorded = sim.WaitRecorded(3, 2000);
  ASSERT_EQ(recorded.size(), 3u);
  for (const auto& d : recorded) {
    EXPECT_EQ(d.bytes, std::vector<uint8_t>(request.begin(), request.end()));
    EXPECT_EQ(d.from, recorded[0].from) << "every request from the one upgrade socket";
    EXPECT_EQ(d.from.address, env.clientIp);
  }
}

TEST(LabUpgrade, RealTftpdHpaOnPort69ReceivesTheFileByteForByte) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  if (::access(TFTPD_HPA, X_OK) != 0)
    GTEST_SKIP() << "tftpd-hpa is not installed (" << TFTPD_HPA << ")";
  TempDir serverDir;
  TempDir clientDir;

  NamespaceProcess server;
  std::string err;
  ASSERT_TRUE(StartTftpdHpa(env, serverDir.Path(), server, &err)) << err;

  // An empty image, one that ends on a block boundary (empty last DATA), and one that does not.
  const struct {
    const char* name;
    std::size_t size;
  } cases[] = {{"empty.all", 0}, {"boundary.all", 100 * 512}, {"image.all", 1048579}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = RandomBytes(c.size, static_cast<uint32_t>(c.size + 7));
    WriteFile(clientDir.Path() / c.name, bytes);
    auto start = SteadyClock::now();
    SendOutcome out = Send(clientDir.Path() / c.name, "198.18.0.2");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start)
                  .count();
    const TftpResult& r = out.result;
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(ReadFile(serverDir.Path() / c.name), bytes);
    // tftpd-hpa resends an ACK after its own 1 s timeout, which can fall inside the client's
    // 1000 ms pause after the write request; every duplicate ACK then costs one resend. More
    // than one resend per block would be a fault.
    EXPECT_LE(r.stats.retransmissions, r.stats.blocksAcked + 1);
    std::printf("[ lab figure ] %s (%zu bytes) to tftpd-hpa: %u blocks acknowledged in %lld us "
                "after block 1, %u resends, %lld ms in all (with the pause after the write "
                "request and the final fill of the bar)\n",
                c.name, c.size, r.stats.blocksAcked, out.dataPhaseUs, r.stats.retransmissions,
                static_cast<long long>(ms));
  }
}

TEST(LabUpgrade, SimulatorFaultsAndAStrayHostDoNotCorruptTheImage) {
  LAB_OR_SKIP(env);
  TestTimeout timeout(60);
  LabSimulator sim;
  TempDir storeDir;
  // On the real port 69 of the router namespace: the third ACK comes twice (a resend of the
  // next block), the fourth is lost, and a second host (198.18.0.10) sends a copy of the sixth
  // datagram and junk to the client just before it.
  ASSERT_TRUE(sim.Start(env, {"--search-port", "0", "--tftp-port", "69", "--tftp-dir",
                              storeDir.Path().string(), "--tftp-fault", "dup-ack=3",
                              "--tftp-fault", "drop-out=4", "--tftp-fault", "stray=6",
                              "--tftp-stray-address", "198.18.0.10"}));
  ASSERT_EQ(sim.TftpPort(), TFTP_PORT);
  TempDir clientDir;
  auto bytes = RandomBytes(20 * 512 + 100, 42);
  WriteFile(clientDir.Path() / "fw.rst", bytes);
  TftpResult r = Send(clientDir.Path() / "fw.rst", "198.18.0.2").result;
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(ReadFile(storeDir.Path() / "fw.rst"), bytes);
  auto done = sim.Process().WaitLine("TFTP done", 3000);
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(FieldOf(*done, "bytes"), static_cast<long long>(bytes.size()));
  EXPECT_EQ(FieldOf(*done, "blocks"), 21);
  EXPECT_GE(r.stats.retransmissions, 1u) << "the duplicate ACK cost one resend";

  // The client told the stray host that its datagrams belong to no transfer (RFC 1350 sec. 4).
  bool sawUnknownTid = false;
  for (const auto& d : sim.WaitRecorded(1, 1000)) {
    if (d.socket == "stray" && d.bytes.size() >= 4 && GetU16Be(d.bytes, 0) == 5 &&
        GetU16Be(d.bytes, 2) == 5) {
      sawUnknownTid = true;
    }
  }
  EXPECT_TRUE(sawUnknownTid);
}

}  // namespace
}  // namespace corvalink::lab
