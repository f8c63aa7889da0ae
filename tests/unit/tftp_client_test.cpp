#include "upgrade/tftp_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fake_net.h"
#include "platform/byte_order.h"
#include "temp_tree.h"
#include "upgrade/tftp_packets.h"

namespace corvalink {
namespace {

const Ipv4 ROUTER{127, 0, 0, 2};
const Endpoint ROUTER_WRQ{ROUTER, TFTP_PORT};
const Endpoint PEER{ROUTER, 1069};  // the port the router's server answers from
const std::vector<uint8_t> ABORT_ERROR = {0, 5, 0, 8, 'T', 'r', 'a', 'n', 's', 'f', 'e',
                                          'r', ' ', 'A', 'b', 'o', 'r', 't', 'e', 'd', 0};

std::vector<uint8_t> Ack(uint16_t block) { return {0, 4, static_cast<uint8_t>(block >> 8),
                                                   static_cast<uint8_t>(block)}; }
uint16_t Opcode(const SentDatagram& d) { return GetU16Be(d.bytes, 0); }
uint16_t Block(const SentDatagram& d) { return GetU16Be(d.bytes, 2); }

/// A bar that remembers every change and when it happened.
class RecordingBar : public ProgressModel {
 public:
  explicit RecordingBar(Clock& clock) : m_clock(clock) {}
  struct Change {
    int pos, high;
    uint32_t atMs;
  };
  std::vector<Change> changes;

 protected:
  void OnChanged() override { changes.push_back({GetPos(), GetRangeHigh(), m_clock.NowMs()}); }

 private:
  Clock& m_clock;
};

/// One transfer's world: fake clock and network, a bar, the abort flag, a temp folder.
struct Rig {
  explicit Rig(uint32_t startMs = 5000) : clock(startMs), net(clock), bar(clock) {}

  std::string MakeFile(const std::string& name, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 512);
    test::WriteBytes(dir.Path() / name, bytes);
    return (dir.Path() / name).string();
  }

  /// A router that acknowledges the WRQ and every DATA at once, from PEER, and keeps the data.
  void AnswerEverything() {
    net.onSend = [this](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ) net.Deliver(Ack(0), PEER);
      if (Opcode(d) == TFTP_OP_DATA) {
        received.insert(received.end(), d.bytes.begin() + 4, d.bytes.end());
        net.Deliver(Ack(Block(d)), PEER);
      }
    };
  }

  TftpResult Send(const std::string& path, std::string_view address = "127.0.0.2") {
    return TftpSendFile(path, address, control, env);
  }

  std::vector<SentDatagram> SentWith(uint16_t opcode) const {
    std::vector<SentDatagram> out;
    for (const auto& d : net.sent) {
      if (Opcode(d) == opcode) out.push_back(d);
    }
    return out;
  }

  FakeClock clock;
  FakeNet net;
  RecordingBar bar;
  int32_t abortFlag = 0;
  TftpControl control{bar, abortFlag, {}, {}};
  TftpEnv env{clock, net.SocketFactory(), TFTP_PORT, [this](uint32_t ms) { clock.Advance(ms); }};
  test::TempDir dir;
  std::vector<uint8_t> received;
};

TEST(RemoteFileName, TakesThePartAfterTheLastSeparatorOfEitherKind) {
  const std::pair<const char*, const char*> rows[] = {
      {"C:\\fw\\image.all", "image.all"}, {"/home/u/fw/image.all", "image.all"},
      {"image.all", "image.all"},         {"C:\\fw/mixed\\x.rst", "x.rst"},
      {"dir/sub\\name", "name"},          {"trailing/", ""},
  };
  for (const auto& [path, name] : rows) EXPECT_EQ(RemoteFileName(path), name) << path;
}

