// The router simulator on loopback: the bytes it answers with, its option texts, and the faults
// its TFTP server injects, checked by a scripted client so that a simulator fault cannot hide
// behind a client fault.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "discovery/search_formats.h"
#include "platform/byte_order.h"
#include "platform/udp_socket.h"
#include "simulator.h"
#include "test_system.h"

namespace corvalink::sim {
namespace {

const Ipv4 LOOPBACK{127, 0, 0, 1};

struct Datagram {
  std::vector<uint8_t> bytes;
  Endpoint from;
};

/// A plain UDP socket on loopback that the test drives datagram by datagram.
struct ScriptedPeer {
  UdpSocket socket = *UdpSocket::Open(Endpoint{LOOPBACK, 0});

  void Send(std::vector<uint8_t> bytes, uint16_t port) {
    ASSERT_EQ(socket.SendTo(bytes, Endpoint{LOOPBACK, port}), static_cast<int>(bytes.size()));
  }
  std::optional<Datagram> Receive(int timeoutMs = 1000) {
    if (!socket.WaitReadable(timeoutMs)) return std::nullopt;
    Datagram d{std::vector<uint8_t>(2048), {}};
    int n = socket.ReceiveFrom(d.bytes, &d.from);
    if (n < 0) return std::nullopt;
    d.bytes.resize(static_cast<std::size_t>(n));
    return d;
  }
};

std::vector<uint8_t> Wrq(const std::string& name) {
  std::vector<uint8_t> b = {0x00, 0x02};
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(0);
  for (char c : std::string("octet")) b.push_back(static_cast<uint8_t>(c));
  b.push_back(0);
  return b;
}

std::vector<uint8_t> Data(uint16_t block, std::size_t n) {
  std::vector<uint8_t> b(4 + n, static_cast<uint8_t>(block));
  PutU16Be(b, 0, 3);
  PutU16Be(b, 2, block);
  return b;
}

bool IsAck(const std::optional<Datagram>& d, uint16_t block) {
  return d && d->bytes.size() == 4 && GetU16Be(d->bytes, 0) == 4 && GetU16Be(d->bytes, 2) == block;
}

SimOptions LoopbackOptions() {
  SimOptions o;
  o.bindAddress = LOOPBACK;
  o.searchPort = 0;
  o.maxSeconds = 30;
  return o;
}

TEST(RouterSim, SearchReplyHasEveryFieldAtItsOffset) {
  SimRouter r;
  r.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  r.ip = {198, 18, 0, 10};
  r.mask = {255, 255, 254, 0};
  r.location.fill('X');  // all 24 bytes used, no NUL
  r.password = "0123456789abcdef";
  const ReplyBytes expected = {
      0xDD, 0x80, 0x00, 0x36,                          // magic, type, length 54
      198,  18,   0,    10,                            // ipAddress
      255,  255,  254,  0,                             // ipMask
      0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E,              // macAddress
      'X',  'X',  'X',  'X',  'X',  'X',  'X',  'X',   // location, 24 bytes
      'X',  'X',  'X',  'X',  'X',  'X',  'X',  'X',   //
      'X',  'X',  'X',  'X',  'X',  'X',  'X',  'X',   //
      '0',  '1',  '2',  '3',  '4',  '5',  '6',  '7',   // first 12 password bytes
      '8',  '9',  'a',  'b'};
  EXPECT_EQ(BuildSimSearchReply(r), expected);
  EXPECT_TRUE(IsSearchReply(PadDatagram(expected)));
}

TEST(RouterSim, RouterSpecsParseOrNameTheirFault) {
  auto r = ParseRouterSpec("mac=00:1a:2b:3c:4d:5e,ip=10.0.0.1,locationhex=41004243,password=pw",
                           nullptr);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->mac, (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(r->mask, (Ipv4{255, 255, 255, 0})) << "default mask";
  EXPECT_EQ(r->location[2], 'B');
  EXPECT_EQ(r->location[4], 0);

  const struct {
    const char* spec;
    const char* mentions;
  } bad[] = {
      {"ip=10.0.0.1", "mac="},
      {"mac=001A2B3C4D5E", "ip="},
      {"mac=001A2B3C4D,ip=10.0.0.1", "12 hex"},
      {"mac=001A2B3C4D5E,ip=10.0.0.256", "ip"},
      {"mac=001A2B3C4D5E,ip=10.0.0.1,location=1234567890123456789012345", "24 bytes"},
      {"mac=001A2B3C4D5E,ip=10.0.0.1,colour=red", "colour"},
      {"mac=001A2B3C4D5E,ip", "'='"},
  };
  for (const auto& c : bad) {
    std::string err;
    EXPECT_FALSE(ParseRouterSpec(c.spec, &err).has_value()) << c.spec;
    EXPECT_NE(err.find(c.mentions), std::string::npos) << c.spec << " -> " << err;
  }
}

TEST(RouterSim, UpgradeBehaviourDecidesWhichRequestIsAnswered) {
  std::array<uint8_t, 54> request{0xDD, 0x82, 0x00, 0x36};
  for (int i = 0; i < 24; ++i) request[18 + i] = static_cast<uint8_t>(0xA0 + i);
  std::string hex = ToHex(std::span<const uint8_t>(request).subspan(18, 24));
  std::string wrongHex = "00" + hex.substr(2);

  const struct {
    std::string mode;
    std::vector<bool> answers;  // for requests 1, 2, 3
  } cases[] = {
      {"at-once", {true, true, true}},
      {"after=3", {false, false, true}},
      {"never", {false, false, false}},
      {"password=" + hex, {true, true, true}},
      {"password=" + wrongHex, {false, false, false}},
  };
  for (const auto& c : cases) {
    auto b = ParseUpgradeBehaviour(c.mode, nullptr);
    ASSERT_TRUE(b.has_value()) << c.mode;
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(RouterResponder::ShouldAnswerUpgrade(*b, n, request), c.answers[n - 1])
          << c.mode << " request " << n;
    }
  }
  for (const char* badMode : {"after=0", "after=x", "password=A0A1", "sometimes"}) {
    EXPECT_FALSE(ParseUpgradeBehaviour(badMode, nullptr).has_value()) << badMode;
  }
}

TEST(RouterSim, NoFloodKindPassesTheReplyTest) {
  SimRouter r = GenerateRouters(1)[0];
  for (JunkKind kind : FLOOD_KINDS) {
    EXPECT_FALSE(IsSearchReply(PadDatagram(MakeJunk(kind, r)))) << static_cast<int>(kind);
  }
  EXPECT_TRUE(IsSearchReply(PadDatagram(MakeJunk(JunkKind::Long, r))));
  EXPECT_EQ(MakeJunk(JunkKind::Long, r).size(), 66u);
}

TEST(RouterSim, SearchIsAnsweredToTheRequesterAsConfigured) {
  SimOptions o = LoopbackOptions();
  o.responder.routers = GenerateRouters(3);
  o.responder.duplicate = 2;
  o.responder.straySender = true;
  o.responder.extras = {JunkKind::Short};
  SimulatorThread sim;
  std::string err;
  ASSERT_TRUE(sim.Start(o, &err)) << err;

  ScriptedPeer client;
  Packet request = BuildSearchRequest();
  client.Send({request.begin(), request.end()}, sim.Sim().SearchPort());
  auto extra = client.Receive();
  ASSERT_TRUE(extra.has_value());
  EXPECT_EQ(extra->bytes, (std::vector<uint8_t>{0xDD, 0x80}));
  EXPECT_EQ(extra->from.port, sim.Sim().SearchPort());
  for (int i = 0; i < 6; ++i) {
    auto d = client.Receive();
    ASSERT_TRUE(d.has_value()) << "reply " << i;
    ReplyBytes expected = BuildSimSearchReply(o.responder.routers[static_cast<std::size_t>(i % 3)]);
    EXPECT_EQ(d->bytes, std::vector<uint8_t>(expected.begin(), expected.end())) << i;
    EXPECT_NE(d->from.port, sim.Sim().SearchPort()) << "replies come from the stray sender";
  }
  EXPECT_FALSE(client.Receive(100).has_value());
  auto records = sim.Sim().Log().Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].from, (Endpoint{LOOPBACK, client.socket.LocalPort()}));
}

