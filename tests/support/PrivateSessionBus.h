#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

namespace kestova::testing {

// A session bus of the test's own (Debian's dbus-daemon, with nothing it could start by itself),
// named by DBUS_SESSION_BUS_ADDRESS while this lives; the previous address comes back after.
class PrivateSessionBus {
  public:
    PrivateSessionBus() : previous_(qgetenv("DBUS_SESSION_BUS_ADDRESS")) {
        const QString config = folder_.filePath(QStringLiteral("session.conf"));
        QFile file(config);
        static_cast<void>(file.open(QIODevice::WriteOnly));
        file.write(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
            "<auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1")});
        static_cast<void>(QTest::qWaitFor(
            [this] {
                output_ += daemon_.readAllStandardOutput();
                return output_.contains('\n') || daemon_.state() == QProcess::NotRunning;
            },
            10000));
        address_ = QString::fromUtf8(output_.left(output_.indexOf('\n')).trimmed());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    }
    ~PrivateSessionBus() {
        if (previous_.isNull()) {
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        } else {
            qputenv("DBUS_SESSION_BUS_ADDRESS", previous_);
        }
        daemon_.terminate();
        static_cast<void>(
            QTest::qWaitFor([this] { return daemon_.state() == QProcess::NotRunning; }, 10000));
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon did not start.
    const QString& address() const { return address_; }

  private:
    QByteArray previous_;
    QTemporaryDir folder_;
    QProcess daemon_;
    QByteArray output_;
    QString address_;
};

// A stand-in for the desktop's settings portal, with only the appearance's color-scheme: Read
// answers it as the portal does (a variant of a variant of a uint32), or "not found" while the
// desktop has no such setting; change() says a new one with SettingChanged.
class StandInSettingsPortal : public QDBusVirtualObject {
  public:
    StandInSettingsPortal(const QString& address, std::optional<unsigned> colorScheme)
        : bus_(QDBusConnection::connectToBus(address, QStringLiteral("stand-in-settings-portal"))),
          colorScheme_(colorScheme) {
        bus_.registerVirtualObject(QString::fromLatin1(kPath), this);
        bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~StandInSettingsPortal() override {
        bus_.unregisterObject(QString::fromLatin1(kPath));
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in-settings-portal"));
    }
    StandInSettingsPortal(const StandInSettingsPortal&) = delete;
    StandInSettingsPortal& operator=(const StandInSettingsPortal&) = delete;

    bool isOnTheBus() const { return bus_.isConnected(); }

    void change(unsigned colorScheme) {
        colorScheme_ = colorScheme;
        QDBusMessage changed =
            QDBusMessage::createSignal(QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                                       QStringLiteral("SettingChanged"));
        changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
                << QVariant::fromValue(QDBusVariant(colorScheme));
        bus_.send(changed);
    }

    QString introspect(const QString& /*path*/) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const bool asksForTheScheme =
            message.interface() == QString::fromLatin1(kInterface) &&
            message.member() == QStringLiteral("Read") &&
            message.arguments() == QVariantList{QStringLiteral("org.freedesktop.appearance"),
                                                QStringLiteral("color-scheme")};
        if (asksForTheScheme && colorScheme_) {
            connection.send(message.createReply(QVariant::fromValue(
                QDBusVariant(QVariant::fromValue(QDBusVariant(*colorScheme_))))));
        } else {
            connection.send(
                message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                         QStringLiteral("Requested setting not found")));
        }
        return true;
    }

  private:
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = "org.freedesktop.portal.Settings";
    QDBusConnection bus_;
    std::optional<unsigned> colorScheme_;
};

}  // namespace kestova::testing
