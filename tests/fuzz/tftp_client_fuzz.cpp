// The TFTP client against a scripted server on the fake network and clock. The input picks the
// file's size, the clock's start (wraps included) and, for each datagram the client sends, what
// comes back: nothing, the ACK late or twice, an old or meaningless ACK, an ERROR, garbage, a
// reply from another port or host, a failed read, or a stop. The server acknowledges only blocks
// it received. Checked on every run: the transfer ends within a fake time its attempt counts
// bound; DATA goes only to the port that acknowledged the write request, block by block after
// the previous one was acknowledged, with the file's bytes; success means every block was
// acknowledged and the server holds the whole file; any other end sends ERROR.

#include <fuzzer/FuzzedDataProvider.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fake_net.h"
#include "fuzz_check.h"
#include "platform/byte_order.h"
#include "upgrade/flash_wait.h"
#include "upgrade/tftp_packets.h"

using namespace corvalink;

namespace {

const Ipv4 ROUTER{127, 0, 0, 2};
constexpr uint16_t SERVER_PORT = 1069;  // where the server answers the write request from

std::vector<uint8_t> Ack(uint16_t block) {
  return {0, 4, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
}

struct Queued {
  std::vector<uint8_t> bytes;
  Endpoint from;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t fileSize = in.ConsumeIntegralInRange<size_t>(0, 6 * TFTP_BLOCK_SIZE + 10);
  const uint32_t start = in.ConsumeIntegral<uint32_t>();
  std::string file(fileSize, '\0');
  for (size_t i = 0; i < fileSize; ++i) file[i] = static_cast<char>(i * 13 + i / 512);
  const std::filesystem::path path = fuzz::ScratchDir() / "image.bin";
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(file.data(), static_cast<std::streamsize>(fileSize));
  const uint16_t blocks = static_cast<uint16_t>(fileSize / TFTP_BLOCK_SIZE + 1);

  FakeClock clock(start);
  FakeNet net(clock);
  ProgressModel bar;
  bool abortFlag = false;
  bool stop = false;
  size_t stopAt = SIZE_MAX;  // datagrams sent when the stop was asked for
  std::vector<Queued> queued;
  std::map<uint16_t, std::string> received;  // the server's copy of each block
  int strays = 0;

  auto deliver = [&](std::vector<uint8_t> bytes, const Endpoint& from, uint32_t delay) {
    queued.push_back({bytes, from});
    net.Deliver(std::move(bytes), from, delay);
  };
  net.onSend = [&](const SentDatagram& d) {
    const uint16_t op = GetU16Be(d.bytes, 0);
    if (op != TFTP_OP_WRQ && op != TFTP_OP_DATA) return;  // ERRORs are never answered
    uint16_t block = 0;
    Endpoint peer{ROUTER, SERVER_PORT};
    if (op == TFTP_OP_DATA) {
      block = GetU16Be(d.bytes, 2);
      peer = d.to;
      if (d.to.address == ROUTER) received[block].assign(d.bytes.begin() + 4, d.bytes.end());
    }
    const uint8_t action = in.remaining_bytes() > 0 ? in.ConsumeIntegralInRange<uint8_t>(0, 10) : 1;
    const uint8_t d8 = in.ConsumeIntegral<uint8_t>();
    const uint32_t delay = d8 < 128 ? d8 / 16 : (d8 - 128u) * 24;
    switch (action) {
      case 0: break;  // lost
      case 1: deliver(Ack(block), peer, delay); break;
      case 2: deliver(Ack(block), peer, delay); deliver(Ack(block), peer, delay + d8 % 30); break;
      case 3: deliver(Ack(static_cast<uint16_t>(block - 1)), peer, delay); break;
      case 4: {  // a block long acknowledged, or one that never was
        const uint16_t n = in.ConsumeIntegral<uint16_t>();
        deliver(Ack(n <= block ? n : static_cast<uint16_t>(blocks + 1 + n % 1000)), peer, delay);
        break;
      }
      case 5: deliver(BuildError(static_cast<uint16_t>(d8 % 9), "no"), peer, delay); break;
      case 6: deliver(Ack(block), {ROUTER, static_cast<uint16_t>(2000 + d8)}, delay); ++strays; break;
      case 7: deliver(Ack(block), {{127, 0, 0, 9}, peer.port}, delay); ++strays; break;
      case 8: deliver(in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 8)), peer, delay); break;
      case 9: stop = true; stopAt = net.sent.size(); break;
      case 10: deliver(Ack(block), peer, delay); net.DeliverReadError(delay / 2); break;
    }
  };

