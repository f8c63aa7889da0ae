// The simulator's print server: the RFC 1179 receive-job protocol on bytes (every case fed at
// once and byte by byte, so no chunk boundary can matter), then one job over a real loopback
// connection through the simulator's poll loop.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "lpd_receiver.h"
#include "platform/tcp_socket.h"
#include "simulator.h"

namespace corvalink::sim {
namespace {

using namespace std::string_literals;

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct ParseCase {
  const char* name;
  std::string input;
  std::string replies;    // every octet the server answers, in order
  bool complete;
  std::vector<std::string> files;  // "c:" or "d:" and the bytes, in the order received
  const char* failure;    // a part of the failure text; "" when complete
};

const std::vector<ParseCase>& ParseCases() {
  static const std::vector<ParseCase> cases = {
      {"ControlThenData", "\x02lp\n\x02" "10 cfA001host\nHhost\nPme\n\0\x03" "5 dfA001host\nA\0B\n\xFF\0"s,
       "\0\0\0\0\0"s, true, {"c:Hhost\nPme\n", "d:A\0B\n\xFF"s}, ""},
      {"DataBeforeControl", "\x02q\n\x03" "1 dfA\nX\0\x02" "2 cfA\nH\n\0"s, "\0\0\0\0\0"s, true,
       {"d:X", "c:H\n"}, ""},
      {"DataWithoutCountRunsToTheEnd", "\x02lp\n\x02" "2 cfA\nH\n\0\x03" "0 dfA\nto\0the end"s,
       "\0\0\0\0"s, true, {"c:H\n", "d:to\0the end"s}, ""},
      {"AbortForgetsTheFilesSoFar", "\x02lp\n\x03" "1 dfA\nX\0\x01\n\x03" "1 dfB\nY\0"s,
       "\0\0\0\0\0"s, true, {"d:Y"}, ""},
      {"AbortAlone", "\x02lp\n\x03" "1 dfA\nX\0\x01\n"s, "\0\0\0"s, false, {}, "before any file"},
      {"FileCutShort", "\x02lp\n\x03" "10 dfA\nabcd"s, "\0\0"s, false, {}, "6 bytes short of dfA"},
      {"ZeroOctetMissing", "\x02lp\n\x03" "2 dfA\nab"s, "\0\0"s, false, {}, "before the zero octet"},
      {"WrongOctetAfterFile", "\x02lp\n\x03" "2 dfA\nabX\x02" "1 cfA\n"s, "\0\0\x03"s, false, {},
       "no zero octet after the 2 bytes of dfA"},
      {"CountNotANumber", "\x02lp\n\x03" "1x dfA\n"s, "\0\x03"s, false, {}, "not \"count SP name\""},
      {"CountWithoutName", "\x02lp\n\x03" "4\n"s, "\0\x03"s, false, {}, "not \"count SP name\""},
      {"NameWithoutCount", "\x02lp\n\x03 dfA\n"s, "\0\x03"s, false, {}, "not \"count SP name\""},
      {"CountOfTwentyOneDigits", "\x02lp\n\x03" "000000000000000000001 dfA\n"s, "\0\x03"s, false, {},
       "not \"count SP name\""},
      {"JobBeyondTheLimit", "\x02lp\n\x02" "600 cfA\n"s + std::string(600, 'x') + "\0\x03" "401 dfA\n"s,
       "\0\0\0\x02"s, false, {}, "beyond 1000 bytes"},
      {"EmptyControlFile", "\x02lp\n\x02" "0 cfA\n"s, "\0\x03"s, false, {}, "control file of 0 bytes"},
      {"UnknownSubcommand", "\x02lp\n\x04junk\n"s, "\0\x03"s, false, {}, "unknown subcommand \\x04"},
      {"NotAReceiveJob", "\x04lp\n"s, "\x03"s, false, {}, "is not \"receive a printer job\""},
      {"NoQueueName", "\x02\n"s, "\x03"s, false, {}, "without a queue name"},
      {"OverlongLine", "\x02lp\n\x03"s + std::string(1100, '1'), "\0\x03"s, false, {}, "longer than 1024"},
      {"EndWithinCommand", "\x02l"s, ""s, false, {}, "before a receive-job command"},
      {"EndWithinSubcommandLine", "\x02lp\n\x03" "5 df"s, "\0"s, false, {}, "within a command line"},
  };
  return cases;
}

TEST(LpdJobParser, AnswersAndFilesAsRfc1179SaysWhateverTheChunks) {
  for (const ParseCase& c : ParseCases()) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byteByByte ? " byte by byte" : " at once"));
      LpdJobParser parser(1000);
      std::vector<uint8_t> replies;
      const std::vector<uint8_t> input = Bytes(c.input);
      if (byteByByte) {
        for (uint8_t b : input) parser.Feed(std::span<const uint8_t>(&b, 1), replies);
      } else {
        parser.Feed(input, replies);
      }
      EXPECT_EQ(replies, Bytes(c.replies));
      EXPECT_EQ(parser.Finish(), c.complete) << parser.Failure();
      EXPECT_NE(parser.Failure().find(c.failure), std::string::npos) << parser.Failure();
      if (!c.complete) continue;
      EXPECT_EQ(parser.Queue(), c.input.substr(1, c.input.find('\n') - 1));
      std::vector<std::string> files;
      for (const LpdFile& f : parser.Files()) {
        files.push_back((f.control ? "c:" : "d:") + std::string(f.bytes.begin(), f.bytes.end()));
      }
      EXPECT_EQ(files, c.files);
    }
  }
}

