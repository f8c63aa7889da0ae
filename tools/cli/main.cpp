// corvalink-cli: finds the routers, stores the chosen one's address for the printer-port
// software, and upgrades a router's firmware, from a terminal or a script.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "app/version_info.h"
#include "cli_args.h"
#include "commands.h"
#include "platform/console.h"
#include "platform/socket_layer.h"

namespace {

using namespace corvalink;
using namespace corvalink::cli;

// A number of seconds, checked by the command line's own parser: CLI11's range check lets NaN
// through, since NaN compares false with both ends.
CLI::Validator Seconds(double min, double max) {
  return CLI::Validator(
      [min, max](std::string& text) {
        std::string err;
        return ParseSeconds(text, min, max, &err) ? std::string() : err;
      },
      "SECONDS");
}

// Options of every command that searches. --destination is for tests (it aims the search at a
// simulator on loopback) and is not listed in the help.
void AddSearchOptions(CLI::App* command, SearchOptions& options) {
  command->add_option("--timeout", options.timeoutSeconds,
                      "Seconds to collect replies (default 2)")
      ->check(Seconds(0.01, 3600.0));
  command->add_option(
      "--interface", options.interfaceName,
      "Search only the network on this interface (directed broadcast) instead of "
      "255.255.255.255");
  command->add_option("--destination", options.destination, "Send the search to ADDR:PORT")
      ->group("");
}

// CLI11 reports several errors over more than one line; ours is always one.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Finds Corvalink routers on the local network, stores the chosen router's "
               "address for the printer-port software, and upgrades router firmware.\n\n"
               "Exit codes: 0 done, 1 system error, 2 bad usage, 3 router not found, "
               "4 address not stored, 5 password refused, 6 no acknowledgement, "
               "7 transfer failed, 130 interrupted."};
  app.name("corvalink-cli");
  app.set_version_flag("--version", std::string("corvalink-cli (") + VERSION_PRODUCT_NAME + " " +
                                        VERSION_PRODUCT_VERSION + ")");
  app.require_subcommand(1);

  SearchCommand search;
  CLI::App* searchCmd = app.add_subcommand(
      "search", "List the routers that answer a search: MAC, IP address, mask and location");
  AddSearchOptions(searchCmd, search.search);
  searchCmd->add_flag("--json", search.json,
                      "Print a JSON array of objects with the keys mac, ip, mask and location");

  InstallCommand install;
  CLI::App* installCmd = app.add_subcommand(
      "install", "Find a router and store its address as \"Server IP\" for the printer-port "
                 "software");
  installCmd->add_option("router", install.router, "The router's MAC or IP address")->required();
  AddSearchOptions(installCmd, install.search);

  UpgradeCommand upgrade;
  CLI::App* upgradeCmd =
      app.add_subcommand("upgrade", "Find a router, check its password and send it new firmware");
  upgradeCmd->add_option("router", upgrade.router, "The router's MAC or IP address")->required();
  upgradeCmd->add_option("file", upgrade.file, "The firmware image file")->required();
  AddSearchOptions(upgradeCmd, upgrade.search);
  upgradeCmd->add_flag("--password-stdin", upgrade.passwordStdin,
                       "Read the router's password from the first line of standard input "
                       "instead of asking at the terminal");
  upgradeCmd->add_option("--handshake-timeout", upgrade.handshakeTimeoutSeconds,
                         "Seconds to wait for the router to accept the upgrade (default 30)")
      ->check(Seconds(0.01, 86400.0));
  upgradeCmd->add_option("--upgrade-port", upgrade.upgradePort, "UDP port of upgrade requests")
      ->group("")
      ->check(CLI::Range(1, 65535));
  upgradeCmd->add_option("--tftp-port", upgrade.tftpPort, "UDP port of the TFTP write request")
      ->group("")
      ->check(CLI::Range(1, 65535));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    PrintError(OneLine(e.what()) + " (see corvalink-cli --help)");
    return EXIT_USAGE;
  }

  // Every command opens a socket. Windows grants the socket layer only to a program that asks.
  if (!InitializeSocketLayer()) {
    PrintError("cannot start the socket layer (Windows Sockets 1.1)");
    return EXIT_ERROR;
  }
  InstallInterruptHandler();
  // A closed pipe on standard output is reported at the end like any failed write.
  ReportBrokenPipeAsError();
  if (searchCmd->parsed()) return EndOutput(RunSearchCommand(search));
  if (installCmd->parsed()) return EndOutput(RunInstallCommand(install));
  return EndOutput(RunUpgradeCommand(upgrade));
}
