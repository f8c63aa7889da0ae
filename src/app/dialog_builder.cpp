#include "app/dialog_builder.h"

#include <string_view>

namespace corvalink {

void SetUpDialogFrame(QDialog& dialog, const char* templateId, const QString& caption, QSize size) {
  dialog.setObjectName(QString::fromLatin1(templateId));
  dialog.setWindowTitle(caption);
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowCloseButtonHint);
  dialog.setFixedSize(size);
}

QString SlotText(const InterfaceTextTable& table, std::size_t slot) {
  const std::string_view text = table.Text(slot);
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace corvalink
