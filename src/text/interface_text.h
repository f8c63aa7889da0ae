#pragma once
// Finds the interface text file "lpr.txt" (in the folder the registry value "Path" names, else
// in the current directory) and reads its first 21 slots into the table.

#include <filesystem>
#include <optional>

#include "platform/registry.h"
#include "text/text_table.h"

namespace corvalink {

inline constexpr char TEXT_FILE_NAME[] = "lpr.txt";
inline constexpr char PATH_VALUE[] = "Path";

/// Removes one line end (LF or CR LF) from the end of the slot's text.
void TrimLineEnd(TextSlot& slot);

/// Where the file would be opened from "Path": the value joined with the platform's separator.
/// Nothing when the value is missing, over-long (more than 91 characters) or unterminated.
std::optional<std::filesystem::path> TextFileFromRegistry(const Registry& registry);

/// Clears nothing: reads the found file (if any) into table.slots, sets table.loaded, and trims
/// the slots the loader owns (LoaderTrimsSlot; the upgrade dialog trims its own). Returns
/// whether a file was found. `currentDir` stands for the process's current directory; a relative
/// "Path" is taken relative to it.
bool LoadInterfaceTextFile(InterfaceTextTable& table, const Registry& registry,
                           const std::filesystem::path& currentDir);

/// What a window does when it opens: clears the whole table (slots and flag) and loads it
/// afresh from `registry`'s "Path" or the process's current directory (CurrentDirectory).
/// Returns whether a file was found.
bool ReloadInterfaceText(InterfaceTextTable& table, const Registry& registry);

}  // namespace corvalink
