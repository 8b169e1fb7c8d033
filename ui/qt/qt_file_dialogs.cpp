// QtDialog's message boxes and its file and folder dialogs: Qt's own, modal to the
// window, shown by the window's thread.
#include "ui/qt/qt_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "ui/qt/qt_strings.h"

namespace ui::qt {

namespace {

// The folder a file dialog opens in: a file stands for its folder, a folder that does
// not exist for its nearest existing parent; the current folder when none is left.
QString StartingFolder(const std::string& requested) {
  if (requested.empty()) return QDir::currentPath();
  QString path = QFileInfo(Q(requested)).absoluteFilePath();
  while (!QFileInfo(path).isDir()) {
    const QString parent = QFileInfo(path).absolutePath();
    if (parent == path) return QDir::currentPath();
    path = parent;
  }
  return path;
}

}  // namespace

int QtDialog::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  // Another thread's box is shown by the window's thread, whose loop keeps serving
  // while the calling thread waits for the answer.
  return OnWindowThread([&, this] {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((type & 0xF0) == MB_ICONERROR) icon = QMessageBox::Critical;
    if ((type & 0xF0) == MB_ICONINFORMATION) icon = QMessageBox::Information;
    QMessageBox box(icon, Q(caption), Q(text), QMessageBox::Ok, surface_.get());
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    return IDOK;
  });
}

std::optional<std::vector<std::string>> QtDialog::OpenFiles(const OpenFileRequest& request) {
  return OnWindowThread([&, this]() -> std::optional<std::vector<std::string>> {
    // Qt's own dialog rather than the desktop's: the same on every desktop.
    QFileDialog dialog(surface_.get());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The filter list shows each description as given, without the patterns behind it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!request.title.empty()) dialog.setWindowTitle(Q(request.title));
    // Each filter as "description (patterns)", its ';'-separated patterns space-separated,
    // matched in any letter case.
    QStringList filters;
    for (const auto& [description, patterns] : request.filters) {
      const QString spaced = Q(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
      filters << Q(description) + QStringLiteral(" (") + spaced + QStringLiteral(")");
    }
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    dialog.setDirectory(StartingFolder(request.initialFolder));
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> paths;
    for (const QString& path : dialog.selectedFiles()) paths.push_back(S(QFileInfo(path).absoluteFilePath()));
    if (paths.empty()) return std::nullopt;
    return paths;
  });
}

std::optional<std::string> QtDialog::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
  return OnWindowThread([&, this]() -> std::optional<std::string> {
    QFileDialog dialog(surface_.get(), Q(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    // The current folder stands selected among its neighbours, as in a folder tree.
    const QFileInfo start(QDir::cleanPath(Q(initialFolder)));
    if (!initialFolder.empty() && start.isDir() && !QDir(start.absoluteFilePath()).isRoot()) {
      dialog.setDirectory(start.absolutePath());
      dialog.selectFile(start.fileName());
    } else {
      dialog.setDirectory(StartingFolder(initialFolder));
    }
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || !QFileInfo(chosen.first()).isDir()) return std::nullopt;
    return S(QFileInfo(chosen.first()).absoluteFilePath());
  });
}

}  // namespace ui::qt
