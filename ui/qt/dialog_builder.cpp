#include "qt/dialog_builder.h"

#include <string_view>

#include "text/ansi_text.h"

namespace corvalink {

void SetControlId(QObject& object, ControlId id) {
  object.setObjectName(QString::fromLatin1(id.name));
  object.setProperty(CONTROL_ID_PROPERTY, id.number);
}

void SetUpDialogFrame(QDialog& dialog, ControlId templateId, const QString& caption, QSize size) {
  SetControlId(dialog, templateId);
  SetCaption(dialog, caption);
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowCloseButtonHint);
  dialog.setFixedSize(size);
}

void SetCaption(QWidget& window, const QString& text) {
  // Qt shows each doubled "[*][*]" as one "[*]".
  QString escaped = text;
  escaped.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  window.setWindowTitle(escaped);
}

void MakeStaticText(QLabel* label, QWidget* mnemonicTarget) {
  label->setTextFormat(Qt::PlainText);
  // A plain-text label processes ampersands only when it has a buddy.
  label->setBuddy(mnemonicTarget);
}

QString QtText(const InterfaceTextTable& table, UiText text) {
  return AnsiText(ShownText(table, text));
}

QString BuiltInQText(UiText text) { return AnsiText(BuiltInText(text)); }

QString AnsiText(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (char c : bytes) {
    // Every Windows-1252 character is in the Basic Multilingual Plane.
    text += QChar(static_cast<char16_t>(AnsiToCodePoint(static_cast<uint8_t>(c))));
  }
  return text;
}

}  // namespace corvalink