struct TftpCase {
  std::vector<std::string> faults;
  // What the scripted client sees: WRQ answered (and from which port), then DATA 1 (100 bytes).
  bool wrqAnswered;
  bool ackFromListeningPort;
  int ack0Copies;
  std::optional<uint16_t> errorAfterData;
};

TEST(RouterSim, TftpServerInjectsEachFault) {
  const TftpCase cases[] = {
      {{}, true, false, 1, std::nullopt},
      {{"same-port"}, true, true, 1, std::nullopt},
      {{"dup-ack=1"}, true, false, 2, std::nullopt},
      {{"drop-out=1"}, false, false, 0, std::nullopt},
      {{"drop-in=1"}, false, false, 0, std::nullopt},
      {{"silent"}, false, false, 0, std::nullopt},
      {{"error=2:3"}, true, false, 1, uint16_t{3}},
  };
  for (const TftpCase& c : cases) {
    std::string label = c.faults.empty() ? "no fault" : c.faults[0];
    SCOPED_TRACE(label);
    SimOptions o = LoopbackOptions();
    o.tftpEnabled = true;
    o.tftpPort = 0;
    for (const auto& f : c.faults) ASSERT_TRUE(ParseTftpFault(f, o.tftpFaults, nullptr));
    SimulatorThread sim;
    std::string err;
    ASSERT_TRUE(sim.Start(o, &err)) << err;
    const uint16_t listen = sim.Sim().TftpPort();

    ScriptedPeer client;
    client.Send(Wrq("fw.all"), listen);
    auto first = client.Receive(300);
    if (!c.wrqAnswered) {
      EXPECT_FALSE(first.has_value());
      continue;
    }
    ASSERT_TRUE(IsAck(first, 0));
    EXPECT_EQ(first->from.port == listen, c.ackFromListeningPort);
    if (c.ack0Copies == 2) {
      EXPECT_TRUE(IsAck(client.Receive(300), 0));
    }
    client.Send(Data(1, 100), first->from.port);
    auto second = client.Receive(300);
    ASSERT_TRUE(second.has_value());
    if (c.errorAfterData) {
      EXPECT_EQ(GetU16Be(second->bytes, 0), 5);
      EXPECT_EQ(GetU16Be(second->bytes, 2), *c.errorAfterData);
      continue;
    }
    EXPECT_TRUE(IsAck(second, 1));
    EXPECT_FALSE(client.Receive(100).has_value()) << "nothing more than asked for";
    sim.Stop();
    auto transfers = sim.Sim().Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_TRUE(transfers[0].complete);
    EXPECT_EQ(transfers[0].data, std::vector<uint8_t>(100, 1));
  }
}

