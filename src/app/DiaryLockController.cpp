#include "app/DiaryLockController.h"

#include "app/VelmoraMenuCommands.h"

#include <QAction>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcApp)

namespace velmora {

DiaryLockController::DiaryLockController(std::shared_ptr<UserDefaults> defaults,
                                         std::shared_ptr<SystemAuthenticator> authenticator,
                                         QObject *parent)
    : QObject(parent)
    , m_defaults(std::move(defaults))
    , m_authenticator(std::move(authenticator)) {
    // Known before the view first appears, so that nothing is offered ahead of the lock card.
    readSetting();
}

QString DiaryLockController::reason() {
    return QCoreApplication::translate("VuzIvoduRootView", "Unlock your diary");
}

void DiaryLockController::readSetting() {
    m_requireAuthentication = m_defaults && m_defaults->boolValue(requireAuthenticationKey);
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
    if (m_isAuthenticating)
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
    try {
        QCoro::Task<void> asking = m_authenticator->authenticate(reason());
        co_await asking;
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
    } else {
        m_isUnlocked = true;
        m_authError.reset();
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