TEST(TftpSendFile, WriteRequestCarriesTheNameAfterTheLastSeparator) {
  Rig rig;
  rig.AnswerEverything();
  const std::string longName(150, 'n');  // a path far beyond 99 characters still works
  const std::pair<std::string, std::string> rows[] = {
      {"C:\\fw\\image.all", "image.all"}, {"plain.rst", "plain.rst"}, {longName, longName}};
  struct InFolder {  // the row without separators is a path relative to the temp folder
    std::filesystem::path old = std::filesystem::current_path();
    explicit InFolder(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
    ~InFolder() { std::filesystem::current_path(old); }
  } inFolder(rig.dir.Path());
  std::vector<std::vector<uint8_t>> wrqs;
  for (const auto& [fileName, remote] : rows) {
    rig.net.sent.clear();
    rig.MakeFile(fileName, 10);
    std::string path = fileName == "plain.rst" ? fileName : rig.dir.Path().string() + "/" + fileName;
    EXPECT_TRUE(rig.Send(path).ok()) << path;
    ASSERT_FALSE(rig.net.sent.empty());
    std::vector<uint8_t> wrq = {0, 2};  // opcode WRQ
    wrq.insert(wrq.end(), remote.begin(), remote.end());
    wrq.insert(wrq.end(), {0, 'o', 'c', 't', 'e', 't', 0});
    EXPECT_EQ(rig.net.sent[0].bytes, wrq) << path;
    EXPECT_EQ(rig.net.sent[0].to, ROUTER_WRQ);
    wrqs.push_back(rig.net.sent[0].bytes);
  }
  // Byte by byte: opcode 2, "image.all", NUL, "octet", NUL: 18 bytes.
  EXPECT_EQ(wrqs[0],
            (std::vector<uint8_t>{0, 2, 'i', 'm', 'a', 'g', 'e', '.', 'a', 'l', 'l', 0, 'o', 'c',
                                  't', 'e', 't', 0}));
}

struct SizeCase {
  std::size_t size;
  int rangeHigh;
  std::vector<std::size_t> dataSizes;  // datagram lengths of DATA 1, 2, ...
  int stepsInDataPhase;
  int fillSteps;
};

TEST(TftpSendFile, BlocksRangeStepsAndFinalFillFollowTheFileSize) {
  const std::vector<SizeCase> cases = {
      {1000, 2, {516, 492}, 0, 2},
      {1024, 3, {516, 516, 4}, 0, 3},
      {0, 1, {4}, 0, 1},
      {2560, 6, {516, 516, 516, 516, 516, 4}, 1, 5},
      {5220, 11, {516, 516, 516, 516, 516, 516, 516, 516, 516, 516, 104}, 2, 9},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.size);
    Rig rig;
    rig.AnswerEverything();
    rig.bar.SetRange(0, 5);  // as the handshake leaves it
    rig.bar.SetPos(3);
    std::vector<int> posAtAck;
    rig.control.onBlockAcked = [&](const TftpStats&) { posAtAck.push_back(rig.bar.GetPos()); };
    std::string path = rig.MakeFile("fw.all", c.size);
    rig.bar.changes.clear();

    TftpResult r = rig.Send(path);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.stats.fileSize, c.size);
    EXPECT_EQ(r.stats.bytesAcked, c.size);
    EXPECT_EQ(r.stats.retransmissions, 0u);
    std::string bytes = *test::ReadBytes(path);
    EXPECT_EQ(rig.received, std::vector<uint8_t>(bytes.begin(), bytes.end()));

    auto data = rig.SentWith(TFTP_OP_DATA);
    ASSERT_EQ(data.size(), c.dataSizes.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
      EXPECT_EQ(data[i].bytes.size(), c.dataSizes[i]) << "block " << i + 1;
      EXPECT_EQ(Block(data[i]), i + 1);
      EXPECT_EQ(data[i].to, PEER);
    }
    // Bar: position 0 and step 1 at once; the old range until the file is measured.
    ASSERT_GE(rig.bar.changes.size(), 2u);
    EXPECT_EQ(rig.bar.changes[0].pos, 0);
    EXPECT_EQ(rig.bar.changes[0].high, 5);
    EXPECT_EQ(rig.bar.GetStep(), 1);
    EXPECT_EQ(rig.bar.GetRangeHigh(), c.rangeHigh);
    EXPECT_EQ(posAtAck.back(), c.stepsInDataPhase);
    EXPECT_EQ(rig.bar.GetPos(), c.rangeHigh);
    // The fill: one step per more than 10 ms after the last ACK, up to the top.
    const uint32_t lastAckMs = data.back().atMs;
    std::vector<uint32_t> fillTimes;
    for (const auto& ch : rig.bar.changes) {
      if (static_cast<int32_t>(ch.atMs - lastAckMs) > 0) fillTimes.push_back(ch.atMs);
    }
    ASSERT_EQ(static_cast<int>(fillTimes.size()), c.fillSteps);
    uint32_t prev = lastAckMs;
    for (uint32_t t : fillTimes) {
      EXPECT_GT(t - prev, PROGRESS_FILL_STEP_MS);
      EXPECT_LE(t - prev, PROGRESS_FILL_STEP_MS + 2);
      prev = t;
    }
  }
}