  TftpControl control{bar, abortFlag, {}, {}, [&] { return stop; }};
  TftpEnv env{clock, net.SocketFactory(), TFTP_PORT, [&](uint32_t ms) { clock.Advance(ms); }};
  const TftpResult r = SendFirmware(path.string(), "127.0.0.2", control, env);

  // Bounded: every wait is bounded by the attempts, whatever came back.
  const uint32_t took = ElapsedMs(start, clock.NowMs());
  const uint32_t bound = TFTP_WRQ_ATTEMPTS * (TFTP_REPLY_TIMEOUT_MS + TFTP_WRQ_PAUSE_MS + 10) +
                         blocks * TFTP_DATA_ATTEMPTS * (TFTP_REPLY_TIMEOUT_MS + 10) +
                         (blocks + 2u) * (PROGRESS_FILL_STEP_MS + 2) + 1000;
  FUZZ_CHECK(took <= bound);
  FUZZ_CHECK(net.sent.size() <= TFTP_WRQ_ATTEMPTS + TFTP_DATA_ATTEMPTS * blocks + 1u + strays);
  FUZZ_CHECK(r.stats.datagramsSent == net.sent.size());

  // DATA only to the port that acknowledged the write request, in lock-step, with the file's bytes.
  std::optional<Endpoint> dataPeer;
  uint16_t highest = 0;
  for (size_t i = 0; i < net.sent.size(); ++i) {
    const SentDatagram& d = net.sent[i];
    const uint16_t op = GetU16Be(d.bytes, 0);
    FUZZ_CHECK(i < stopAt || (op != TFTP_OP_DATA && op != TFTP_OP_WRQ));
    if (op != TFTP_OP_DATA) continue;
    if (!dataPeer) dataPeer = d.to;
    FUZZ_CHECK(d.to == *dataPeer && d.to.address == ROUTER);
    const uint16_t block = GetU16Be(d.bytes, 2);
    FUZZ_CHECK(block >= 1 && block <= blocks && (block == highest || block == highest + 1));
    if (block == highest + 1) {
      // The previous block's ACK (block 0: the write request's) came from this very port.
      bool acked = false;
      for (const Queued& q : queued) acked |= q.from == d.to && ParseAck(q.bytes) == block - 1;
      FUZZ_CHECK(acked);
      highest = block;
    }
    const size_t at = (block - 1u) * TFTP_BLOCK_SIZE;
    FUZZ_CHECK(std::string(d.bytes.begin() + 4, d.bytes.end()) ==
               file.substr(at, std::min<size_t>(TFTP_BLOCK_SIZE, fileSize - at)));
  }

  if (std::getenv("FUZZ_DEBUG")) {
    std::fprintf(stderr, "outcome %d stop %d: %s\n", static_cast<int>(r.outcome), stop, r.message.c_str());
    for (const SentDatagram& d : net.sent)
      std::fprintf(stderr, "  %u op %u block %u to port %u\n", d.atMs - start, GetU16Be(d.bytes, 0), GetU16Be(d.bytes, 2), d.to.port);
  }
  const bool allAcked = r.outcome == TftpOutcome::Ok || r.outcome == TftpOutcome::FlashWaitStopped;
  if (allAcked) {
    FUZZ_CHECK(highest == blocks && r.stats.blocksAcked == blocks && r.stats.bytesAcked == fileSize);
    std::string whole;
    for (uint16_t b = 1; b <= blocks; ++b) whole += received[b];
    FUZZ_CHECK(whole == file);
    bool lastAcked = false;
    for (const Queued& q : queued) lastAcked |= q.from == *dataPeer && ParseAck(q.bytes) == blocks;
    FUZZ_CHECK(lastAcked);
  } else {
    FUZZ_CHECK(r.outcome == (stop ? TftpOutcome::Aborted : TftpOutcome::Timeout));
    FUZZ_CHECK(!net.sent.empty() && GetU16Be(net.sent.back().bytes, 0) == TFTP_OP_ERROR &&
               GetU16Be(net.sent.back().bytes, 2) == TFTP_ERROR_ABORTED);
    FUZZ_CHECK(r.stats.blocksAcked < blocks && !r.message.empty());
  }
  FUZZ_CHECK(r.outcome != TftpOutcome::Ok || !stop);
  FUZZ_CHECK(r.outcome != TftpOutcome::FlashWaitStopped || stop);
  return 0;
}
