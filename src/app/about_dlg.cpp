#include "app/about_dlg.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_units.h"
#include "app/resource_ids.h"

namespace corvalink {
namespace {

constexpr int ABOUT_WIDTH_DU = 235;
constexpr int ABOUT_HEIGHT_DU = 55;

QLabel* PlainLabel(QWidget* parent, const QString& text, const QRect& rect) {
  // A static without ampersand processing: every character shows as it stands.
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(rect);
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("IDD_ABOUTBOX"));
  setWindowTitle(QStringLiteral("About Corvalink"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  const DialogUnits du = DialogUnits::ForFont(QApplication::font());
  setFixedSize(du.Size(ABOUT_WIDTH_DU, ABOUT_HEIGHT_DU));

  // An icon static takes the icon's own size, whatever the template's 20 x 20 says.
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("IDR_MAINFRAME"));
  icon->setPixmap(AppIcon().pixmap(ICON_SIZE, ICON_SIZE));
  icon->setGeometry(du.X(11), du.Y(17), ICON_SIZE, ICON_SIZE);

  PlainLabel(this, QStringLiteral("Corvalink Version 1.0"), du.Rect(40, 10, 119, 8))
      ->setObjectName(QStringLiteral("IDC_VERSION_TEXT"));
  PlainLabel(this, QStringLiteral("Router setup and upgrade tool"), du.Rect(40, 25, 119, 8))
      ->setObjectName(QStringLiteral("IDC_ABOUT_TEXT"));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("IDOK"));
  ok->setGeometry(du.Rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace corvalink
