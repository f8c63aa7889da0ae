#pragma once
// The router simulator: the protocol responder, the TFTP server and the print server behind one
// poll loop, with the delayed-send queue and the record of received datagrams. The router_sim
// program runs it on its main thread; tests run it in-process on a thread of its own with
// SimulatorThread.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "datagram_log.h"
#include "lpd_receiver.h"
#include "router_responder.h"
#include "send_queue.h"
#include "sim_options.h"
#include "tftp_server.h"

namespace corvalink::sim {

class Simulator {
 public:
  explicit Simulator(SimOptions options, EventSink events = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  /// Binds every socket and opens the record file. False with `err` naming what failed.
  bool Open(std::string* err);
  /// "READY search=PORT" plus " tftp=PORT" and " lpd=PORT" for the servers that run.
  std::string ReadyLine() const;
  uint16_t SearchPort() const;
  /// 0 when the TFTP server is off.
  uint16_t TftpPort() const;
  /// 0 when the print server is off.
  uint16_t LpdPort() const;

  /// Sends the start-up flood, if one was asked for.
  void StartUpFlood();
  /// Waits up to `timeoutMs` for work and does it: datagrams read and answered, due sends sent.
  void PollOnce(int timeoutMs);
  /// Polls until `stop` returns true (asked at least every tick) or --max-seconds have passed.
  /// True when stopped by `stop`.
  bool Run(const std::function<bool()>& stop);

  const DatagramLog& Log() const { return m_log; }
  std::vector<TftpTransfer> Transfers() const;
  std::vector<LpdJob> PrintJobs() const;
  int SearchRequests() const { return m_responder.SearchRequests(); }
  int UpgradeRequests() const { return m_responder.UpgradeRequests(); }

 private:
  SimOptions m_options;
  EventSink m_events;
  DatagramLog m_log;
  SendQueue m_queue;
  RouterResponder m_responder;
  std::unique_ptr<TftpServer> m_tftp;
  std::unique_ptr<LpdReceiver> m_lpd;
  std::vector<SocketWait> m_waits;
};

/// A Simulator on a thread of its own, for tests in the same process. The counters the thread
/// writes are read through Log() and Transfers(), which lock.
class SimulatorThread {
 public:
  SimulatorThread() = default;
  ~SimulatorThread();
  SimulatorThread(const SimulatorThread&) = delete;
  SimulatorThread& operator=(const SimulatorThread&) = delete;

  /// Opens the simulator (ports are known when this returns true) and starts its loop.
  bool Start(SimOptions options, std::string* err, EventSink events = {});
  /// Ends the loop and joins the thread; stopping twice does nothing.
  void Stop();
  Simulator& Sim() { return *m_sim; }

 private:
  std::unique_ptr<Simulator> m_sim;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace corvalink::sim
