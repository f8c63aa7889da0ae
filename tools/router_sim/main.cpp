// router_sim: answers as one or many Corvalink routers, for the tests and the lab.

#include <cstdio>
#include <string>

#include "app/exit_codes.h"
#include "platform/console.h"
#include "platform/socket_layer.h"
#include "simulator.h"

namespace {

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  corvalink::sim::SimOptions options;
  std::string err;
  bool wantHelp = false;
  if (!corvalink::sim::ParseSimArgs(argc, argv, options, &err, &wantHelp)) {
    std::fprintf(stderr, "router_sim: %s\n", err.c_str());
    return corvalink::sim::EXIT_USAGE;
  }
  if (wantHelp) {
    std::fputs(corvalink::sim::SimUsage().c_str(), stdout);
    return corvalink::sim::EXIT_OK;
  }

  if (!corvalink::InitializeSocketLayer()) {
    std::fprintf(stderr, "router_sim: cannot start the socket layer (Windows Sockets 1.1)\n");
    return corvalink::sim::EXIT_OPEN_FAILED;
  }
  // SIGTERM and Ctrl-C interrupt the poll, and the loop sees the request at once.
  corvalink::InstallInterruptHandler();

  corvalink::sim::Simulator sim(options, PrintLine);
  if (!sim.Open(&err)) {
    std::fprintf(stderr, "router_sim: %s\n", err.c_str());
    return corvalink::sim::EXIT_OPEN_FAILED;
  }
  PrintLine(sim.ReadyLine());
  sim.StartUpFlood();
  bool stopped = sim.Run([] { return corvalink::InterruptRequested(); });
  PrintLine(stopped ? "STOPPED signal" : "STOPPED max-seconds");
  return corvalink::sim::EXIT_OK;
}
