// The Registry contract as this system keeps it: the Windows registry (on a test key) or the
// file-tree store, whichever the system's registry is.

#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>

#include "test_registry.h"

namespace corvalink {
namespace {

using namespace std::string_literals;

constexpr char KEY[] = "SOFTWARE\\DED Orezadu Devo";

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

class RegistryContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_registry.Error(), "");
    ASSERT_TRUE(m_registry.CreateKey(KEY));
  }
  std::optional<RegistryValue> Read(std::string_view subkey, std::size_t capacity = 100) {
    return m_registry.Get().ReadValue(HKEY_LOCAL_MACHINE_NAME, subkey, "Path", capacity);
  }
  test::TestRegistry m_registry;
};

TEST_F(RegistryContractTest, ReadsAsStoredWithinTheCapacityOnly) {
  const struct {
    std::string stored;
    std::size_t capacity;
    bool read;
  } rows[] = {
      {"C:\\lpr\0"s, 100, true},
      {"C:\\lpr", 100, true},                  // without its NUL, and it stays without
      {std::string(100, 'p'), 100, true},      // exactly the buffer
      {std::string(101, 'p'), 100, false},     // one byte too many: not read at all
      {"", 100, true},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(m_registry.SetValue(KEY, "Path", REG_TYPE_SZ, row.stored));
    std::optional<RegistryValue> v = Read(KEY, row.capacity);
    ASSERT_EQ(v.has_value(), row.read) << row.stored.size() << " bytes";
    if (!v) continue;
    EXPECT_EQ(v->type, REG_TYPE_SZ);
    EXPECT_EQ(v->data, Bytes(row.stored)) << row.stored.size() << " bytes";
  }
  // Key names are matched without regard to case, as the printer-port software spells them.
  EXPECT_TRUE(Read("software\\ded orezadu devo").has_value());
  ASSERT_TRUE(m_registry.DeleteValue(KEY, "Path"));
  EXPECT_FALSE(Read(KEY).has_value());
  EXPECT_FALSE(Read("SOFTWARE\\Missing").has_value());
}

TEST_F(RegistryContractTest, WritesExactlyTheDataAndNeverCreatesAKey) {
  std::string err;
  const std::vector<uint8_t> longer = Bytes("255.255.255.255\0\0\0\0"s);
  const std::vector<uint8_t> shorter = Bytes("10.0.0.1\0"s);
  for (const auto& data : {longer, shorter}) {
    ASSERT_TRUE(m_registry.Get().WriteValue(HKEY_LOCAL_MACHINE_NAME, "Software\\DED Orezadu Devo",
                                            "Server IP", REG_TYPE_SZ, data, &err))
        << err;
    std::optional<RegistryValue> v = m_registry.Value(KEY, "Server IP");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->type, REG_TYPE_SZ);
    EXPECT_EQ(v->data, data);
  }

  const std::set<std::string> keys = m_registry.Keys();
  for (const char* missing : {"SOFTWARE\\Missing", "SOFTWARE\\DED Orezadu Devo\\Deeper"}) {
    err.clear();
    EXPECT_FALSE(m_registry.Get().WriteValue(HKEY_LOCAL_MACHINE_NAME, missing, "Server IP",
                                             REG_TYPE_SZ, shorter, &err))
        << missing;
    EXPECT_NE(err, "") << missing;
  }
  EXPECT_EQ(m_registry.Keys(), keys);
  EXPECT_NE(m_registry.Get().Location(), "");
}

}  // namespace
}  // namespace corvalink
