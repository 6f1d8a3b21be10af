#pragma once

#include <QDBusConnection>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace velmora {

// One process per diary: a lock file in the store's folder, taken before the store is prepared
// and held for the whole run.
class DiaryInstanceLock {
public:
    static inline const QString fileName = QStringLiteral("Velmora.lock");

    enum class Outcome {
        acquired,
        // Another running process holds the lock: this one must not touch the diary.
        heldByAnotherProcess,
        // The folder allows no lock (unwritable, say); opening the store reports the real fault.
        unavailable,
    };

    Outcome tryAcquire(const QString &persistenceDirectory);
    bool isHeld() const { return m_lock && m_lock->isLocked(); }

    static QString alreadyOpenMessage(const QString &persistenceDirectory);

private:
    std::unique_ptr<QLockFile> m_lock;
};

// The running program on the session bus, so that a second launch in live mode can ask it to
// show its window instead of opening the diary twice.
class DiaryInstanceService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.Velmora")

public:
    static inline const QString serviceName = QStringLiteral("org.velmora.Velmora");
    static inline const QString objectPath = QStringLiteral("/org/velmora/Velmora");

    explicit DiaryInstanceService(QDBusConnection bus, QObject *parent = nullptr);

    // Takes the bus name; false when another process has it.
    bool registerOnBus();
    // Asks the process that holds the name to show its window; false when nobody answered.
    static bool askRunningInstanceToShow(QDBusConnection bus);

public Q_SLOTS:
    Q_SCRIPTABLE void ShowDiary();

Q_SIGNALS:
    void showRequested();

private:
    QDBusConnection m_bus;
};

} // namespace velmora
