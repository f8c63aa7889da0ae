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

}  // namespace
}  // namespace corvalink
