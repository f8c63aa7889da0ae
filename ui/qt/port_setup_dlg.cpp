#include "qt/port_setup_dlg.h"

#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPersistentModelIndex>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "qt/about_dlg.h"
#include "qt/app_icon.h"
#include "qt/app_message.h"
#include "qt/dialog_builder.h"
#include "qt/dialog_units.h"
#include "app/resource_ids.h"
#include "app/router_list.h"
#include "discovery/router_table.h"
#include "portsetup/server_address.h"
#include "text/interface_text.h"
#include "text/ui_texts.h"

namespace corvalink {
namespace {

constexpr int DIALOG_WIDTH_DU = 339;
constexpr int DIALOG_HEIGHT_DU = 122;
// Datagrams read per search-socket notification: a full table's answers and as many again
// (duplicates, strays), and few enough that a flood of datagrams never holds the window up.
constexpr int SEARCH_BURST_LIMIT = 2 * MAX_ROUTERS;

// Where each row keeps the table slot of the router it shows.
constexpr int SLOT_ROLE = Qt::UserRole;

// The system commands with a course of their own in this window (low four bits masked off).
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
constexpr unsigned SC_RESTORE = 0xF120;

const QStringList& FirmwareFilters() {
  static const QStringList filters = {QStringLiteral("*.all"), QStringLiteral("*.rst"),
                                      QStringLiteral("*.*")};
  return filters;
}

// Copies `bytes` into a fixed text field with its NUL. False, leaving the field as it was, when
// they do not fit: a cut path would name another file.
bool CopyToField(const QByteArray& bytes, std::array<char, FIRMWARE_FIELD_SIZE>& field) {
  if (bytes.size() >= static_cast<qsizetype>(field.size())) return false;
  field.fill('\0');
  std::copy(bytes.begin(), bytes.end(), field.begin());
  return true;
}

// The router list. A double-click anywhere in it (on a row or on the empty space below the rows)
// is reported after the list has handled the clicks, so the handler sees the mark where the
// clicks left it.
//
// The list keeps a selection mark as a report list view does: the row a plain click or a plain
// movement key goes to, or a Ctrl-click or Ctrl+Space that selects; Shift and Ctrl movements
// leave it where it is. It is Qt's current row only as long as those agree.
class RouterListView : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;
  std::function<void()> onDoubleClick;

  QTreeWidgetItem* MarkedItem() const { return m_mark.isValid() ? itemFromIndex(m_mark) : nullptr; }
  void SetMark(QTreeWidgetItem* item) {
    m_mark = item != nullptr ? QPersistentModelIndex(indexFromItem(item)) : QPersistentModelIndex();
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    QTreeWidget::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || (event->modifiers() & Qt::ShiftModifier)) return;
    QTreeWidgetItem* hit = itemAt(event->position().toPoint());
    if (hit == nullptr) return;
    if (!(event->modifiers() & Qt::ControlModifier) || hit->isSelected()) SetMark(hit);
  }
  void keyPressEvent(QKeyEvent* event) override {
    QTreeWidget::keyPressEvent(event);
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    switch (event->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_Home:
      case Qt::Key_End:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
        if (mods == Qt::NoModifier) SetMark(currentItem());
        break;
      case Qt::Key_Space:
        if (mods == Qt::ControlModifier && currentItem() != nullptr && currentItem()->isSelected()) {
          SetMark(currentItem());
        }
        break;
      default:
        break;
    }
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && onDoubleClick) onDoubleClick();
  }

 private:
  QPersistentModelIndex m_mark;
};

}  // namespace

QPoint MinimisedIconPosition(QSize client, QSize icon) {
  // C++ division truncates towards zero, which is the rule the picture is placed by.
  return QPoint((client.width() - icon.width() + 1) / 2, (client.height() - icon.height() + 1) / 2);
}

CPortSetupDlg::CPortSetupDlg(AppState& state, SearchSocketOpener openSearchSocket,
                             QWidget* parent)
    : QDialog(parent),
      m_state(state),
      m_openSearchSocket(std::move(openSearchSocket)),
      m_upgradeDlg(state),
      m_searchSocket([this](const Packet& reply) { OnSearchReply(reply); }),
      m_hIcon(AppIcon()),
      m_passwordDlg(state),
      m_fileChooser(std::make_unique<QtFileChooser>()) {
  BuildControls();
  OnInitDialog();
  if (InFirmwareConfiguration()) ShowFirmwareRow();
}

