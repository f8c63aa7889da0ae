#include "fleet_upgrade.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "cli_args.h"
#include "discovery/router_table.h"
#include "fleet_report.h"
#include "fleet_run.h"
#include "password/password_check.h"
#include "password_file.h"
#include "password_input.h"
#include "platform/console.h"
#include "platform/datagram_trace.h"
#include "platform/ms_clock.h"
#include "router_output.h"
#include "upgrade/firmware_file.h"

namespace corvalink::cli {
namespace {

// The passwords a fleet upgrade may use: the file's, by MAC, then the one read from standard
// input. Without either a router with a password is asked for at the terminal, if there is one.
struct FleetPasswords {
  std::vector<PasswordEntry> byMac;
  bool haveStdin = false;
  PasswordBuffer fromStdin;
  bool mayPrompt = false;
};

FleetTarget NamedRow(const std::string& name, FleetState state, std::string message) {
  FleetTarget t;
  t.row.router = name;
  t.row.state = state;
  t.row.message = std::move(message);
  return t;
}

FleetTarget TargetFor(const RouterTable& table, int slot) {
  FleetTarget t;
  t.record = table.Slot(slot);
  t.row.router = MacText(t.record.macAddress);
  t.row.ip = Ipv4ToText(t.record.ipAddress);
  return t;
}

// The routers the command names, in the order named, each once; a name no router (or more
// than one) answered to gets a row of its own that says so.
std::vector<FleetTarget> ChooseTargets(const FleetCommand& command,
                                       const std::vector<RouterSelector>& selectors,
                                       const Discovery& found) {
  std::vector<FleetTarget> targets;
  auto add = [&](FleetTarget t) {
    const bool seen = std::any_of(targets.begin(), targets.end(), [&](const FleetTarget& o) {
      return !o.row.ip.empty() && o.row.router == t.row.router;
    });
    if (!seen) targets.push_back(std::move(t));
  };
  if (command.all) {
    for (int slot : found.table.NewestFirst()) add(TargetFor(found.table, slot));
    return targets;
  }
  for (std::size_t i = 0; i < selectors.size(); ++i) {
    const std::vector<int> slots = FindRouters(found.table, selectors[i]);
    if (slots.size() == 1) {
      add(TargetFor(found.table, slots[0]));
    } else if (slots.empty()) {
      targets.push_back(NamedRow(command.routers[i], FleetState::NotFound,
                                 "no router answered to this name (searched " + found.where +
                                     ")"));
    } else {
      targets.push_back(NamedRow(command.routers[i], FleetState::Ambiguous,
                                 std::to_string(slots.size()) +
                                     " routers answered with this IP address; name the one "
                                     "you mean by its MAC address"));
    }
  }
  return targets;
}

// Checks one router's password as the password dialog would; the row says why when it fails.
// False only when Ctrl-C came during a prompt.
bool CheckFleetPassword(FleetTarget& t, FleetPasswords& passwords) {
  if (CheckRouterPassword(t.record.password, "") == PasswordVerdict::Accepted) return true;
  auto entry = std::find_if(passwords.byMac.begin(), passwords.byMac.end(),
                            [&](const PasswordEntry& e) { return e.mac == t.record.macAddress; });
  PasswordBuffer typed;
  std::string_view password;
  if (entry != passwords.byMac.end()) {
    password = entry->password;
  } else if (passwords.haveStdin) {
    password = passwords.fromStdin.Text();
  } else if (passwords.mayPrompt) {
    std::string err;
    const PasswordRead read =
        PromptPassword("Password for router " + t.row.router + " at " + t.row.ip + ": ", typed, &err);
    if (read == PasswordRead::Interrupted || InterruptRequested()) return false;
    if (read == PasswordRead::Failed) {
      t.row.state = FleetState::NoPassword;
      t.row.message = err;
      return true;
    }
    password = typed.Text();
  } else {
    t.row.state = FleetState::NoPassword;
    t.row.message = "the router has a password and none was given for it (--password-file, "
                    "--password-stdin); nothing was sent to it";
    return true;
  }
  if (CheckRouterPassword(t.record.password, password) != PasswordVerdict::Accepted) {
    t.row.state = FleetState::PasswordRefused;
    t.row.message = "Password Error: the password was refused; nothing was sent to the router";
  }
  return true;
}

// Shows the routers --all found and asks whether to go on. True: go on.
bool ConfirmAll(const FleetCommand& command, const Discovery& found, std::FILE* out) {
  std::fputs(FormatRouterTable(found.table).c_str(), out);
  if (command.yes) return true;
  const int count = found.table.Count();
  std::fprintf(out, "Upgrade %s with \"%s\"? [y/N] ",
               count == 1 ? "this router" : ("these " + std::to_string(count) + " routers").c_str(),
               command.file.c_str());
  std::fflush(out);
  std::string answer;
  for (;;) {
    char c = 0;
    const ConsoleRead read = ReadInputByte(c, nullptr);
    if (read != ConsoleRead::Byte || c == '\n') break;
    if (answer.size() < 16) answer += c;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes";
}

// What can be checked before anything goes on the network. Returns EXIT_OK or the code to end
// with, after saying why.
int CheckFleetCommand(const FleetCommand& command, std::vector<RouterSelector>& selectors) {
  if (command.all == !command.routers.empty()) {
    PrintError(command.all ? "upgrade: --all and --router cannot be used together"
                           : "upgrade: name the routers with --router MAC|IP (repeatable) or "
                             "--all");
    return EXIT_USAGE;
  }
  if (command.all && !command.yes &&
      (command.passwordStdin || !IsTerminal(ConsoleStream::Input))) {
    PrintError("upgrade --all asks before it starts, at a terminal; add --yes to go on without "
               "asking");
    return EXIT_USAGE;
  }
  for (const std::string& name : command.routers) {
    std::string err;
    std::optional<RouterSelector> selector = ParseRouterSelector(name, &err);
    if (!selector) {
      PrintError("--router: " + err);
      return EXIT_USAGE;
    }
    selectors.push_back(*selector);
  }
  // Each router's upgrade opens the file for its own transfer; this one only checks it.
  std::string err;
  if (!OpenFirmwareFile(command.file, &err)) {
    PrintError(err);
    return EXIT_USAGE;
  }
  return EXIT_OK;
}

int ReadPasswords(const FleetCommand& command, FleetPasswords& passwords) {
  if (!command.passwordFile.empty()) {
    std::string err;
    std::optional<std::vector<PasswordEntry>> entries = ReadPasswordFile(command.passwordFile, &err);
    if (!entries) {
      PrintError(err);
      return EXIT_USAGE;
    }
    passwords.byMac = std::move(*entries);
  }
  if (command.passwordStdin) {
    std::string err;
    const PasswordRead read = ReadPasswordFromInput(passwords.fromStdin, &err);
    if (int code = PasswordReadExit(read, err); code != EXIT_OK) return code;
    passwords.haveStdin = true;
  }
  passwords.mayPrompt = !command.passwordStdin && IsTerminal(ConsoleStream::Input);
  return EXIT_OK;
}

FleetRunOptions RunOptions(const FleetCommand& command, std::FILE* out, ConsoleStream stream,
                           std::size_t routers) {
  FleetRunOptions run;
  run.file = command.file;
  run.jobs = command.jobs;
  run.upgrade.handshakeTimeoutMs =
      static_cast<uint32_t>(std::llround(std::max(0.0, command.handshakeTimeoutSeconds) * 1000.0));
  run.upgrade.upgradePort = command.upgradePort;
  run.upgrade.tftpPort = command.tftpPort;
  run.out = out;
  run.stream = stream;
  run.display = ChooseFleetDisplay(IsTerminal(stream), EnableTerminalSequences(stream),
                                   DatagramTraceOn(), TerminalRows(stream), routers);
  return run;
}

// The table for people (on standard error with --json, which then goes to standard output).
void PrintSummary(const std::vector<FleetRow>& rows, bool json) {
  const std::string summary = FormatFleetTable(rows);
  if (json) {
    std::fputs(summary.c_str(), stderr);
    std::fputs(FormatFleetJson(rows).c_str(), stdout);
  } else {
    std::fputs(("\n" + summary).c_str(), stdout);
  }
  if (std::any_of(rows.begin(), rows.end(),
                  [](const FleetRow& r) { return r.state == FleetState::FlashInterrupted; })) {
    PrintError("warning: the routers marked flash-interrupted took the whole image and may still "
               "be writing it to their flash: do not power them off or restart them for a while");
  }
}

}  // namespace

int RunFleetUpgradeCommand(const FleetCommand& command) {
  std::vector<RouterSelector> selectors;
  if (int code = CheckFleetCommand(command, selectors); code != EXIT_OK) return code;
  FleetPasswords passwords;
  if (int code = ReadPasswords(command, passwords); code != EXIT_OK) return code;

  // With --json the standard output carries the JSON alone; people read the rest on stderr.
  std::FILE* out = command.json ? stderr : stdout;
  const ConsoleStream stream = command.json ? ConsoleStream::Error : ConsoleStream::Output;

  MsClock clock;
  Discovery found;
  const bool allByMac = std::all_of(selectors.begin(), selectors.end(), [](const RouterSelector& s) {
    return s.kind == RouterSelector::Kind::Mac;
  });
  std::function<bool()> stopWhen;
  if (!command.all && allByMac) {
    stopWhen = [&] {
      return std::all_of(selectors.begin(), selectors.end(), [&](const RouterSelector& s) {
        return !FindRouters(found.table, s).empty();
      });
    };
  }
  if (int code = Discover(command.search, clock, found, stopWhen); code != EXIT_OK) return code;
  if (command.all && found.table.Count() == 0) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g s", command.search.timeoutSeconds);
    PrintError(std::string("no router answered within ") + seconds + " (searched " + found.where +
               ")");
    return EXIT_NOT_FOUND;
  }
  if (command.all && !ConfirmAll(command, found, out)) {
    PrintError("nothing was sent: the upgrade was not confirmed");
    return EXIT_INTERRUPTED;
  }

  std::vector<FleetTarget> targets = ChooseTargets(command, selectors, found);
  for (FleetTarget& t : targets) {
    if (t.row.state != FleetState::Waiting) continue;
    if (!CheckFleetPassword(t, passwords)) {
      PrintError("interrupted; nothing was sent to any router");
      return EXIT_INTERRUPTED;
    }
  }
  passwords.fromStdin.Clear();

  const FleetRunOptions run = RunOptions(command, out, stream, targets.size());
  std::fprintf(out, "Upgrading %zu router%s with \"%s\", up to %d at once\n", targets.size(),
               targets.size() == 1 ? "" : "s", command.file.c_str(), command.jobs);
  RunFleet(targets, run);

  std::vector<FleetRow> rows;
  for (const FleetTarget& t : targets) rows.push_back(t.row);
  PrintSummary(rows, command.json);
  return FleetExitCode(rows, InterruptRequested());
}

}  // namespace corvalink::cli
