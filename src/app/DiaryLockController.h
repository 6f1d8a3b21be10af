#pragma once

#include "platform/SystemAuthenticator.h"
#include "platform/UserDefaults.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace velmora {

class VelmoraMenuCommands;

// Whether the diary may be shown yet. The lock is the user default "requireAuthentication"; once
// passed (or found not required) it stays passed for the life of this controller, so switching
// the lock on later locks only the next window, never the open one.
class DiaryLockController : public QObject {
    Q_OBJECT

public:
    static inline const QString requireAuthenticationKey = QStringLiteral("requireAuthentication");

    DiaryLockController(std::shared_ptr<UserDefaults> defaults,
                        std::shared_ptr<SystemAuthenticator> authenticator,
                        QObject *parent = nullptr);

    bool requireAuthentication() const { return m_requireAuthentication; }
    bool isUnlocked() const { return m_isUnlocked; }
    // The lock card is what the window shows.
    bool isLocked() const { return m_requireAuthentication && !m_isUnlocked; }
    const std::optional<QString> &authError() const { return m_authError; }
    bool isAuthenticating() const { return m_isAuthenticating; }

    // The view came on screen: reads the setting and, when the lock is on, asks at once.
    void refreshOnAppear();
    // The settings changed: on the next turn of the event loop, reads the setting again. Never
    // asks and never locks again.
    void refreshAfterSettingsChange();
    // Asks the person at the keyboard. A machine without owner authentication opens at once.
    // A second call while one is asking is ignored.
    QCoro::Task<void> authenticate();

    static QString reason();

Q_SIGNALS:
    void changed();

private:
    void readSetting();

    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<SystemAuthenticator> m_authenticator;
    bool m_requireAuthentication = false;
    bool m_isUnlocked = false;
    bool m_isAuthenticating = false;
    std::optional<QString> m_authError;
};

// While the lock is up, the menu offers no way around it: Export…, Import… and Preferences…
// follow the lock.
void followLock(VelmoraMenuCommands &menus, DiaryLockController &lock);

} // namespace velmora
