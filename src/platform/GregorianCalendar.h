#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace velmora {

// A Gregorian calendar bound to a time zone. The "auto-updating current" calendar re-reads the
// system zone on every use, so a diary left open across a change of zone names days where the
// user now is.
class GregorianCalendar {
public:
    struct DateComponents {
        int year = 0;
        int month = 0;
        int day = 0;
        friend bool operator==(const DateComponents &, const DateComponents &) = default;
    };

    explicit GregorianCalendar(QTimeZone zone);

    static GregorianCalendar utc();
    static GregorianCalendar autoupdatingCurrent();

    bool isAutoupdating() const { return m_autoupdating; }
    QTimeZone timeZone() const;
    // The IANA identifier, such as "Europe/Paris".
    QString timeZoneIdentifier() const;

    // The civil day that contains the moment, in this calendar's zone.
    QDate civilDate(const QDateTime &moment) const;
    DateComponents components(const QDateTime &moment) const;

    // The first moment of the civil day. Daylight saving can skip midnight, so this is not always
    // 00:00 local time.
    QDateTime startOfDay(QDate day) const;
    QDateTime startOfDay(const QDateTime &moment) const;

    // The start of the day with these components, or nothing when they name no day.
    std::optional<QDateTime> date(int year, int month, int day) const;

    // The civil day `days` after the moment's day, as its start.
    QDateTime startOfDayAdding(int days, const QDateTime &moment) const;

    friend bool operator==(const GregorianCalendar &a, const GregorianCalendar &b) {
        return a.m_autoupdating == b.m_autoupdating && a.timeZone() == b.timeZone();
    }

private:
    GregorianCalendar(QTimeZone zone, bool autoupdating);

    QTimeZone m_zone;
    bool m_autoupdating = false;
};

} // namespace velmora
