#include "platform/registry_store.h"

#include <grp.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <tuple>

#include "temp_tree.h"

namespace corvalink {
namespace {

namespace fs = std::filesystem;
using test::ListTree;
using test::ReadBytes;
using test::RunInChild;
using test::TempDir;
using test::WriteRegValue;

std::string Bytes(std::initializer_list<uint8_t> b) { return std::string(b.begin(), b.end()); }

// A root with the key as an installer creates it, in upper case.
class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_tmp.Path().empty());
    m_keyDir = m_tmp.Path() / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "DED Orezadu Devo";
    fs::create_directories(m_keyDir);
  }
  RegistryKey Open(RegAccess access, std::string* err = nullptr) {
    return m_store.OpenKey("HKEY_LOCAL_MACHINE", "Software\\DED Orezadu Devo", access, err);
  }
  bool Set(std::string_view name, std::string_view data, std::string* err = nullptr) {
    RegistryKey key = Open(RegAccess::Write);
    std::vector<uint8_t> bytes(data.begin(), data.end());
    return m_store.SetValue(key, name, REG_TYPE_SZ, bytes, err);
  }

  TempDir m_tmp;
  RegistryStore m_store{m_tmp.Path()};
  fs::path m_keyDir;
};

TEST_F(RegistryStoreTest, KeyComponentsMatchWithoutRegardToCase) {
  for (auto [hive, subkey] : {std::pair{"HKEY_LOCAL_MACHINE", "SOFTWARE\\DED Orezadu Devo"},
                              std::pair{"HKEY_LOCAL_MACHINE", "Software\\DED Orezadu Devo"},
                              std::pair{"hkey_local_machine", "software\\ded orezadu devo"},
                              std::pair{"HKEY_LOCAL_MACHINE", "SoFtWaRe\\DED OREZADU DEVO"}}) {
    for (RegAccess access : {RegAccess::Read, RegAccess::Write}) {
      RegistryKey key = m_store.OpenKey(hive, subkey, access);
      ASSERT_TRUE(key.IsOpen()) << hive << " " << subkey;
      EXPECT_EQ(key.Directory(), m_keyDir);
    }
  }
  // An empty subkey is the hive itself.
  EXPECT_EQ(m_store.OpenKey("HKEY_LOCAL_MACHINE", "", RegAccess::Read).Directory(),
            m_tmp.Path() / "HKEY_LOCAL_MACHINE");
}

TEST_F(RegistryStoreTest, MissingOrMalformedKeysFailAndCreateNothing) {
  std::set<std::string> before = ListTree(m_tmp.Path());
  for (const char* subkey :
       {"Software\\Missing", "Software\\DED Orezadu Devo\\Deeper", "Software\\DED Orezadu Devo\\",
        "\\Software\\DED Orezadu Devo", "Software\\\\DED Orezadu Devo", "Software\\..",
        "Software\\.", "..\\..", "Software/DED Orezadu Devo", "DED Orezadu Devo"}) {
    for (RegAccess access : {RegAccess::Read, RegAccess::Write}) {
      std::string err;
      EXPECT_FALSE(m_store.OpenKey("HKEY_LOCAL_MACHINE", subkey, access, &err).IsOpen()) << subkey;
      EXPECT_FALSE(err.empty()) << subkey;
    }
  }
  EXPECT_FALSE(m_store.OpenKey("HKEY_CURRENT_USER", "Software", RegAccess::Read).IsOpen());
  EXPECT_EQ(ListTree(m_tmp.Path()), before);

  std::string err;
  RegistryStore nowhere(m_tmp.Path() / "no-such-root");
  EXPECT_FALSE(nowhere.OpenKey("HKEY_LOCAL_MACHINE", "Software", RegAccess::Write, &err).IsOpen());
  EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(m_tmp.Path() / "no-such-root"));
}