CPortSetupDlg::~CPortSetupDlg() {
  // The notifier must let go of the descriptor before the socket member closes it.
  CloseSearchSocket();
}

void CPortSetupDlg::SetFileChooser(std::unique_ptr<FileChooser> chooser) {
  if (chooser) m_fileChooser = std::move(chooser);
}

void CPortSetupDlg::BuildControls() {
  // Caption, window menu and close box; no minimise or maximise box; a task-bar entry of its
  // own, being a window without owner.
  const DialogUnits du = DialogUnits::ForFont(font());
  SetUpDialogFrame(*this, CORVALINK_ID(IDD_PORT_SETUP), BuiltInQText(UiText::MainCaption),
                   du.Size(DIALOG_WIDTH_DU, DIALOG_HEIGHT_DU));

  // Created in template order, which is also the tab order.
  m_btnSelect = PlaceControl<QPushButton>(this, CORVALINK_ID(IDC_SELECT_FILE),
                                          du.Rect(272, 98, 60, 14), BuiltInQText(UiText::SelectFile));
  m_btnSelect->setDefault(true);
  m_btnSelect->setEnabled(false);
  m_btnSelect->hide();

  m_btnInstall = PlaceControl<QPushButton>(this, CORVALINK_ID(IDC_INSTALL), du.Rect(265, 6, 67, 14),
                                           BuiltInQText(UiText::Install));

  m_staticFirmwareLabel =
      PlaceControl<QLabel>(this, CORVALINK_ID(IDC_FIRMWARE_LABEL), du.Rect(7, 101, 325, 8),
                           BuiltInQText(UiText::FirmwareLabel));
  m_staticFirmwareLabel->hide();

  m_editFirmwarePath =
      PlaceControl<QLineEdit>(this, CORVALINK_ID(IDC_FIRMWARE_PATH), du.Rect(7, 100, 222, 12));
  m_editFirmwarePath->hide();

  m_etchedLine = PlaceControl<QFrame>(this, nullptr, du.Rect(40, 115, 292, 1));
  m_etchedLine->setFrameShape(QFrame::HLine);
  m_etchedLine->setFrameShadow(QFrame::Sunken);
  m_etchedLine->hide();

  m_staticRouterLabel =
      PlaceControl<QLabel>(this, CORVALINK_ID(IDC_ROUTER_LABEL), du.Rect(7, 9, 148, 8),
                           BuiltInQText(UiText::RouterLabel));

  auto* list =
      PlaceControl<RouterListView>(this, CORVALINK_ID(IDC_ROUTER_LIST), du.Rect(7, 24, 325, 91));
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setSortingEnabled(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setEnabled(false);
  list->onDoubleClick = [this] { OnDblclkRouterList(); };

  m_btnSearch = PlaceControl<QPushButton>(this, CORVALINK_ID(IDC_SEARCH), du.Rect(192, 6, 60, 14),
                                          BuiltInQText(UiText::Search));

  MakeStaticText(m_staticFirmwareLabel, m_editFirmwarePath);
  MakeStaticText(m_staticRouterLabel, list);

  connect(m_btnInstall, &QPushButton::clicked, this, &CPortSetupDlg::OnInstall);
  connect(m_btnSelect, &QPushButton::clicked, this, &CPortSetupDlg::OnSelectFile);
  connect(m_btnSearch, &QPushButton::clicked, this, [this] { StartSearch(); });
}

void CPortSetupDlg::ShowFirmwareRow() {
  const DialogUnits du = DialogUnits::ForFont(font());
  setFixedSize(du.Size(DIALOG_WIDTH_DU, FIRMWARE_DIALOG_CY));
  const auto place = [&du](QWidget* control, const DialogUnitRect& r) {
    control->setGeometry(du.Rect(r.x, r.y, r.cx, r.cy));
    control->setEnabled(true);
    control->show();
  };
  place(m_etchedLine, FIRMWARE_LINE_RECT);
  place(m_staticFirmwareLabel, FIRMWARE_LABEL_RECT);
  place(m_editFirmwarePath, FIRMWARE_PATH_RECT);
  place(m_btnSelect, FIRMWARE_SELECT_RECT);
  // The field shows the chosen file; only "&Select" chooses one, so typing there would change
  // nothing that is sent.
  m_editFirmwarePath->setReadOnly(true);
}

bool CPortSetupDlg::OnInitDialog() {
  setWindowIcon(m_hIcon);
  m_state.firmwarePath = FirmwarePath{};
  if (!CreateSearchSocket()) return false;
  LoadInterfaceText();
  m_btnInstall->setEnabled(false);
  return true;
}

bool CPortSetupDlg::CreateSearchSocket() {
  errno = 0;
  bool created = m_openSearchSocket ? m_openSearchSocket(m_searchSocket) : m_searchSocket.Create();
  if (!created) {
    const int cause = errno;
    m_initError = tr("The search socket could not be created, so no router can be found.");
    if (cause != 0) m_initError += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(cause)));
    return false;
  }
  // Each notification takes every reply waiting, up to a bound, and lists the new routers
  // together: routers answer a search at once, and the list is laid out and painted once per
  // burst rather than once per row.
  const int fd = m_searchSocket.Descriptor();
  if (fd >= 0) {
    m_searchNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_searchNotifier, &QSocketNotifier::activated, this, [this] {
      m_searchSocket.ReceiveBurst(SEARCH_BURST_LIMIT);
      ShowNewRows();
    });
  }
  return true;
}

