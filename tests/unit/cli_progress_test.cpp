#include "progress_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_net.h"
#include "platform/byte_order.h"
#include "temp_tree.h"
#include "upgrade/flash_wait.h"
#include "upgrade/tftp_packets.h"

namespace corvalink::cli {
namespace {

TEST(FormatBytes, UnitsStepAt1024) {
  const std::pair<uint64_t, const char*> rows[] = {
      {0, "0 B"},          {1023, "1023 B"},          {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},   {1048575, "1024.0 KiB"},   {1048576, "1.0 MiB"},
      {33554432, "32.0 MiB"}, {5ull << 30, "5.0 GiB"},
  };
  for (const auto& [bytes, text] : rows) EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

TEST(FormatDuration, MinutesAndSecondsThenHours) {
  const std::pair<uint64_t, const char*> rows[] = {
      {0, "0:00"}, {59, "0:59"}, {60, "1:00"}, {3599, "59:59"}, {3600, "1:00:00"}, {3723, "1:02:03"},
  };
  for (const auto& [seconds, text] : rows) EXPECT_EQ(FormatDuration(seconds), text) << seconds;
}

TEST(FormatTransferLine, RateAndTimeLeftFromTheMeasuredPart) {
  // 512 bytes were acknowledged before the clock started; 1 KiB more in 2 s: 512 B/s, and
  // 1 KiB left takes 2 s more.
  EXPECT_EQ(FormatTransferLine({1536, 2560, 3, 2000, 512}),
            " 60%  1.5 KiB of 2.5 KiB  512 B/s  0:02 left  3 retransmissions");
  EXPECT_EQ(FormatTransferLine({512, 2560, 1, 0, 512}),
            " 20%  512 B of 2.5 KiB  --/s  --:-- left  1 retransmission");
  // An empty image is whole once its only (empty) block is acknowledged.
  EXPECT_EQ(FormatTransferLine({0, 0, 0, 5, 0}).substr(0, 4), "100%");
}

std::vector<uint8_t> Ack(uint16_t block) {
  return {0, 4, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
}

// Runs a real transfer against a scripted router on fake time, the display writing to a file.
struct DisplayRig {
  explicit DisplayRig(ProgressStyle style, std::function<int()> columns = [] { return 80; })
      : net(clock), out(std::tmpfile()), display(out, style, clock, std::move(columns)) {
    net.onSend = [this](const SentDatagram& d) {
      const uint16_t op = GetU16Be(d.bytes, 0);
      if (op == TFTP_OP_WRQ) net.Deliver(Ack(0), {ROUTER, 1069}, 5);
      if (op == TFTP_OP_DATA) net.Deliver(Ack(GetU16Be(d.bytes, 2)), {ROUTER, 1069}, 5);
    };
  }
  ~DisplayRig() { std::fclose(out); }

  TftpResult Send(std::size_t size) {
    const auto path = dir.Path() / "image.all";
    test::WriteBytes(path, std::string(size, 'f'));
    TftpControl control{display, abortFlag, [this] { display.Pump(); },
                        [this](const TftpStats& s) {
                          display.OnBlockAcked(s);
                          // The fill begins after the last block: note where the bar stands.
                          stepsLeftAfterLastAck = display.GetRangeHigh() - display.GetPos();
                        },
                        {},
                        [this](const FlashWait& flash) { display.OnFlashWaitStarted(flash); }};
    TftpEnv env{clock, net.SocketFactory(), TFTP_PORT, [this](uint32_t ms) { clock.Advance(ms); }};
    TftpResult r = SendFirmware(path.string(), "127.0.0.2", control, env);
    display.Finish();
    return r;
  }

  std::string Output() {
    std::fflush(out);
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  static constexpr Ipv4 ROUTER{127, 0, 0, 2};
  FakeClock clock{1000};
  FakeNet net;
  test::TempDir dir;
  std::FILE* out;
  ProgressDisplay display;
  bool abortFlag = false;
  int stepsLeftAfterLastAck = -1;
};

TEST(ProgressDisplay, PlainLinesThenTheFlashCountdownOnlyAfterTheLastBlock) {
  DisplayRig rig(ProgressStyle::Lines);
  ASSERT_TRUE(rig.Send(2560).ok());  // five full blocks and an empty sixth
  std::istringstream text(rig.Output());
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 3u);
  std::size_t firstFlash = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].find('\r'), std::string::npos);
    if (lines[i].find("do not power it off") != std::string::npos && firstFlash == lines.size()) {
      firstFlash = i;
    }
  }
  ASSERT_LT(firstFlash, lines.size()) << rig.Output();
  ASSERT_GT(firstFlash, 0u);
  EXPECT_EQ(lines[firstFlash - 1].substr(0, 4), "100%") << lines[firstFlash - 1];
  for (std::size_t i = 0; i + 1 < firstFlash; ++i) {
    EXPECT_NE(lines[i].substr(0, 4), "100%") << i;
  }
}

TEST(ProgressDisplay, FlashEstimateMatchesTheFillTheTransferMakes) {
  for (std::size_t size : {0u, 1000u, 1024u, 2560u, 64u * 1024u + 7u}) {
    DisplayRig rig(ProgressStyle::RedrawErase);
    ASSERT_TRUE(rig.Send(size).ok()) << size;
    EXPECT_EQ(FinalFillMs(size), static_cast<uint32_t>(rig.stepsLeftAfterLastAck) *
                                         (PROGRESS_FILL_STEP_MS + 1))
        << size;
    // On a terminal the data line is redrawn in place and ends before the countdown starts.
    const std::string out = rig.Output();
    const std::size_t flash = out.find("do not power it off");
    ASSERT_NE(flash, std::string::npos) << size;
    EXPECT_NE(out.rfind("100%", flash), std::string::npos) << size;
    EXPECT_EQ(out.substr(out.rfind('\n', flash) + 1, 1), "\r") << size;
    EXPECT_EQ(out.back(), '\n');
  }
}

TEST(FitLine, DropsWholeFieldsFromTheEndThenCutsTheFirst) {
  const std::string line = " 42%  1.2 MiB of 2.9 MiB  450.0 KiB/s  0:04 left";
  const std::pair<std::size_t, std::string> rows[] = {
      {100, line},
      {line.size(), line},
      {line.size() - 1, " 42%  1.2 MiB of 2.9 MiB  450.0 KiB/s"},
      {25, " 42%  1.2 MiB of 2.9 MiB"},
      {10, " 42%"},
      {3, " 42"},
  };
  for (const auto& [width, fitted] : rows) EXPECT_EQ(FitLine(line, width), fitted) << width;
}

// Every redraw fits the terminal as it is at that moment; a width that becomes unknown turns
// the display into plain lines, with the open line ended first.
TEST(ProgressDisplay, RedrawnLineNeverReachesTheTerminalsLastColumn) {
  int columns = 30;
  DisplayRig rig(ProgressStyle::RedrawErase, [&columns] { return columns; });
  rig.net.onSend = [&rig, &columns](const SentDatagram& d) {
    const uint16_t op = GetU16Be(d.bytes, 0);
    if (op == TFTP_OP_WRQ) rig.net.Deliver(Ack(0), {DisplayRig::ROUTER, 1069}, 5);
    if (op != TFTP_OP_DATA) return;
    const uint16_t block = GetU16Be(d.bytes, 2);
    if (block == 40) columns = 12;
    if (block == 80) columns = 0;
    rig.net.Deliver(Ack(block), {DisplayRig::ROUTER, 1069}, 5);
  };
  ASSERT_TRUE(rig.Send(100 * 512).ok());
  const std::string out = rig.Output();
  const std::size_t plainFrom = out.find('\n');
  ASSERT_NE(plainFrom, std::string::npos);
  // Up to the first line end: redraws, each "\r" + text + "\x1b[K", the text under 30 columns
  // and, once the terminal shrank, under 12.
  std::size_t widest = 0, narrowAt = 0;
  for (std::size_t at = out.find('\r'); at < plainFrom; at = out.find('\r', at + 1)) {
    const std::size_t end = out.find("\x1b[K", at);
    ASSERT_LT(end, plainFrom);
    const std::size_t width = end - at - 1;
    widest = std::max(widest, width);
    if (width < 12 && narrowAt == 0) narrowAt = at;
    if (narrowAt != 0) EXPECT_LT(width, 12u) << out.substr(at, end - at);
  }
  EXPECT_EQ(widest, 29u);
  EXPECT_NE(narrowAt, 0u);
  // After it only plain lines, the countdown among them.
  EXPECT_EQ(out.find('\r', plainFrom), std::string::npos);
  EXPECT_NE(out.find("do not power it off", plainFrom), std::string::npos);
}

TEST(ProgressDisplay, ConsoleWithoutSequencesGetsPaddedRedrawsOnly) {
  DisplayRig rig(ProgressStyle::Redraw);
  ASSERT_TRUE(rig.Send(64 * 1024 + 7).ok());
  const std::string out = rig.Output();
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  // Within one line every redraw covers all of the one before it.
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::size_t previous = 0;
    std::istringstream draws(line);
    for (std::string draw; std::getline(draws, draw, '\r');) {
      if (draw.empty()) continue;
      EXPECT_GE(draw.size(), previous) << line;
      previous = draw.size();
    }
  }
  EXPECT_NE(out.find("do not power it off"), std::string::npos);
}

}  // namespace
}  // namespace corvalink::cli
