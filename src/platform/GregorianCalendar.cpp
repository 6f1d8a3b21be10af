#include "platform/GregorianCalendar.h"

namespace velmora {

GregorianCalendar::GregorianCalendar(QTimeZone zone)
    : GregorianCalendar(std::move(zone), false) {}

GregorianCalendar::GregorianCalendar(QTimeZone zone, bool autoupdating)
    : m_zone(std::move(zone))
    , m_autoupdating(autoupdating) {
    if (!m_zone.isValid())
        m_zone = QTimeZone::utc();
}

GregorianCalendar GregorianCalendar::utc() {
    return GregorianCalendar(QTimeZone::utc());
}

GregorianCalendar GregorianCalendar::autoupdatingCurrent() {
    return GregorianCalendar(QTimeZone::systemTimeZone(), true);
}

QTimeZone GregorianCalendar::timeZone() const {
    if (m_autoupdating) {
        QTimeZone current = QTimeZone::systemTimeZone();
        return current.isValid() ? current : QTimeZone::utc();
    }
    return m_zone;
}

QString GregorianCalendar::timeZoneIdentifier() const {
    return QString::fromUtf8(timeZone().id());
}

QDate GregorianCalendar::civilDate(const QDateTime &moment) const {
    return moment.toTimeZone(timeZone()).date();
}

GregorianCalendar::DateComponents GregorianCalendar::components(const QDateTime &moment) const {
    const QDate day = civilDate(moment);
    if (!day.isValid())
        return {};
    return {day.year(), day.month(), day.day()};
}

QDateTime GregorianCalendar::startOfDay(QDate day) const {
    return day.startOfDay(timeZone());
}

QDateTime GregorianCalendar::startOfDay(const QDateTime &moment) const {
    return startOfDay(civilDate(moment));
}

std::optional<QDateTime> GregorianCalendar::date(int year, int month, int day) const {
    const QDate civil(year, month, day);
    if (!civil.isValid())
        return std::nullopt;
    QDateTime start = startOfDay(civil);
    if (!start.isValid())
        return std::nullopt;
    return start;
}

QDateTime GregorianCalendar::startOfDayAdding(int days, const QDateTime &moment) const {
    return startOfDay(civilDate(moment).addDays(days));
}

} // namespace velmora
