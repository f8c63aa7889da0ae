// A value file of the file-tree registry (4 bytes of type, big-endian, then the data) read
// through the store, then as "Path" (where "lpr.txt" is looked for) and as "Server IP" (where
// print jobs go). Checked against models of both readings; a malformed value is never repeated
// in the reason. The same bytes behind a symbolic link or a second name in a value's place are
// never read.

#include <algorithm>
#include <fstream>
#include <string>

#include "fuzz_check.h"
#include "platform/registry_store.h"
#include "portsetup/server_address.h"
#include "text/interface_text.h"

using namespace corvalink;

namespace {

std::string TextBeforeNul(const uint8_t* data, size_t size) {
  return std::string(data, std::find(data, data + size, uint8_t{0}));
}

// A strict dotted quad: four numbers 0-255 without leading zeros.
bool IsCanonicalQuad(const std::string& t, Ipv4* out) {
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && (at >= t.size() || t[at++] != '.')) return false;
    size_t end = at;
    while (end < t.size() && end - at < 4 && t[end] >= '0' && t[end] <= '9') ++end;
    if (end == at || end - at > 3 || (t[at] == '0' && end - at > 1)) return false;
    const int v = std::stoi(t.substr(at, end - at));
    if (v > 255) return false;
    (*out)[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
    at = end;
  }
  return at == t.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path root = [] {
    auto r = fuzz::ScratchDir() / "registry";
    std::filesystem::create_directories(r / HKEY_LOCAL_MACHINE_NAME / "SOFTWARE" / "DED Orezadu Devo");
    return r;
  }();
  const auto key = root / HKEY_LOCAL_MACHINE_NAME / "SOFTWARE" / "DED Orezadu Devo";
  for (const char* name : {PATH_VALUE, SERVER_IP_VALUE}) {
    std::ofstream(key / name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const RegistryStore store(root);

  const std::optional<RegistryValue> value =
      store.ReadValue(HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, PATH_VALUE, SIZE_MAX);
  FUZZ_CHECK(value.has_value() == (size >= 4));
  if (value) {
    FUZZ_CHECK(value->type == (uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 |
                               uint32_t{data[2]} << 8 | data[3]));
    FUZZ_CHECK(std::equal(value->data.begin(), value->data.end(), data + 4, data + size));
  }

  // "Path": at most 100 bytes are read; the folder is the text before the first NUL, and only one
  // of at most 91 characters leaves room for the file name.
  const std::optional<std::filesystem::path> textFile = TextFileFromRegistry(store);
  const std::string folder = size >= 4 ? TextBeforeNul(data + 4, size - 4) : std::string();
  const bool pathUsable = size >= 4 && size - 4 <= 100 && folder.size() <= 91;
  FUZZ_CHECK(textFile.has_value() == pathUsable);
  if (textFile) FUZZ_CHECK(textFile->string() == folder + "/" + TEXT_FILE_NAME);

  // "Server IP": a string value whose text is an address as we write it, of a unicast host.
  Ipv4 address{}, expected{};
  std::string reason;
  const bool read = ReadServerAddress(store, &address, &reason);
  const bool usable = size >= 4 && size - 4 <= 4096 && data[0] == 0 && data[1] == 0 &&
                      data[2] == 0 && data[3] == REG_TYPE_SZ && IsCanonicalQuad(folder, &expected) &&
                      expected[0] != 0 && expected[0] < 224;
  FUZZ_CHECK(read == usable);
  FUZZ_CHECK(read ? address == expected : !reason.empty());
  const bool wellFormed = size >= 4 && size - 4 <= 4096 && data[0] == 0 && data[1] == 0 &&
                          data[2] == 0 && data[3] == REG_TYPE_SZ && IsCanonicalQuad(folder, &expected);
  if (!read && size >= 4 && size - 4 <= 4096 && data[0] == 0 && data[1] == 0 && data[2] == 0 &&
      data[3] == REG_TYPE_SZ && !wellFormed) {
    const std::string malformed = "is malformed: it holds no dotted IPv4 address as corvalink stores it";
    FUZZ_CHECK(reason.size() > malformed.size() &&
               reason.compare(reason.size() - malformed.size(), malformed.size(), malformed) == 0);
  }

  // The same bytes in a file outside the key, put in a value's place by a link or a second name.
  static const std::filesystem::path planted = [] {
    auto r = fuzz::ScratchDir() / "planted";
    std::filesystem::create_directories(r / HKEY_LOCAL_MACHINE_NAME / "SOFTWARE" / "DED Orezadu Devo");
    return r;
  }();
  const auto plantedKey = planted / HKEY_LOCAL_MACHINE_NAME / "SOFTWARE" / "DED Orezadu Devo";
  const RegistryStore plantedStore(planted);
  std::error_code ec;
  std::filesystem::remove(plantedKey / SERVER_IP_VALUE, ec);
  std::filesystem::create_symlink(key / PATH_VALUE, plantedKey / SERVER_IP_VALUE, ec);
  FUZZ_CHECK(!ec);
  FUZZ_CHECK(!plantedStore.ReadValue(HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, SERVER_IP_VALUE, SIZE_MAX));
  std::filesystem::remove(plantedKey / SERVER_IP_VALUE, ec);
  std::filesystem::create_hard_link(key / PATH_VALUE, plantedKey / SERVER_IP_VALUE, ec);
  FUZZ_CHECK(!ec);
  FUZZ_CHECK(!ReadServerAddress(plantedStore, &address, &reason));
  FUZZ_CHECK(reason.find("is not set") != std::string::npos);
  std::filesystem::remove(plantedKey / SERVER_IP_VALUE, ec);  // the next input's file has one name
  return 0;
}
