#pragma once

#include "daily/DiaryNotificationCenter.h"
#include "domain/Clock.h"
#include "platform/GregorianCalendar.h"
#include "platform/SerialExecutor.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora {

// Local notifications for a desktop that has no scheduler of its own: the pending requests are
// kept in a file in the diary's folder, one timer waits for the earliest of them, and a request
// that falls due is shown through org.freedesktop.Notifications on the session bus. So
// notifications arrive only while the program runs; a request whose time passed while it did not
// run is dropped when the file is read, never shown late. Permission is whether a notification
// service answers: once one has, it is kept in the file, and asked again whenever the file does
// not hold it. Every bus call is asynchronous.
class FreedesktopNotificationCenter final : public QObject, public DiaryNotificationCenter {
    Q_OBJECT

public:
    static inline const QString fileName = QStringLiteral("notification-requests.json");
    // Far more than the reminders of the coming days take; a file larger than that is not read.
    static constexpr qint64 fileByteLimit = 1024 * 1024;

    FreedesktopNotificationCenter(
        QString folder, QDBusConnection bus,
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>(),
        GregorianCalendar calendar = GregorianCalendar::autoupdatingCurrent(),
        QObject *parent = nullptr);
    ~FreedesktopNotificationCenter() override;

    // Whether the diary is in front; a notification that falls due then goes to the delegate
    // instead of the desktop. Without a probe the diary counts as not in front.
    void setInFrontProbe(std::function<bool()> probe) { m_isInFront = std::move(probe); }
    // The desktop entry the notifications name, so the desktop can group them with the program.
    void setDesktopEntry(QString desktopEntry) { m_desktopEntry = std::move(desktopEntry); }
    // The icon theme name shown with each notification.
    void setIconName(QString iconName) { m_iconName = std::move(iconName); }
    // The longest the timer sleeps: it also notices clock changes and resumes from suspend.
    void setCheckInterval(std::chrono::milliseconds interval) { m_checkInterval = interval; }

    QCoro::Task<QList<DiaryNotificationRequest>> pendingNotificationRequests() override;
    QCoro::Task<void> removePendingNotificationRequests(QStringList identifiers) override;
    QCoro::Task<DiaryNotificationAuthorizationStatus> authorizationStatus() override;
    QCoro::Task<bool> requestAuthorization(DiaryNotificationAuthorizationOptions options) override;
    QCoro::Task<void> add(DiaryNotificationRequest request) override;
    void setDelegate(DiaryNotificationDelegate *delegate) override { m_delegate = delegate; }

    // The earliest moment a pending request fires, for the timer; none when nothing is pending.
    std::optional<QDateTime> nextFiringTime() const;
    bool isTimerActive() const { return m_timer.isActive(); }
    // Shows what has fallen due now; the timer calls it.
    void deliverDueRequests();

Q_SIGNALS:
    void loaded();
    // A request fell due and was handed to the desktop (shown) or kept back (not shown).
    void requestDelivered(const QString &identifier, bool shown);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QCoro::Task<void> load();
    QCoro::Task<void> whenLoaded();
    // True when a notification service answers on the bus; it is then remembered as permission.
    QCoro::Task<bool> serviceAnswers();
    QCoro::Task<void> persist();
    QCoro::Task<void> deliver(DiaryNotificationRequest request);
    std::optional<QDateTime> firingTime(const DiaryNotificationRequest &request) const;
    void rearm();

    QString m_folder;
    QDBusConnection m_bus;
    std::shared_ptr<const Clock> m_clock;
    GregorianCalendar m_calendar;
    std::function<bool()> m_isInFront;
    QString m_desktopEntry = QStringLiteral("org.velmora.Velmora");
    QString m_iconName = QStringLiteral("org.velmora.Velmora");
    std::chrono::milliseconds m_checkInterval = std::chrono::seconds(60);
    DiaryNotificationDelegate *m_delegate = nullptr;

    bool m_loaded = false;
    bool m_authorized = false;
    QList<DiaryNotificationRequest> m_pending;
    // Shown notifications still on the desktop: the server's id → our request identifier.
    QHash<uint, QString> m_shown;
    QTimer m_timer;
    SerialExecutor m_io{QStringLiteral("NotificationFile")};
};

} // namespace velmora
