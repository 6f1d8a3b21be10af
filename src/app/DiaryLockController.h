#pragma once

#include "domain/Clock.h"
#include "platform/SystemAuthenticator.h"
#include "platform/UserDefaults.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

namespace velmora {

class VelmoraMenuCommands;

// The waits after wrong answers: none for the first `freeFailures`, then `firstDelay`, doubling
// with each further failure up to `longestDelay`.
struct DiaryLockRetryDelays {
    int freeFailures = 2;
    std::chrono::milliseconds firstDelay = std::chrono::seconds(2);
    std::chrono::milliseconds longestDelay = std::chrono::seconds(30);

    // The wait after this many wrong answers in a row.
    std::chrono::milliseconds after(int failures) const;
};

// Whether the diary may be shown yet. The lock is the user default "requireAuthentication"; once
// passed (or found not required) it stays passed for the life of this controller, so switching
// the lock on later locks only the next window, never the open one.
//
// Guessing is slowed down: after a few wrong answers in a row each further try waits, longer
// each time, before Unlock asks again; a success starts the count afresh. The count and the time
// of the last wrong answer are kept in the user defaults, so that a restart neither ends the
// wait nor gives new free tries.
class DiaryLockController : public QObject {
    Q_OBJECT

public:
    using RetryDelays = DiaryLockRetryDelays;

    // `clock` dates the wrong answers kept in the defaults; the system clock when none is given.
    DiaryLockController(std::shared_ptr<UserDefaults> defaults,
                        std::shared_ptr<SystemAuthenticator> authenticator,
                        QObject *parent = nullptr, RetryDelays delays = {},
                        std::shared_ptr<const Clock> clock = nullptr);

    bool requireAuthentication() const { return m_requireAuthentication; }
    bool isUnlocked() const { return m_isUnlocked; }
    // The lock card is what the window shows.
    bool isLocked() const { return m_requireAuthentication && !m_isUnlocked; }
    const std::optional<QString> &authError() const { return m_authError; }
    bool isAuthenticating() const { return m_isAuthenticating; }
    // Wrong answers since the last success.
    int failureCount() const { return m_failures; }
    // Unlock waits after wrong answers; the card counts the seconds down.
    bool isWaitingToRetry() const { return m_retryAt.has_value(); }
    int retrySecondsLeft() const;
    // "Try again in 4 seconds." while waiting, else empty.
    QString retryText() const;

    // The view came on screen: reads the setting and, when the lock is on, asks at once.
    void refreshOnAppear();
    // The settings changed: on the next turn of the event loop, reads the setting again. Never
    // asks and never locks again.
    void refreshAfterSettingsChange();
    // Asks the person at the keyboard. A machine without owner authentication opens at once.
    // A call while one is asking, or while a retry waits, is ignored.
    QCoro::Task<void> authenticate();

    static QString reason();

Q_SIGNALS:
    void changed();

private:
    void readSetting();
    // Takes up the count, and what is left of its wait, where the last run left them.
    void restoreFailures();
    void countFailure();
    void clearFailures();
    void tickRetry();

    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<SystemAuthenticator> m_authenticator;
    RetryDelays m_delays;
    std::shared_ptr<const Clock> m_clock;
    bool m_requireAuthentication = false;
    bool m_isUnlocked = false;
    bool m_isAuthenticating = false;
    std::optional<QString> m_authError;
    int m_failures = 0;
    std::optional<QDeadlineTimer> m_retryAt;
    QTimer m_retryTick;
};

// While the lock is up, the menu offers no way around it: Export…, Import… and Preferences…
// follow the lock.
void followLock(VelmoraMenuCommands &menus, DiaryLockController &lock);

} // namespace velmora
