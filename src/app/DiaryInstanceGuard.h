#pragma once

#include "platform/FileClaims.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <memory>

namespace velmora {

// One process per diary: a lock file beside the store, taken before the store is prepared and
// held for the whole run. The lock lies beside the store's real file, so every spelling of the
// store's path (a link to it, a linked folder) meets the same lock. What holds it is the system's
// lock on the open file, of whichever kind the file system keeps, which lives as long as the
// process: taking it waits for no disk. The lines the holder writes in the file name its process
// exactly, and a later launch looks for it where the file system keeps no lock of any kind, or
// keeps one the launch cannot see or the holder has lost.
// The store file itself is claimed with it, so that a lock file someone deleted, or a hard link
// to the store from another folder, lets no second process in either. The claims and the lock are
// let go together, once neither this object nor anything given the claims holds them: work on
// the store that outlives the program's objects keeps the diary its own until it ends.
class DiaryInstanceLock {
public:
    static inline const QString fileName = QStringLiteral("Velmora.lock");

    DiaryInstanceLock() = default;
    // Lets go of the claims, then removes the lock file and lets go of its lock, unless
    // storeClaims() are still held elsewhere.
    ~DiaryInstanceLock();
    DiaryInstanceLock(const DiaryInstanceLock &) = delete;
    DiaryInstanceLock &operator=(const DiaryInstanceLock &) = delete;

    enum class Outcome {
        acquired,
        // Another running process holds the lock: this one must not touch the diary.
        heldByAnotherProcess,
        // The lock cannot be taken at all (a read-only folder, a folder in its place):
        // failure() says why.
        unavailable,
    };

    Outcome tryAcquire(const QString &storeURL);
    bool isHeld() const { return m_hold != nullptr; }
    // This process's claims on the store file while the lock is held; a file that preparing or
    // restoring the store puts in its place is claimed here before it is opened. Whoever keeps
    // them keeps the lock too.
    const std::shared_ptr<FileClaims> &storeClaims() const { return m_storeClaims; }
    // The lock file last tried, and why it could not be taken.
    const QString &lockFilePath() const { return m_path; }
    const QString &failure() const { return m_failure; }

    // What a launch that may not go on says, for an outcome other than acquired.
    QString refusal(Outcome outcome) const;
    static QString alreadyOpenMessage(const QString &persistenceDirectory);
    static QString unavailableMessage(const QString &lockFilePath, const QString &reason);

private:
    // The lock file, locked, and the store's claims.
    struct Hold;

    // Makes the lock file and locks it: 0, EAGAIN when another launch set it aside meanwhile, or
    // the errno of what stood in the way.
    int create();
    // With the lock file held: claims the store file, or lets the lock go when another process
    // has it.
    Outcome claimStore(const QString &store);
    void release();

    std::shared_ptr<Hold> m_hold;
    QString m_path;
    QString m_failure;
    // Shares the hold's life.
    std::shared_ptr<FileClaims> m_storeClaims;
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