void CPortSetupDlg::CloseSearchSocket() {
  DropLegNotifiers();
  delete m_searchNotifier;
  m_searchNotifier = nullptr;
  m_searchSocket.Close();
}

void CPortSetupDlg::DropLegNotifiers() {
  for (QSocketNotifier* n : m_legNotifiers) delete n;
  m_legNotifiers.clear();
}

void CPortSetupDlg::WatchSearchLegs() {
  for (SocketHandle fd : m_searchSocket.Descriptors()) {
    if (fd == m_searchSocket.Descriptor()) continue;
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
      m_searchSocket.ReceiveBurst(SEARCH_BURST_LIMIT);
      ShowNewRows();
    });
    m_legNotifiers.push_back(notifier);
  }
}

std::unique_ptr<Registry> CPortSetupDlg::OpenRegistry() const {
  return OpenRegistryAt(m_state.registryRoot);
}

void CPortSetupDlg::LoadInterfaceText() {
  const InterfaceTextTable& text = m_state.interfaceText;
  if (ReloadInterfaceText(m_state.interfaceText, *OpenRegistry())) {
    SetCaption(*this, QtText(text, UiText::MainCaption));
    m_staticFirmwareLabel->setText(QtText(text, UiText::FirmwareLabel));
    m_btnSelect->setText(QtText(text, UiText::SelectFile));
    m_staticRouterLabel->setText(QtText(text, UiText::RouterLabel));
    m_btnInstall->setText(QtText(text, UiText::Install));
    m_btnSearch->setText(QtText(text, UiText::Search));
  }
  SetUpRouterList();
}

void CPortSetupDlg::SetUpRouterList() {
  QTreeWidget* list = RouterList();
  QStringList headings;
  for (const ListColumn& column : LIST_COLUMNS) {
    headings << QtText(m_state.interfaceText, column.heading);
  }
  list->setColumnCount(static_cast<int>(headings.size()));
  list->setHeaderLabels(headings);
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (std::size_t i = 0; i < std::size(LIST_COLUMNS); ++i) {
    list->setColumnWidth(static_cast<int>(i), LIST_COLUMNS[i].width);
  }
}

QTreeWidget* CPortSetupDlg::RouterList() const {
  return findChild<QTreeWidget*>(QStringLiteral("IDC_ROUTER_LIST"));
}

int CPortSetupDlg::StartSearch() {
  RouterList()->clear();
  // A search may close the sockets of interfaces that went away: their notifiers go first.
  DropLegNotifiers();
  const int sent =
      corvalink::StartSearch(m_state.routerTable, m_searchSocket, m_state.discoveryDestination);
  WatchSearchLegs();
  return sent;
}

void CPortSetupDlg::OnSearchReply(const Packet& reply) {
  RouterTable& table = m_state.routerTable;
  if (table.Add(reply) != AddResult::Added) return;
  const int slot = table.Count() - 1;
  // Its location is single-byte (Windows-1252) text. Listed by ShowNewRows once the burst read.
  const RouterRowCells cells = RowCells(table.Slot(slot));
  auto* row = new QTreeWidgetItem(QStringList{AnsiText(cells.mac), AnsiText(cells.ip),
                                              AnsiText(cells.mask), AnsiText(cells.location)});
  row->setData(0, SLOT_ROLE, slot);
  m_newRows.push_back(row);
}