TEST(TftpSendFile, FirstDataGoesToTheAckSenderAfterThePause) {
  Rig rig;
  rig.AnswerEverything();
  ASSERT_TRUE(rig.Send(rig.MakeFile("fw.all", 100)).ok());
  ASSERT_EQ(rig.net.sent.size(), 2u);
  EXPECT_EQ(rig.net.sent[0].to, ROUTER_WRQ);
  EXPECT_EQ(rig.net.sent[1].to, PEER);
  EXPECT_GT(rig.net.sent[1].atMs - rig.net.sent[0].atMs, TFTP_WRQ_PAUSE_MS);
  EXPECT_LE(rig.net.sent[1].atMs - rig.net.sent[0].atMs, TFTP_WRQ_PAUSE_MS + 2);
}

// The server repeats its ACK of block 0 when DATA 1 is slow to come (tftpd-hpa after 1 s, about
// when the pause after the WRQ ends): whether the copy arrives before or after DATA 1 left, it
// must not pass for a duplicate ACK, or every block of the file would go twice.
TEST(TftpSendFile, RepeatedAckOfTheWriteRequestDoesNotDoubleTheBlocks) {
  for (bool afterData1 : {false, true}) {
    SCOPED_TRACE(afterData1);
    Rig rig;
    rig.net.onSend = [&](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ) {
        rig.net.Deliver(Ack(0), PEER);
        if (!afterData1) rig.net.Deliver(Ack(0), PEER, TFTP_WRQ_PAUSE_MS - 5);
      }
      if (Opcode(d) != TFTP_OP_DATA) return;
      if (afterData1 && Block(d) == 1) rig.net.Deliver(Ack(0), PEER);
      rig.net.Deliver(Ack(Block(d)), PEER);
    };
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 5 * 512 + 10));
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 6u);
    EXPECT_EQ(r.stats.retransmissions, 0u);
  }
}

// DATA 1 lost: the repeated ACK of block 0 is not taken as the reply, and the block goes again
// when its wait runs out.
TEST(TftpSendFile, LostFirstBlockIsSentAgainAfterItsWait) {
  Rig rig;
  int data1Sends = 0;
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
    if (Opcode(d) != TFTP_OP_DATA) return;
    if (Block(d) == 1 && ++data1Sends == 1) {
      rig.net.Deliver(Ack(0), PEER, 1000);  // the server's own retransmission; DATA 1 was lost
      return;
    }
    rig.net.Deliver(Ack(Block(d)), PEER);
  };
  TftpResult r = rig.Send(rig.MakeFile("fw.all", 100));
  ASSERT_TRUE(r.ok()) << r.message;
  auto data = rig.SentWith(TFTP_OP_DATA);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_GE(data[1].atMs - data[0].atMs, static_cast<uint32_t>(TFTP_REPLY_TIMEOUT_MS));
  EXPECT_EQ(r.stats.retransmissions, 1u);
}

