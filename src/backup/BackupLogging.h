#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.backup": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.backup.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcBackup)

} // namespace velmora