void CPortSetupDlg::ShowNewRows() {
  if (m_newRows.empty()) return;
  QTreeWidget* list = RouterList();
  list->setEnabled(true);
  // Each new router goes on top, so the newest is row 0 and the burst reads in reverse.
  QTreeWidgetItem* previousTop = list->topLevelItem(0);
  QList<QTreeWidgetItem*> rows(m_newRows.rbegin(), m_newRows.rend());
  m_newRows.clear();
  list->insertTopLevelItems(0, rows);

  // The newest row is marked, selected and focused. Of the rows below, each new one lost its
  // selection to the one after it, as did the row that was on top before; rows the user picked
  // further down keep theirs.
  QTreeWidgetItem* newest = rows.front();
  list->setCurrentItem(newest, 0, QItemSelectionModel::NoUpdate);
  static_cast<RouterListView*>(list)->SetMark(newest);
  newest->setSelected(true);
  if (previousTop != nullptr) previousTop->setSelected(false);

  // In the firmware configuration there is nothing to install before a file is chosen.
  m_btnInstall->setEnabled(!InFirmwareConfiguration() || FirmwareChosen(m_state.firmwarePath));
}

bool CPortSetupDlg::SelectRouterFromList() {
  QTreeWidgetItem* marked = static_cast<RouterListView*>(RouterList())->MarkedItem();
  if (marked == nullptr) return false;
  // Every row shows a router of the current search: StartSearch empties list and table together.
  return m_state.routerTable.CopySlot(marked->data(0, SLOT_ROLE).toInt(), m_state.selectedRouter);
}

void CPortSetupDlg::OnInstall() {
  if (InFirmwareConfiguration()) {
    UpgradeMarkedRouter();
    return;
  }
  if (!SelectRouterFromList()) return;
  // No reply may change the table or the list from here on, not even inside the message box.
  CloseSearchSocket();

  std::string err;
  if (!StoreServerAddress(*OpenRegistry(), m_state.selectedRouter.ipAddress, &err)) {
    ShowAppMessage(this, QString::fromLocal8Bit(err.data(), static_cast<qsizetype>(err.size())),
                   QMessageBox::Critical);
    done(RESULT_STORE_FAILED);
    return;
  }
  ShowAppMessage(this, QtText(m_state.interfaceText, UiText::InstallConfirmation));
  accept();
}

void CPortSetupDlg::UpgradeMarkedRouter() {
  if (!FirmwareChosen(m_state.firmwarePath) || !SelectRouterFromList()) return;
  // The search socket stays open and the list as it is: after this router comes the next.
  if (RouterHasPassword(m_state.selectedRouter) &&
      !PasswordLetsUpgradeGoOn(RunModalOverThis(m_passwordDlg))) {
    return;
  }
  RunModalOverThis(m_upgradeDlg);
}

int CPortSetupDlg::RunModalOverThis(QDialog& dialog) {
  // The dialogs have no parent widget; the window system is still told whose they are, so they
  // open over this window and stay in front of it.
  dialog.winId();
  if (QWindow* handle = dialog.windowHandle()) handle->setTransientParent(windowHandle());
  return dialog.exec();
}

void CPortSetupDlg::OnDblclkRouterList() { OnInstall(); }

void CPortSetupDlg::OnSelectFile() {
  FileChooserRequest request;
  request.filters = FirmwareFilters();
  request.initialDir = CurrentInitialDirectory();
  const std::string_view previous = m_state.firmwarePath.Path();
  request.initialName =
      QFile::decodeName(QByteArray(previous.data(), static_cast<qsizetype>(previous.size())));

  std::optional<FileChoice> choice = m_fileChooser->ChooseFile(this, request);
  if (!choice) return;
  FirmwarePath chosen;
  if (!CopyToField(QFile::encodeName(choice->path), chosen.path) ||
      !CopyToField(QFile::encodeName(choice->title), chosen.title)) {
    return;
  }
  m_state.firmwarePath = chosen;
  m_editFirmwarePath->setText(choice->path);
  StartSearch();
  m_btnSearch->setEnabled(true);
}

void CPortSetupDlg::OnSysCommand(unsigned command) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.exec();
    return;
  }
  switch (command & 0xFFF0) {
    case SC_CLOSE:
      close();
      break;
    case SC_MINIMIZE:
      showMinimized();
      break;
    case SC_RESTORE:
      showNormal();
      break;
    default:
      break;
  }
}

void CPortSetupDlg::paintEvent(QPaintEvent* event) {
  if (!isMinimized()) {
    QDialog::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const QSize iconSize(ICON_SIZE, ICON_SIZE);
  painter.drawPixmap(MinimisedIconPosition(rect().size(), iconSize), m_hIcon.pixmap(iconSize));
}

}  // namespace corvalink
