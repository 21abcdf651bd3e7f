// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/folder_browser.h"

#include <QFile>
#include <QFileDialog>

#include "restore/ui/restore_dialog_font.h"

namespace halvex {

std::optional<std::string> BrowseForFolder(QWidget* owner, const std::string& title, const std::string& initialFolder) {
    QFileDialog dialog(owner, title.empty() ? QStringLiteral("Open") : QString::fromStdString(title),
                       QFile::decodeName(QByteArray::fromStdString(initialFolder)));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    FitFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const std::string chosen = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

}  // namespace halvex
