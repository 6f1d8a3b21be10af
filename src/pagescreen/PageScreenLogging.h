#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.pagescreen": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.pagescreen.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcPageScreen)

} // namespace velmora