// Each row: how many duplicate ACKs of block 1 answer the sends of block 2.
TEST(TftpSendFile, DuplicateAckUsesUpOneAttemptAndResendsAtOnce) {
  for (int duplicates : {1, 3, 4}) {
    SCOPED_TRACE(duplicates);
    Rig rig;
    int block2Sends = 0;
    rig.net.onSend = [&](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
      if (Opcode(d) != TFTP_OP_DATA) return;
      if (Block(d) == 2 && ++block2Sends <= duplicates) {
        rig.net.Deliver(Ack(1), PEER);
      } else {
        rig.net.Deliver(Ack(Block(d)), PEER);
      }
    };
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 700));
    auto data = rig.SentWith(TFTP_OP_DATA);
    std::vector<SentDatagram> sends2;
    for (const auto& d : data) {
      if (Block(d) == 2) sends2.push_back(d);
    }
    for (std::size_t i = 1; i < sends2.size(); ++i) EXPECT_EQ(sends2[i].atMs, sends2[0].atMs);
    if (duplicates < TFTP_DATA_ATTEMPTS) {
      EXPECT_TRUE(r.ok()) << r.message;
      EXPECT_EQ(sends2.size(), static_cast<std::size_t>(duplicates + 1));
      EXPECT_EQ(r.stats.retransmissions, static_cast<uint32_t>(duplicates));
    } else {
      EXPECT_EQ(r.outcome, TftpOutcome::Timeout);
      EXPECT_EQ(sends2.size(), 4u);
      EXPECT_NE(r.message.find("Block 2"), std::string::npos) << r.message;
      EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
      EXPECT_EQ(rig.net.sent.back().to, PEER);
    }
  }
}

// Also run across a wrap of the 32-bit millisecond clock: the waits must not shrink or hang.
TEST(TftpSendFile, SilentRouterGetsFourteenWriteRequestsThenError) {
  for (uint32_t start : {5000u, 0xFFFFFFFFu - 20000u}) {
    SCOPED_TRACE(start);
    Rig rig(start);
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 100));
    EXPECT_EQ(r.outcome, TftpOutcome::Timeout);
    EXPECT_NE(r.message.find("block 0"), std::string::npos) << r.message;
    ASSERT_EQ(rig.net.sent.size(), 15u);
    for (int i = 0; i < 14; ++i) {
      EXPECT_EQ(Opcode(rig.net.sent[i]), TFTP_OP_WRQ);
      EXPECT_EQ(rig.net.sent[i].to, ROUTER_WRQ);
    }
    // Each attempt: the 2 s wait, then more than 1000 ms of pause.
    for (int i = 1; i < 15; ++i) {
      uint32_t gap = rig.net.sent[i].atMs - rig.net.sent[i - 1].atMs;
      EXPECT_GT(gap, 2000u + TFTP_WRQ_PAUSE_MS);
      EXPECT_LE(gap, 2000u + TFTP_WRQ_PAUSE_MS + 2);
    }
    EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
    EXPECT_EQ(rig.net.sent.back().to, ROUTER_WRQ);
    EXPECT_EQ(rig.net.socketsClosed, rig.net.socketsOpened);
  }
}

TEST(TftpSendFile, AbortFlagStopsAtTheNextCheckWithError) {
  {  // set before the call: ERROR to the server port, no WRQ
    Rig rig;
    rig.AnswerEverything();
    rig.abortFlag = 1;
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 100));
    EXPECT_EQ(r.outcome, TftpOutcome::Aborted);
    ASSERT_EQ(rig.net.sent.size(), 1u);
    EXPECT_EQ(rig.net.sent[0].bytes, ABORT_ERROR);
    EXPECT_EQ(rig.net.sent[0].to, ROUTER_WRQ);
  }
  {  // set by a click while the transfer runs: ERROR to the peer before the next block
    Rig rig;
    rig.AnswerEverything();
    rig.control.onBlockAcked = [&](const TftpStats& s) {
      if (s.blocksAcked == 2) rig.abortFlag = 1;
    };
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 5000));
    EXPECT_EQ(r.outcome, TftpOutcome::Aborted);
    EXPECT_NE(r.message.find("block 3"), std::string::npos) << r.message;
    EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 2u);
    EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
    EXPECT_EQ(rig.net.sent.back().to, PEER);
  }
  {  // set by the window's pump during the pause after the WRQ
    Rig rig;
    rig.AnswerEverything();
    rig.control.pump = [&] { rig.abortFlag = 1; };
    EXPECT_EQ(rig.Send(rig.MakeFile("fw.all", 100)).outcome, TftpOutcome::Aborted);
    EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 0u);
    EXPECT_EQ(rig.net.sent.back().to, PEER);
  }
}

