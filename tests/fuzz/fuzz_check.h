#pragma once
// What the fuzz targets share: a check that stops the run with a message (libFuzzer then keeps
// the input that broke it), and a scratch folder of the process's own for inputs that must be
// files.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(cond)                                                               \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);    \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

namespace corvalink::fuzz {

/// A folder under the system's temporary folder, one per process, made on first use.
inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() /
             ("corvalink_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    std::atexit([] { std::error_code ec; std::filesystem::remove_all(ScratchDir(), ec); });
    return d;
  }();
  return dir;
}

}  // namespace corvalink::fuzz
