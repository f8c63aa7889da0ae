#include "commands.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "cli_args.h"
#include "interfaces_command.h"
#include "discovery/interface_broadcast.h"
#include "discovery/router_table.h"
#include "discovery/search_loop.h"
#include "discovery/search_socket.h"
#include "discovery/search_targets.h"
#include "password/password_check.h"
#include "password_input.h"
#include "platform/console.h"
#include "platform/datagram_trace.h"
#include "platform/ms_clock.h"
#include "platform/registry.h"
#include "portsetup/server_address.h"
#include "progress_display.h"
#include "router_output.h"
#include "upgrade/firmware_file.h"
#include "upgrade/handshake.h"
#include "upgrade/upgrade_socket.h"

namespace corvalink::cli {

namespace {

// The first error a write to standard output met; the run ends with it (EndOutput).
int g_outputError = 0;

void NoteOutputError(int err) {
  if (g_outputError == 0 && err != 0) g_outputError = err;
}

void FlushOutput() {
  if (std::fflush(stdout) != 0) NoteOutputError(errno != 0 ? errno : EIO);
}

uint32_t ToMs(double seconds) {
  return static_cast<uint32_t>(std::llround(std::max(0.0, seconds) * 1000.0));
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

std::string RouterLine(const RouterRecord& r) {
  const RouterRowCells c = RowCells(r);
  return "router " + c.mac + " at " + c.ip + " (mask " + c.mask + ", location \"" +
         TerminalSafe(c.location) + "\")";
}

// Where a search goes: the limited broadcast as in the window (out of every interface), a
// directed broadcast on a named interface, or (tests) a given address and port; then the
// addresses and blocks named with --to.
bool ResolvePlan(const SearchOptions& options, SearchPlan* plan, std::string* where, int* code) {
  if (!options.destination.empty() && (!options.interfaceName.empty() || !options.targets.empty())) {
    PrintError(std::string("--destination cannot be used together with ") +
               (options.interfaceName.empty() ? "--to" : "--interface"));
    *code = EXIT_USAGE;
    return false;
  }
  plan->timeoutMs = ToMs(options.timeoutSeconds);
  for (const std::string& text : options.targets) {
    std::string err;
    std::optional<SearchTarget> target = ParseSearchTarget(text, &err);
    if (!target) {
      PrintError("--to: " + err);
      *code = EXIT_USAGE;
      return false;
    }
    plan->targets.push_back(*target);
  }
  std::string asked;
  for (const std::string& text : options.targets) asked += (asked.empty() ? "" : ", ") + text;
  if (!options.destination.empty()) {
    std::string err;
    std::optional<Endpoint> e = ParseEndpoint(options.destination, &err);
    if (!e) {
      PrintError("--destination: " + err);
      *code = EXIT_USAGE;
      return false;
    }
    plan->destination = *e;
    *where = Ipv4ToText(e->address) + ":" + std::to_string(e->port);
    return true;
  }
  plan->destination = Endpoint{{255, 255, 255, 255}, DISCOVERY_PORT};
  if (!options.interfaceName.empty()) {
    std::string err;
    std::optional<Ipv4> broadcast = InterfaceBroadcastAddress(options.interfaceName, &err);
    if (!broadcast) {
      PrintError("--interface: " + err + " (IPv4 interfaces: " + SystemInterfaceSummary() +
                 "; see corvalink-cli interfaces)");
      *code = EXIT_USAGE;
      return false;
    }
    plan->destination.address = *broadcast;
    *where = Ipv4ToText(*broadcast) + " on " + options.interfaceName;
  } else {
    *where = "every network interface";
  }
  if (!asked.empty()) *where += " and " + asked;
  return true;
}

}  // namespace

int Discover(const SearchOptions& options, Clock& clock, Discovery& found,
             const std::function<bool()>& stopWhen) {
  SearchPlan plan;
  int code = EXIT_OK;
  if (!ResolvePlan(options, &plan, &found.where, &code)) return code;

  CSearchSocket socket(nullptr);
  socket.SetArrivalHandler([&found](const Packet& reply, const ReplyArrival& arrival) {
    const AddResult added = found.table.Add(reply);
    if (added == AddResult::Added) {
      found.arrivals[static_cast<std::size_t>(found.table.Count() - 1)] = arrival;
    }
    if (added != AddResult::TableFull) return;
    const MacAddress mac = DecodeReplyRecord(reply).macAddress;
    if (std::find(found.turnedAway.begin(), found.turnedAway.end(), mac) == found.turnedAway.end()) {
      found.turnedAway.push_back(mac);
    }
  });
  std::string socketErr;
  if (!socket.Create(&socketErr)) {
    PrintError("cannot create the search socket: " + socketErr);
    return EXIT_ERROR;
  }
  auto stop = [&stopWhen] { return InterruptRequested() || (stopWhen && stopWhen()); };
  const PollResult polled = RunSearch(socket, found.table, clock, plan, stop);
  for (std::size_t i = 0; i < socket.LegCount(); ++i) {
    const SearchLeg& leg = socket.Leg(i);
    if (leg.sent >= 0) continue;
    // One interface that cannot be searched does not spoil the others.
    FlushOutput();
    std::fprintf(stderr, "corvalink-cli: warning: could not search on %s (%s)%s%s\n",
                 TerminalSafe(leg.via.name).c_str(),
                 leg.via.address ? Ipv4ToText(*leg.via.address).c_str() : "-",
                 leg.error.empty() ? "" : ": ", TerminalSafe(leg.error).c_str());
  }
  socket.Close();
  if (InterruptRequested()) {
    PrintError("interrupted");
    return EXIT_INTERRUPTED;
  }
  if (polled.end == PollEnd::Failed) {
    PrintError(polled.error);
    return EXIT_ERROR;
  }
  if (!found.turnedAway.empty()) {
    FlushOutput();
    std::fprintf(stderr,
                 "corvalink-cli: warning: more than %d routers answered; %zu more were not "
                 "listed\n",
                 MAX_ROUTERS, found.turnedAway.size());
  }
  return EXIT_OK;
}

namespace {

// Searches for the router the user named and copies its record into `selected` the way the
// window's list selection does. A MAC ends the search as soon as it answers; an IP waits the
// whole time, since two routers may answer with one address and only one may be chosen.
int FindChosenRouter(const SearchOptions& options, const std::string& routerText, Clock& clock,
                     RouterRecord& selected) {
  std::string err;
  std::optional<RouterSelector> selector = ParseRouterSelector(routerText, &err);
  if (!selector) {
    PrintError(err);
    return EXIT_USAGE;
  }
  Discovery found;
  std::function<bool()> stopWhen;
  if (selector->kind == RouterSelector::Kind::Mac) {
    stopWhen = [&] { return !FindRouters(found.table, *selector).empty(); };
  }
  if (int code = Discover(options, clock, found, stopWhen); code != EXIT_OK) return code;

  const std::vector<int> slots = FindRouters(found.table, *selector);
  if (slots.empty()) {
    PrintError("no router " + routerText + " answered within " + Seconds(options.timeoutSeconds) +
               " (searched " + found.where + ")");
    return EXIT_NOT_FOUND;
  }
  if (slots.size() > 1) {
    std::string macs;
    for (int slot : slots) {
      macs += (macs.empty() ? "" : ", ") + MacText(found.table.Slot(slot).macAddress);
    }
    PrintError(std::to_string(slots.size()) + " routers answered with IP address " + routerText +
               " (" + macs + "); name the one you mean by its MAC address");
    return EXIT_NOT_FOUND;
  }
  selected = found.table.Slot(slots[0]);
  std::printf("Found %s\n", RouterLine(selected).c_str());
  FlushOutput();
  return EXIT_OK;
}

// Asks for the password as the password dialog would and checks it with the same code.
int CheckPassword(const UpgradeCommand& command, RouterRecord& selected) {
  // A router without a password is not asked for one, however the password would be read.
  if (CheckRouterPassword(selected.password, "") == PasswordVerdict::Accepted) return EXIT_OK;
  PasswordBuffer typed;
  std::string err;
  PasswordRead read = PasswordRead::Ok;
  if (command.passwordStdin) {
    read = ReadPasswordFromInput(typed, &err);
  } else if (IsTerminal(ConsoleStream::Input)) {
    const std::string prompt = "Password for router " + MacText(selected.macAddress) + ": ";
    read = PromptPassword(prompt, typed, &err);
  } else {
    PrintError("router " + MacText(selected.macAddress) +
               " has a password: type it at a terminal, or give it on standard input with "
               "--password-stdin");
    return EXIT_USAGE;
  }
  if (int code = PasswordReadExit(read, err); code != EXIT_OK) return code;
  const PasswordVerdict verdict = CheckRouterPassword(selected.password, typed.Text());
  typed.Clear();
  if (verdict != PasswordVerdict::Accepted) {
    PrintError("Password Error: the password for router " + MacText(selected.macAddress) +
               " was refused; nothing was sent to the router");
    return EXIT_PASSWORD_REFUSED;
  }
  return EXIT_OK;
}

// The firmware must be a readable regular file before the router is asked to take it: once it
// has acknowledged, it waits for a transfer. It stays open for that transfer.
int OpenFirmware(const std::string& path, std::optional<FirmwareFile>& file) {
  std::string err;
  file = OpenFirmwareFile(path, &err);
  if (!file) {
    PrintError(err);
    return EXIT_USAGE;
  }
  return EXIT_OK;
}

int Handshake(const UpgradeCommand& command, const RouterRecord& selected, Clock& clock) {
  bool acknowledged = false;
  CUpgradeSocket socket(acknowledged);
  std::string socketErr;
  if (!socket.Create(&socketErr)) {
    PrintError("cannot create the upgrade socket: " + socketErr);
    return EXIT_ERROR;
  }
  std::printf("Asking the router to accept new firmware (a request every %u ms, for up to %s)...\n",
              static_cast<unsigned>(UPGRADE_REQUEST_INTERVAL_MS),
              Seconds(command.handshakeTimeoutSeconds).c_str());
  FlushOutput();
  HandshakeOptions options;
  options.timeoutMs = ToMs(command.handshakeTimeoutSeconds);
  options.stop = [] { return InterruptRequested(); };
  const Endpoint to{selected.ipAddress, command.upgradePort};
  const HandshakeResult result = RunUpgradeHandshake(socket, acknowledged, selected, to, clock, options);
  socket.Close();
  switch (result.end) {
    case HandshakeEnd::Acknowledged:
      std::printf("The router accepted after %d request%s.\n", result.requestsSent,
                  result.requestsSent == 1 ? "" : "s");
      FlushOutput();
      return EXIT_OK;
    case HandshakeEnd::Stopped:
      PrintError("interrupted");
      return EXIT_INTERRUPTED;
    case HandshakeEnd::Failed:
      PrintError(result.error);
      return EXIT_ERROR;
    case HandshakeEnd::Timeout:
      break;
  }
  PrintError("router " + MacText(selected.macAddress) + " at " + Ipv4ToText(selected.ipAddress) +
             " did not acknowledge the upgrade request within " +
             Seconds(command.handshakeTimeoutSeconds) + " (" + std::to_string(result.requestsSent) +
             " requests sent); nothing was transferred");
  return EXIT_HANDSHAKE_TIMEOUT;
}

int Transfer(const UpgradeCommand& command, const RouterRecord& selected, FirmwareFile& file,
             Clock& clock) {
  const uint64_t size = file.size;
  const std::string routerText = Ipv4ToText(selected.ipAddress);
  std::printf("Sending \"%s\" (%s) to %s as \"%s\"; afterwards the router writes it to its "
              "flash for about %s.\n",
              command.file.c_str(), FormatBytes(size).c_str(), routerText.c_str(),
              RemoteFileName(command.file).c_str(),
              FormatDuration((FinalFillMs(size) + 999) / 1000).c_str());
  FlushOutput();

  // The verbose trace writes lines of its own, which a redrawn line would overwrite.
  const ProgressStyle style = !IsTerminal(ConsoleStream::Output) || DatagramTraceOn()
                                  ? ProgressStyle::Lines
                              : EnableTerminalSequences(ConsoleStream::Output)
                                  ? ProgressStyle::RedrawErase
                                  : ProgressStyle::Redraw;
  // The width is asked at every redraw, so a resized terminal is followed.
  ProgressDisplay display(stdout, style, clock,
                          [] { return TerminalColumns(ConsoleStream::Output); });
  // Ctrl-C stops this one transfer; nothing else sets a lasting abort flag here.
  const bool noAbortFlag = false;
  TftpControl control{display, noAbortFlag, [&display] { display.Pump(); },
                      [&display](const TftpStats& stats) { display.OnBlockAcked(stats); },
                      [] { return InterruptRequested(); },
                      [&display](const FlashWait& flash) { display.OnFlashWaitStarted(flash); }};
  TftpEnv env{clock, {}, command.tftpPort, {}};
  FlashWait flash;
  const TftpResult result = SendFirmware(file, routerText, control, env, flash);
  display.Finish();
  NoteOutputError(display.WriteError());
  if (result.ok()) {
    std::printf("Upgrade complete\n");
    return EXIT_OK;
  }
  if (result.outcome == TftpOutcome::FlashWaitStopped) {
    const uint32_t msLeft = flash.MsLeft(clock.NowMs());
    PrintError("warning: interrupted while the router writes its flash; every block of the image "
               "was acknowledged, and the router may still be writing it: do not power it off or "
               "restart it for about " + FormatDuration((msLeft + 999) / 1000) + " more");
    return EXIT_INTERRUPTED;
  }
  if (result.outcome == TftpOutcome::Aborted && InterruptRequested()) {
    PrintError("Upgrade failed: interrupted; the router was told the transfer is aborted");
    return EXIT_INTERRUPTED;
  }
  PrintError("Upgrade failed: " + result.message);
  return EXIT_TRANSFER_FAILED;
}

}  // namespace

int EndOutput(int code) {
  FlushOutput();
  if (g_outputError == 0 && std::ferror(stdout) == 0) return code;
  PrintError(std::string("cannot write to standard output: ") +
             std::strerror(g_outputError != 0 ? g_outputError : EIO));
  return code == EXIT_OK ? EXIT_ERROR : code;
}

void PrintError(const std::string& message) {
  std::string line = message;
  for (char& c : line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  FlushOutput();
  std::fprintf(stderr, "corvalink-cli: %s\n", line.c_str());
}

int PasswordReadExit(PasswordRead read, const std::string& err) {
  if (read == PasswordRead::Interrupted || InterruptRequested()) {
    PrintError("interrupted");
    return EXIT_INTERRUPTED;
  }
  if (read == PasswordRead::Failed) {
    PrintError(err);
    return EXIT_ERROR;
  }
  return EXIT_OK;
}

int RunSearchCommand(const SearchCommand& command) {
  MsClock clock;
  Discovery found;
  if (int code = Discover(command.search, clock, found); code != EXIT_OK) return code;
  if (command.json) {
    std::fputs(FormatRouterJson(found.table, true, found.arrivals).c_str(), stdout);
  } else {
    std::fputs(FormatRouterTable(found.table, found.arrivals).c_str(), stdout);
  }
  FlushOutput();
  if (found.table.Count() == 0) {
    PrintError("no router answered within " + Seconds(command.search.timeoutSeconds) +
               " (searched " + found.where + ")");
    return EXIT_NOT_FOUND;
  }
  return EXIT_OK;
}

int RunInstallCommand(const InstallCommand& command) {
  MsClock clock;
  RouterRecord selected;
  if (int code = FindChosenRouter(command.search, command.router, clock, selected); code != EXIT_OK) {
    return code;
  }
  const std::unique_ptr<Registry> registry = OpenSystemRegistry();
  std::string err;
  if (!StoreServerAddress(*registry, selected.ipAddress, &err)) {
    PrintError(err);
    return EXIT_STORE_FAILED;
  }
  std::printf("Stored \"%s\" = %s (REG_SZ, %zu bytes) under %s\\%s in %s\n", SERVER_IP_VALUE,
              Ipv4ToText(selected.ipAddress).c_str(), SERVER_IP_DATA_SIZE,
              HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, registry->Location().c_str());
  return EXIT_OK;
}

int RunUpgradeCommand(const UpgradeCommand& command) {
  std::optional<FirmwareFile> file;
  if (int code = OpenFirmware(command.file, file); code != EXIT_OK) return code;
  MsClock clock;
  RouterRecord selected;
  if (int code = FindChosenRouter(command.search, command.router, clock, selected); code != EXIT_OK) {
    return code;
  }
  if (int code = CheckPassword(command, selected); code != EXIT_OK) return code;
  if (int code = Handshake(command, selected, clock); code != EXIT_OK) return code;
  return Transfer(command, selected, *file, clock);
}

}  // namespace corvalink::cli
