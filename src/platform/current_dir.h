#pragma once
// The process's current directory, in which relative names (the interface text file, a
// relative "Path") are looked up.

#include <filesystem>

namespace corvalink {

/// The current directory, or "." when the system cannot say which it is (it was removed, or
/// its name cannot be read): relative names then still go to it.
std::filesystem::path CurrentDirectory();

}  // namespace corvalink
