#include "portsetup/server_address.h"

#include <gtest/gtest.h>

#include "platform/registry_store.h"
#include "temp_tree.h"

namespace corvalink {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadBytes;
using test::TempDir;

// What "Server IP" must hold: REG_SZ, then the dotted text, its NUL and zeros up to 60 bytes.
std::string StoredFile(std::string_view dotted) {
  std::string bytes{0, 0, 0, 1};
  bytes += dotted;
  bytes.resize(4 + SERVER_IP_DATA_SIZE, '\0');
  return bytes;
}

TEST(BuildServerIpData, DottedTextThenZerosUpToSixtyBytes) {
  for (auto [address, text] : {std::pair{Ipv4{192, 168, 1, 1}, "192.168.1.1"},
                               std::pair{Ipv4{255, 255, 255, 255}, "255.255.255.255"},
                               std::pair{Ipv4{0, 0, 0, 0}, "0.0.0.0"},
                               std::pair{Ipv4{10, 0, 200, 7}, "10.0.200.7"}}) {
    std::array<uint8_t, SERVER_IP_DATA_SIZE> data = BuildServerIpData(address);
    std::string_view want(text);
    EXPECT_EQ(std::string(data.begin(), data.begin() + want.size()), want);
    for (std::size_t i = want.size(); i < data.size(); ++i) ASSERT_EQ(data[i], 0) << text << " " << i;
  }
}

class StoreServerAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_tmp.Path().empty());
    // The printer-port software's installer spells the key in upper case.
    m_keyDir = m_tmp.Path() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "DED Orezadu Devo";
    fs::create_directories(m_keyDir);
  }
  TempDir m_tmp;
  RegistryStore m_registry{m_tmp.Path()};
  fs::path m_keyDir;
};

TEST_F(StoreServerAddressTest, WritesExactlySixtyBytesAndReplacesAnEarlierValue) {
  // The shorter address after the longer one: no byte of the old value may survive.
  for (auto [address, text] : {std::pair{Ipv4{255, 255, 255, 255}, "255.255.255.255"},
                               std::pair{Ipv4{192, 168, 1, 1}, "192.168.1.1"}}) {
    std::string err;
    ASSERT_TRUE(StoreServerAddress(m_registry, address, &err)) << err;
    EXPECT_EQ(ReadBytes(m_keyDir / "Server IP"), StoredFile(text));
  }
  EXPECT_EQ(ListTree(m_keyDir), (std::set<std::string>{"Server IP"}));
}

TEST_F(StoreServerAddressTest, FailuresNameTheKeyAndTheCauseAndCreateNothing) {
  auto expectFailure = [&](const char* cause) {
    std::set<std::string> before = ListTree(m_tmp.Path());
    std::string err;
    EXPECT_FALSE(StoreServerAddress(m_registry, {192, 168, 1, 1}, &err));
    EXPECT_NE(err.find("HKEY_LOCAL_MACHINE\\Software\\DED Orezadu Devo"), std::string::npos) << err;
    EXPECT_NE(err.find(cause), std::string::npos) << err;
    EXPECT_EQ(ListTree(m_tmp.Path()), before);
  };
  // The value's place is taken by a folder, so the write cannot land.
  fs::create_directory(m_keyDir / "Server IP");
  expectFailure("Is a directory");
  fs::remove(m_keyDir / "Server IP");
  // The key itself is missing: it must not be created.
  fs::remove(m_keyDir);
  expectFailure("does not exist");
  EXPECT_FALSE(fs::exists(m_keyDir));
}

TEST_F(StoreServerAddressTest, KeyWithoutWriteRightsIsAFailure) {
  fs::permissions(m_keyDir, fs::perms(0555));
  const RegistryStore& registry = m_registry;
  std::optional<bool> refused = test::RunInChild(
      [&registry] {
        std::string err;
        return !StoreServerAddress(registry, {192, 168, 1, 1}, &err) &&
               err.find("Permission denied") != std::string::npos;
      },
      /*withoutRoot=*/true);
  ASSERT_TRUE(refused.has_value());
  EXPECT_TRUE(*refused);
  EXPECT_TRUE(ListTree(m_keyDir).empty());
}

TEST_F(StoreServerAddressTest, ReadTakesOnlyAnAddressAPrintJobCanGoTo) {
  struct Case {
    uint32_t type;
    std::string data;
    std::optional<Ipv4> address;  // nothing: refused, with `because` in the reason
    const char* because;
  };
  using namespace std::string_literals;
  const Case cases[] = {
      {REG_SZ, std::string(reinterpret_cast<const char*>(BuildServerIpData({198, 18, 0, 10}).data()), 60),
       Ipv4{198, 18, 0, 10}, ""},
      {REG_SZ, "223.255.255.254", Ipv4{223, 255, 255, 254}, ""},  // no NUL: the whole value
      {REG_SZ, "10.1.2.3\0junk after the NUL"s, Ipv4{10, 1, 2, 3}, ""},
      {REG_SZ, "010.1.2.3", std::nullopt, "holds \"010.1.2.3\", which is not"},
      {REG_SZ, " 10.1.2.3", std::nullopt, "is not a dotted IPv4 address"},
      {REG_SZ, "10.1.2", std::nullopt, "is not a dotted IPv4 address"},
      {REG_SZ, "10.1.2.256", std::nullopt, "is not a dotted IPv4 address"},
      {REG_SZ, "", std::nullopt, "holds \"\""},
      {REG_SZ, "\x01\x7F", std::nullopt, "holds \"\\x01\\x7F\""},
      {REG_SZ, "0.0.0.0", std::nullopt, "0.0.0.0, which is no router's address"},
      {REG_SZ, "0.1.2.3", std::nullopt, "no router's address"},
      {REG_SZ, "224.0.0.1", std::nullopt, "no router's address"},
      {REG_SZ, "255.255.255.255", std::nullopt, "no router's address"},
      {3, "10.1.2.3", std::nullopt, "is not a string value (type 3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    test::WriteRegValue(m_keyDir / "Server IP", c.type, c.data);
    Ipv4 address{9, 9, 9, 9};
    std::string reason;
    EXPECT_EQ(ReadServerAddress(m_registry, &address, &reason), c.address.has_value()) << reason;
    if (c.address) {
      EXPECT_EQ(address, *c.address);
    } else {
      EXPECT_EQ(address, (Ipv4{9, 9, 9, 9})) << "left as it was";
      EXPECT_NE(reason.find(c.because), std::string::npos) << reason;
      EXPECT_EQ(reason.rfind("\"Server IP\" under HKEY_LOCAL_MACHINE\\Software\\DED Orezadu Devo (", 0), 0u)
          << reason;
    }
  }
  fs::remove(m_keyDir / "Server IP");
  std::string reason;
  EXPECT_FALSE(ReadServerAddress(m_registry, nullptr, &reason));
  EXPECT_NE(reason.find("is not set"), std::string::npos) << reason;
}

}  // namespace
}  // namespace corvalink
