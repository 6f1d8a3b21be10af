#include "backup/BackupLogging.h"

Q_LOGGING_CATEGORY(lcBackup, "velmora.backup")