TEST_F(RegistryStoreTest, ValueFileIsBigEndianTypeThenExactData) {
  std::string data = Bytes({'1', '.', '2', 0, 0, 0xFF});
  ASSERT_TRUE(Set("Server IP", data));
  EXPECT_EQ(ReadBytes(m_keyDir / "Server IP"), Bytes({0, 0, 0, 1}) + data);

  // A value written by other software is read back with its type and every byte, NULs included.
  WriteRegValue(m_keyDir / "Other", 0x01020307, std::string("a\0b", 3));
  std::optional<RegistryValue> v = m_store.QueryValue(Open(RegAccess::Read), "Other");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->type, 0x01020307u);
  EXPECT_EQ(v->data, (std::vector<uint8_t>{'a', 0, 'b'}));
}

TEST_F(RegistryStoreTest, ValueFilesShorterThanTheTypeAreUnreadable) {
  RegistryKey key = Open(RegAccess::Read);
  std::string full = Bytes({0, 0, 0, 1});
  for (std::size_t n = 0; n <= full.size(); ++n) {
    test::WriteBytes(m_keyDir / "Path", full.substr(0, n));
    std::optional<RegistryValue> v = m_store.QueryValue(key, "Path");
    EXPECT_EQ(v.has_value(), n == 4) << n;
    if (v) {
      EXPECT_TRUE(v->data.empty());
    }
  }
}

TEST_F(RegistryStoreTest, ValueNamesMatchWithoutRegardToCaseAndKeepTheirSpelling) {
  WriteRegValue(m_keyDir / "Server IP", REG_TYPE_SZ, "old");
  EXPECT_TRUE(m_store.QueryValue(Open(RegAccess::Read), "server ip").has_value());
  ASSERT_TRUE(Set("SERVER IP", "new"));
  EXPECT_EQ(ListTree(m_keyDir), (std::set<std::string>{"Server IP"}));
  EXPECT_EQ(ReadBytes(m_keyDir / "Server IP"), Bytes({0, 0, 0, 1}) + "new");
  EXPECT_FALSE(m_store.QueryValue(Open(RegAccess::Read), "Server").has_value());
}

TEST_F(RegistryStoreTest, ValueNamesThatCouldLeaveTheKeyAreRefused) {
  fs::create_directories(m_keyDir / "sub");
  WriteRegValue(m_keyDir / "sub" / "x", REG_TYPE_SZ, "inner");
  WriteRegValue(m_keyDir.parent_path() / "Outside", REG_TYPE_SZ, "outer");
  std::set<std::string> before = ListTree(m_tmp.Path());
  for (std::string name : {std::string(""), std::string("."), std::string(".."),
                           std::string("../Outside"), std::string("sub/x"),
                           std::string("Server\0IP", 9), std::string("/etc/passwd")}) {
    std::string err;
    EXPECT_FALSE(Set(name, "1.2.3.4", &err)) << name;
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(m_store.QueryValue(Open(RegAccess::Read), name).has_value()) << name;
  }
  EXPECT_EQ(ListTree(m_tmp.Path()), before);
}

TEST_F(RegistryStoreTest, KeyOpenedForReadingCannotBeWritten) {
  std::string err;
  auto data = std::array<uint8_t, 1>{'x'};
  EXPECT_FALSE(m_store.SetValue(Open(RegAccess::Read), "Server IP", REG_TYPE_SZ, data, &err));
  EXPECT_FALSE(m_store.SetValue(RegistryKey(), "Server IP", REG_TYPE_SZ, data, &err));
  EXPECT_TRUE(ListTree(m_keyDir).empty());
}

TEST_F(RegistryStoreTest, KeyWithoutWriteRightsOpensForReadingOnly) {
  fs::permissions(m_keyDir, fs::perms(0555));
  RegistryStore& store = m_store;
  std::optional<bool> result = RunInChild(
      [&store] {
        std::string err;
        bool writeFails = !store.OpenKey("HKEY_LOCAL_MACHINE", "Software\\DED Orezadu Devo",
                                         RegAccess::Write, &err)
                               .IsOpen();
        bool readWorks =
            store.OpenKey("HKEY_LOCAL_MACHINE", "Software\\DED Orezadu Devo", RegAccess::Read)
                .IsOpen();
        return writeFails && readWorks && err.find("Permission denied") != std::string::npos;
      },
      /*withoutRoot=*/true);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(*result);
}