TEST(RouterSim, TftpServerRefusesStrangersAndStoresOnlyInsideItsDirectory) {
  auto dir = std::filesystem::temp_directory_path() / ("router_sim_test_" + std::to_string(test::ProcessId()));
  std::filesystem::remove_all(dir);
  SimOptions o = LoopbackOptions();
  o.tftpEnabled = true;
  o.tftpPort = 0;
  o.tftpDir = dir.string();
  SimulatorThread sim;
  std::string err;
  ASSERT_TRUE(sim.Start(o, &err)) << err;

  ScriptedPeer client;
  client.Send(Wrq("../../etc/evil.all"), sim.Sim().TftpPort());
  auto ack0 = client.Receive();
  ASSERT_TRUE(IsAck(ack0, 0));
  // Another host's datagram to the transfer's port: ERROR 5, and the transfer goes on.
  ScriptedPeer stranger;
  stranger.Send(Data(1, 3), ack0->from.port);
  auto refusal = stranger.Receive();
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(GetU16Be(refusal->bytes, 0), 5);
  EXPECT_EQ(GetU16Be(refusal->bytes, 2), 5);

  client.Send(Data(1, 512), ack0->from.port);
  EXPECT_TRUE(IsAck(client.Receive(), 1));
  client.Send(Data(1, 512), ack0->from.port);  // our ACK "lost": the same block again
  EXPECT_TRUE(IsAck(client.Receive(), 1));
  client.Send(Data(2, 0), ack0->from.port);
  EXPECT_TRUE(IsAck(client.Receive(), 2));
  sim.Stop();

  auto transfers = sim.Sim().Transfers();
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_EQ(transfers[0].duplicateData, 1u);
  EXPECT_EQ(transfers[0].bytes, 512u) << "a repeated block is not taken twice";
  {
    // Closed before the folder goes: Windows removes no open file.
    std::ifstream in(dir / "evil.all", std::ios::binary);
    std::vector<uint8_t> stored{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(stored, std::vector<uint8_t>(512, 1));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "evil.all.part"));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  EXPECT_FALSE(ec) << ec.message();
}

