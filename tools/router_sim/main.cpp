// router_sim: answers as one or many Corvalink routers, for the tests and the lab.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "app/exit_codes.h"
#include "simulator.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

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

  // No SA_RESTART: a signal interrupts the poll, and the loop sees the flag at once.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  corvalink::sim::Simulator sim(options, PrintLine);
  if (!sim.Open(&err)) {
    std::fprintf(stderr, "router_sim: %s\n", err.c_str());
    return corvalink::sim::EXIT_OPEN_FAILED;
  }
  PrintLine(sim.ReadyLine());
  sim.StartUpFlood();
  bool stopped = sim.Run(g_stop);
  PrintLine(stopped ? "STOPPED signal" : "STOPPED max-seconds");
  return corvalink::sim::EXIT_OK;
}
