#pragma once

#include "backup/DiaryRestoreCoordinator.h"

#include <QCoroTask>
#include <QString>

namespace velmora {

// "Restore from Backup" on the load-failure card: restores the newest valid package of the
// diary's "Backups" folder and answers the line the card shows under its message. Never throws.
QCoro::Task<QString> restoreFromNewestBackup(QString persistenceDirectory,
                                             DiaryRestoreCoordinator &restoreCoordinator);

} // namespace velmora