// A refusal names what is missing and the command that mends it: the root, a key component,
// or membership of the group that may write the key's folder.
TEST_F(RegistryStoreTest, RefusalsNameWhatIsMissingAndWhatToDo) {
  const std::string subkey = "Software\\DED Orezadu Devo";
  struct Row {
    fs::path root;
    std::string subkey;
    std::vector<std::string> wanted;
  } rows[] = {
      {m_tmp.Path() / "no-root",
       subkey,
       {"the registry root " + (m_tmp.Path() / "no-root").string() + " does not exist",
        "sudo mkdir -p '" +
            (m_tmp.Path() / "no-root/HKEY_LOCAL_MACHINE/Software/DED Orezadu Devo").string() +
            "'"}},
      {m_tmp.Path(),
       "Software\\Other",
       {"does not exist (no \"Other\" in " + (m_tmp.Path() / "HKEY_LOCAL_MACHINE/SOFTWARE").string(),
        "sudo mkdir -p '" + (m_tmp.Path() / "HKEY_LOCAL_MACHINE/SOFTWARE/Other").string() + "'"}},
  };
  for (const Row& row : rows) {
    std::string err;
    EXPECT_FALSE(RegistryStore(row.root).OpenKey("HKEY_LOCAL_MACHINE", row.subkey,
                                                 RegAccess::Write, &err).IsOpen());
    for (const std::string& w : row.wanted) EXPECT_NE(err.find(w), std::string::npos) << err;
    EXPECT_EQ(err.find("install the corvalink package"), std::string::npos) << "not the system's root";
  }

  // The packaged key: root's, writable by a group the user is not in.
  if (::geteuid() != 0) GTEST_SKIP() << "giving the key to a group needs root";
  const struct group* daemon = ::getgrgid(1);
  ASSERT_NE(daemon, nullptr);
  const std::string group = daemon->gr_name;
  ASSERT_EQ(::chown(m_keyDir.c_str(), 0, 1), 0);
  ASSERT_EQ(::chmod(m_keyDir.c_str(), 02775), 0);
  RegistryStore& store = m_store;
  std::optional<bool> result = RunInChild(
      [&] {
        std::string err;
        const bool refused =
            !store.OpenKey("HKEY_LOCAL_MACHINE", subkey, RegAccess::Write, &err).IsOpen();
        return refused && err.find("you are not in the group " + group) != std::string::npos &&
               err.find("Permission denied") != std::string::npos &&
               err.find("sudo adduser nobody " + group) != std::string::npos;
      },
      /*withoutRoot=*/true);
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(*result);
}

TEST_F(RegistryStoreTest, FailedRenameIsReportedAndLeavesNoTemporaryFile) {
  fs::create_directory(m_keyDir / "Server IP");  // rename() cannot put a file over a directory
  std::string err;
  EXPECT_FALSE(Set("Server IP", "1.2.3.4", &err));
  EXPECT_NE(err.find("Server IP"), std::string::npos) << err;
  EXPECT_EQ(ListTree(m_keyDir), (std::set<std::string>{"Server IP"}));
}

TEST_F(RegistryStoreTest, FailedWriteLeavesTheOldValueWhole) {
  WriteRegValue(m_keyDir / "Server IP", REG_TYPE_SZ, "192.168.1.1");
  std::string big(4096, 'x');
  // A file-size limit makes write() fail part-way, as a full disk would.
  std::optional<bool> failed = RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64, 64};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    std::string err;
    return !Set("Server IP", big, &err) && !err.empty();
  });
  ASSERT_TRUE(failed.has_value());
  EXPECT_TRUE(*failed);
  EXPECT_EQ(ReadBytes(m_keyDir / "Server IP"), Bytes({0, 0, 0, 1}) + "192.168.1.1");
  EXPECT_EQ(ListTree(m_keyDir), (std::set<std::string>{"Server IP"}));
}

