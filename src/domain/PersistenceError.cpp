#include "domain/PersistenceError.h"

#include <QCoreApplication>

namespace velmora {

PersistenceError PersistenceError::conflict(DiaryRevision expectedRevision, DiaryRevision actual) {
    PersistenceError error(Case::conflict, {});
    error.m_expected = expectedRevision;
    error.m_actual = actual;
    return error;
}

PersistenceError PersistenceError::faultInjected(DiaryRepositoryFaultPoint point) {
    PersistenceError error(Case::faultInjected, {});
    error.m_faultPoint = point;
    return error;
}

QString PersistenceError::message() const {
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("PersistenceError", text);
    };
    switch (m_case) {
    case Case::storeLoadFailed:
        return tr("The diary store could not be opened: ") + m_text;
    case Case::readFailed:
        return tr("The diary could not be read: ") + m_text;
    case Case::writeFailed:
        return tr("The diary could not be saved: ") + m_text;
    case Case::invalidData:
        return tr("The diary contains invalid data: ") + m_text;
    case Case::conflict:
        return tr("The diary changed unexpectedly (expected revision %1, found %2).")
            .arg(m_expected.rawValue)
            .arg(m_actual.rawValue);
    case Case::faultInjected:
        return tr("A persistence fault was injected at %1.").arg(rawValue(m_faultPoint));
    case Case::migrationFailed:
        return tr("The diary could not be migrated: ") + m_text;
    case Case::backupFailed:
        return tr("The diary backup failed: ") + m_text;
    case Case::storeUnavailable:
        return tr("The diary store is unavailable.");
    case Case::revisionOverflow:
        return tr("The diary revision cannot be incremented safely.");
    case Case::entryAlreadySealed:
        break;
    }
    return tr("This diary entry is already sealed.");
}

} // namespace velmora
