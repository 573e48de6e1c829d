#include "window/DesktopLook.h"

#include <QAtomicInteger>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");

// Each reader has a connection of its own, so that it can leave the bus without touching others.
QString nextConnectionName() {
    static QAtomicInteger<int> count;
    return QStringLiteral("kestova-desktop-look-%1").arg(count.fetchAndAddRelaxed(1));
}

// The value inside however many variants wrap it: Read gives a variant of a variant, ReadOne and
// the change signal a variant.
QVariant unwrapped(QVariant value) {
    for (int depth = 0; depth < 4; ++depth) {
        if (value.metaType() == QMetaType::fromType<QDBusVariant>()) {
            value = value.value<QDBusVariant>().variant();
        } else if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
            const QDBusArgument argument = value.value<QDBusArgument>();
            if (argument.currentType() != QDBusArgument::VariantType) {
                break;
            }
            value = qdbus_cast<QDBusVariant>(argument).variant();
        } else {
            break;
        }
    }
    return value;
}

}  // namespace

DesktopLook::DesktopLook(QObject* parent)
    : QObject(parent), m_connectionName(nextConnectionName()) {
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qRegisterMetaType<QDBusVariant>("QDBusVariant");
    // Connecting and subscribing wait on the bus: a thread of their own does it, and hands the
    // connection back to this one (Qt drops the hand-over if this reader is gone first).
    QThread* connecting = QThread::create([address, name = m_connectionName,
                                           reader = QPointer<DesktopLook>(this)] {
        QDBusConnection bus = address.isEmpty()
                                  ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                                  : QDBusConnection::connectToBus(QString::fromUtf8(address), name);
        if (!bus.isConnected()) {
            QDBusConnection::disconnectFromBus(name);
            return;
        }
        const QPointer<DesktopLook> receiver = reader;
        if (receiver.isNull()) {
            QDBusConnection::disconnectFromBus(name);
            return;
        }
        // Subscribed before the first read, so that no change falls between them; by path,
        // interface and name alone, as watching the portal's owner would ask the bus and wait.
        // The bus finds the slot by its normalized signature, and its types by their names.
        bus.connect(
            QString(), kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"),
            receiver.data(),
            QMetaObject::normalizedSignature(SLOT(settingChanged(QString, QString, QDBusVariant))));
        QMetaObject::invokeMethod(
            receiver.data(), [receiver, bus] { receiver->connected(bus); }, Qt::QueuedConnection);
    });
    connect(connecting, &QThread::finished, connecting, &QObject::deleteLater);
    connecting->start();
}

DesktopLook::~DesktopLook() {
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void DesktopLook::connected(const QDBusConnection& bus) {
    readPreference(bus);
}

void DesktopLook::readPreference(const QDBusConnection& bus) {
    QDBusMessage read = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                       kSettingsInterface, QStringLiteral("Read"));
    read << kAppearance << kColorScheme;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, kAnswerBoundMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *answer;
                // A change heard meanwhile is newer than this answer; an error (no portal, no
                // such setting, no answer in time) leaves the palette to decide.
                if (m_heardAChange || reply.isError()) {
                    return;
                }
                take(reply.argumentAt(0));
            });
}

void DesktopLook::settingChanged(const QString& settingsNamespace, const QString& key,
                                 const QDBusVariant& value) {
    if (settingsNamespace != kAppearance || key != kColorScheme) {
        return;
    }
    m_heardAChange = true;
    take(value.variant());
}

void DesktopLook::take(const QVariant& colorScheme) {
    const QVariant value = unwrapped(colorScheme);
    bool isNumber = false;
    const uint scheme = value.toUInt(&isNumber);
    std::optional<bool> prefersDark;
    if (isNumber && scheme == 1) {
        prefersDark = true;
    } else if (isNumber && scheme == 2) {
        prefersDark = false;
    }
    if (prefersDark != m_prefersDark) {
        m_prefersDark = prefersDark;
        emit changed();
    }
}
