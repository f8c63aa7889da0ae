#include "upgrade/tftp_client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_net.h"
#include "platform/byte_order.h"
#include "temp_tree.h"
#include "upgrade/flash_wait.h"
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
    return SendFirmware(path, address, control, env);
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
  bool abortFlag = false;
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
  // A Windows path: on Windows a real folder, on Linux a file whose name holds backslashes.
  const bool slashOnly = std::filesystem::path::preferred_separator == '/';
  if (!slashOnly) std::filesystem::create_directory(rig.dir.Path() / "fw");
  const std::pair<std::string, std::string> rows[] = {
      {slashOnly ? "C:\\fw\\image.all" : "fw\\image.all", "image.all"},
      {"plain.rst", "plain.rst"},
      {longName, longName}};
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

// How a router and the network answer one send of a DATA block (block 0: the WRQ): replies
// queued with delays (ms after the send). `send` counts the sends of that block from 1.
using Script = std::function<void(Rig&, uint16_t block, int send)>;

struct DupRow {
  const char* name;
  Script script;
  std::size_t size;           // file size; 3 full blocks and a short one unless told
  uint32_t retransmissions;   // resends the rule must cost
  uint32_t resendGapMs;       // time from a block's first send to its second (0: no resend)
  TftpOutcome outcome = TftpOutcome::Ok;
};

// An ACK of the previous block soon after a block left is a copy and costs nothing; one that
// comes later is the router's own retransmission and the block goes again at once. Copies that
// were taken for news would double every later block (RFC 1123 sec. 4.2.3.1).
TEST(TftpSendFile, CopiesOfThePreviousAckAreIgnoredButTheRoutersRepeatResendsAtOnce) {
  const uint32_t late = DUPLICATE_ACK_HOLDOFF_MS;
  const std::vector<DupRow> rows = {
      {"the network doubles every ACK, the WRQ's included",
       [](Rig& r, uint16_t b, int) {
         r.net.Deliver(Ack(b), PEER);
         r.net.Deliver(Ack(b), PEER);
       },
       50 * 512 + 7, 0, 0},
      {"the router's repeat of ACK 0 lands during the pause after the WRQ",
       [](Rig& r, uint16_t b, int) {
         if (b == 1) r.net.Deliver(Ack(0), PEER);
         r.net.Deliver(Ack(b), PEER, 1);
       },
       3 * 512 + 7, 0, 0},
      {"four copies of ACK 2 just before the ACK of block 3",
       [](Rig& r, uint16_t b, int) {
         for (int i = 0; b == 3 && i < 4; ++i) r.net.Deliver(Ack(2), PEER, late - 1);
         r.net.Deliver(Ack(b), PEER, late);
       },
       3 * 512 + 7, 0, 0},
      {"block 2 lost; the router repeats ACK 1 after its 1 s timer",
       [](Rig& r, uint16_t b, int send) {
         r.net.Deliver(b == 2 && send == 1 ? Ack(1) : Ack(b), PEER, b == 2 && send == 1 ? 1000 : 0);
       },
       3 * 512 + 7, 1, 1000},
      {"a repeat of ACK 1 at the hold-off is the router's own",
       [late](Rig& r, uint16_t b, int send) {
         r.net.Deliver(b == 2 && send == 1 ? Ack(1) : Ack(b), PEER, b == 2 && send == 1 ? late : 0);
       },
       3 * 512 + 7, 1, late},
      {"block 2 lost and the router silent: resent when the 2 s wait runs out",
       [](Rig& r, uint16_t b, int send) {
         if (b != 2 || send > 1) r.net.Deliver(Ack(b), PEER);
       },
       3 * 512 + 7, 1, 2000},
      {"the router repeats ACK 1 after each of the four sends: attempts run out",
       [](Rig& r, uint16_t b, int) { r.net.Deliver(Ack(b == 2 ? 1 : b), PEER, 500); },
       3 * 512 + 7, 3, 500, TftpOutcome::Timeout},
  };
  for (const DupRow& row : rows) {
    SCOPED_TRACE(row.name);
    Rig rig;
    std::map<uint16_t, int> sends;
    rig.net.onSend = [&](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ) row.script(rig, 0, 1);  // the WRQ is answered as block 0
      if (Opcode(d) == TFTP_OP_DATA) row.script(rig, Block(d), ++sends[Block(d)]);
    };
    TftpResult r = rig.Send(rig.MakeFile("fw.all", row.size));
    EXPECT_EQ(r.outcome, row.outcome) << r.message;
    EXPECT_EQ(r.stats.retransmissions, row.retransmissions);
    EXPECT_EQ(r.stats.datagramsSent, rig.net.sentCount);
    std::vector<uint32_t> firstTwo;  // send times of the block that went again
    for (const auto& d : rig.SentWith(TFTP_OP_DATA)) {
      if (sends[Block(d)] > 1 && firstTwo.size() < 2) firstTwo.push_back(d.atMs);
    }
    if (row.resendGapMs == 0) {
      EXPECT_TRUE(firstTwo.empty());
    } else {
      ASSERT_EQ(firstTwo.size(), 2u);
      EXPECT_EQ(firstTwo[1] - firstTwo[0], row.resendGapMs);
    }
    if (row.outcome == TftpOutcome::Timeout) {
      EXPECT_EQ(sends[2], TFTP_DATA_ATTEMPTS);
      EXPECT_NE(r.message.find("Block 2"), std::string::npos) << r.message;
      EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
      EXPECT_EQ(rig.net.sent.back().to, PEER);
    }
  }
}

