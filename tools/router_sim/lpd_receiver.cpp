#include "lpd_receiver.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "text/escape_text.h"

namespace corvalink::sim {
namespace {

// RFC 1179 section 5 daemon command and section 6 subcommand codes.
constexpr char CMD_RECEIVE_JOB = '\x02';
constexpr char SUB_ABORT = '\x01';
constexpr char SUB_CONTROL_FILE = '\x02';
constexpr char SUB_DATA_FILE = '\x03';

// A command line is a code, a count and a file name (section 6.2: names of up to a few dozen
// characters): a line this long is not one, and the bound keeps a client from filling memory.
constexpr std::size_t MAX_LINE = 1024;
constexpr std::size_t MAX_COUNT_DIGITS = 20;
constexpr std::size_t RECEIVE_BUFFER = 65536;
constexpr int ACK_SEND_MS = 2000;

std::string EndpointText(const Endpoint& e) {
  return Ipv4ToText(e.address) + ':' + std::to_string(e.port);
}

/// Client text in a log line: escaped, a space too (the line's fields are space-separated).
std::string Printable(std::string_view text) {
  return EscapeForPeople(text, {.limit = 80, .alsoEscaped = " "});
}

/// A file name the client sent, made safe as the last component of a path: letters, digits,
/// '.', '-' and '_' kept, everything else '_', never empty and never starting with '.'.
std::string SafeName(std::string_view name) {
  std::string out;
  for (char c : name.substr(0, 100)) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    out += keep ? c : '_';
  }
  if (out.empty() || out.front() == '.') out.insert(out.begin(), '_');
  return out;
}

}  // namespace

void LpdJobParser::Fail(std::string why, uint8_t code, std::vector<uint8_t>& reply) {
  m_failure = std::move(why);
  reply.push_back(code);
  m_state = State::Done;
}

void LpdJobParser::Feed(std::span<const uint8_t> bytes, std::vector<uint8_t>& reply) {
  std::size_t i = 0;
  while (i < bytes.size() && m_state != State::Done) {
    switch (m_state) {
      case State::Command:
      case State::Subcommand: {
        const char c = static_cast<char>(bytes[i++]);
        if (c == '\n') {
          std::string line = std::move(m_line);
          m_line.clear();
          OnLine(line, reply);
        } else if (m_line.size() >= MAX_LINE) {
          Fail("a command line longer than " + std::to_string(MAX_LINE) + " bytes", LPD_REJECT_FORMAT,
               reply);
        } else {
          m_line += c;
        }
        break;
      }
      case State::FileBody: {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(m_left, bytes.size() - i));
        m_current.bytes.insert(m_current.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                               bytes.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
        m_left -= n;
        if (m_left == 0) m_state = State::FileEnd;
        break;
      }
      case State::FileEnd:
        // Section 6.2: the file's bytes are followed by one zero octet, then answered.
        if (bytes[i++] != 0) {
          Fail("no zero octet after the " + std::to_string(m_current.bytes.size()) + " bytes of " +
                   Printable(m_current.name),
               LPD_REJECT_FORMAT, reply);
          break;
        }
        m_files.push_back(std::move(m_current));
        m_current = {};
        reply.push_back(LPD_ACK);
        m_state = State::Subcommand;
        break;
      case State::ToEnd: {
        const std::size_t n = bytes.size() - i;
        if (m_jobBytes + n > m_maxBytes) {
          Fail("the job grew beyond " + std::to_string(m_maxBytes) + " bytes", LPD_REJECT_FULL, reply);
          break;
        }
        m_jobBytes += n;
        m_current.bytes.insert(m_current.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                               bytes.end());
        i = bytes.size();
        break;
      }
      case State::Done:
        break;
    }
  }
}

