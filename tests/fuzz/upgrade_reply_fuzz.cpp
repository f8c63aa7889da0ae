// The upgrade handshake's side of the network: a request built from any record, then datagrams
// read by CUpgradeSocket. The request must carry the record's fields at their offsets and zeros
// after them; only a datagram that itself starts DD 82 acknowledges, and after it the socket is
// closed and reads nothing more.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fake_net.h"
#include "fuzz_check.h"
#include "upgrade/upgrade_formats.h"
#include "upgrade/upgrade_socket.h"

using namespace corvalink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  RouterRecord r{};
  in.ConsumeData(r.ipAddress.data(), r.ipAddress.size());
  in.ConsumeData(r.ipMask.data(), r.ipMask.size());
  in.ConsumeData(r.macAddress.data(), r.macAddress.size());
  in.ConsumeData(r.location.data(), r.location.size());
  in.ConsumeData(r.password.data(), r.password.size());
  const Packet request = BuildUpgradeRequest(r);
  const uint8_t header[] = {0xDD, 0x82, 0x00, 0x36};
  FUZZ_CHECK(std::memcmp(request.data(), header, 4) == 0);
  FUZZ_CHECK(std::memcmp(request.data() + 4, r.ipAddress.data(), 4) == 0);
  FUZZ_CHECK(std::memcmp(request.data() + 8, r.ipMask.data(), 4) == 0);
  FUZZ_CHECK(std::memcmp(request.data() + 12, r.macAddress.data(), MAC_SIZE) == 0);
  FUZZ_CHECK(std::memcmp(request.data() + 18, r.password.data(), PASSWORD_SIZE) == 0);
  FUZZ_CHECK(std::all_of(request.begin() + 42, request.end(), [](uint8_t b) { return b == 0; }));

  FakeClock clock;
  FakeNet net(clock);
  bool acknowledged = false;
  CUpgradeSocket socket(acknowledged);
  socket.Adopt(net.OpenSocket());
  FUZZ_CHECK(socket.SendRequest(request, Endpoint{{127, 0, 0, 2}, 20560}) == 54);
  int firstReply = -1;  // index of the first datagram that acknowledges, in the model
  int count = 0;
  while (in.remaining_bytes() > 0 && count < 100) {
    std::vector<uint8_t> d = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 70));
    if (firstReply < 0 && d.size() >= 2 && d[0] == 0xDD && d[1] == 0x82) firstReply = count;
    net.Deliver(std::move(d), Endpoint{{127, 0, 0, 2}, 20560});
    ++count;
  }
  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(acknowledged == (firstReply >= 0 && i > firstReply));
    socket.OnReceive(0);
  }
  FUZZ_CHECK(acknowledged == (firstReply >= 0));
  FUZZ_CHECK(socket.IsOpen() == (firstReply < 0));
  // Once acknowledged the socket stops reading: what came after the reply is still queued.
  FUZZ_CHECK(net.Pending() == static_cast<std::size_t>(firstReply < 0 ? 0 : count - 1 - firstReply));
  return 0;
}
