#pragma once

#include "daily/DiaryNotificationCenter.h"
#include "daily/DiaryReminderContext.h"
#include "domain/Clock.h"
#include "platform/GregorianCalendar.h"
#include "platform/UserDefaults.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>

#include <functional>
#include <memory>

namespace velmora {

// The optional daily writing reminder: while it is on and notifications are allowed, one
// notification waits at the chosen time for today (unless today is written or the time has
// passed) and each of the next 13 days. Opening one of them publishes `openTodayRequest`.
class DiaryReminderCenter final : public QObject, public DiaryNotificationDelegate {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(int hour READ hour NOTIFY hourChanged)
    Q_PROPERTY(int minute READ minute NOTIFY minuteChanged)
    Q_PROPERTY(bool isDenied READ isDenied NOTIFY isDeniedChanged)
    Q_PROPERTY(QDateTime openTodayRequest READ openTodayRequest NOTIFY openTodayRequestChanged)

public:
    static inline const QString identifierPrefix = QStringLiteral("velmora-reminder-");
    static inline const QString threadIdentifier = QStringLiteral("velmora-reminder");

    using ContextProvider = std::function<QCoro::Task<DiaryReminderContext>()>;

    // The clock and calendar are the system's unless a test pins them.
    DiaryReminderCenter(std::shared_ptr<UserDefaults> defaults,
                        std::shared_ptr<DiaryNotificationCenter> center,
                        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>(),
                        GregorianCalendar calendar = GregorianCalendar::autoupdatingCurrent(),
                        QObject *parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    int hour() const { return m_hour; }
    int minute() const { return m_minute; }
    bool isDenied() const { return m_isDenied; }
    // When one of the reminders was last opened; invalid until then.
    QDateTime openTodayRequest() const { return m_openTodayRequest; }

    // Where each plan's wording comes from; without one, today counts as unwritten, no day has
    // a memory and there is no name.
    void setContext(ContextProvider context) { m_context = std::move(context); }

    // Replaces every pending reminder with the plan for now. A run overtaken by a newer
    // reschedule, time or switch-off stops without adding anything.
    QCoro::Task<void> reschedule();
    // Catches up with the permission; a denied one switches the reminder off.
    QCoro::Task<void> refreshAuthorization();
    QCoro::Task<void> enableReminders();
    QCoro::Task<void> disableReminders();
    QCoro::Task<void> setTime(int hour, int minute);

    QCoro::Task<DiaryNotificationPresentationOptions>
    willPresentNotification(DiaryNotificationRequest request) override;
    QCoro::Task<void> didReceiveNotificationResponse(QString requestIdentifier) override;

Q_SIGNALS:
    void isEnabledChanged(bool isEnabled);
    void hourChanged(int hour);
    void minuteChanged(int minute);
    void isDeniedChanged(bool isDenied);
    void openTodayRequestChanged(const QDateTime &openTodayRequest);

private:
    QCoro::Task<void> removePendingReminders();
    void setEnabled(bool enabled);
    void setDenied(bool denied);

    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<DiaryNotificationCenter> m_center;
    std::shared_ptr<const Clock> m_clock;
    GregorianCalendar m_calendar;
    ContextProvider m_context;

    bool m_isEnabled = false;
    int m_hour = 21;
    int m_minute = 0;
    bool m_isDenied = false;
    QDateTime m_openTodayRequest;
    // Raised by every reschedule, new time and switch-off, so an older run can tell it is stale.
    quint64 m_generation = 0;
};

} // namespace velmora
