// corvalink-cli: finds the routers, stores the chosen one's address for the printer-port
// software, and upgrades a router's firmware, from a terminal or a script.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/version_info.h"
#include "cli_args.h"
#include "commands.h"
#include "discovery/router_table.h"
#include "fleet_upgrade.h"
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
      "Also ask this address (a router's, or a routed subnet's broadcast such as 198.18.2.255) "
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

// Whether the upgrade command was given in its fleet form: routers named by option, or any
// option only that form has.
bool FleetForm(const CLI::App* upgradeCmd) {
  for (const char* option : {"--router", "--all", "--yes", "--jobs", "--password-file", "--json"}) {
    if (upgradeCmd->count(option) > 0) return true;
  }
  return false;
}

// `upgrade MAC|IP FILE` or `upgrade FILE --router ...|--all`; the single router of the first
// form joins the fleet when a fleet option is given with it.
int CheckUpgradeArgs(const CLI::App* upgradeCmd, std::vector<std::string>& args,
                     FleetCommand& fleet) {
  const bool fleetForm = FleetForm(upgradeCmd);
  if (args.size() == 2 && fleetForm && (fleet.all || !fleet.routers.empty())) {
    PrintError("upgrade: give the routers either before FILE or with --router/--all, not both "
               "(see corvalink-cli upgrade --help)");
    return EXIT_USAGE;
  }
  if (args.size() == 1 && !fleet.all && fleet.routers.empty()) {
    PrintError("upgrade: name the router before FILE, or the routers with --router MAC|IP or "
               "--all (see corvalink-cli upgrade --help)");
    return EXIT_USAGE;
  }
  if (args.size() == 2 && fleetForm) {
    fleet.routers.push_back(args[0]);
    args.erase(args.begin());
  }
  return EXIT_OK;
}

int RunUpgrade(const std::vector<std::string>& args, UpgradeCommand& upgrade,
               FleetCommand& fleet) {
  if (args.size() == 2) {
    upgrade.router = args[0];
    upgrade.file = args[1];
    return RunUpgradeCommand(upgrade);
  }
  fleet.file = args[0];
  fleet.search = upgrade.search;
  fleet.passwordStdin = upgrade.passwordStdin;
  fleet.handshakeTimeoutSeconds = upgrade.handshakeTimeoutSeconds;
  fleet.upgradePort = upgrade.upgradePort;
  fleet.tftpPort = upgrade.tftpPort;
  return RunFleetUpgradeCommand(fleet);
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
  app.set_version_flag("-V,--version", std::string("corvalink-cli ") + corvalink::VERSION_TEXT,
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
  FleetCommand fleet;
  std::vector<std::string> upgradeArgs;
  CLI::App* upgradeCmd = app.add_subcommand(
      "upgrade", "Find routers, check their passwords and send them new firmware: one router "
                 "(MAC|IP FILE), or several at once (FILE --router ... or --all)");
  upgradeCmd->add_option("args", upgradeArgs,
                         "The router's MAC or IP address and the firmware image file; with "
                         "--router or --all, the file alone")
      ->type_name("[MAC|IP] FILE")
      ->expected(1, 2)
      ->required();
  AddSearchOptions(upgradeCmd, upgrade.search, verbose);
  upgradeCmd->add_option("-r,--router", fleet.routers,
                         "A router to upgrade, by MAC or IP address; repeat for more")
      ->type_name("MAC|IP")
      ->allow_extra_args(false);
  upgradeCmd->add_flag("-a,--all", fleet.all,
                       "Upgrade every router the search finds, after listing them and asking");
  upgradeCmd->add_flag("-y,--yes", fleet.yes, "With --all: do not ask before starting");
  upgradeCmd->add_option("--jobs", fleet.jobs,
                         "Routers upgraded at once (default 8), each with its own sockets")
      ->type_name("N")
      ->check(CLI::Range(1, MAX_ROUTERS).description(""));
  upgradeCmd->add_option("--password-file", fleet.passwordFile,
                         "Read the routers' passwords from FILE, one line per router: its MAC "
                         "address, blanks, its password")
      ->type_name("FILE");
  upgradeCmd->add_flag("--password-stdin", upgrade.passwordStdin,
                       "Read the router's password from the first line of standard input "
                       "instead of asking at the terminal (several routers: the password of "
                       "those not in --password-file)");
  upgradeCmd->add_flag("-j,--json", fleet.json,
                       "Several routers: print the summary as a JSON array on standard output "
                       "(progress goes to standard error)");
  upgradeCmd->add_option("--handshake-timeout", upgrade.handshakeTimeoutSeconds,
                         "Seconds to wait for a router to accept the upgrade (default 30)")
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
  if (upgradeCmd->parsed()) {
    if (int code = CheckUpgradeArgs(upgradeCmd, upgradeArgs, fleet); code != EXIT_OK) return code;
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
  return EndOutput(RunUpgrade(upgradeArgs, upgrade, fleet));
}
