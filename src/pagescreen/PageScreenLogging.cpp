#include "pagescreen/PageScreenLogging.h"

Q_LOGGING_CATEGORY(lcPageScreen, "velmora.pagescreen")
