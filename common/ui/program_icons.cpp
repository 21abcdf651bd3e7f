// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/ui/program_icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The icons live in a static library; naming the resource here keeps the linker from leaving
// it out of the programs.
static void InitIconResources() { Q_INIT_RESOURCE(halvex_icons); }

namespace halvex {
namespace {

QIcon IconFromSvg(const QString& resource) {
    InitIconResources();
    QSvgRenderer renderer(resource);
    if (!renderer.isValid()) return {};
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon BackupProgramIcon() { return IconFromSvg(QStringLiteral(":/icons/halvex-backup.svg")); }

QIcon RestoreProgramIcon() { return IconFromSvg(QStringLiteral(":/icons/halvex-restore.svg")); }

}  // namespace halvex
