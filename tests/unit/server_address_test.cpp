#include "portsetup/server_address.h"

#include <gtest/gtest.h>

#include "test_registry.h"
#include "test_system.h"

namespace corvalink {
namespace {

namespace fs = std::filesystem;

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

// The key as the printer-port software's installer makes it, in upper case, in a test registry:
// the Windows registry on a test key, or the file-tree store.
class StoreServerAddressTest : public ::testing::Test {
 protected:
  static constexpr char KEY[] = "SOFTWARE\\DED Orezadu Devo";
  void SetUp() override {
    ASSERT_EQ(m_registry.Error(), "");
    ASSERT_TRUE(m_registry.CreateKey(KEY));
  }
  test::TestRegistry m_registry;
};

TEST_F(StoreServerAddressTest, WritesExactlySixtyBytesAndReplacesAnEarlierValue) {
  // The shorter address after the longer one: no byte of the old value may survive.
  for (auto [address, text] : {std::pair{Ipv4{255, 255, 255, 255}, "255.255.255.255"},
                               std::pair{Ipv4{192, 168, 1, 1}, "192.168.1.1"}}) {
    std::string err;
    ASSERT_TRUE(StoreServerAddress(m_registry.Get(), address, &err)) << err;
    std::optional<RegistryValue> stored = m_registry.Value(KEY, SERVER_IP_VALUE);
    ASSERT_TRUE(stored.has_value()) << text;
    EXPECT_EQ(stored->type, REG_TYPE_SZ);
    std::string want(text);
    want.resize(SERVER_IP_DATA_SIZE, '\0');
    EXPECT_EQ(std::string(stored->data.begin(), stored->data.end()), want);
  }
  EXPECT_EQ(m_registry.ValueNames(KEY), (std::set<std::string>{"Server IP"}));
}

TEST_F(StoreServerAddressTest, FailuresNameTheKeyAndTheCauseAndCreateNothing) {
  auto expectFailure = [&](const char* cause) {
    std::set<std::string> before = m_registry.Keys();
    std::string err;
    EXPECT_FALSE(StoreServerAddress(m_registry.Get(), {192, 168, 1, 1}, &err));
    EXPECT_NE(err.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\DED Orezadu Devo"), std::string::npos) << err;
    EXPECT_NE(err.find(cause), std::string::npos) << err;
    EXPECT_EQ(m_registry.Keys(), before);
  };
  // In a file tree, the value's place can be taken by a folder, so the write cannot land.
  if (std::optional<fs::path> dir = m_registry.KeyFolder(KEY)) {
    fs::create_directory(*dir / "Server IP");
    expectFailure("Is a directory");
    fs::remove(*dir / "Server IP");
  }
  // The key itself is missing: it must not be created.
  ASSERT_TRUE(m_registry.DeleteKey(KEY));
  expectFailure("does not exist");
  EXPECT_FALSE(m_registry.KeyExists(KEY));
}

TEST_F(StoreServerAddressTest, KeyWithoutWriteRightsIsAFailure) {
  if (const std::string why = test::NoChildProcess(); !why.empty()) GTEST_SKIP() << why;
  std::optional<fs::path> dir = m_registry.KeyFolder(KEY);
  ASSERT_TRUE(dir.has_value());
  fs::permissions(*dir, fs::perms(0555));
  const Registry& registry = m_registry.Get();
  std::optional<bool> refused = test::RunInChild(
      [&registry] {
        std::string err;
        return !StoreServerAddress(registry, {192, 168, 1, 1}, &err) &&
               err.find("Permission denied") != std::string::npos;
      },
      /*withoutRoot=*/true);
  ASSERT_TRUE(refused.has_value());
  EXPECT_TRUE(*refused);
  EXPECT_TRUE(m_registry.ValueNames(KEY).empty());
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
      {REG_TYPE_SZ, std::string(reinterpret_cast<const char*>(BuildServerIpData({198, 18, 0, 10}).data()), 60),
       Ipv4{198, 18, 0, 10}, ""},
      {REG_TYPE_SZ, "223.255.255.254", Ipv4{223, 255, 255, 254}, ""},  // no NUL: the whole value
      {REG_TYPE_SZ, "10.1.2.3\0junk after the NUL"s, Ipv4{10, 1, 2, 3}, ""},
      {REG_TYPE_SZ, "010.1.2.3", std::nullopt, "is malformed: it holds no dotted IPv4 address"},
      {REG_TYPE_SZ, " 10.1.2.3", std::nullopt, "is malformed"},
      {REG_TYPE_SZ, "10.1.2", std::nullopt, "is malformed"},
      {REG_TYPE_SZ, "10.1.2.256", std::nullopt, "is malformed"},
      {REG_TYPE_SZ, "", std::nullopt, "is malformed"},
      {REG_TYPE_SZ, "\x01\x7F", std::nullopt, "is malformed"},
      {REG_TYPE_SZ, "0.0.0.0", std::nullopt, "0.0.0.0, which is no router's address"},
      {REG_TYPE_SZ, "0.1.2.3", std::nullopt, "no router's address"},
      {REG_TYPE_SZ, "224.0.0.1", std::nullopt, "no router's address"},
      {REG_TYPE_SZ, "255.255.255.255", std::nullopt, "no router's address"},
      {3, "10.1.2.3", std::nullopt, "is not a string value (type 3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    ASSERT_TRUE(m_registry.SetValue(KEY, "Server IP", c.type, c.data));
    Ipv4 address{9, 9, 9, 9};
    std::string reason;
    EXPECT_EQ(ReadServerAddress(m_registry.Get(), &address, &reason), c.address.has_value()) << reason;
    if (c.address) {
      EXPECT_EQ(address, *c.address);
    } else {
      EXPECT_EQ(address, (Ipv4{9, 9, 9, 9})) << "left as it was";
      EXPECT_NE(reason.find(c.because), std::string::npos) << reason;
      EXPECT_EQ(reason.rfind("\"Server IP\" under HKEY_LOCAL_MACHINE\\SOFTWARE\\DED Orezadu Devo (", 0), 0u)
          << reason;
    }
  }
  ASSERT_TRUE(m_registry.DeleteValue(KEY, "Server IP"));
  std::string reason;
  EXPECT_FALSE(ReadServerAddress(m_registry.Get(), nullptr, &reason));
  EXPECT_NE(reason.find("is not set"), std::string::npos) << reason;
}

}  // namespace
}  // namespace corvalink