TEST(RegistryStoreRoot, EnvironmentOverridesTheSystemPath) {
  const char* saved = std::getenv("CORVALINK_REGISTRY_ROOT");
  std::string savedValue = saved ? saved : "";
  ::unsetenv("CORVALINK_REGISTRY_ROOT");
  EXPECT_EQ(RegistryStore::DefaultRoot(), fs::path("/etc/corvalink/registry"));
  ::setenv("CORVALINK_REGISTRY_ROOT", "/tmp/elsewhere", 1);
  EXPECT_EQ(RegistryStore::DefaultRoot(), fs::path("/tmp/elsewhere"));
  if (saved) {
    ::setenv("CORVALINK_REGISTRY_ROOT", savedValue.c_str(), 1);
  } else {
    ::unsetenv("CORVALINK_REGISTRY_ROOT");
  }
}

}  // namespace
}  // namespace corvalink

namespace corvalink {
namespace {

class RegistryStoreReplaceTest : public RegistryStoreTest {};

TEST_F(RegistryStoreReplaceTest, RootKeepsOwnerAndGroupOfAReplacedValueAndNeverASetIdBit) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const fs::path value = m_keyDir / "Server IP";
  for (auto [uid, gid, mode, kept] : {std::tuple{1234u, 5678u, 0640u, 0640u},
                                      std::tuple{0u, 4321u, 0604u, 0604u},
                                      std::tuple{0u, 0u, 07777u, 0666u}}) {
    WriteRegValue(value, REG_TYPE_SZ, "old");
    ASSERT_EQ(::chown(value.c_str(), uid, gid), 0);
    ASSERT_EQ(::chmod(value.c_str(), mode), 0);
    ASSERT_TRUE(Set("Server IP", "new"));
    struct stat st{};
    ASSERT_EQ(::lstat(value.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_gid, gid);
    EXPECT_EQ(st.st_mode & 07777, kept);
    EXPECT_EQ(ReadBytes(value), Bytes({0, 0, 0, 1}) + "new");
  }
}

// What a member of the key's group can put in a value's place: a link to a file of root's, a
// second name of such a file, a FIFO. None is read, none passes anything on when replaced.
TEST_F(RegistryStoreReplaceTest, PlantedLinksAndSecondNamesAreNeitherReadNorCopied) {
  const fs::path secret = m_tmp.Path() / "secret";
  const fs::path value = m_keyDir / "Server IP";
  struct Plant {
    const char* what;
    std::function<void()> make;
  };
  const Plant plants[] = {
      {"symbolic link", [&] { fs::create_symlink(secret, value); }},
      {"hard link", [&] { fs::create_hard_link(secret, value); }},
      {"FIFO", [&] { ASSERT_EQ(::mkfifo(value.c_str(), 0666), 0); }},
  };
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.what);
    WriteRegValue(secret, REG_TYPE_SZ, "10.9.8.7");
    ASSERT_EQ(::chmod(secret.c_str(), 06755), 0);
    fs::remove(value);
    plant.make();
    std::optional<bool> found = RunInChild([&] {
      ::alarm(5);
      return m_store.QueryValue(Open(RegAccess::Read), "server ip").has_value();
    });
    ASSERT_TRUE(found.has_value()) << "hung or crashed";
    EXPECT_FALSE(*found);

    ASSERT_TRUE(Set("Server IP", "1.2.3.4"));
    struct stat st{};
    ASSERT_EQ(::lstat(value.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mode & 07777, 0644u) << "a new value's mode, nothing of the planted file's";
    EXPECT_EQ(ReadBytes(value), Bytes({0, 0, 0, 1}) + "1.2.3.4");
    EXPECT_EQ(ReadBytes(secret), Bytes({0, 0, 0, 1}) + "10.9.8.7") << "the target is untouched";
    ASSERT_EQ(::stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 06755u);
  }
}

// The packaged key: a set-group-ID, sticky folder of root's that the group may write, and root's
// values in it that the group may write. A member rewrites the value in place and it stays
// root's; someone outside the group (a former member) can change nothing.
TEST_F(RegistryStoreReplaceTest, GroupMembershipAloneDecidesWhoRewritesARootValue) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing users and groups needs root";
  const gid_t group = 65534;
  const fs::path value = m_keyDir / "Server IP";
  ASSERT_EQ(::chown(m_keyDir.c_str(), 0, group), 0);
  ASSERT_EQ(::chmod(m_keyDir.c_str(), 03775), 0);
  WriteRegValue(value, REG_TYPE_SZ, "old");
  ASSERT_EQ(::chown(value.c_str(), 0, group), 0);
  ASSERT_EQ(::chmod(value.c_str(), 0664), 0);
  // Runs a store write as user 65534 with only `gid` for groups; its exit status says it stored.
  auto writeAs = [&](gid_t gid, const char* data) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::alarm(10);
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(65534) != 0) ::_exit(3);
      ::_exit(Set("Server IP", data) ? 1 : 0);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(writeAs(group, "member"), 1);
  struct stat st{};
  ASSERT_EQ(::lstat(value.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, group);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  EXPECT_EQ(ReadBytes(value), Bytes({0, 0, 0, 1}) + "member");

  EXPECT_EQ(writeAs(1, "former member"), 0);
  EXPECT_EQ(ReadBytes(value), Bytes({0, 0, 0, 1}) + "member");
  EXPECT_EQ(ListTree(m_keyDir), (std::set<std::string>{"Server IP"}));
}