// The process stopped (SIGSTOP, a busy machine) past the whole wait while the ACK came: the
// ACK waiting in the socket is taken; the block is not sent again.
TEST(TftpSendFile, AckThatArrivedWhileTheClientStoodStillIsTaken) {
  Rig rig;
  rig.AnswerEverything();
  bool stalled = false;
  rig.control.pump = [&] {
    if (!stalled && rig.SentWith(TFTP_OP_DATA).size() == 2) {
      stalled = true;
      rig.clock.Advance(16000);
    }
  };
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
    if (Opcode(d) == TFTP_OP_DATA) rig.net.Deliver(Ack(Block(d)), PEER, Block(d) == 2 ? 60 : 0);
  };
  TftpResult r = rig.Send(rig.MakeFile("fw.all", 3 * 512 + 7));
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(stalled);
  EXPECT_EQ(r.stats.retransmissions, 0u);
  EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 4u);
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

// A block that is never acknowledged ends the transfer after four sends of it. Only for the last
// block does the message say that the router may nonetheless have the whole image.
TEST(TftpSendFile, UnacknowledgedBlockFailsAndTheLastOneSaysTheImageMayHaveArrived) {
  for (uint16_t silentAt : {1, 2}) {
    SCOPED_TRACE(silentAt);
    Rig rig;
    rig.net.onSend = [&](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
      if (Opcode(d) == TFTP_OP_DATA && Block(d) != silentAt) rig.net.Deliver(Ack(Block(d)), PEER);
    };
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 1000));
    EXPECT_EQ(r.outcome, TftpOutcome::Timeout);
    EXPECT_NE(r.message.find("Block " + std::to_string(silentAt)), std::string::npos) << r.message;
    EXPECT_EQ(r.message.find("may have the whole image") != std::string::npos, silentAt == 2)
        << r.message;
    int sends = 0;
    for (const auto& d : rig.SentWith(TFTP_OP_DATA)) sends += Block(d) == silentAt;
    EXPECT_EQ(sends, TFTP_DATA_ATTEMPTS);
    EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
  }
}

// A server on a host with several addresses that answers from its primary one is refused as a
// stranger, and the failure says so instead of only "no acknowledgement".
TEST(TftpSendFile, WriteRequestAnsweredFromAnotherAddressIsRefusedAndNamed) {
  Rig rig;
  const Endpoint primary{{127, 0, 0, 9}, 1069};
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), primary);
  };
  TftpResult r = rig.Send(rig.MakeFile("fw.all", 100));
  EXPECT_EQ(r.outcome, TftpOutcome::Timeout);
  EXPECT_NE(r.message.find("answered from 127.0.0.9, which is not the router's address 127.0.0.2"),
            std::string::npos)
      << r.message;
  EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 0u);
}

TEST(TftpSendFile, AbortFlagStopsAtTheNextCheckWithError) {
  {  // set before the call: ERROR to the server port, no WRQ
    Rig rig;
    rig.AnswerEverything();
    rig.abortFlag = true;
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
      if (s.blocksAcked == 2) rig.abortFlag = true;
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
    rig.control.pump = [&] { rig.abortFlag = true; };
    EXPECT_EQ(rig.Send(rig.MakeFile("fw.all", 100)).outcome, TftpOutcome::Aborted);
    EXPECT_EQ(rig.SentWith(TFTP_OP_DATA).size(), 0u);
    EXPECT_EQ(rig.net.sent.back().to, PEER);
  }
  for (uint16_t op : {TFTP_OP_WRQ, TFTP_OP_DATA}) {
    // set during the last attempt, which the router answers with ERROR: a stop, not a timeout
    Rig rig;
    int sends = 0;
    rig.net.onSend = [&](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ && op == TFTP_OP_DATA) rig.net.Deliver(Ack(0), PEER);
      if (Opcode(d) != op) return;
      if (++sends == (op == TFTP_OP_WRQ ? TFTP_WRQ_ATTEMPTS : TFTP_DATA_ATTEMPTS)) rig.abortFlag = true;
      rig.net.Deliver(BuildError(0, "busy"), PEER, 100);
    };
    EXPECT_EQ(rig.Send(rig.MakeFile("fw.all", 100)).outcome, TftpOutcome::Aborted) << op;
    EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
  }
}

