#pragma once
// Whether a path names a firmware image that can be sent: a regular file that opens for
// reading. A folder, a device (/dev/zero never ends), a pipe or a socket is refused before the
// router is asked for anything, since a transfer of one would never end or never be whole.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvalink {

/// True when `path` is a regular file (after following links) that can be opened for reading;
/// `size` (may be null) then receives its size. False with a message for people in `err`.
bool CheckFirmwareFile(std::string_view path, uint64_t* size, std::string* err);

}  // namespace corvalink
