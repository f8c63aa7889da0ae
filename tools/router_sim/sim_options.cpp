#include "sim_options.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <string_view>

namespace corvalink::sim {
namespace {

using Setter = std::function<bool(std::string_view value, SimOptions& o, std::string* err)>;

struct Flag {
  std::string_view name;
  std::string_view valueName;  ///< empty for a flag without a value
  std::string_view help;
  Setter set;
};

bool Fail(std::string* err, std::string text) {
  if (err != nullptr) *err = std::move(text);
  return false;
}

bool ParseInt(std::string_view text, long long low, long long high, long long& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && out >= low && out <= high;
}

template <typename T>
Setter IntSetter(T SimOptions::*field, long long low, long long high) {
  return [=](std::string_view v, SimOptions& o, std::string* err) {
    long long n = 0;
    if (!ParseInt(v, low, high, n)) {
      return Fail(err, "expected a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", got \"" + std::string(v) + "\"");
    }
    o.*field = static_cast<T>(n);
    return true;
  };
}

template <typename T>
Setter ResponderInt(T ResponderOptions::*field, long long low, long long high) {
  return [=](std::string_view v, SimOptions& o, std::string* err) {
    long long n = 0;
    if (!ParseInt(v, low, high, n)) {
      return Fail(err, "expected a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", got \"" + std::string(v) + "\"");
    }
    o.responder.*field = static_cast<T>(n);
    return true;
  };
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto address = ParseIpv4(text.substr(0, colon));
  long long port = 0;
  if (!address || !ParseInt(text.substr(colon + 1), 1, 65535, port)) return std::nullopt;
  return Endpoint{*address, static_cast<uint16_t>(port)};
}

const std::vector<Flag>& Flags() {
  static const std::vector<Flag> flags = {
      {"bind", "ADDR", "address every socket binds to (default 0.0.0.0)",
       [](std::string_view v, SimOptions& o, std::string* err) {
         auto a = ParseIpv4(v);
         if (!a) return Fail(err, "not a dotted address: " + std::string(v));
         o.bindAddress = *a;
         return true;
       }},
      {"search-port", "PORT", "port of searches and upgrade requests (default 56415, 0 = any)",
       IntSetter(&SimOptions::searchPort, 0, 65535)},
      {"router", "SPEC",
       "one router: mac=HEX12,ip=A.B.C.D[,mask=..][,location=TEXT|locationhex=HEX]"
       "[,password=TEXT|passwordhex=HEX]; repeat for more",
       [](std::string_view v, SimOptions& o, std::string* err) {
         auto r = ParseRouterSpec(v, err);
         if (!r) return false;
         o.responder.routers.push_back(*r);
         return true;
       }},
      {"routers", "N", "add N generated routers (MAC 02C04C00xxxx, IP 198.18.0.10 on)",
       [](std::string_view v, SimOptions& o, std::string* err) {
         long long n = 0;
         if (!ParseInt(v, 0, 1000, n)) return Fail(err, "--routers takes 0..1000");
         for (const SimRouter& r : GenerateRouters(static_cast<int>(n))) {
           o.responder.routers.push_back(r);
         }
         return true;
       }},
      {"config", "FILE", "read more flags from FILE, one per line, without \"--\"",
       [](std::string_view v, SimOptions& o, std::string* err) {
         return LoadSimConfig(std::string(v), o, err);
       }},
      {"delay-ms", "MS", "send search and upgrade replies this much later",
       ResponderInt(&ResponderOptions::delayMs, 0, 600000)},
      {"duplicate", "N", "send every round of replies N times",
       ResponderInt(&ResponderOptions::duplicate, 1, 100)},
      {"stray-sender", "", "send replies from a second socket, not the one that was asked",
       [](std::string_view, SimOptions& o, std::string*) {
         o.responder.straySender = true;
         return true;
       }},
      {"extra", "KIND[,KIND..]",
       "before the replies, send these to the requester: empty onebyte short long wrongmagic "
       "wrongtype overlong foreign",
       [](std::string_view v, SimOptions& o, std::string* err) {
         std::size_t pos = 0;
         while (pos <= v.size()) {
           std::size_t end = v.find(',', pos);
           if (end == std::string_view::npos) end = v.size();
           auto kind = ParseJunkKind(v.substr(pos, end - pos));
           if (!kind) return Fail(err, "unknown datagram kind: " + std::string(v.substr(pos, end - pos)));
           o.responder.extras.push_back(*kind);
           pos = end + 1;
         }
         return true;
       }},
      {"flood", "COUNT",
       "junk flood of COUNT datagrams: to --target once at start, else to each requester "
       "before its replies",
       ResponderInt(&ResponderOptions::floodCount, 0, 10000000)},
      {"target", "IP:PORT", "where the start-up flood goes",
       [](std::string_view v, SimOptions& o, std::string* err) {
         auto e = ParseEndpoint(v);
         if (!e) return Fail(err, "expected IP:PORT, got " + std::string(v));
         o.floodTarget = *e;
         return true;
       }},
      {"flood-ms", "MS", "a flood stops after this long even if COUNT is not reached (10000)",
       ResponderInt(&ResponderOptions::floodMaxMs, 1, 600000)},
      {"flood-settle-ms", "MS", "pause between a flood and the replies (200)",
       ResponderInt(&ResponderOptions::floodSettleMs, 0, 60000)},
      {"upgrade", "MODE",
       "upgrade replies: at-once | after=N | password=HEX48 (the 24 scrambled bytes) | never",
       [](std::string_view v, SimOptions& o, std::string* err) {
         auto b = ParseUpgradeBehaviour(v, err);
         if (!b) return false;
         o.responder.upgrade = *b;
         return true;
       }},
      {"record", "FILE", "write every received datagram to FILE as a hex line",
       [](std::string_view v, SimOptions& o, std::string*) {
         o.recordFile = std::string(v);
         return true;
       }},
      {"tftp", "", "run the TFTP server on port 69 (or --tftp-port)",
       [](std::string_view, SimOptions& o, std::string*) {
         o.tftpEnabled = true;
         return true;
       }},
      {"tftp-port", "PORT", "run the TFTP server on PORT (0 = any)",
       [](std::string_view v, SimOptions& o, std::string* err) {
         long long n = 0;
         if (!ParseInt(v, 0, 65535, n)) return Fail(err, "--tftp-port takes 0..65535");
         o.tftpPort = static_cast<uint16_t>(n);
         o.tftpEnabled = true;
         return true;
       }},
      {"tftp-dir", "DIR", "store received files in DIR (default: keep them in memory)",
       [](std::string_view v, SimOptions& o, std::string*) {
         o.tftpDir = std::string(v);
         return true;
       }},
      {"tftp-dir-per-router", "",
       "store each file under --tftp-dir in a folder named after the address it was sent to",
       [](std::string_view, SimOptions& o, std::string*) {
         o.tftpDirPerRouter = true;
         return true;
       }},
      {"tftp-fault", "FAULT",
       "drop-in=N drop-out=N dup-ack=N delay=MS[@N] error=N[:CODE] silent same-port stray=N "
       "clients=K; repeat for more",
       [](std::string_view v, SimOptions& o, std::string* err) {
         return ParseTftpFault(v, o.tftpFaults, err);
       }},
      {"tftp-stray-address", "ADDR", "address the TFTP stray sender binds to",
       [](std::string_view v, SimOptions& o, std::string* err) {
         auto a = ParseIpv4(v);
         if (!a) return Fail(err, "not a dotted address: " + std::string(v));
         o.tftpStrayAddress = *a;
         return true;
       }},
      {"tftp-idle-ms", "MS", "give up a transfer after this long without a datagram (10000)",
       IntSetter(&SimOptions::tftpIdleMs, 1, 600000)},
      {"lpd", "", "run the print server (LPD, RFC 1179) on port 515 (or --lpd-port)",
       [](std::string_view, SimOptions& o, std::string*) {
         o.lpdEnabled = true;
         return true;
       }},
      {"lpd-port", "PORT", "run the print server on PORT (0 = any)",
       [](std::string_view v, SimOptions& o, std::string* err) {
         long long n = 0;
         if (!ParseInt(v, 0, 65535, n)) return Fail(err, "--lpd-port takes 0..65535");
         o.lpdPort = static_cast<uint16_t>(n);
         o.lpdEnabled = true;
         return true;
       }},
      {"lpd-dir", "DIR",
       "store print jobs in DIR/<address connected to>/ (default: keep them in memory)",
       [](std::string_view v, SimOptions& o, std::string*) {
         o.lpdDir = std::string(v);
         return true;
       }},
      {"max-seconds", "S", "end after S seconds whatever happens (600)",
       IntSetter(&SimOptions::maxSeconds, 1, 86400)},
  };
  return flags;
}

const Flag* FindFlag(std::string_view name) {
  for (const Flag& f : Flags()) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

bool Apply(const Flag& f, std::string_view value, SimOptions& o, std::string* err) {
  std::string why;
  if (f.set(value, o, &why)) return true;
  return Fail(err, "--" + std::string(f.name) + ": " + why);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool ParseSimArgs(int argc, const char* const* argv, SimOptions& options, std::string* err,
                  bool* wantHelp) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      if (wantHelp != nullptr) *wantHelp = true;
      return true;
    }
    if (!arg.starts_with("--")) return Fail(err, "unexpected argument: " + std::string(arg));
    arg.remove_prefix(2);
    std::string_view value;
    bool inlineValue = false;
    if (std::size_t eq = arg.find('='); eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inlineValue = true;
    }
    const Flag* f = FindFlag(arg);
    if (f == nullptr) return Fail(err, "unknown option --" + std::string(arg));
    if (!f->valueName.empty() && !inlineValue) {
      if (i + 1 >= argc) return Fail(err, "--" + std::string(arg) + " needs a value");
      value = argv[++i];
    } else if (f->valueName.empty() && inlineValue) {
      return Fail(err, "--" + std::string(arg) + " takes no value");
    }
    if (!Apply(*f, value, options, err)) return false;
  }
  return true;
}

bool LoadSimConfig(const std::string& path, SimOptions& options, std::string* err) {
  // A config file may name another; a file that names itself must not recurse for ever.
  static thread_local int depth = 0;
  if (depth >= 8) return Fail(err, "config files nested more than 8 deep at " + path);
  struct DepthGuard {
    DepthGuard() { ++depth; }
    ~DepthGuard() { --depth; }
  } guard;
  std::ifstream in(path);
  if (!in) return Fail(err, "cannot read config file " + path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string_view text = Trim(line);
    if (text.empty() || text.front() == '#') continue;
    std::size_t space = text.find_first_of(" \t");
    std::string_view name = text.substr(0, space);
    std::string_view value = space == std::string_view::npos ? std::string_view{}
                                                             : Trim(text.substr(space));
    std::string where = path + ":" + std::to_string(number) + ": ";
    const Flag* f = FindFlag(name);
    if (f == nullptr) return Fail(err, where + "unknown option " + std::string(name));
    if (f->valueName.empty() != value.empty()) {
      return Fail(err, where + std::string(name) +
                           (value.empty() ? " needs a value" : " takes no value"));
    }
    std::string why;
    if (!Apply(*f, value, options, &why)) return Fail(err, where + why);
  }
  return true;
}

std::string SimUsage() {
  std::string s =
      "usage: router_sim [OPTION...]\n"
      "Answers as one or many Corvalink routers: searches and upgrade requests on the search\n"
      "port, firmware writes on a TFTP port, print jobs on an LPD port. Prints\n"
      "\"READY search=PORT [tftp=PORT] [lpd=PORT]\" once its sockets are bound;\n"
      "ends on SIGTERM, SIGINT or after --max-seconds.\n\n";
  for (const Flag& f : Flags()) {
    std::string left = "  --" + std::string(f.name);
    if (!f.valueName.empty()) left += " " + std::string(f.valueName);
    if (left.size() < 28) left.resize(28, ' ');
    s += left + " " + std::string(f.help) + "\n";
  }
  return s + "  --help                     print these options and exit\n";
}

}  // namespace corvalink::sim
