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
    EXPECT_NE(err.find("HKEY_LOCAL_MACHINE\\Software\\DED Orezadu Devo"), std::string::npos) << err;
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

}  // namespace
}  // namespace corvalink