TEST(TftpSendFile, NothingIsSentWhenTheFileOrAddressIsUnusable) {
  Rig rig;
  rig.AnswerEverything();
  std::string good = rig.MakeFile("fw.all", 100);
  const std::tuple<std::string, std::string, TftpOutcome> rows[] = {
      {(rig.dir.Path() / "missing.all").string(), "127.0.0.2", TftpOutcome::FileError},
      {"", "127.0.0.2", TftpOutcome::FileError},
      {rig.dir.Path().string(), "127.0.0.2", TftpOutcome::FileError},
      {good, "127.0.0", TftpOutcome::NetworkError},
      {good, "router", TftpOutcome::NetworkError},
  };
  for (const auto& [path, address, outcome] : rows) {
    TftpResult r = rig.Send(path, address);
    EXPECT_EQ(r.outcome, outcome) << path << " " << address;
    EXPECT_FALSE(r.message.empty());
  }
  EXPECT_EQ(rig.net.socketsOpened, 0);
  EXPECT_EQ(rig.net.sentCount, 0u);
  rig.net.failOpen = true;
  EXPECT_EQ(rig.Send(good).outcome, TftpOutcome::NetworkError);
  EXPECT_EQ(rig.net.sentCount, 0u);
}

TEST(TftpSendFile, StrayDatagramsNeitherRedirectNorUseUpAttempts) {
  Rig rig;
  const Endpoint strangerHost{{127, 0, 0, 9}, 1069};
  const Endpoint strangerPort{ROUTER, 2000};
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) {
      // A foreign host "acknowledges" first; the router only after 1.5 s.
      rig.net.Deliver(Ack(0), strangerHost, 100);
      rig.net.Deliver(Ack(0), PEER, 1500);
    }
    if (Opcode(d) == TFTP_OP_DATA && d.to == PEER) {
      // Another port of the router's host tries to take over; a stray ERROR must get no answer.
      for (uint32_t t = 100; t < 1900; t += 300) rig.net.Deliver(Ack(Block(d)), strangerPort, t);
      rig.net.Deliver(BuildError(0, "noise"), strangerHost, 50);
      rig.net.Deliver(Ack(Block(d)), PEER, 1950);
    }
  };
  TftpResult r = rig.Send(rig.MakeFile("fw.all", 600));
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.stats.retransmissions, 0u);
  EXPECT_EQ(rig.SentWith(TFTP_OP_WRQ).size(), 1u);
  for (const auto& d : rig.SentWith(TFTP_OP_DATA)) EXPECT_EQ(d.to, PEER);
  const std::vector<uint8_t> unknownTid = {0, 5, 0, 5, 'U', 'n', 'k', 'n', 'o', 'w', 'n', ' ',
                                           't', 'r', 'a', 'n', 's', 'f', 'e', 'r', ' ', 'I',
                                           'D', 0};
  auto errors = rig.SentWith(TFTP_OP_ERROR);
  ASSERT_EQ(errors.size(), 1u + 2 * 6);  // WRQ phase: the host; each block: six from the port
  EXPECT_EQ(errors[0].to, strangerHost);
  for (const auto& e : errors) {
    EXPECT_EQ(e.bytes, unknownTid);
    EXPECT_NE(e.to, PEER);
  }

  // A peer that stays silent while strays keep coming: still 4 sends 2 s apart, then ERROR.
  Rig silent;
  silent.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) silent.net.Deliver(Ack(0), PEER);
    if (Opcode(d) == TFTP_OP_DATA) {
      for (uint32_t t = 10; t < 2000; t += 100) silent.net.Deliver(Ack(1), strangerPort, t);
    }
  };
  EXPECT_EQ(silent.Send(silent.MakeFile("fw.all", 10)).outcome, TftpOutcome::Timeout);
  auto data = silent.SentWith(TFTP_OP_DATA);
  ASSERT_EQ(data.size(), 4u);
  for (std::size_t i = 1; i < data.size(); ++i) EXPECT_EQ(data[i].atMs - data[i - 1].atMs, 2000u);
  EXPECT_EQ(silent.net.sent.back().bytes, ABORT_ERROR);
  EXPECT_EQ(silent.net.sent.back().to, PEER);
}

