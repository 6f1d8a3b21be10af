#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.app": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.app.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcApp)

} // namespace velmora
