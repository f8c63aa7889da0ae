#pragma once
// The main window: finds the routers on the LAN, lists them, and stores the chosen one's address
// for the LPR printer-port software. It owns the search socket for its whole life and carries a
// firmware-file row, hidden by default; in the firmware configuration the row is shown and
// "Install / Modify" upgrades the marked router instead.

#include <QDialog>
#include <QIcon>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "app/app_state.h"
#include "qt/file_chooser.h"
#include "discovery/search_socket.h"
#include "qt/password_dlg.h"
#include "platform/registry.h"
#include "qt/upgrade_dlg.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvalink {

/// Where the icon of a minimised window is drawn in its client area: centred, with the
/// fraction of a signed division dropped (so a client area smaller than the icon gives 0, not
/// -1, while the difference is -1).
QPoint MinimisedIconPosition(QSize client, QSize icon);

class CPortSetupDlg : public QDialog {
  Q_OBJECT

 public:
  /// Opens the search socket; tests replace it to make creation fail or to watch it.
  using SearchSocketOpener = std::function<bool(CSearchSocket&)>;

  /// The dialog's result when the chosen address could not be stored (besides Accepted after
  /// a stored address and Rejected after Cancel).
  static constexpr int RESULT_STORE_FAILED = 2;

  /// Builds the window and runs its initialisation. `state` must outlive the dialog. When the
  /// search socket cannot be opened, InitError() says why and the dialog must not be shown.
  explicit CPortSetupDlg(AppState& state, SearchSocketOpener openSearchSocket = {},
                         QWidget* parent = nullptr);
  ~CPortSetupDlg() override;

  /// Empty when the initialisation ran to its end; else why the window cannot work.
  const QString& InitError() const { return m_initError; }

  /// Replaces the open-file dialog behind "&Select" (tests answer it themselves).
  void SetFileChooser(std::unique_ptr<FileChooser> chooser);

  /// Empties the list, forgets the current routers and sends one search request to
  /// AppState::discoveryDestination. Returns the bytes sent, or -1.
  int StartSearch();
  /// Stores the marked router's address, confirms and ends the dialog; without a marked row it
  /// does nothing. In the firmware configuration it upgrades the marked router instead (after
  /// its password, when it has one) and the dialog stays open.
  void OnInstall();
  /// A double-click anywhere in the router list: the same as "Install / Modify".
  void OnDblclkRouterList();
  /// Lets the user choose a firmware file; a confirmed choice fills FirmwarePath and starts a
  /// new search.
  void OnSelectFile();
  /// A window-menu command from the platform layer: the about command (0x0010, low four bits
  /// ignored) opens the about box; the others take their usual course.
  void OnSysCommand(unsigned command);

  /// The search socket's local port, 0 once it is closed: the port routers reply to.
  uint16_t SearchPort() const { return m_searchSocket.LocalPort(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void BuildControls();
  bool OnInitDialog();
  bool InFirmwareConfiguration() const {
    return m_state.configuration == MainDialogConfiguration::Firmware;
  }
  void ShowFirmwareRow();
  void UpgradeMarkedRouter();
  int RunModalOverThis(QDialog& dialog);
  bool CreateSearchSocket();
  void CloseSearchSocket();
  /// Watches each socket of the last search besides the one on any address.
  void WatchSearchLegs();
  void DropLegNotifiers();
  void LoadInterfaceText();
  void SetUpRouterList();
  void OnSearchReply(const Packet& reply);
  void ShowNewRows();
  bool SelectRouterFromList();
  QTreeWidget* RouterList() const;
  std::unique_ptr<Registry> OpenRegistry() const;

  AppState& m_state;
  SearchSocketOpener m_openSearchSocket;

  // Only the firmware configuration opens the upgrade and password dialogs; they live as long as
  // this window does, each without a parent window.
  CUpgradeDlg m_upgradeDlg;
  CSearchSocket m_searchSocket;
  QPushButton* m_btnSearch = nullptr;
  QPushButton* m_btnSelect = nullptr;
  QPushButton* m_btnInstall = nullptr;
  QLabel* m_staticRouterLabel = nullptr;
  QLabel* m_staticFirmwareLabel = nullptr;
  QLineEdit* m_editFirmwarePath = nullptr;
  QFrame* m_etchedLine = nullptr;
  QIcon m_hIcon;
  CPasswordDlg m_passwordDlg;

  QSocketNotifier* m_searchNotifier = nullptr;
  // One notifier per interface the last search went out of; remade by every search.
  std::vector<QSocketNotifier*> m_legNotifiers;
  // Rows of routers stored during the current notification, oldest first, not yet listed.
  std::vector<QTreeWidgetItem*> m_newRows;
  std::unique_ptr<FileChooser> m_fileChooser;
  QString m_initError;
};

}  // namespace corvalink
