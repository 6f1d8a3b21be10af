#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.store": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.store.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcStore)

} // namespace velmora