// A stop (the window closed, Ctrl-C) is seen within a pump interval in every phase, even in a
// wait for a router that says nothing; after the last ACK it only cuts the final fill short,
// and no ERROR follows an image the router has whole.
TEST(TftpSendFile, StopIsHonouredWithinAPumpIntervalInEveryPhase) {
  enum class When { WriteRequestWait, Pause, DataWait, Fill };
  const struct {
    When when;
    TftpOutcome outcome;
  } rows[] = {{When::WriteRequestWait, TftpOutcome::Aborted},
              {When::Pause, TftpOutcome::Aborted},
              {When::DataWait, TftpOutcome::Aborted},
              {When::Fill, TftpOutcome::FlashWaitStopped}};
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.when));
    Rig rig;
    bool stop = false;
    uint32_t stopAt = 0;
    rig.control.stopRequested = [&] { return stop; };
    rig.control.pump = [&] {
      if (stop || rig.net.sent.empty()) return;
      const SentDatagram& last = rig.net.sent.back();
      const uint32_t since = rig.clock.NowMs() - last.atMs;
      const bool now = (row.when == When::WriteRequestWait && since >= 300) ||
                       (row.when == When::Pause && since >= 600) ||
                       (row.when == When::DataWait && Opcode(last) == TFTP_OP_DATA &&
                        since >= 300) ||
                       (row.when == When::Fill && rig.bar.GetPos() >= 3 &&
                        rig.SentWith(TFTP_OP_DATA).size() == 5);
      if (now) {
        stop = true;
        stopAt = rig.clock.NowMs();
      }
    };
    rig.net.onSend = [&](const SentDatagram& d) {
      if (Opcode(d) == TFTP_OP_WRQ && row.when != When::WriteRequestWait) {
        rig.net.Deliver(Ack(0), PEER, 500);
      }
      if (Opcode(d) == TFTP_OP_DATA && !(row.when == When::DataWait && Block(d) == 3)) {
        rig.net.Deliver(Ack(Block(d)), PEER);
      }
    };
    TftpResult r = rig.Send(rig.MakeFile("fw.all", 4 * 512 + 9));
    EXPECT_EQ(r.outcome, row.outcome) << r.message;
    EXPECT_TRUE(stop);
    EXPECT_LE(rig.clock.NowMs() - stopAt, PUMP_INTERVAL_MS);
    EXPECT_FALSE(rig.abortFlag);
    if (row.outcome == TftpOutcome::Aborted) {
      EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
    } else {
      EXPECT_EQ(rig.SentWith(TFTP_OP_ERROR).size(), 0u);
      EXPECT_EQ(r.stats.blocksAcked, 5u);
      EXPECT_NE(r.message.find("may still be writing its flash"), std::string::npos);
    }
  }
}

TEST(TftpSendFile, NothingIsSentWhenTheFileOrAddressIsUnusable) {
  Rig rig;
  rig.AnswerEverything();
  std::string good = rig.MakeFile("fw.all", 100);
  // /dev/zero would send for ever, a pipe would block the open or end anywhere.
  std::vector<std::tuple<std::string, std::string, TftpOutcome, const char*>> rows = {
      {(rig.dir.Path() / "missing.all").string(), "127.0.0.2", TftpOutcome::FileError,
       "No such file"},
      {"", "127.0.0.2", TftpOutcome::FileError, "no file"},
      {rig.dir.Path().string(), "127.0.0.2", TftpOutcome::FileError, "a folder"},
      {good, "127.0.0", TftpOutcome::NetworkError, "not an IPv4"},
      {good, "router", TftpOutcome::NetworkError, "not an IPv4"},
  };
  // Where the system has them (Linux).
  if (const std::string device = test::EndlessDevice(); !device.empty()) {
    rows.emplace_back(device, "127.0.0.2", TftpOutcome::FileError, "a character device");
  }
  const std::string fifo = (rig.dir.Path() / "pipe.all").string();
  if (test::MakeFifo(fifo, nullptr)) {
    rows.emplace_back(fifo, "127.0.0.2", TftpOutcome::FileError, "a pipe");
  }
  for (const auto& [path, address, outcome, reason] : rows) {
    TftpResult r = rig.Send(path, address);
    EXPECT_EQ(r.outcome, outcome) << path << " " << address;
    EXPECT_NE(r.message.find(reason), std::string::npos) << r.message;
  }
  EXPECT_EQ(rig.net.socketsOpened, 0);
  EXPECT_EQ(rig.net.sentCount, 0u);
  rig.net.failOpen = true;
  EXPECT_EQ(rig.Send(good).outcome, TftpOutcome::NetworkError);
  EXPECT_EQ(rig.net.sentCount, 0u);
}

