#include "app/DiaryLockController.h"

#include "app/AppLogging.h"
#include "app/VelmoraMenuCommands.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <QAction>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace velmora {

std::chrono::milliseconds DiaryLockRetryDelays::after(int failures) const {
    using std::chrono::milliseconds;
    const int doublings = failures - freeFailures - 1;
    if (doublings < 0)
        return milliseconds(0);
    milliseconds delay = firstDelay;
    for (int step = 0; step < doublings && delay < longestDelay; ++step)
        delay *= 2;
    return std::min(delay, longestDelay);
}

DiaryLockController::DiaryLockController(std::shared_ptr<UserDefaults> defaults,
                                         std::shared_ptr<SystemAuthenticator> authenticator,
                                         QObject *parent, RetryDelays delays,
                                         std::shared_ptr<const Clock> clock)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_authenticator(std::move(authenticator))
    , m_delays(delays)
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>()) {
    m_retryTick.setSingleShot(true);
    connect(&m_retryTick, &QTimer::timeout, this, &DiaryLockController::tickRetry);
    // Known before the view first appears, so that nothing is offered ahead of the lock card.
    readSetting();
    restoreFailures();
}

int DiaryLockController::retrySecondsLeft() const {
    if (!m_retryAt)
        return 0;
    return int((m_retryAt->remainingTime() + 999) / 1000);
}

QString DiaryLockController::retryText() const {
    if (!m_retryAt)
        return {};
    const int seconds = std::max(1, retrySecondsLeft());
    return seconds == 1
               ? QCoreApplication::translate("VuzIvoduRootView", "Try again in 1 second.")
               : QCoreApplication::translate("VuzIvoduRootView", "Try again in %1 seconds.")
                     .arg(seconds);
}

void DiaryLockController::restoreFailures() {
    if (!m_defaults)
        return;
    m_failures = UserDefaultsSettingsStore::lockFailureCountSetting.read(*m_defaults);
    const std::chrono::milliseconds delay = m_delays.after(m_failures);
    if (delay.count() <= 0)
        return;
    // No time, or one still to come (the clock was set back), counts as a wrong answer just now:
    // the whole wait, and never longer.
    const QDateTime last = UserDefaultsSettingsStore::lockLastFailureSetting.read(*m_defaults);
    const qint64 elapsed = last.isValid() ? std::max<qint64>(last.msecsTo(m_clock->now()), 0) : 0;
    if (elapsed >= delay.count())
        return;
    qCInfo(lcApp) << "unlock failed" << m_failures
                  << "times in a row before this start; next try in" << delay.count() - elapsed
                  << "ms";
    m_retryAt = QDeadlineTimer(std::chrono::milliseconds(delay.count() - elapsed));
    tickRetry();
}

void DiaryLockController::clearFailures() {
    m_failures = 0;
    if (!m_defaults)
        return;
    m_defaults->remove(UserDefaultsSettingsStore::lockFailureCountSetting.key);
    m_defaults->remove(UserDefaultsSettingsStore::lockLastFailureSetting.key);
}

void DiaryLockController::countFailure() {
    ++m_failures;
    if (m_defaults) {
        UserDefaultsSettingsStore::lockFailureCountSetting.write(*m_defaults, m_failures);
        UserDefaultsSettingsStore::lockLastFailureSetting.write(*m_defaults, m_clock->now());
    }
    const std::chrono::milliseconds delay = m_delays.after(m_failures);
    if (delay.count() <= 0)
        return;
    qCInfo(lcApp) << "unlock failed" << m_failures << "times in a row; next try in" << delay.count()
                  << "ms";
    m_retryAt = QDeadlineTimer(delay);
    tickRetry();
}

void DiaryLockController::tickRetry() {
    if (!m_retryAt)
        return;
    const qint64 left = m_retryAt->remainingTime();
    if (left <= 0) {
        m_retryAt.reset();
    } else {
        // Wakes when the shown count of seconds changes, and at the end.
        m_retryTick.start(int(left % 1000 == 0 ? 1000 : left % 1000));
    }
    Q_EMIT changed();
}

QString DiaryLockController::reason() {
    return QCoreApplication::translate("VuzIvoduRootView", "Unlock your diary");
}

void DiaryLockController::readSetting() {
    m_requireAuthentication =
        m_defaults && UserDefaultsSettingsStore::requireAuthenticationSetting.read(*m_defaults);
    if (!m_requireAuthentication)
        m_isUnlocked = true;
}

void DiaryLockController::refreshOnAppear() {
    readSetting();
    Q_EMIT changed();
    if (m_requireAuthentication)
        authenticate();
}

void DiaryLockController::refreshAfterSettingsChange() {
    // The change notice comes before the new value is written.
    QTimer::singleShot(0, this, [this] {
        readSetting();
        Q_EMIT changed();
    });
}

QCoro::Task<void> DiaryLockController::authenticate() {
    if (m_isAuthenticating || m_retryAt)
        co_return;
    if (!m_authenticator || !m_authenticator->canAuthenticate()) {
        m_isUnlocked = true;
        Q_EMIT changed();
        co_return;
    }
    const QPointer<DiaryLockController> self(this);
    m_isAuthenticating = true;
    Q_EMIT changed();
    std::optional<QString> failure;
    bool guessedWrong = false;
    try {
        QCoro::Task<void> asking = m_authenticator->authenticate(reason());
        co_await asking;
    } catch (const AuthenticationError &error) {
        failure = error.message();
        guessedWrong = error.kind() == AuthenticationError::Case::failed ||
                       error.kind() == AuthenticationError::Case::tooManyAttempts;
    } catch (const DiaryError &error) {
        failure = error.message();
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "authentication failed unexpectedly:" << error.what();
        failure = QString::fromUtf8(error.what());
    }
    if (!self)
        co_return;
    m_isAuthenticating = false;
    if (failure) {
        m_authError = failure;
        if (guessedWrong)
            countFailure();
    } else {
        m_isUnlocked = true;
        m_authError.reset();
        clearFailures();
    }
    Q_EMIT changed();
}

void followLock(VelmoraMenuCommands &menus, DiaryLockController &lock) {
    const auto apply = [menus = QPointer<VelmoraMenuCommands>(&menus), &lock] {
        if (!menus)
            return;
        for (const char *item : {"Export…", "Import…", "Preferences…"})
            if (QAction *action = menus->action(QString::fromUtf8(item)))
                action->setEnabled(!lock.isLocked());
    };
    QObject::connect(&lock, &DiaryLockController::changed, &menus, apply);
    apply();
}

} // namespace velmora
