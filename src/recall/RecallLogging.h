#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.recall": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.recall.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcRecall)

} // namespace velmora
