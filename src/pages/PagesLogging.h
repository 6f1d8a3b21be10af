#pragma once

#include <QLoggingCategory>

namespace velmora {

// The pages library's messages, "velmora.pages".
Q_DECLARE_LOGGING_CATEGORY(lcPages)

} // namespace velmora
