#include "test_system.h"

#include <winsock2.h>
#include <windows.h>

namespace corvalink::test {

std::string NoChildProcess() {
  return "Windows has no fork: a step cannot run in a copy of this process";
}

std::optional<bool> RunInChild(const std::function<bool()>&, bool, int) { return std::nullopt; }

bool MakeFifo(const std::filesystem::path&, std::string* why) {
  if (why != nullptr) *why = "Windows has no FIFOs in its file system";
  return false;
}

PeriodicSignal::PeriodicSignal(int) {
  m_why = "Windows has no signals that interrupt a wait (Ctrl-C runs on a thread of its own)";
}

PeriodicSignal::~PeriodicSignal() = default;

bool SocketIsOpen(SocketHandle handle) {
  int type = 0;
  int len = sizeof type;
  return ::getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_TYPE,
                      reinterpret_cast<char*>(&type), &len) == 0;
}

std::optional<bool> SocketBroadcast(SocketHandle handle) {
  BOOL value = FALSE;
  int len = sizeof value;
  if (::getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_BROADCAST,
                   reinterpret_cast<char*>(&value), &len) != 0) {
    return std::nullopt;
  }
  return value != FALSE;
}

long ProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

std::string EndlessDevice() { return {}; }

}  // namespace corvalink::test