// Bound to every address, as in the lab, the server answers each write request from the
// address it was sent to (each simulated router has its own), never from another one.
// Whether a datagram sent from a socket bound to 127.0.0.3 leaves from that address. Linux and
// Windows send it so; Wine binds a datagram socket to the whole interface instead and sends
// from the interface's first address.
bool LoopbackAliasIsTheSource() {
  ScriptedPeer receiver;
  std::optional<UdpSocket> alias = UdpSocket::Open(Endpoint{{127, 0, 0, 3}, 0});
  if (!alias) return false;
  alias->SendTo(std::vector<uint8_t>{1}, Endpoint{LOOPBACK, receiver.socket.LocalPort()});
  std::optional<Datagram> got = receiver.Receive();
  return got && got->from.address == Ipv4{127, 0, 0, 3};
}

TEST(RouterSim, TftpTransferAnswersFromTheAddressTheClientWroteTo) {
  if (!LoopbackAliasIsTheSource()) {
    GTEST_SKIP() << "this system sends from 127.0.0.1 whatever 127.0.0.x a socket is bound to";
  }
  SimOptions o = LoopbackOptions();
  o.bindAddress = {0, 0, 0, 0};
  o.tftpEnabled = true;
  o.tftpPort = 0;
  SimulatorThread sim;
  std::string err;
  ASSERT_TRUE(sim.Start(o, &err)) << err;
  for (const Ipv4 router : {Ipv4{127, 0, 0, 1}, Ipv4{127, 0, 0, 3}, Ipv4{127, 0, 0, 10}}) {
    SCOPED_TRACE(Ipv4ToText(router));
    ScriptedPeer client;
    const std::vector<uint8_t> wrq = Wrq("fw.all");
    ASSERT_EQ(client.socket.SendTo(wrq, Endpoint{router, sim.Sim().TftpPort()}),
              static_cast<int>(wrq.size()));
    auto ack0 = client.Receive();
    ASSERT_TRUE(IsAck(ack0, 0));
    EXPECT_EQ(ack0->from.address, router);
    EXPECT_NE(ack0->from.port, sim.Sim().TftpPort());
  }
}

TEST(RouterSim, ConfigFileLinesAreFlagsAndErrorsNameTheLine) {
  auto path = std::filesystem::temp_directory_path() / ("router_sim_cfg_" + std::to_string(test::ProcessId()));
  {
    std::ofstream out(path);
    out << "# two routers\n\nrouter mac=001A2B3C4D5E,ip=198.18.0.10\r\n  routers 1\nstray-sender\n"
           "upgrade after=2\n";
  }
  SimOptions o;
  std::string err;
  ASSERT_TRUE(LoadSimConfig(path.string(), o, &err)) << err;
  EXPECT_EQ(o.responder.routers.size(), 2u);
  EXPECT_TRUE(o.responder.straySender);
  EXPECT_EQ(o.responder.upgrade.afterN, 2);
  {
    std::ofstream out(path);
    out << "routers 2\nduplicate\n";
  }
  EXPECT_FALSE(LoadSimConfig(path.string(), o, &err));
  EXPECT_NE(err.find(":2:"), std::string::npos) << err;
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace corvalink::sim
