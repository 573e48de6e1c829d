#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>
#include <optional>

// The desktop's light or dark preference, as the settings portal of the session bus tells it
// (org.freedesktop.appearance color-scheme), followed as it changes. Nothing here waits on the
// bus on the caller's thread: the connection is made and the change signal subscribed on a thread
// of its own, and the preference is read with an asynchronous call whose answer counts only if it
// comes within kAnswerBoundMs. Without a bus, a portal, a preference or an answer in time,
// prefersDark() is empty and the window decides by its palette.
// Contract: made and used on one thread with an event loop (the window's).
class DesktopLook : public QObject {
    Q_OBJECT

  public:
    static constexpr int kAnswerBoundMs = 3000;

    // The session bus that DBUS_SESSION_BUS_ADDRESS names when this is made (the default session
    // bus where it names none).
    explicit DesktopLook(QObject* parent = nullptr);
    ~DesktopLook() override;

    // True for dark, false for light, empty for no preference (or none known).
    std::optional<bool> prefersDark() const { return m_prefersDark; }

  signals:
    void changed();

  private slots:
    void settingChanged(const QString& settingsNamespace, const QString& key,
                        const QDBusVariant& value);

  private:
    void connected(const QDBusConnection& bus);
    void readPreference(const QDBusConnection& bus);
    void take(const QVariant& colorScheme);

    QString m_connectionName;
    std::optional<bool> m_prefersDark;
    bool m_heardAChange = false;
};