void LpdJobParser::OnLine(std::string_view line, std::vector<uint8_t>& reply) {
  if (m_state == State::Command) {
    if (line.empty() || line[0] != CMD_RECEIVE_JOB) {
      Fail("daemon command " + Printable(line.substr(0, 1)) + " is not \"receive a printer job\"",
           LPD_REJECT_FORMAT, reply);
      return;
    }
    m_queue = std::string(line.substr(1));
    if (m_queue.empty()) {
      Fail("a receive-job command without a queue name", LPD_REJECT_FORMAT, reply);
      return;
    }
    reply.push_back(LPD_ACK);
    m_state = State::Subcommand;
    return;
  }

  if (!line.empty() && line[0] == SUB_ABORT) {
    // Section 6.1: the files of this job so far are removed; the subcommand has no answer.
    m_files.clear();
    m_jobBytes = 0;
    return;
  }
  if (line.empty() || (line[0] != SUB_CONTROL_FILE && line[0] != SUB_DATA_FILE)) {
    Fail("unknown subcommand " + Printable(line.substr(0, 1)), LPD_REJECT_FORMAT, reply);
    return;
  }
  const bool control = line[0] == SUB_CONTROL_FILE;
  const std::string_view rest = line.substr(1);
  const std::size_t space = rest.find(' ');
  const std::string_view countText = rest.substr(0, space);
  const std::string_view name = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
  uint64_t count = 0;
  auto [ptr, ec] = std::from_chars(countText.data(), countText.data() + countText.size(), count);
  if (countText.empty() || countText.size() > MAX_COUNT_DIGITS || ec != std::errc() ||
      ptr != countText.data() + countText.size() || name.empty()) {
    Fail(std::string(control ? "control" : "data") + " file line \"" + Printable(rest) +
             "\" is not \"count SP name\"",
         LPD_REJECT_FORMAT, reply);
    return;
  }
  if (count == 0 && control) {
    Fail("a control file of 0 bytes", LPD_REJECT_FORMAT, reply);
    return;
  }
  if (count > m_maxBytes - m_jobBytes) {
    Fail(Printable(name) + " of " + std::to_string(count) + " bytes would take the job beyond " +
             std::to_string(m_maxBytes) + " bytes",
         LPD_REJECT_FULL, reply);
    return;
  }
  m_jobBytes += count;
  m_current = LpdFile{control, std::string(name), {}};
  m_current.bytes.reserve(static_cast<std::size_t>(std::min<uint64_t>(count, 1u << 20)));
  m_left = count;
  // Section 6.3: a data file of unknown length is sent with a count of 0 and runs to the end of
  // the connection.
  m_state = count == 0 ? State::ToEnd : State::FileBody;
  reply.push_back(LPD_ACK);
}

bool LpdJobParser::Finish() {
  switch (m_state) {
    case State::Done:
      return !Failed();
    case State::Command:
      m_failure = "the connection ended before a receive-job command";
      break;
    case State::Subcommand:
      if (!m_line.empty()) {
        m_failure = "the connection ended within a command line";
      } else if (m_files.empty()) {
        m_failure = "the connection ended before any file";
      }
      break;
    case State::FileBody:
      m_failure = "the connection ended " + std::to_string(m_left) + " bytes short of " +
                  Printable(m_current.name);
      break;
    case State::FileEnd:
      m_failure = "the connection ended before the zero octet after " + Printable(m_current.name);
      break;
    case State::ToEnd:
      m_files.push_back(std::move(m_current));
      m_current = {};
      break;
  }
  m_state = State::Done;
  return !Failed();
}

struct LpdReceiver::Connection {
  TcpSocket socket;
  Endpoint client;
  Endpoint server;
  LpdJobParser parser;
  uint64_t lastMs = 0;
  bool ended = false;
};

LpdReceiver::LpdReceiver(LpdReceiverOptions options, EventSink events)
    : m_options(std::move(options)), m_events(std::move(events)) {}

LpdReceiver::~LpdReceiver() = default;

bool LpdReceiver::Open(std::string* err) {
  if (!m_options.storeDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(m_options.storeDir, ec);
    if (ec) {
      if (err != nullptr) *err = "cannot create " + m_options.storeDir + ": " + ec.message();
      return false;
    }
  }
  std::string why;
  auto listen = TcpSocket::Listen(m_options.bind, 16, &why);
  if (!listen) {
    if (err != nullptr) *err = "LPD receiver: " + why;
    return false;
  }
  m_listen = std::move(*listen);
  return true;
}

uint16_t LpdReceiver::Port() const { return m_listen.LocalEndpoint().port; }

void LpdReceiver::CollectDescriptors(std::vector<SocketWait>& waits) const {
  if (m_listen.IsOpen()) waits.push_back(SocketWait{m_listen.Descriptor()});
  for (const auto& c : m_connections) waits.push_back(SocketWait{c->socket.Descriptor()});
}

bool LpdReceiver::OnReadable(SocketHandle fd, uint64_t nowMs) {
  if (m_listen.IsOpen() && fd == m_listen.Descriptor()) {
    Accept(nowMs);
    return true;
  }
  for (auto& c : m_connections) {
    if (c->socket.Descriptor() != fd) continue;
    Read(*c, nowMs);
    std::erase_if(m_connections, [](const auto& x) { return x->ended; });
    return true;
  }
  return false;
}

