#include "simulator.h"

#include <algorithm>

namespace corvalink::sim {
namespace {

// Upper bound of one poll, so idle transfers are given up and a stop request is seen promptly.
constexpr int TICK_MS = 50;

}  // namespace

Simulator::Simulator(SimOptions options, EventSink events)
    : m_options(std::move(options)),
      m_events(std::move(events)),
      m_responder(m_options.responder, m_log, m_queue, m_events) {
  if (m_options.tftpEnabled) {
    TftpServerOptions t;
    t.bind = Endpoint{m_options.bindAddress, m_options.tftpPort};
    t.storeDir = m_options.tftpDir;
    t.storePerAddress = m_options.tftpDirPerRouter;
    t.routers = m_options.responder.routers;
    t.faults = m_options.tftpFaults;
    t.strayAddress = m_options.tftpStrayAddress;
    t.idleMs = m_options.tftpIdleMs;
    m_tftp = std::make_unique<TftpServer>(t, m_log, m_queue, m_events);
    m_responder.SetBusyTest(
        [tftp = m_tftp.get()](const Ipv4& router) { return tftp->Flashing(router, SimNowMs()); });
  }
  if (m_options.lpdEnabled) {
    LpdReceiverOptions l;
    l.bind = Endpoint{m_options.bindAddress, m_options.lpdPort};
    l.storeDir = m_options.lpdDir;
    m_lpd = std::make_unique<LpdReceiver>(l, m_events);
  }
}

Simulator::~Simulator() = default;

bool Simulator::Open(std::string* err) {
  if (!m_options.recordFile.empty() && !m_log.OpenFile(m_options.recordFile)) {
    if (err != nullptr) *err = "cannot write the record file " + m_options.recordFile;
    return false;
  }
  // A flood would otherwise fill memory with copies of what the file already holds.
  if (m_options.responder.floodCount > 0 || m_options.floodTarget) m_log.SetMemoryLimit(1000);
  if (!m_responder.Open(Endpoint{m_options.bindAddress, m_options.searchPort}, err)) return false;
  if (m_tftp && !m_tftp->Open(err)) return false;
  if (m_lpd && !m_lpd->Open(err)) return false;
  return true;
}

std::string Simulator::ReadyLine() const {
  std::string line = "READY search=" + std::to_string(SearchPort());
  if (m_tftp) line += " tftp=" + std::to_string(TftpPort());
  if (m_lpd) line += " lpd=" + std::to_string(LpdPort());
  return line;
}

uint16_t Simulator::SearchPort() const { return m_responder.Port(); }
uint16_t Simulator::TftpPort() const { return m_tftp ? m_tftp->Port() : 0; }
uint16_t Simulator::LpdPort() const { return m_lpd ? m_lpd->Port() : 0; }

void Simulator::StartUpFlood() {
  if (m_options.floodTarget && m_options.responder.floodCount > 0) {
    m_responder.Flood(*m_options.floodTarget, m_options.responder.floodCount,
                      m_options.responder.floodMaxMs);
  }
}

std::vector<TftpTransfer> Simulator::Transfers() const {
  return m_tftp ? m_tftp->Finished() : std::vector<TftpTransfer>{};
}

std::vector<LpdJob> Simulator::PrintJobs() const {
  return m_lpd ? m_lpd->Finished() : std::vector<LpdJob>{};
}

void Simulator::PollOnce(int timeoutMs) {
  m_waits.clear();
  m_waits.push_back(SocketWait{m_responder.Descriptor()});
  if (m_responder.StrayDescriptor() != NO_SOCKET) {
    m_waits.push_back(SocketWait{m_responder.StrayDescriptor()});
  }
  if (m_tftp) m_tftp->CollectDescriptors(m_waits);
  if (m_lpd) m_lpd->CollectDescriptors(m_waits);

  uint64_t now = SimNowMs();
  int wait = std::min(timeoutMs, TICK_MS);
  int untilSend = m_queue.MsUntilNext(now);
  if (untilSend >= 0) wait = std::min(wait, untilSend);
  // An interrupted or failed wait only ends this round early; the loop looks at its stop
  // request and waits again.
  const WaitStatus ready = WaitForReadable(m_waits, std::max(wait, 0), nullptr);
  now = SimNowMs();
  m_queue.SendDue(now);
  if (ready == WaitStatus::Ready) {
    for (const SocketWait& w : m_waits) {
      if (!w.readable) continue;
      // A stream connection may end with only a hang-up; its read sees the end.
      if (m_lpd && m_lpd->OnReadable(w.handle, now)) continue;
      if (w.handle == m_responder.Descriptor()) {
        m_responder.OnReadable();
      } else if (w.handle == m_responder.StrayDescriptor()) {
        m_responder.OnStrayReadable();
      } else if (m_tftp) {
        m_tftp->OnReadable(w.handle, now);
      }
    }
  }
  if (m_tftp) m_tftp->OnTick(SimNowMs());
  if (m_lpd) m_lpd->OnTick(SimNowMs());
  m_queue.SendDue(SimNowMs());
}

bool Simulator::Run(const std::function<bool()>& stop) {
  uint64_t end = SimNowMs() + static_cast<uint64_t>(m_options.maxSeconds) * 1000;
  while (!stop()) {
    uint64_t now = SimNowMs();
    if (now >= end) return false;
    PollOnce(static_cast<int>(std::min<uint64_t>(end - now, TICK_MS)));
  }
  return true;
}

SimulatorThread::~SimulatorThread() { Stop(); }

bool SimulatorThread::Start(SimOptions options, std::string* err, EventSink events) {
  Stop();
  m_sim = std::make_unique<Simulator>(std::move(options), std::move(events));
  if (!m_sim->Open(err)) return false;
  m_stop = false;
  m_thread = std::thread([this] {
    m_sim->StartUpFlood();
    m_sim->Run([this] { return m_stop.load(); });
  });
  return true;
}

void SimulatorThread::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace corvalink::sim
