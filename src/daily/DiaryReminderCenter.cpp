#include "daily/DiaryReminderCenter.h"

#include "daily/DailyLogging.h"
#include "daily/DiaryLocalTime.h"
#include "daily/DiaryReminderText.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <QPointer>

#include <exception>

namespace velmora {

DiaryReminderCenter::DiaryReminderCenter(std::shared_ptr<UserDefaults> defaults,
                                         std::shared_ptr<DiaryNotificationCenter> center,
                                         std::shared_ptr<const Clock> clock,
                                         GregorianCalendar calendar, QObject *parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_center(std::move(center))
    , m_clock(std::move(clock))
    , m_calendar(std::move(calendar)) {
    using Settings = UserDefaultsSettingsStore;
    m_isEnabled = Settings::reminderEnabledSetting.read(*m_defaults);
    m_hour = Settings::reminderHourSetting.read(*m_defaults);
    m_minute = Settings::reminderMinuteSetting.read(*m_defaults);
}

void DiaryReminderCenter::setEnabled(bool enabled) {
    if (m_isEnabled != enabled) {
        m_isEnabled = enabled;
        Q_EMIT isEnabledChanged(enabled);
    }
    UserDefaultsSettingsStore::reminderEnabledSetting.write(*m_defaults, enabled);
}

void DiaryReminderCenter::setDenied(bool denied) {
    if (m_isDenied == denied)
        return;
    m_isDenied = denied;
    Q_EMIT isDeniedChanged(denied);
}

QCoro::Task<void> DiaryReminderCenter::removePendingReminders() {
    // Taken before the first suspension, so a run that a newer one overtook while the list was
    // being read removes nothing the newer one has already added.
    const quint64 generation = m_generation;
    QPointer<DiaryReminderCenter> self(this);
    const QList<DiaryNotificationRequest> pending =
        co_await m_center->pendingNotificationRequests();
    if (!self || generation != m_generation)
        co_return;
    QStringList identifiers;
    for (const DiaryNotificationRequest &request : pending) {
        if (request.identifier.startsWith(identifierPrefix))
            identifiers.append(request.identifier);
    }
    co_await m_center->removePendingNotificationRequests(identifiers);
}

QCoro::Task<void> DiaryReminderCenter::reschedule() {
    const quint64 generation = ++m_generation;
    QPointer<DiaryReminderCenter> self(this);
    const auto overtaken = [&] { return !self || generation != m_generation; };

    co_await removePendingReminders();
    if (overtaken())
        co_return;
    if (!m_isEnabled) {
        m_plannedToday.reset();
        co_return;
    }

    const DiaryNotificationAuthorizationStatus status = co_await m_center->authorizationStatus();
    if (overtaken())
        co_return;
    if (status != DiaryNotificationAuthorizationStatus::authorized &&
        status != DiaryNotificationAuthorizationStatus::provisional) {
        m_plannedToday.reset();
        co_return;
    }

    DiaryReminderContext context;
    if (m_context) {
        context = co_await m_context();
        if (overtaken())
            co_return;
    }

    const QDateTime now = m_clock->now();
    const QTimeZone zone = m_calendar.timeZone();
    const QDate today = m_calendar.civilDate(now);
    m_plannedToday = PlannedToday{DayKey::fromDate(now, m_calendar), context.writtenToday};
    const QTime time(m_hour, m_minute);
    QList<QDateTime> firingTimes;
    for (int offset = 0; offset < 14; ++offset) {
        const auto firing = firstMomentAt(today.addDays(offset), time, zone);
        if (!firing || *firing <= now)
            continue;
        if (offset == 0 && context.writtenToday)
            continue;
        firingTimes.append(*firing);
    }

    for (const QDateTime &firing : firingTimes) {
        // A switch-off or a newer plan since the last addition ends this one.
        if (overtaken() || !m_isEnabled)
            co_return;
        const DayKey day = DayKey::fromDate(firing, m_calendar);
        std::optional<qint64> yearsAgo;
        if (const auto memory = context.memories.constFind(day); memory != context.memories.cend())
            yearsAgo = *memory;
        const DiaryReminderText text = reminderText(day, m_hour, context.name, yearsAgo);
        const QDateTime local = firing.toTimeZone(zone);
        DiaryNotificationRequest request;
        request.identifier = identifierPrefix + day.rawValue();
        request.title = text.title;
        request.body = text.body;
        request.threadIdentifier = threadIdentifier;
        request.playsDefaultSound = true;
        request.trigger = {local.date().year(), local.date().month(), local.date().day(),
                           local.time().hour(), local.time().minute()};
        try {
            co_await m_center->add(request);
        } catch (const std::exception &error) {
            qCWarning(lcDaily) << "The reminder for" << day.rawValue()
                               << "could not be scheduled:" << error.what();
        }
    }
}

QCoro::Task<void> DiaryReminderCenter::writingStored() {
    if (!m_isEnabled || !m_plannedToday || !m_writingProbe)
        co_return;
    const quint64 generation = m_generation;
    QPointer<DiaryReminderCenter> self(this);
    const DayKey today = DayKey::fromDate(m_clock->now(), m_calendar);
    const bool written = co_await m_writingProbe(today);
    // A plan begun meanwhile reads the store after this writing.
    if (!self || generation != m_generation || !m_isEnabled || !m_plannedToday)
        co_return;
    if (m_plannedToday->day == today && m_plannedToday->written == written)
        co_return;
    co_await reschedule();
}

QCoro::Task<void> DiaryReminderCenter::refreshAuthorization() {
    QPointer<DiaryReminderCenter> self(this);
    const DiaryNotificationAuthorizationStatus status = co_await m_center->authorizationStatus();
    if (!self)
        co_return;
    setDenied(status == DiaryNotificationAuthorizationStatus::denied);
    if (m_isDenied && m_isEnabled)
        setEnabled(false);
}

QCoro::Task<void> DiaryReminderCenter::enableReminders() {
    QPointer<DiaryReminderCenter> self(this);
    UserDefaultsSettingsStore::reminderOfferedSetting.write(*m_defaults, true);
    bool granted = false;
    try {
        granted =
            co_await m_center->requestAuthorization(DiaryNotificationAuthorizationOption::alert |
                                                    DiaryNotificationAuthorizationOption::sound);
    } catch (const std::exception &error) {
        qCWarning(lcDaily) << "Notification permission could not be asked for:" << error.what();
    }
    if (!self)
        co_return;
    co_await refreshAuthorization();
    if (!self)
        co_return;
    if (granted && !m_isDenied) {
        setEnabled(true);
        co_await reschedule();
    } else {
        setEnabled(false);
    }
}

QCoro::Task<void> DiaryReminderCenter::disableReminders() {
    ++m_generation;
    setEnabled(false);
    co_await removePendingReminders();
}

QCoro::Task<void> DiaryReminderCenter::setTime(int hour, int minute) {
    ++m_generation;
    if (m_hour != hour) {
        m_hour = hour;
        Q_EMIT hourChanged(hour);
    }
    if (m_minute != minute) {
        m_minute = minute;
        Q_EMIT minuteChanged(minute);
    }
    UserDefaultsSettingsStore::reminderHourSetting.write(*m_defaults, hour);
    UserDefaultsSettingsStore::reminderMinuteSetting.write(*m_defaults, minute);
    co_await reschedule();
}

QCoro::Task<DiaryNotificationPresentationOptions>
DiaryReminderCenter::willPresentNotification(DiaryNotificationRequest request) {
    Q_UNUSED(request)
    co_return DiaryNotificationPresentationOptions();
}

QCoro::Task<void> DiaryReminderCenter::didReceiveNotificationResponse(QString requestIdentifier) {
    if (!requestIdentifier.startsWith(identifierPrefix))
        co_return;
    m_openTodayRequest = m_clock->now();
    Q_EMIT openTodayRequestChanged(m_openTodayRequest);
}

} // namespace velmora
