#pragma once

#include <QLoggingCategory>

namespace velmora {

// The store library's messages, "velmora.store".
Q_DECLARE_LOGGING_CATEGORY(lcStore)

} // namespace velmora
