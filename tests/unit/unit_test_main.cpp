// The unit tests' main: the socket layer is started once, as every program of ours starts it,
// before any test opens a socket (Windows gives none to a program that did not ask).

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/socket_layer.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!corvalink::InitializeSocketLayer()) {
    std::fprintf(stderr, "unit_tests: cannot start the socket layer\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
