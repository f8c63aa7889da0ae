#pragma once
// Helpers for driving the main window in tests: a fresh working directory and registry per
// test, a loopback receiver that stands in for the LAN's broadcast, and routers that reply to
// the window's search socket over loopback. Nothing here sends beyond 127.0.0.1.

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "../unit/temp_tree.h"
#include "app/app_state.h"
#include "platform/registry_store.h"
#include "platform/udp_socket.h"
#include "portsetup/server_address.h"
#include "sim_router.h"

namespace corvalink::testing {

/// A dialog's control by the name of its identifier ("IDC_ROUTER_LIST").
template <typename T>
T* Control(QWidget* dlg, const char* id) {
  return dlg->findChild<T*>(QString::fromLatin1(id));
}

/// The main window's router list.
inline QTreeWidget* RouterList(QWidget* dlg) { return Control<QTreeWidget>(dlg, "IDC_ROUTER_LIST"); }

/// Runs the event loop until `done` holds, checking every millisecond, or `timeoutMs` passed;
/// returns whether it holds. Unlike QTest::qWaitFor it does not sleep 10 ms between rounds.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  check.setInterval(1);
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  check.start();
  loop.exec();
  return done();
}

inline constexpr Ipv4 LOOPBACK{{127, 0, 0, 1}};

/// Runs the test in its own temporary directory (so no stray "lpr.txt" is found) and returns to
/// the previous one afterwards.
class ScopedWorkDir {
 public:
  explicit ScopedWorkDir(const std::filesystem::path& dir) : m_previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedWorkDir() {
    std::error_code ec;
    std::filesystem::current_path(m_previous, ec);
  }
  ScopedWorkDir(const ScopedWorkDir&) = delete;
  ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

 private:
  std::filesystem::path m_previous;
};

/// A UDP socket on loopback that receives what the window "broadcasts": the tests aim
/// AppState::discoveryDestination at it.
class LoopbackReceiver {
 public:
  LoopbackReceiver() : m_socket(UdpSocket::Open(Endpoint{LOOPBACK, 0})) {}
  Endpoint Address() const { return {LOOPBACK, m_socket ? m_socket->LocalPort() : uint16_t{0}}; }
  /// The next datagram within `timeoutMs` (while Qt keeps running), with its sender.
  std::optional<std::vector<uint8_t>> Receive(int timeoutMs, Endpoint* from = nullptr) {
    if (!m_socket) return std::nullopt;
    if (!QTest::qWaitFor([this] { return m_socket->WaitReadable(0); }, timeoutMs)) return std::nullopt;
    std::vector<uint8_t> buffer(1500);
    int n = m_socket->ReceiveFrom(buffer, from);
    if (n < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
  }

 private:
  std::optional<UdpSocket> m_socket;
};

/// A per-test world: working directory, registry root and a loopback search destination.
struct MainWindowWorld {
  test::TempDir dir;
  ScopedWorkDir workDir{dir.Path()};
  LoopbackReceiver broadcast;
  AppState state;

  MainWindowWorld() {
    state.registryRoot = dir.Path() / "registry";
    state.discoveryDestination = broadcast.Address();
  }
  /// The directory of HKEY_LOCAL_MACHINE "Software\DED Orezadu Devo".
  std::filesystem::path KeyDir() const {
    return state.registryRoot / HKEY_LOCAL_MACHINE_NAME / "SOFTWARE" / "DED Orezadu Devo";
  }
  void CreateKey() const { std::filesystem::create_directories(KeyDir()); }
  /// The stored "Server IP", if any.
  std::optional<RegistryValue> ServerIp() const {
    RegistryStore store(state.registryRoot);
    RegistryKey key = store.OpenKey(HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, RegAccess::Read);
    if (!key.IsOpen()) return std::nullopt;
    return store.QueryValue(key, SERVER_IP_VALUE);
  }
};

/// A router that replies over loopback.
inline sim::SimRouter Router(std::array<uint8_t, 6> mac, Ipv4 ip, const char* location = "") {
  sim::SimRouter r;
  r.mac = mac;
  r.ip = ip;
  for (std::size_t i = 0; location[i] != '\0' && i < r.location.size(); ++i) {
    r.location[i] = static_cast<uint8_t>(location[i]);
  }
  r.password = "pw";
  return r;
}

/// Sends `router`'s search reply to a window's search port.
inline void SendReply(uint16_t searchPort, const sim::SimRouter& router) {
  std::optional<UdpSocket> s = UdpSocket::Open(Endpoint{LOOPBACK, 0});
  if (!s) return;
  sim::ReplyBytes reply = sim::BuildSimSearchReply(router);
  s->SendTo(reply, Endpoint{LOOPBACK, searchPort});
}

/// Sends the reply and waits until the list has `rowsAfter` rows.
inline bool ReplyAndWait(uint16_t searchPort, const sim::SimRouter& router, QTreeWidget* list,
                         int rowsAfter) {
  SendReply(searchPort, router);
  return QTest::qWaitFor([&] { return list->topLevelItemCount() == rowsAfter; }, 3000);
}

/// The first visible top-level window of type T, or null.
template <typename T>
T* FindWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* t = qobject_cast<T*>(w); t != nullptr && t->isVisible()) return t;
  }
  return nullptr;
}

/// The first visible window of type T that no earlier call returned, now marked as answered;
/// null when there is none. For a poll that answers each modal window once.
template <typename T>
T* FindUnansweredWindow() {
  T* window = FindWindow<T>();
  if (window == nullptr || window->property("answered").toBool()) return nullptr;
  window->setProperty("answered", true);
  return window;
}

}  // namespace corvalink::testing
