#pragma once
// The simulator's settings and their text forms: command-line flags, and a config file whose
// lines are the same flags without their leading "--" ("router mac=...,ip=...", "routers 30").

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ipv4.h"
#include "lpd_receiver.h"
#include "router_responder.h"
#include "tftp_server.h"

namespace corvalink::sim {

struct SimOptions {
  Ipv4 bindAddress{};                ///< every socket binds here; default any address
  uint16_t searchPort = 56415;       ///< 0 lets the system choose
  ResponderOptions responder;
  bool tftpEnabled = false;
  uint16_t tftpPort = 69;
  std::string tftpDir;
  bool tftpDirPerRouter = false;
  TftpFaults tftpFaults;
  std::optional<Ipv4> tftpStrayAddress;
  int tftpIdleMs = 10000;
  bool lpdEnabled = false;
  uint16_t lpdPort = LPD_PORT;
  std::string lpdDir;
  std::string recordFile;
  /// A flood sent once, right after start-up, when set.
  std::optional<Endpoint> floodTarget;
  int maxSeconds = 600;              ///< the simulator ends itself after this long
};

/// Reads argv[1..argc-1]. False with `err` on an unknown flag or a bad value. "--help" sets
/// `wantHelp` and returns true.
bool ParseSimArgs(int argc, const char* const* argv, SimOptions& options, std::string* err,
                  bool* wantHelp = nullptr);

/// Applies the lines of a config file: "flag value" or "flag" per line, '#' starts a comment,
/// blank lines are skipped. Errors name the file and line.
bool LoadSimConfig(const std::string& path, SimOptions& options, std::string* err);

/// The usage text for --help.
std::string SimUsage();

}  // namespace corvalink::sim
