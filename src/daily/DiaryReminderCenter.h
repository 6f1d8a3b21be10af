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
#include <optional>

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
    // Whether a day has writing, as the store holds it now.
    using WritingProbe = std::function<QCoro::Task<bool>(DayKey day)>;

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
    // How writingStored() looks at today; without one, stored writing changes no plan.
    void setWritingProbe(WritingProbe probe) { m_writingProbe = std::move(probe); }

    // Replaces every pending reminder with the plan for now. A run overtaken by a newer
    // reschedule, time or switch-off stops without adding anything.
    QCoro::Task<void> reschedule();
    // Writing was stored (or emptied): when today no longer reads as the latest plan took it, or
    // that plan was made on another day, the plan is made again. So today's reminder is dropped
    // once today has writing, whether or not the program loses the focus.
    QCoro::Task<void> writingStored();
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
    WritingProbe m_writingProbe;

    bool m_isEnabled = false;
    int m_hour = 21;
    int m_minute = 0;
    bool m_isDenied = false;
    QDateTime m_openTodayRequest;
    // Raised by every reschedule, new time and switch-off, so an older run can tell it is stale.
    quint64 m_generation = 0;
    // The day the latest plan that got as far as its context was made on, and whether it took
    // that day as written; none while no reminder is planned.
    struct PlannedToday {
        DayKey day;
        bool written = false;
    };
    std::optional<PlannedToday> m_plannedToday;
};

} // namespace velmora
