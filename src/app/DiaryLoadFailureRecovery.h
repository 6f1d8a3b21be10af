#pragma once

#include "domain/Clock.h"
#include "platform/FileClaims.h"

#include <QCoroTask>
#include <QString>

#include <memory>

namespace velmora {

// What "Restore from Backup" on the load-failure card needs: the store that could not be opened
// and its folder (which holds "Backups" and "Recovery").
struct DiaryStoreRecovery {
    QString storeURL;
    QString persistenceDirectory;
    std::shared_ptr<const Clock> clock;
    // This process's claims on the store file: the restored store is claimed before it takes the
    // old one's place.
    std::shared_ptr<FileClaims> claims = nullptr;
};

// Restores the newest validated package of the "Backups" folder when the store cannot be opened:
// the package is restored into a new store beside the old one and checked, and only then put in
// its place; the unopenable store files (with their -wal and -shm) go into a folder of their own
// in "Recovery/Quarantine", never deleted. Answers the line the card shows under its message.
// Never throws.
QCoro::Task<QString> restoreFromNewestBackup(DiaryStoreRecovery recovery);

} // namespace velmora
