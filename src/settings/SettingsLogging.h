#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.settings": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.settings.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcSettings)

} // namespace velmora
