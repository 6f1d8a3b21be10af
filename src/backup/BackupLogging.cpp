#include "backup/BackupLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcBackup, "velmora.backup", QtWarningMsg)

} // namespace velmora