TEST(TftpSendFile, RouterErrorUsesUpAttemptsAndItsTextIsReported) {
  Rig rig;
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
    if (Opcode(d) == TFTP_OP_DATA) rig.net.Deliver(BuildError(3, "Disk\x1b[2J full"), PEER);
  };
  TftpResult r = rig.Send(rig.MakeFile("fw.all", 10));
  EXPECT_EQ(r.outcome, TftpOutcome::Timeout);
  EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 4u);
  EXPECT_NE(r.message.find("Block 1"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("error 3 \"Disk?[2J full\""), std::string::npos) << r.message;
}

TEST(TftpSendFile, PumpRunsWhileWaitingButAReadyReplyTakesOneWait) {
  Rig rig;
  rig.AnswerEverything();
  int pumps = 0;
  rig.control.pump = [&] { ++pumps; };
  ASSERT_TRUE(rig.Send(rig.MakeFile("fw.all", 3000)).ok());
  EXPECT_EQ(rig.net.waitCalls, static_cast<int>(rig.net.sent.size()));
  EXPECT_GE(pumps, 1000);  // the 1000 ms pause polls the clock about once a millisecond

  Rig silent;
  int silentPumps = 0;
  silent.control.pump = [&] { ++silentPumps; };
  silent.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) silent.abortFlag = 1;  // one WRQ attempt, then stop
  };
  silent.Send(silent.MakeFile("fw.all", 10));
  // One 2 s wait in slices of at most 50 ms, the pump between them.
  EXPECT_GE(silent.net.waitCalls, 2000 / 50);
  EXPECT_GE(silentPumps, 2000 / 50 + 1000);
}

// A file of 65,536 full blocks and a short one: block numbers run 1..65535, 0, 1 (RFC 1350
// gives the number 16 bits), and the router's 16-bit ACKs are matched.
TEST(TftpSendFile, BlockNumbersWrapAfter65535) {
  Rig rig;
  const uint64_t size = 65536ull * TFTP_BLOCK_SIZE + 100;
  const auto path = rig.dir.Path() / "sparse.all";
  { test::WriteBytes(path, ""); }
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  rig.net.keepSent = false;
  uint64_t dataSends = 0;
  uint16_t expected = 1;
  bool inOrder = true;
  std::size_t lastLength = 0;
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
    if (Opcode(d) != TFTP_OP_DATA) return;
    ++dataSends;
    inOrder = inOrder && Block(d) == expected;
    ++expected;
    lastLength = d.bytes.size();
    rig.net.Deliver(Ack(Block(d)), PEER);
  };
  TftpResult r = rig.Send(path.string());
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(dataSends, 65537u);
  EXPECT_EQ(expected, 2);  // the last block was number 1 again
  EXPECT_EQ(lastLength, 104u);
  EXPECT_EQ(r.stats.bytesAcked, size);
  EXPECT_EQ(rig.bar.GetRangeHigh(), 65537);
  EXPECT_EQ(rig.bar.GetPos(), 65537);
}

}  // namespace
}  // namespace corvalink
