#pragma once

#include "domain/Clock.h"
#include "platform/UserDefaults.h"

#include <QCoroTask>
#include <QString>

#include <memory>

namespace velmora {

// What "Restore from Backup" on the load-failure card needs: the store that could not be opened,
// its folder (which holds "Backups" and "Recovery"), and the settings a store is prepared with.
struct DiaryStoreRecovery {
    QString storeURL;
    QString persistenceDirectory;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<const Clock> clock;
};

// Restores the newest validated package of the "Backups" folder when the store cannot be opened:
// the unopenable store files (with their -wal and -shm) are moved into "Recovery/Quarantine",
// never deleted, a fresh store is made at the store's place, and the package is restored into it
// through the restore coordinator, which reads it back and compares. Answers the line the card
// shows under its message. Never throws.
QCoro::Task<QString> restoreFromNewestBackup(DiaryStoreRecovery recovery);

} // namespace velmora