TEST_F(RegistryStoreReplaceTest, FoldersDifferingByCaseResolveToTheFirstInByteOrder) {
  const fs::path lower = m_tmp.Path() / "HKEY_LOCAL_MACHINE" / "Software" / "DED Orezadu Devo";
  fs::create_directories(lower);
  WriteRegValue(lower / "Path", REG_TYPE_SZ, "lower");
  WriteRegValue(m_keyDir / "Path", REG_TYPE_SZ, "upper");
  // "SOFTWARE" sorts before "Software": every spelling reads and writes there.
  for (const char* subkey : {"SOFTWARE\\DED Orezadu Devo", "Software\\DED Orezadu Devo",
                             "software\\ded orezadu devo"}) {
    for (RegAccess access : {RegAccess::Read, RegAccess::Write}) {
      EXPECT_EQ(m_store.OpenKey("HKEY_LOCAL_MACHINE", subkey, access).Directory(), m_keyDir)
          << subkey;
    }
  }
  WriteRegValue(m_keyDir / "path", REG_TYPE_SZ, "second");
  std::optional<RegistryValue> v = m_store.QueryValue(Open(RegAccess::Read), "path");
  ASSERT_TRUE(v);
  EXPECT_EQ(std::string(v->data.begin(), v->data.end()), "upper");  // "Path" < "path"
}

TEST_F(RegistryStoreReplaceTest, ValueThatIsNoRegularFileReadsAsMissingWithoutBlocking) {
  ASSERT_EQ(::mkfifo((m_keyDir / "Path").c_str(), 0644), 0);
  fs::create_directory(m_keyDir / "Server IP");
  for (const char* name : {"Path", "Server IP"}) {
    // In a child that the alarm ends, so a blocking open fails the test instead of hanging it.
    std::optional<bool> found = RunInChild([&] {
      ::alarm(5);
      return m_store.QueryValue(Open(RegAccess::Read), name).has_value();
    });
    ASSERT_TRUE(found.has_value()) << name << " hung or crashed";
    EXPECT_FALSE(*found) << name;
  }
}

TEST_F(RegistryStoreReplaceTest, LeftoverTemporaryFilesAreNoValuesAndGoOnTheNextWrite) {
  const fs::path stale = m_keyDir / ".corvalink-tmp-AbC123";
  const fs::path fresh = m_keyDir / ".corvalink-tmp-XyZ789";
  WriteRegValue(stale, REG_TYPE_SZ, "half");
  WriteRegValue(fresh, REG_TYPE_SZ, "busy");
  fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_FALSE(m_store.QueryValue(Open(RegAccess::Read), ".corvalink-tmp-AbC123"));
  EXPECT_FALSE(m_store.QueryValue(Open(RegAccess::Read), ".CORVALINK-TMP-abc123"));
  ASSERT_TRUE(Set("Server IP", "x"));
  // The one a writer may still be using is left to it.
  EXPECT_EQ(ListTree(m_keyDir), (std::set<std::string>{"Server IP", ".corvalink-tmp-XyZ789"}));
}

}  // namespace
}  // namespace corvalink
