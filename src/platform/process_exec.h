#pragma once
// Handing this process over to another program, as a CUPS backend passes its job on to another
// backend: same process, same open descriptors (the job's data on standard input, CUPS's back
// and side channels), another program image.

#include <string>
#include <utility>
#include <vector>

namespace corvalink {

/// Environment variables to set (or replace) for the new program: name, value.
using EnvironmentChanges = std::vector<std::pair<std::string, std::string>>;

/// Replaces this process with the program at `path`, run with `argv` (argv[0] included, which
/// need not be the path) and this process's environment with `changes` applied. Returns only
/// when that failed: false with `err` naming the program and the cause.
bool ExecProgram(const std::string& path, const std::vector<std::string>& argv,
                 const EnvironmentChanges& changes, std::string* err);

}  // namespace corvalink