TEST(LpdReceiver, TakesAJobOverLoopbackAndGivesUpOneCutShort) {
  SimOptions o;
  o.bindAddress = Ipv4{127, 0, 0, 1};
  o.searchPort = 0;
  o.lpdEnabled = true;
  o.lpdPort = 0;
  SimulatorThread sim;
  std::string err;
  ASSERT_TRUE(sim.Start(o, &err)) << err;
  const Endpoint server{o.bindAddress, sim.Sim().LpdPort()};
  ASSERT_NE(server.port, 0);

  // A large data file, so it spans many reads, and a job cut short on a second connection.
  std::string data(200000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const std::string steps[] = {"\x02lp\n", "\x02" "4 cfA7h\n", "Hh\n\n\0"s,
                               "\x03" + std::to_string(data.size()) + " dfA7h\n", data + "\0"s};
  auto client = TcpSocket::Connect(server, 2000, &err);
  ASSERT_TRUE(client) << err;
  // Each step is answered with one octet: the command, the file lines, and each file's end.
  for (const std::string& step : steps) {
    ASSERT_TRUE(client->SendAll(Bytes(step)));
    uint8_t ack = 0xFF;
    ASSERT_TRUE(client->WaitReadable(2000));
    ASSERT_EQ(client->Receive(std::span<uint8_t>(&ack, 1)), 1);
    EXPECT_EQ(ack, LPD_ACK);
  }
  client->Close();
  auto cut = TcpSocket::Connect(server, 2000, &err);
  ASSERT_TRUE(cut) << err;
  ASSERT_TRUE(cut->SendAll(Bytes("\x02lp\n\x03" "100 dfA8h\nshort"s)));
  cut->ShutdownSend();
  uint8_t acks[2] = {};
  std::size_t got = 0;
  while (got < 2 && cut->WaitReadable(2000)) {
    const int n = cut->Receive(std::span<uint8_t>(acks + got, 2 - got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(got, 2u);
  // The server ends the connection once the job is given up.
  uint8_t more = 0;
  ASSERT_TRUE(cut->WaitReadable(2000));
  EXPECT_EQ(cut->Receive(std::span<uint8_t>(&more, 1)), 0);

  std::vector<LpdJob> jobs;
  for (int i = 0; i < 100 && jobs.size() < 2; ++i) {
    jobs = sim.Sim().PrintJobs();
    if (jobs.size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_TRUE(jobs[0].complete) << jobs[0].failure;
  EXPECT_EQ(jobs[0].server, server);
  EXPECT_EQ(jobs[0].queue, "lp");
  EXPECT_EQ(jobs[0].dataBytes, data.size());
  ASSERT_EQ(jobs[0].files.size(), 2u);
  EXPECT_TRUE(jobs[0].files[1].bytes == Bytes(data));
  EXPECT_FALSE(jobs[1].complete);
  EXPECT_NE(jobs[1].failure.find("95 bytes short"), std::string::npos) << jobs[1].failure;
}

}  // namespace
}  // namespace corvalink::sim
