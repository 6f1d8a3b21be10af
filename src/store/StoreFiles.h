#pragma once

#include "platform/DiaryError.h"

#include <QByteArray>
#include <QString>

namespace velmora {

// A file-system failure, with the operating system's own description.
class FileOperationError : public DiaryError {
public:
    FileOperationError(QString operation, QString path, QString reason);

    const QString &path() const { return m_path; }
    QString message() const override;

private:
    QString m_operation;
    QString m_path;
    QString m_reason;
};

// Creates the directory and every missing parent.
void createDirectory(const QString &path);

// Removes a file; a missing file is no error.
void removeFileIfPresent(const QString &path);

// Temp file in the same folder, fsync, rename over the target, fsync of the folder; owner-only.
void writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace velmora
