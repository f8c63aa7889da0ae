#include "fleet_report.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/exit_codes.h"
#include "progress_display.h"
#include "router_output.h"

namespace corvalink::cli {
namespace {

std::string Percent(uint64_t done, uint64_t size) {
  const uint64_t percent = size == 0 ? 100 : std::min<uint64_t>(100, done * 100 / size);
  char text[8];
  std::snprintf(text, sizeof text, "%3u%%", static_cast<unsigned>(percent));
  return text;
}

std::string TimeText(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string PadLeft(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

}  // namespace

const char* FleetStateName(FleetState state) {
  switch (state) {
    case FleetState::Waiting: return "waiting";
    case FleetState::Asking: return "asking";
    case FleetState::Sending: return "sending";
    case FleetState::Flashing: return "flashing";
    case FleetState::Complete: return "complete";
    case FleetState::NotFound: return "not-found";
    case FleetState::Ambiguous: return "ambiguous";
    case FleetState::NoPassword: return "no-password";
    case FleetState::PasswordRefused: return "password-refused";
    case FleetState::NoAcknowledgement: return "no-acknowledgement";
    case FleetState::TransferFailed: return "transfer-failed";
    case FleetState::Error: return "error";
    case FleetState::Interrupted: return "interrupted";
    case FleetState::FlashInterrupted: return "flash-interrupted";
  }
  return "?";
}

int FleetStateExitCode(FleetState state) {
  switch (state) {
    case FleetState::Complete: return EXIT_OK;
    case FleetState::NotFound:
    case FleetState::Ambiguous: return EXIT_NOT_FOUND;
    case FleetState::NoPassword: return EXIT_USAGE;
    case FleetState::PasswordRefused: return EXIT_PASSWORD_REFUSED;
    case FleetState::NoAcknowledgement: return EXIT_HANDSHAKE_TIMEOUT;
    case FleetState::TransferFailed: return EXIT_TRANSFER_FAILED;
    case FleetState::Interrupted:
    case FleetState::FlashInterrupted: return EXIT_INTERRUPTED;
    default: return EXIT_ERROR;
  }
}

std::string FormatFleetLine(const FleetRow& row) {
  std::string line = Pad(row.router, 12) + "  " + Pad(row.ip.empty() ? "-" : row.ip, 15) + "  " +
                     Pad(FleetStateName(row.state), 9);
  switch (row.state) {
    case FleetState::Asking:
      if (row.requests > 0) {
        line += "  " + std::to_string(row.requests) +
                (row.requests == 1 ? " request sent" : " requests sent");
      }
      break;
    case FleetState::Sending:
      // The size is known from the first acknowledged block on.
      if (row.fileSize > 0) {
        line += "  " + Percent(row.bytes, row.fileSize) + "  " + FormatBytes(row.bytes) + " of " +
                FormatBytes(row.fileSize);
      }
      break;
    case FleetState::Flashing:
      line += "  " + FormatDuration((row.flashMsLeft + 999) / 1000) + " left";
      break;
    case FleetState::Complete:
      line += "  " + FormatBytes(row.bytes) + " in " + TimeText(row.ms);
      break;
    default:
      if (!row.message.empty()) line += "  " + row.message;
      break;
  }
  if ((row.state == FleetState::Sending || row.state == FleetState::Flashing ||
       row.state == FleetState::Complete) &&
      row.retransmissions > 0) {
    line += "  " + std::to_string(row.retransmissions) +
            (row.retransmissions == 1 ? " retransmission" : " retransmissions");
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string FormatFleetTable(const std::vector<FleetRow>& rows) {
  std::size_t routerWidth = 12;
  for (const FleetRow& r : rows) routerWidth = std::max(routerWidth, r.router.size());
  std::string out = Pad("ROUTER", routerWidth) + "  " + Pad("IP ADDRESS", 15) + "  " +
                    Pad("RESULT", 18) + "  " + PadLeft("BYTES", 10) + "  " +
                    PadLeft("RETRANSMISSIONS", 15) + "  " + PadLeft("TIME", 8) + "\n";
  for (const FleetRow& r : rows) {
    out += Pad(r.router, routerWidth) + "  " + Pad(r.ip.empty() ? "-" : r.ip, 15) + "  " +
           Pad(FleetStateName(r.state), 18) + "  " + PadLeft(std::to_string(r.bytes), 10) + "  " +
           PadLeft(std::to_string(r.retransmissions), 15) + "  " + PadLeft(TimeText(r.ms), 8) +
           "\n";
  }
  int done = 0;
  for (const FleetRow& r : rows) {
    if (r.state == FleetState::Complete) {
      ++done;
    } else if (!r.message.empty()) {
      out += r.router + ": " + r.message + "\n";
    }
  }
  out += std::to_string(done) + " of " + std::to_string(rows.size()) +
         (rows.size() == 1 ? " router" : " routers") + " upgraded\n";
  return out;
}

std::string FormatFleetJson(const std::vector<FleetRow>& rows) {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const FleetRow& r : rows) {
    nlohmann::ordered_json o;
    // The name given may be anything a user typed: keep it valid UTF-8 for the writer.
    o["router"] = TerminalSafe(r.router);
    o["ip"] = r.ip.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.ip);
    o["result"] = FleetStateName(r.state);
    o["exit_code"] = FleetStateExitCode(r.state);
    o["bytes"] = r.bytes;
    o["file_size"] = r.fileSize;
    o["retransmissions"] = r.retransmissions;
    o["requests"] = r.requests;
    o["seconds"] = r.ms / 1000.0;
    o["message"] = TerminalSafe(r.message);
    out.push_back(std::move(o));
  }
  return out.dump(2) + "\n";
}

int FleetExitCode(const std::vector<FleetRow>& rows, bool interrupted) {
  if (interrupted) return EXIT_INTERRUPTED;
  if (rows.empty()) return EXIT_NOT_FOUND;
  for (const FleetRow& r : rows) {
    if (r.state != FleetState::Complete) return FleetStateExitCode(r.state);
  }
  return EXIT_OK;
}

}  // namespace corvalink::cli