// The image is read through a 64 KiB buffer, so the change shows at the next refill. A short
// block would tell the router the image is whole: it must never go out for a file that shrank.
TEST(TftpSendFile, FileThatShrinksOrGrowsMidTransferFailsWithError) {
  const struct {
    const char* name;
    uint64_t size;
    uint64_t changeTo;
  } rows[] = {
      {"shrinks within a block", 200 * 512 + 300, 70037},
      {"shrinks to a block boundary", 200 * 512 + 300, 150 * 512},
      {"grows past a size that ends on a block boundary", 200 * 512, 200 * 512 + 1},
      {"grows within its last block", 200 * 512 + 300, 200 * 512 + 301},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Rig rig;
    rig.AnswerEverything();
    const std::string path = rig.MakeFile("fw.all", row.size);
    rig.control.onBlockAcked = [&](const TftpStats& s) {
      if (s.blocksAcked == 3) std::filesystem::resize_file(path, row.changeTo);
    };
    TftpResult r = rig.Send(path);
    EXPECT_EQ(r.outcome, TftpOutcome::FileError);
    EXPECT_NE(r.message.find("changed while it was sent"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find(row.changeTo < row.size ? "ends after" : "holds more"),
              std::string::npos)
        << r.message;
    EXPECT_EQ(rig.net.sent.back().bytes, ABORT_ERROR);
    EXPECT_EQ(rig.net.sent.back().to, PEER);
    for (const auto& d : rig.SentWith(TFTP_OP_DATA)) ASSERT_EQ(d.bytes.size(), 516u);
    EXPECT_LE(rig.received.size(), row.size);
  }
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
  EXPECT_NE(r.message.find("error 3 \"Disk\\x1B[2J full\""), std::string::npos) << r.message;
}

// With a router that answers within a few ms, and through a lost block's 2 s wait, the pump
// still runs every PUMP_INTERVAL_MS; without a pump each block takes one wait and one read.
TEST(TftpSendFile, PumpRunsOnElapsedTimeAndTheFastPathReadsOncePerBlock) {
  Rig rig;
  std::vector<uint32_t> pumpTimes;
  rig.control.pump = [&] { pumpTimes.push_back(rig.clock.NowMs()); };
  rig.net.onSend = [&](const SentDatagram& d) {
    if (Opcode(d) == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), PEER);
    if (Opcode(d) != TFTP_OP_DATA) return;
    if (Block(d) == 30 && rig.SentWith(TFTP_OP_DATA).size() == 30) return;  // lost once
    rig.net.Deliver(Ack(Block(d)), PEER, 7);
  };
  const std::string path = rig.MakeFile("fw.all", 100 * 512 + 1);
  ASSERT_TRUE(rig.Send(path).ok());
  ASSERT_FALSE(pumpTimes.empty());
  const uint32_t lastAck = rig.SentWith(TFTP_OP_DATA).back().atMs + 7;
  uint32_t previous = rig.net.sent[0].atMs;
  uint32_t longest = 0;
  for (uint32_t t : pumpTimes) {
    if (t > lastAck) break;
    longest = std::max(longest, t - previous);
    previous = t;
  }
  EXPECT_LE(longest, PUMP_INTERVAL_MS + 7);
  EXPECT_GE(pumpTimes.size(), 1000u + (2000 + 100 * 7) / PUMP_INTERVAL_MS);

  Rig fast;
  fast.AnswerEverything();
  ASSERT_TRUE(fast.Send(fast.MakeFile("fw.all", 100 * 512 + 1)).ok());
  EXPECT_EQ(fast.net.waitCalls, static_cast<int>(fast.net.sent.size()));
  EXPECT_EQ(fast.net.receiveCalls, static_cast<int>(fast.net.sent.size()));
}

// A file of 65,536 full blocks and a short one: block numbers run 1..65535, 0, 1 (RFC 1350
// gives the number 16 bits), and the router's 16-bit ACKs are matched.
TEST(TftpSendFile, BlockNumbersWrapAfter65535) {
  Rig rig;
  const uint64_t size = 65536ull * TFTP_BLOCK_SIZE + 100;
  const auto path = rig.dir.Path() / "sparse.all";
  { test::WriteBytes(path, ""); }
  std::filesystem::resize_file(path, size);
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
