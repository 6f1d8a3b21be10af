#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.platform": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.platform.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

} // namespace velmora
