#pragma once

#include "domain/Clock.h"

#include <QDateTime>

#include <chrono>

namespace velmora::test {

// A clock that tells the time a test sets, and moves only when told to.
class TestClock final : public Clock {
public:
    explicit TestClock(QDateTime now)
        : m_now(std::move(now)) {}

    QDateTime now() const override { return m_now; }
    void set(const QDateTime &now) { m_now = now; }
    void advance(std::chrono::milliseconds by) { m_now = m_now.addMSecs(by.count()); }

private:
    QDateTime m_now;
};

} // namespace velmora::test