void LpdReceiver::OnTick(uint64_t nowMs) {
  for (auto& c : m_connections) {
    if (nowMs - c->lastMs >= static_cast<uint64_t>(m_options.idleMs)) {
      End(*c, false, "nothing from the client for " + std::to_string(m_options.idleMs) + " ms");
    }
  }
  std::erase_if(m_connections, [](const auto& x) { return x->ended; });
}

void LpdReceiver::Accept(uint64_t nowMs) {
  // A few per call, so a connection storm cannot hold the loop.
  for (int i = 0; i < 8; ++i) {
    Endpoint peer;
    auto socket = m_listen.Accept(&peer);
    if (!socket) return;
    if (m_connections.size() >= m_options.maxConnections) {
      if (m_events) m_events("LPD refused from=" + EndpointText(peer) + " reason=too many connections");
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->server = socket->LocalEndpoint();
    c->socket = std::move(*socket);
    c->client = peer;
    c->parser = LpdJobParser(m_options.maxBytes);
    c->lastMs = nowMs;
    m_connections.push_back(std::move(c));
  }
}

void LpdReceiver::Read(Connection& c, uint64_t nowMs) {
  std::vector<uint8_t> buffer(RECEIVE_BUFFER);
  const int n = c.socket.Receive(buffer);
  if (n == RECEIVE_WOULD_BLOCK) return;
  if (n < 0) {
    End(c, false, "the connection failed");
    return;
  }
  if (n == 0) {
    End(c, true, {});
    return;
  }
  c.lastMs = nowMs;
  std::vector<uint8_t> reply;
  c.parser.Feed(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)), reply);
  if (!reply.empty() && !c.socket.SendAll(reply, ACK_SEND_MS)) {
    End(c, false, "the answer could not be sent");
    return;
  }
  if (c.parser.Failed()) End(c, false, c.parser.Failure());
}

void LpdReceiver::End(Connection& c, bool clientClosed, std::string failure) {
  if (c.ended) return;
  c.ended = true;
  LpdJob job;
  job.client = c.client;
  job.server = c.server;
  job.queue = c.parser.Queue();
  if (clientClosed) {
    job.complete = c.parser.Finish();
    job.failure = c.parser.Failure();
  } else {
    job.failure = std::move(failure);
  }
  if (job.complete) Store(c.parser, job);
  c.socket.Close();

  std::string where = "to=" + EndpointText(job.server) + " from=" + EndpointText(job.client) +
                      " queue=" + Printable(job.queue);
  if (m_events) {
    if (job.complete) {
      std::string stored;
      for (const std::string& p : job.storedData) stored += (stored.empty() ? "" : ",") + p;
      m_events("LPD job " + where + " files=" + std::to_string(c.parser.Files().size()) +
               " bytes=" + std::to_string(job.dataBytes) + (stored.empty() ? "" : " stored=" + stored));
    } else {
      m_events("LPD failed " + where + " reason=" + job.failure);
    }
  }
  std::lock_guard lock(m_finishedMutex);
  m_finished.push_back(std::move(job));
}

void LpdReceiver::Store(const LpdJobParser& parser, LpdJob& job) {
  const int number = ++m_jobNumber;
  for (const LpdFile& f : parser.Files()) {
    if (!f.control) job.dataBytes += f.bytes.size();
  }
  if (m_options.storeDir.empty()) {
    job.files = parser.Files();
    return;
  }
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(m_options.storeDir) / Ipv4ToText(job.server.address);
  std::error_code ec;
  fs::create_directories(dir, ec);
  for (const LpdFile& f : parser.Files()) {
    const fs::path path = dir / (std::to_string(number) + "-" + SafeName(f.name));
    const fs::path part = path.string() + ".part";
    {
      std::ofstream out(part, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(f.bytes.data()), static_cast<std::streamsize>(f.bytes.size()));
      out.close();
      if (!out) ec = std::make_error_code(std::errc::io_error);
    }
    if (!ec) fs::rename(part, path, ec);
    if (ec) {
      fs::remove(part, ec);
      job.complete = false;
      job.failure = "cannot write " + path.string();
      return;
    }
    if (!f.control) job.storedData.push_back(path.string());
  }
}

std::vector<LpdJob> LpdReceiver::Finished() const {
  std::lock_guard lock(m_finishedMutex);
  return m_finished;
}

}  // namespace corvalink::sim
