// corvalink: the CUPS backend for a printer queue whose device is the router chosen last with
// the utility ("Server IP"). It reads the stored address and hands the job to CUPS's own lpd
// backend; it never opens a connection of its own.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend_run.h"
#include "platform/process_exec.h"
#include "platform/registry_store.h"

int main(int argc, char** argv) {
  using namespace corvalink;
  std::vector<std::string> args(argv, argv + argc);
  const RegistryStore registry(RegistryStore::DefaultRoot());
  const cups::BackendRun run =
      cups::PlanBackendRun(args, std::getenv("DEVICE_URI"), std::getenv("CUPS_SERVERBIN"), registry);
  std::fputs(run.out.c_str(), stdout);
  std::fflush(stdout);
  std::fputs(run.err.c_str(), stderr);
  std::fflush(stderr);
  if (!run.exec) return run.exitCode;
  std::string err;
  ExecProgram(run.program, run.argv, run.env, &err);
  std::fprintf(stderr, "ERROR: %s\n", err.c_str());
  return cups::CUPS_BACKEND_STOP;
}
