#include "backup/DiarySnapshotFormatError.h"

#include <QCoreApplication>

namespace velmora {

QString DiarySnapshotFormatError::message() const {
    const auto tr = [](const char *text) {
        return QCoreApplication::translate("DiarySnapshotFormatError", text);
    };
    switch (m_case) {
    case Case::unexpectedPackageItem:
        return tr("The backup contains an unexpected item: %1.").arg(m_text);
    case Case::symbolicLink:
        return tr("The backup contains a symbolic link: %1.").arg(m_text);
    case Case::missingFile:
        return tr("The backup is missing %1.").arg(m_text);
    case Case::unsupportedVersion:
        return tr("Backup version %1 is not supported.").arg(m_number);
    case Case::malformedRecord:
        return tr("Backup record line %1 is malformed.").arg(m_number);
    case Case::invariantViolation:
        return tr("The backup is internally inconsistent: ") + m_text;
    case Case::packageNotDirectory:
        return tr("The backup package is not a directory.");
    case Case::fileTooLarge:
        return tr("The backup exceeds the supported size limit.");
    case Case::malformedManifest:
        return tr("The backup manifest is malformed or ambiguous.");
    case Case::checksumMismatch:
        return tr("The backup records checksum does not match.");
    case Case::byteCountMismatch:
        return tr("The backup records byte count does not match.");
    case Case::recordCountMismatch:
        return tr("The backup record counts do not match the manifest.");
    }
    return {};
}

} // namespace velmora
