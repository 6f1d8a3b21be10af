#pragma once

#include <QDateTime>

namespace velmora {

// The one source of the current time, so that every time stamp comes from a replaceable place.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    // UTC, read afresh at every call, truncated to the millisecond like everything we store.
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

} // namespace velmora
