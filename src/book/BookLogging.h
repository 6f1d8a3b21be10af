#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.book": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.book.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcBook)

} // namespace velmora
