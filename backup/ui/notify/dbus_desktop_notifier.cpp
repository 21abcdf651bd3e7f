// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ui/notify/dbus_desktop_notifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "common/program_names.h"

namespace halvex {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kAnswerWithinMs = 5000;

// The bus libdbus would find by itself: the address in the environment, or the user bus of
// a systemd session. Without either it would try to start one, which is not wanted here.
bool SessionBusKnown() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return false;
    struct stat st {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

bool DbusDesktopNotifier::Send(const DesktopNotice& notice) {
    if (!SessionBusKnown()) return false;
    // QtDBus wants an application object for its connection's thread.
    std::unique_ptr<QCoreApplication> app;
    static int argc = 1;
    static char name[] = "halvex-backup";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) app = std::make_unique<QCoreApplication>(argc, argv);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // A service that reads markup would take '<' and '&' of a path for tags.
    QDBusMessage capabilities = QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
    const QDBusReply<QStringList> caps = bus.call(capabilities, QDBus::Block, kAnswerWithinMs);
    const bool markup = caps.isValid() && caps.value().contains("body-markup");
    QString body = QString::fromUtf8(notice.body.data(), static_cast<qsizetype>(notice.body.size()));
    if (markup) body = Escaped(body);

    QVariantMap hints;
    hints.insert("desktop-entry", QString::fromUtf8(kBackupProgramName.data(), kBackupProgramName.size()));
    hints.insert("urgency", QVariant::fromValue<uchar>(notice.critical ? 2 : 1));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    call << QString("Halvex Backup") << 0u << QString::fromUtf8(kBackupProgramName.data(), kBackupProgramName.size())
         << QString::fromUtf8(notice.summary.data(), static_cast<qsizetype>(notice.summary.size())) << body
         << QStringList() << hints << -1;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerWithinMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace halvex
