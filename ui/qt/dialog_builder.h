#pragma once
// Building a dialog from its template in code: the window frame every dialog here shares,
// controls placed at dialog-unit rectangles and named by their resource identifiers, and the
// interface text that replaces a control's built-in text when the text file was found.

#include <QDialog>
#include <QLabel>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstddef>
#include <string_view>
#include <utility>

#include "app/resource_ids.h"
#include "text/text_table.h"
#include "text/ui_texts.h"

namespace corvalink {

/// A template or control identifier of app/resource_ids.h: its name and its number.
struct ControlId {
  const char* name;
  int number;
};
/// The ControlId of one identifier macro, so that name and number cannot disagree.
#define CORVALINK_ID(id) (::corvalink::ControlId{#id, (id)})

/// The system's own button identifiers, which the templates use for OK and Cancel.
inline constexpr ControlId ID_OK{"IDOK", 1};
inline constexpr ControlId ID_CANCEL{"IDCANCEL", 2};

/// The dynamic property that holds a control's identifier number.
inline constexpr char CONTROL_ID_PROPERTY[] = "controlId";

/// Gives `object` the name and number of `id`.
void SetControlId(QObject& object, ControlId id);

/// Names `dialog` by its template identifier and gives it `caption`, a window menu and a close
/// box (no minimise or maximise box) and the fixed `size`.
void SetUpDialogFrame(QDialog& dialog, ControlId templateId, const QString& caption, QSize size);

/// Gives `window` the caption `text` exactly as written. (Qt reads "[*]" in a window title as
/// the place of its modified mark and drops it.)
void SetCaption(QWidget& window, const QString& text);

/// Creates a `Control` from `args` followed by `parent`, names it `controlId` (none when null)
/// and places it at `rect`. The parent owns the control.
template <typename Control, typename... Args>
Control* PlaceControl(QWidget* parent, const char* controlId, const QRect& rect, Args&&... args) {
  auto* control = new Control(std::forward<Args>(args)..., parent);
  if (controlId != nullptr) control->setObjectName(QString::fromLatin1(controlId));
  control->setGeometry(rect);
  return control;
}

/// The same for a control with a resource identifier, which it carries as name and number.
template <typename Control, typename... Args>
Control* PlaceControl(QWidget* parent, ControlId id, const QRect& rect, Args&&... args) {
  auto* control = PlaceControl<Control>(parent, nullptr, rect, std::forward<Args>(args)...);
  SetControlId(*control, id);
  return control;
}

/// Makes `label` a static text as the dialog templates have them: its text is never markup,
/// "&&" shows as "&" and "&X" shows X underlined and moves the focus to `mnemonicTarget` (the
/// control that follows the static in tab order) when Alt+X is pressed.
void MakeStaticText(QLabel* label, QWidget* mnemonicTarget);

/// What a control or message shows for `text` (ShownText), its bytes read as Windows-1252.
QString QtText(const InterfaceTextTable& table, UiText text);
/// The built-in text of `text`, for a control's template text.
QString BuiltInQText(UiText text);

/// Single-byte (Windows-1252) text as a QString.
QString AnsiText(std::string_view bytes);

}  // namespace corvalink
