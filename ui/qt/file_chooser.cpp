#include "qt/file_chooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <system_error>
#include <filesystem>

namespace corvalink {

QString InitialDirectoryFor(const std::string& currentDir) {
  if (currentDir.empty() || currentDir.size() > MAX_INITIAL_DIR_CHARS) return {};
  return QFile::decodeName(QByteArray::fromStdString(currentDir));
}

QString CurrentInitialDirectory() {
  std::error_code ec;
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (ec) return {};
  return InitialDirectoryFor(cwd.native());
}

std::optional<FileChoice> QtFileChooser::ChooseFile(QWidget* owner,
                                                    const FileChooserRequest& request) {
  // Qt's dialog never changes the process's current directory, so the caller's relative paths
  // stay valid after it.
  QFileDialog dialog(owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::ReadOnly, true);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(request.filters);
  if (!request.initialDir.isEmpty()) dialog.setDirectory(request.initialDir);
  if (!request.initialName.isEmpty()) dialog.selectFile(request.initialName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  QFileInfo info(files.first());
  if (!info.isFile()) return std::nullopt;
  return FileChoice{QDir::toNativeSeparators(info.absoluteFilePath()), info.fileName()};
}

}  // namespace corvalink
