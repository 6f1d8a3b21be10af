#include "backup/DiarySnapshotFormatError.h"

#include <QCoreApplication>

namespace velmora {

QString DiarySnapshotFormatError::message() const {
    switch (m_case) {
    case Case::unexpectedPackageItem:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup contains an unexpected item: %1.")
            .arg(shownExcerpt(m_text));
    case Case::symbolicLink:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup contains a symbolic link: %1.")
            .arg(shownExcerpt(m_text));
    case Case::missingFile:
        return QCoreApplication::translate("DiarySnapshotFormatError", "The backup is missing %1.")
            .arg(shownExcerpt(m_text));
    case Case::unsupportedVersion:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "Backup version %1 is not supported.")
            .arg(m_number);
    case Case::malformedRecord:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "Backup record line %1 is malformed.")
            .arg(m_number);
    case Case::invariantViolation:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup is internally inconsistent: ") +
               shownExcerpt(m_text);
    case Case::packageNotDirectory:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup package is not a directory.");
    case Case::fileTooLarge:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup exceeds the supported size limit.");
    case Case::malformedManifest:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup manifest is malformed or ambiguous.");
    case Case::checksumMismatch:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup records checksum does not match.");
    case Case::byteCountMismatch:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup records byte count does not match.");
    case Case::recordCountMismatch:
        return QCoreApplication::translate("DiarySnapshotFormatError",
                                           "The backup record counts do not match the manifest.");
    }
    return {};
}

} // namespace velmora
