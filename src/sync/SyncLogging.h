#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.sync": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.sync.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcSync)

} // namespace velmora
