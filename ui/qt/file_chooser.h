#pragma once
// The open-file dialog behind the firmware row's "&Select" button, behind a small interface so
// that tests can answer it without a window of the desktop's own.

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

class QWidget;

namespace corvalink {

/// The longest current directory offered as the initial folder: it is read into 100 bytes with
/// room for 99, and the terminating NUL takes one of them.
inline constexpr std::size_t MAX_INITIAL_DIR_CHARS = 98;

struct FileChoice {
  QString path;   ///< full path of an existing file
  QString title;  ///< its name without the folder
};

struct FileChooserRequest {
  QStringList filters;    ///< patterns, each its own description, in the order offered
  QString initialDir;     ///< empty: the chooser picks the folder itself
  QString initialName;    ///< the previous choice, offered again
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  /// Asks for an existing file. Nothing when the user cancelled. Leaves the process's current
  /// directory as it was.
  virtual std::optional<FileChoice> ChooseFile(QWidget* owner, const FileChooserRequest& request) = 0;
};

/// A Qt file dialog (Qt's own widgets, never the desktop's native one).
class QtFileChooser : public FileChooser {
 public:
  std::optional<FileChoice> ChooseFile(QWidget* owner, const FileChooserRequest& request) override;
};

/// `currentDir` (as the bytes the system names it by) when it fits in MAX_INITIAL_DIR_CHARS,
/// else empty.
QString InitialDirectoryFor(const std::string& currentDir);

/// The process's current directory as an initial folder (see InitialDirectoryFor).
QString CurrentInitialDirectory();

}  // namespace corvalink
