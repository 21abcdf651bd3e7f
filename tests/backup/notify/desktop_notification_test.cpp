// SPDX-License-Identifier: GPL-3.0-or-later
// halvex-backup --run without a terminal tells the desktop when a run leaves something out:
// one Notify call to the freedesktop Notifications service on the session bus, none with
// --no-notify or after a clean run, and the same exit status when no service or no bus is
// there. The bus is a private dbus-daemon; the service is a fake that records each call.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QVariantMap>
#include <QtTest>

#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"

namespace {

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app, icon, summary, body;
        QVariantMap hints;
    };
    QList<Call> calls;

public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int) {
        calls.append({app, icon, summary, body, hints});
        return static_cast<uint>(calls.size());
    }
};

}  // namespace

class DesktopNotificationTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!halvex::test::HasTool("dbus-daemon")) QSKIP("dbus-daemon is not installed");
        daemon_.setProgram("dbus-daemon");
        daemon_.setArguments({"--session", "--nofork", "--print-address=1", "--address=unix:dir=" + QString::fromStdString(dir_.path())});
        daemon_.start();
        QVERIFY(daemon_.waitForReadyRead(10000));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        QVERIFY(address_.startsWith("unix:"));
        bus_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, "fake-desktop"));
        QVERIFY(bus_->isConnected());
        QVERIFY(bus_->registerObject("/org/freedesktop/Notifications", &fake_, QDBusConnection::ExportAllSlots));
        QVERIFY(bus_->registerService("org.freedesktop.Notifications"));

        // Job Data backs up; job Gone's folder is missing, so every run of it leaves it out.
        const std::string program = dir_ / "program";
        halvex::test::MakeFolders(program);
        halvex::test::MakeFolders(dir_ / "src");
        halvex::test::MakeFolders(dir_ / "archives");
        halvex::test::WriteFile(dir_ / "src/a.txt", "a");
        halvex::test::WriteFile(program + "/backup.ini",
                                "[Data]\r\nzip:\"" + (dir_ / "archives") + "\"\r\ndir:\"" + (dir_ / "src") +
                                    "\"\r\nto:\"A\"\r\n[Gone]\r\nzip:\"" + (dir_ / "archives") + "\"\r\ndir:\"" +
                                    (dir_ / "missing") + "\"\r\nto:\"B\"\r\n");
        program_ = QString::fromStdString(program);
    }

    void cleanupTestCase() {
        bus_.reset();
        QDBusConnection::disconnectFromBus("fake-desktop");
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(5000);
        }
    }

    void aRunThatLeavesAJobOutSendsOneNotice() {
        QCOMPARE(Run({}), 4);
        QCOMPARE(fake_.calls.size(), 1);
        const FakeNotifications::Call& call = fake_.calls.front();
        QCOMPARE(call.app, QString("Halvex Backup"));
        QCOMPARE(call.summary, QString("Halvex Backup: 1 item left out"));
        QCOMPARE(call.body, QString("Job not backed up: Gone"));
        QCOMPARE(call.icon, QString("halvex-backup"));
        QCOMPARE(call.hints.value("desktop-entry").toString(), QString("halvex-backup"));
        QCOMPARE(call.hints.value("urgency").toInt(), 1);  // files left out: normal, the rest is saved
    }

    void otherwiseNothingIsSentAndTheOutcomeStands() {
        fake_.calls.clear();
        QCOMPARE(Run({"--job", "Data"}), 0);
        QCOMPARE(Run({"--no-notify"}), 4);
        QCOMPARE(Run({}, /*withBus=*/false), 4);
        QVERIFY(bus_->unregisterService("org.freedesktop.Notifications"));
        QCOMPARE(Run({}), 4);
        QCOMPARE(fake_.calls.size(), 0);
    }

private:
    // Runs halvex-backup --run on the program folder without a terminal while this process
    // keeps answering on the bus; its exit status.
    int Run(const QStringList& options, bool withBus = true) {
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("XDG_RUNTIME_DIR");  // never the user's own bus
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        if (withBus) env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
        run.setProcessEnvironment(env);
        run.setStandardInputFile(QProcess::nullDevice());
        run.setProgram(QString::fromStdString(halvex::test::BuiltProgram("halvex-backup")));
        run.setArguments(QStringList{"--run", "--dir", program_} + options);
        QEventLoop loop;
        connect(&run, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        run.start();
        loop.exec();
        if (run.state() != QProcess::NotRunning) {
            run.kill();
            run.waitForFinished();
            return -1;
        }
        return run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
    }

    halvex::test::TempFolder dir_;
    QProcess daemon_;
    QString address_;
    std::unique_ptr<QDBusConnection> bus_;
    FakeNotifications fake_;
    QString program_;
};

QTEST_GUILESS_MAIN(DesktopNotificationTest)
#include "desktop_notification_test.moc"
