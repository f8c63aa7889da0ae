// Datagrams that reach the search socket, read through CSearchSocket into the router table as
// the windows and the CLI do. Checked against a model of the table: the first 54 bytes count,
// missing bytes read as zeros, DD 80 makes a reply, a MAC already listed changes nothing, and at
// most MAX_ROUTERS are kept, each with the reply's fields and its password held scrambled.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "discovery/router_table.h"
#include "discovery/search_socket.h"
#include "fake_net.h"
#include "fuzz_check.h"
#include "password/scrambler.h"

using namespace corvalink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  FakeClock clock;
  FakeNet net(clock);
  RouterTable table;
  std::vector<Packet> model;  // the padded replies the table should hold, oldest first

  CSearchSocket socket([&](const Packet& reply) { table.Add(reply); });
  socket.Adopt(net.OpenSocket());
  int datagrams = 0;
  while (in.remaining_bytes() > 0 && datagrams < 200) {
    std::vector<uint8_t> d = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 80));
    Packet padded{};
    std::copy_n(d.begin(), std::min(d.size(), padded.size()), padded.begin());
    const bool reply = d.size() >= 2 && d[0] == 0xDD && d[1] == 0x80;
    const bool known = std::any_of(model.begin(), model.end(), [&](const Packet& p) {
      return std::equal(p.begin() + 12, p.begin() + 18, padded.begin() + 12);
    });
    if (reply && !known && model.size() < MAX_ROUTERS) model.push_back(padded);
    net.Deliver(std::move(d), Endpoint{{127, 0, 0, 2}, 20560});
    ++datagrams;
  }
  // Bursts of a bounded size until the queue is empty: each read takes exactly one datagram.
  int read = 0;
  for (int n; (n = socket.ReceiveBurst(7)) > 0;) {
    FUZZ_CHECK(n <= 7);
    read += n;
  }
  FUZZ_CHECK(read == datagrams && net.Pending() == 0);

  FUZZ_CHECK(table.Count() == static_cast<int>(model.size()));
  for (std::size_t i = 0; i < model.size(); ++i) {
    const RouterRecord& r = table.Slot(static_cast<int>(i));
    const Packet& p = model[i];
    FUZZ_CHECK(std::equal(r.ipAddress.begin(), r.ipAddress.end(), p.begin() + 4));
    FUZZ_CHECK(std::equal(r.ipMask.begin(), r.ipMask.end(), p.begin() + 8));
    FUZZ_CHECK(std::memcmp(r.location.data(), p.data() + 18, LOCATION_SIZE) == 0);
    std::array<uint8_t, PASSWORD_SIZE> plain = r.password;
    Unscramble(plain);
    FUZZ_CHECK(std::equal(plain.begin(), plain.begin() + 12, p.begin() + 42));
    FUZZ_CHECK(std::all_of(plain.begin() + 12, plain.end(), [](uint8_t b) { return b == 0; }));
    const std::string location = LocationText(r);
    FUZZ_CHECK(location.size() <= LOCATION_SIZE && location.find('\0') == std::string::npos);
    FUZZ_CHECK(std::memcmp(location.data(), p.data() + 18, location.size()) == 0);
    // Its MAC finds this very slot.
    FUZZ_CHECK(table.FindByMac(r.macAddress) == static_cast<int>(i));
  }
  return 0;
}
