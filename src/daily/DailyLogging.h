#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.daily": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.daily.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcDaily)

} // namespace velmora
