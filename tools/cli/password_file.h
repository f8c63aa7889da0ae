#pragma once
// The password file of a fleet upgrade: one line per router, its MAC address, then blanks,
// then its password, so a script can upgrade routers with different passwords without a
// password ever appearing on a command line.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/router_record.h"

namespace corvalink::cli {

/// A file larger than this is no password file.
inline constexpr std::size_t PASSWORD_FILE_MAX_BYTES = 1 << 20;

struct PasswordEntry {
  MacAddress mac{};
  /// The password's bytes as written: the rest of the line after the blanks that follow the
  /// MAC, without the line end (LF or CR LF). Blanks inside or at the end belong to it.
  std::string password;
};

/// Reads the lines of a password file. Blank lines and lines starting with '#' are skipped.
/// A line without a password, a MAC that does not parse, or a MAC given twice makes the whole
/// file unusable: nothing comes back and `err` names `name`, the line and the fault (never the
/// password).
std::optional<std::vector<PasswordEntry>> ParsePasswordFile(std::string_view text,
                                                            const std::string& name,
                                                            std::string* err);

/// The same for the file at `path`, which must be a regular file of at most
/// PASSWORD_FILE_MAX_BYTES.
std::optional<std::vector<PasswordEntry>> ReadPasswordFile(const std::string& path,
                                                           std::string* err);

}  // namespace corvalink::cli
