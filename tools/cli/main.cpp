// corvalink-cli: finds the routers, stores the chosen one's address for the printer-port
// software, and upgrades a router's firmware, from a terminal or a script.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli_args.h"
#include "commands.h"
#include "help_format.h"
#include "interfaces_command.h"
#include "platform/console.h"
#include "platform/socket_layer.h"
#include "trace_output.h"
#include "usage_errors.h"

namespace {

using namespace corvalink;
using namespace corvalink::cli;

constexpr std::string_view COMMANDS[] = {"search", "install", "upgrade", "interfaces", "help"};

// A number of seconds, checked by the command line's own parser: CLI11's range check lets NaN
// through, since NaN compares false with both ends.
CLI::Validator Seconds(double min, double max) {
  return CLI::Validator(
      [min, max](std::string& text) {
        return ParseSeconds(text, min, max, nullptr) ? std::string()
                                                     : SecondsValueError(text, min, max);
      },
      "");
}

// Options of every command that searches. --destination is for tests (it aims the search at a
// simulator on loopback) and is not listed in the help.
void AddSearchOptions(CLI::App* command, SearchOptions& options, bool& verbose) {
  command->add_option("-t,--timeout", options.timeoutSeconds,
                      "Seconds to collect replies (default 2)")
      ->type_name("SECONDS")
      ->check(Seconds(0.01, 3600.0));
  command->add_option(
      "-i,--interface", options.interfaceName,
      "Search only the network on this interface (its directed broadcast) instead of "
      "every interface; `corvalink-cli interfaces` lists them")
      ->type_name("NAME");
  command->add_option(
      "--to", options.targets,
      "Also ask this address (a router's, or a routed subnet's broadcast such as 10.1.2.255) "
      "or every address of this block (at most a /22, about a second per /24); repeatable")
      ->type_name("ADDRESS|CIDR")
      ->take_all()
      ->allow_extra_args(false);
  command->add_flag("-v,--verbose", verbose,
                    "Print each datagram sent and received on standard error, and why one was "
                    "refused");
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

// `help [COMMAND]`: the usage of the program or of one command, on standard output.
int RunHelpCommand(const CLI::App& app, const std::string& topic) {
  if (topic.empty()) {
    std::fputs(app.help().c_str(), stdout);
    return EXIT_OK;
  }
  for (std::string_view c : COMMANDS) {
    if (topic == c) {
      std::fputs(app.get_subcommand(topic)->help("corvalink-cli").c_str(), stdout);
      return EXIT_OK;
    }
  }
  PrintError("help: unknown command '" + topic + "' (see corvalink-cli --help)");
  return EXIT_USAGE;
}

// The parse error on one line, in the command line's words, with where to read more.
int ReportUsageError(const CLI::App& app, const CLI::ParseError& e) {
  std::string see = "corvalink-cli";
  for (const CLI::App* sub : app.get_subcommands()) see += " " + sub->get_name();
  PrintError(OneLine(UsageErrorText(e.what(), COMMANDS)) + " (see " + see + " --help)");
  return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Finds Corvalink routers on the local network, stores the chosen router's "
               "address for the printer-port software, and upgrades router firmware."};
  app.formatter(std::make_shared<HelpFormatter>());
  app.name("corvalink-cli");
  app.footer("Exit codes: 0 done, 1 system error, 2 bad usage, 3 router not found, "
             "4 address not stored, 5 password refused, 6 no acknowledgement, "
             "7 transfer failed, 130 interrupted.");
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("-V,--version", std::string("corvalink-cli ") + CORVALINK_VERSION,
                       "Print the version and exit");
  app.require_subcommand(1);
  bool verbose = false;
  // Before the command too, as `corvalink-cli -v search` is how such tools are often called.
  app.add_flag("-v,--verbose", verbose,
               "Print each datagram sent and received on standard error, and why one was "
               "refused (before or after the command)");

  SearchCommand search;
  CLI::App* searchCmd = app.add_subcommand(
      "search", "List the routers that answer a search on every interface: MAC, IP address, "
                "mask, the interface that found it, and location");
  AddSearchOptions(searchCmd, search.search, verbose);
  searchCmd->add_flag("-j,--json", search.json,
                      "Print a JSON array of objects with the keys mac, ip, mask, location, "
                      "interface and local_ip");

  InstallCommand install;
  CLI::App* installCmd = app.add_subcommand(
      "install", "Find a router and store its address as \"Server IP\" for the printer-port "
                 "software");
  installCmd->add_option("router", install.router, "The router's MAC or IP address")
      ->type_name("MAC|IP")
      ->required();
  AddSearchOptions(installCmd, install.search, verbose);

  UpgradeCommand upgrade;
  CLI::App* upgradeCmd =
      app.add_subcommand("upgrade", "Find a router, check its password and send it new firmware");
  upgradeCmd->add_option("router", upgrade.router, "The router's MAC or IP address")
      ->type_name("MAC|IP")
      ->required();
  upgradeCmd->add_option("file", upgrade.file, "The firmware image file")
      ->type_name("FILE")
      ->required();
  AddSearchOptions(upgradeCmd, upgrade.search, verbose);
  upgradeCmd->add_flag("--password-stdin", upgrade.passwordStdin,
                       "Read the router's password from the first line of standard input "
                       "instead of asking at the terminal");
  upgradeCmd->add_option("--handshake-timeout", upgrade.handshakeTimeoutSeconds,
                         "Seconds to wait for the router to accept the upgrade (default 30)")
      ->type_name("SECONDS")
      ->check(Seconds(0.01, 86400.0));
  upgradeCmd->add_option("--upgrade-port", upgrade.upgradePort, "UDP port of upgrade requests")
      ->group("")
      ->check(CLI::Range(1, 65535));
  upgradeCmd->add_option("--tftp-port", upgrade.tftpPort, "UDP port of the TFTP write request")
      ->group("")
      ->check(CLI::Range(1, 65535));

  CLI::App* interfacesCmd = app.add_subcommand(
      "interfaces", "List the IPv4 interfaces that --interface accepts: name, address, "
                    "broadcast address, up or down");
  std::string helpTopic;
  CLI::App* helpCmd = app.add_subcommand("help", "Print the usage of the program or of a command");
  helpCmd->add_option("command", helpTopic, "The command to describe")->type_name("");

  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (const std::optional<std::string> unknown = UnknownCommand(args, COMMANDS)) {
    PrintError("unknown command '" + *unknown + "' (see corvalink-cli --help)");
    return EXIT_USAGE;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return ReportUsageError(app, e);
  }
  if (helpCmd->parsed()) return EndOutput(RunHelpCommand(app, helpTopic));
  if (interfacesCmd->parsed()) return EndOutput(RunInterfacesCommand());
  if (verbose) EnableVerboseTrace();

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
