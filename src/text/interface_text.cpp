#include "text/interface_text.h"

#include <algorithm>
#include <string>

#include "platform/ansi_path.h"
#include "platform/current_dir.h"
#include "platform/text_file.h"
#include "text/ui_texts.h"

namespace corvalink {
namespace {

// "Path" is read into a buffer of this size, and the file name is then built in the same bytes:
// the folder, a separator, "lpr.txt" and a NUL must all fit, which leaves 91 characters.
constexpr std::size_t PATH_BUFFER_SIZE = 100;
constexpr std::size_t MAX_PATH_VALUE_LENGTH = PATH_BUFFER_SIZE - 1 - (sizeof TEXT_FILE_NAME - 1) - 1;
static_assert(MAX_PATH_VALUE_LENGTH == 91);

}  // namespace

void TrimLineEnd(TextSlot& slot) {
  std::size_t n = 0;
  while (n < slot.size() && slot[n] != '\0') ++n;
  if (n == 0 || slot[n - 1] != '\n') return;
  std::size_t end = n - 1;
  if (end > 0 && slot[end - 1] == '\r') --end;
  std::fill(slot.begin() + static_cast<std::ptrdiff_t>(end),
            slot.begin() + static_cast<std::ptrdiff_t>(n), '\0');
}

std::optional<std::filesystem::path> TextFileFromRegistry(const Registry& registry) {
  // A value bigger than the buffer is not read at all, as the system registry reports it.
  std::optional<RegistryValue> value =
      registry.ReadValue(HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, PATH_VALUE, PATH_BUFFER_SIZE);
  if (!value) return std::nullopt;

  // Strings are often stored without their NUL, and a shorter one still ends inside the buffer.
  // One that fills all 100 bytes without a NUL has no end, but it is also longer than the 91
  // characters that leave room for the file name, so the length test refuses it as well.
  const std::vector<uint8_t>& data = value->data;
  std::string folder(data.begin(), std::find(data.begin(), data.end(), uint8_t{0}));
  if (folder.size() > MAX_PATH_VALUE_LENGTH) return std::nullopt;

  // Plain concatenation, as with the backslash on the original platform: "/opt/lpr/" gives
  // "/opt/lpr//lpr.txt", which names the same file.
  folder += static_cast<char>(std::filesystem::path::preferred_separator);
  folder += TEXT_FILE_NAME;
  return PathFromAnsi(folder);
}

bool LoadInterfaceTextFile(InterfaceTextTable& table, const Registry& registry,
                           const std::filesystem::path& currentDir) {
  TextFile file;
  if (std::optional<std::filesystem::path> fromRegistry = TextFileFromRegistry(registry)) {
    // A relative "Path" is relative to the current directory, like any relative name.
    file = TextFile(currentDir / *fromRegistry);
  }
  if (!file.IsOpen()) file = TextFile(currentDir / TEXT_FILE_NAME);
  if (!file.IsOpen()) return false;

  table.loaded = true;
  for (TextSlot& slot : table.slots) {
    if (!file.ReadLine(slot)) break;
  }
  for (std::size_t i = 0; i < TEXT_SLOT_COUNT; ++i) {
    if (LoaderTrimsSlot(i)) TrimLineEnd(table.slots[i]);
  }
  return true;
}

bool ReloadInterfaceText(InterfaceTextTable& table, const Registry& registry) {
  table = InterfaceTextTable{};
  return LoadInterfaceTextFile(table, registry, CurrentDirectory());
}

}  // namespace corvalink
