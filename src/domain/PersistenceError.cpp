#include "domain/PersistenceError.h"

#include <QCoreApplication>

namespace velmora {

PersistenceError PersistenceError::conflict(DiaryRevision expectedRevision, DiaryRevision actual) {
    PersistenceError error(Case::conflict, {});
    error.m_expected = expectedRevision;
    error.m_actual = actual;
    return error;
}

PersistenceError PersistenceError::conflictWithReplacedDiary(DiaryRevision expectedRevision,
                                                             DiaryRevision actual) {
    PersistenceError error = conflict(expectedRevision, actual);
    error.m_withReplacedDiary = true;
    return error;
}

PersistenceError PersistenceError::faultInjected(DiaryRepositoryFaultPoint point) {
    PersistenceError error(Case::faultInjected, {});
    error.m_faultPoint = point;
    return error;
}

QString PersistenceError::message() const {
    switch (m_case) {
    case Case::storeLoadFailed:
        return QCoreApplication::translate("PersistenceError",
                                           "The diary store could not be opened: ") +
               m_text;
    case Case::readFailed:
        return QCoreApplication::translate("PersistenceError", "The diary could not be read: ") +
               m_text;
    case Case::writeFailed:
        return QCoreApplication::translate("PersistenceError", "The diary could not be saved: ") +
               m_text;
    case Case::invalidData:
        return QCoreApplication::translate("PersistenceError",
                                           "The diary contains invalid data: ") +
               m_text;
    case Case::conflict:
        if (m_withReplacedDiary)
            return QCoreApplication::translate("PersistenceError",
                                               "The diary was replaced by a restore or an import "
                                               "meanwhile, so this change was not stored.");
        return QCoreApplication::translate(
                   "PersistenceError",
                   "The diary changed unexpectedly (expected revision %1, found %2).")
            .arg(m_expected.rawValue)
            .arg(m_actual.rawValue);
    case Case::faultInjected:
        return QCoreApplication::translate("PersistenceError",
                                           "A persistence fault was injected at %1.")
            .arg(rawValue(m_faultPoint));
    case Case::migrationFailed:
        return QCoreApplication::translate("PersistenceError",
                                           "The diary could not be migrated: ") +
               m_text;
    case Case::backupFailed:
        return QCoreApplication::translate("PersistenceError", "The diary backup failed: ") +
               m_text;
    case Case::storeUnavailable:
        return QCoreApplication::translate("PersistenceError", "The diary store is unavailable.");
    case Case::revisionOverflow:
        return QCoreApplication::translate("PersistenceError",
                                           "The diary revision cannot be incremented safely.");
    case Case::entryAlreadySealed:
        break;
    }
    return QCoreApplication::translate("PersistenceError", "This diary entry is already sealed.");
}

} // namespace velmora
