#include "domain/DiarySessionError.h"

#include <QCoreApplication>

namespace velmora {

QString DiarySessionError::message() const {
    switch (m_case) {
    case Case::pastDateConfirmationRequired:
        return QCoreApplication::translate(
            "DiarySessionError", "Choose Write for this date before adding to a past day.");
    case Case::futureDateUnavailable:
        break;
    }
    return QCoreApplication::translate("DiarySessionError",
                                       "A new diary page cannot be started in the future.");
}

} // namespace velmora
