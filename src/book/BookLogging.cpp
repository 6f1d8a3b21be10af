#include "book/BookLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcBook, "velmora.book", QtWarningMsg)

} // namespace velmora
