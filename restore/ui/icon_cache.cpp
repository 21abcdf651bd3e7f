// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/ui/icon_cache.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStyle>

#include "platform/nocase.h"

namespace halvex {
namespace {

QIcon ThemeOr(const char* themeName, QStyle::StandardPixmap fallback) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (icon.isNull() && QApplication::style()) icon = QApplication::style()->standardIcon(fallback);
    return icon;
}

// The desktop's icon for the type of a file of this name: by its MIME type, from the icon
// theme, else the generic file icon.
QIcon IconForFileName(std::string_view name) {
    static QMimeDatabase database;
    const QMimeType type =
        database.mimeTypeForFile(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())),
                                 QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull()) icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
    return icon;
}

}  // namespace

IconCache::IconCache() {
    icons_.push_back(ThemeOr("package-x-generic", QStyle::SP_DriveHDIcon));
    icons_.push_back(ThemeOr("drive-harddisk", QStyle::SP_DriveHDIcon));
    icons_.push_back(ThemeOr("folder", QStyle::SP_DirClosedIcon));
    icons_.push_back(ThemeOr("folder-open", QStyle::SP_DirOpenIcon));
    icons_.push_back(ThemeOr("go-up", QStyle::SP_FileDialogToParent));
    icons_.push_back(ThemeOr("emblem-symbolic-link", QStyle::SP_FileLinkIcon));
}

std::string IconCache::ExtensionKey(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string key(name.substr(dot + 1));
    for (char& c : key) c = platform::ToLowerAscii(c);
    return key;
}

int IconCache::GetIconIndexForFile(std::string_view name) {
    const std::string key = ExtensionKey(name);
    if (auto found = byExtension_.find(key); found != byExtension_.end()) return found->second;
    const std::string sample = key.empty() ? std::string("file") : "file." + key;
    icons_.push_back(IconForFileName(sample));
    const int index = Count() - 1;
    byExtension_.emplace(key, index);
    return index;
}

QIcon IconCache::Icon(int index) const {
    if (index < 0 || index >= Count()) return {};
    return icons_[static_cast<std::size_t>(index)];
}

}  // namespace halvex
