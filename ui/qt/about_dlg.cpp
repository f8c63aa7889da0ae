#include "qt/about_dlg.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "qt/app_icon.h"
#include "qt/dialog_builder.h"
#include "qt/dialog_units.h"
#include "app/resource_ids.h"
#include "app/version_info.h"

namespace corvalink {
namespace {

constexpr int ABOUT_WIDTH_DU = 235;
constexpr int ABOUT_HEIGHT_DU = 55;

QLabel* PlainLabel(QWidget* parent, const char* controlId, const QRect& rect, const QString& text) {
  // A static without ampersand processing: every character shows as it stands.
  auto* label = PlaceControl<QLabel>(parent, controlId, rect, text);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const DialogUnits du = DialogUnits::ForFont(QApplication::font());
  SetUpDialogFrame(*this, CORVALINK_ID(IDD_ABOUTBOX), QStringLiteral("About Corvalink"),
                   du.Size(ABOUT_WIDTH_DU, ABOUT_HEIGHT_DU));

  // An icon static takes the icon's own size, whatever the template's 20 x 20 says.
  auto* icon = new QLabel(this);
  SetControlId(*icon, CORVALINK_ID(IDR_MAINFRAME));
  icon->setPixmap(AppIcon().pixmap(ICON_SIZE, ICON_SIZE));
  icon->setGeometry(du.X(11), du.Y(17), ICON_SIZE, ICON_SIZE);

  PlainLabel(this, "IDC_VERSION_TEXT", du.Rect(40, 10, 119, 8),
             QString::fromLatin1(VERSION_ABOUT_TEXT));
  QLabel* aboutText = PlainLabel(this, "IDC_ABOUT_TEXT", du.Rect(40, 25, 119, 8),
                                 QStringLiteral("Router setup and upgrade tool"));

  auto* ok = PlaceControl<QPushButton>(this, ID_OK, du.Rect(178, 7, 50, 14), QStringLiteral("OK"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  // Only the version line is without ampersand processing.
  MakeStaticText(aboutText, ok);
}

}  // namespace corvalink
