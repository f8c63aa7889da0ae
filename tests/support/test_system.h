#pragma once
// What the tests need of the system beyond the core's platform layer: a step run in a child
// process, a FIFO, a signal that keeps arriving, and a look at a socket handle. Each system has
// its side in test_system_posix.cpp / test_system_win32.cpp. Where a system lacks a thing, the
// call says why, and the test skips with that reason.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/socket_layer.h"

namespace corvalink::test {

/// Why steps cannot run in a child process here; empty where they can.
std::string NoChildProcess();

/// Runs `step` in a child process (so limits it sets die with it) and returns its result;
/// nothing when the child could not run it or NoChildProcess() is not empty. With
/// `withoutRoot`, a child running as root first becomes the unprivileged user 65534, so that
/// permission bits bind it. `timeoutSeconds` (> 0) ends a child that hangs.
std::optional<bool> RunInChild(const std::function<bool()>& step, bool withoutRoot = false,
                               int timeoutSeconds = 0);

/// Makes a FIFO. False, with the reason in `why`, where the system has none or it failed.
bool MakeFifo(const std::filesystem::path& path, std::string* why);

/// Delivers a signal to this process every `periodMs` while it lives, with a handler that does
/// nothing, so that waits are interrupted. Active() is false where the system has no such
/// signals; Why() then says so.
class PeriodicSignal {
 public:
  explicit PeriodicSignal(int periodMs);
  ~PeriodicSignal();
  PeriodicSignal(const PeriodicSignal&) = delete;
  PeriodicSignal& operator=(const PeriodicSignal&) = delete;
  bool Active() const { return m_why.empty(); }
  const std::string& Why() const { return m_why; }

 private:
  std::string m_why;
};

/// Whether `handle` still names an open socket of this process.
bool SocketIsOpen(SocketHandle handle);
/// The socket's SO_BROADCAST setting; nothing when it cannot be read.
std::optional<bool> SocketBroadcast(SocketHandle handle);

/// The process's id, for names no other test run uses.
long ProcessId();

/// A path to a device that reads as endless zeros, empty where there is none.
std::string EndlessDevice();

}  // namespace corvalink::test
