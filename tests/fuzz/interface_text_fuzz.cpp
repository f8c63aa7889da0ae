// The bytes of "lpr.txt" through the loader. Checked against a model of the text-mode reader:
// CR LF reads as LF wherever it falls, each slot takes one line of at most 99 characters (a
// longer line goes on in the next slot), 21 slots at most, and the loader's slots lose one line
// end (LF or CR LF) while 13, 14 and 15 keep theirs.

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "text/interface_text.h"

using namespace corvalink;

namespace {

// A registry without values: the loader then reads the file of the current folder.
class EmptyRegistry : public Registry {
 public:
  std::optional<RegistryValue> ReadValue(std::string_view, std::string_view, std::string_view,
                                         std::size_t) const override {
    return std::nullopt;
  }
  bool WriteValue(std::string_view, std::string_view, std::string_view, uint32_t,
                  std::span<const uint8_t>, std::string*) const override {
    return false;
  }
  std::string Location() const override { return "none"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path file = fuzz::ScratchDir() / TEXT_FILE_NAME;
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  // The model: the text as the reader delivers it, then cut into slots.
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;  // the LF follows
    text += static_cast<char>(data[i]);
  }
  std::vector<std::string> slots;
  for (size_t at = 0; at < text.size() && slots.size() < TEXT_SLOT_COUNT;) {
    size_t end = std::min({text.find('\n', at) == std::string::npos ? text.size()
                                                                    : text.find('\n', at) + 1,
                           at + TEXT_SLOT_SIZE - 1, text.size()});
    slots.push_back(text.substr(at, end - at));
    at = end;
  }

  InterfaceTextTable table;
  const bool found = LoadInterfaceTextFile(table, EmptyRegistry(), fuzz::ScratchDir());
  FUZZ_CHECK(found && table.loaded);
  for (size_t i = 0; i < TEXT_SLOT_COUNT; ++i) {
    std::string want = i < slots.size() ? slots[i] : std::string();
    want = want.substr(0, want.find('\0'));  // a slot is read up to its first NUL
    const bool trimmed = i < 13 || i > 15;
    if (trimmed && !want.empty() && want.back() == '\n') {
      want.pop_back();
      if (!want.empty() && want.back() == '\r') want.pop_back();
    }
    FUZZ_CHECK(table.Text(i) == want);
  }
  return 0;
}
