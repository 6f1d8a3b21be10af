#pragma once

#include "platform/DiaryError.h"

#include <QString>

namespace velmora {

// Why a backup package was refused. The messages are shown to the user unchanged.
class DiarySnapshotFormatError : public DiaryError {
public:
    enum class Case {
        unexpectedPackageItem,
        symbolicLink,
        missingFile,
        unsupportedVersion,
        malformedRecord,
        invariantViolation,
        packageNotDirectory,
        fileTooLarge,
        malformedManifest,
        checksumMismatch,
        byteCountMismatch,
        recordCountMismatch,
    };

    static DiarySnapshotFormatError unexpectedPackageItem(QString name) {
        return {Case::unexpectedPackageItem, std::move(name)};
    }
    static DiarySnapshotFormatError symbolicLink(QString name) {
        return {Case::symbolicLink, std::move(name)};
    }
    static DiarySnapshotFormatError missingFile(QString name) {
        return {Case::missingFile, std::move(name)};
    }
    static DiarySnapshotFormatError unsupportedVersion(qint64 version) {
        return {Case::unsupportedVersion, {}, version};
    }
    static DiarySnapshotFormatError malformedRecord(qint64 line) {
        return {Case::malformedRecord, {}, line};
    }
    static DiarySnapshotFormatError invariantViolation(QString detail) {
        return {Case::invariantViolation, std::move(detail)};
    }
    static DiarySnapshotFormatError packageNotDirectory() { return {Case::packageNotDirectory}; }
    static DiarySnapshotFormatError fileTooLarge() { return {Case::fileTooLarge}; }
    static DiarySnapshotFormatError malformedManifest() { return {Case::malformedManifest}; }
    static DiarySnapshotFormatError checksumMismatch() { return {Case::checksumMismatch}; }
    static DiarySnapshotFormatError byteCountMismatch() { return {Case::byteCountMismatch}; }
    static DiarySnapshotFormatError recordCountMismatch() { return {Case::recordCountMismatch}; }

    Case errorCase() const { return m_case; }
    const QString &text() const { return m_text; }
    qint64 number() const { return m_number; }

    QString message() const override;

    friend bool operator==(const DiarySnapshotFormatError &a, const DiarySnapshotFormatError &b) {
        return a.m_case == b.m_case && a.m_text == b.m_text && a.m_number == b.m_number;
    }

private:
    DiarySnapshotFormatError(Case errorCase, QString text = {}, qint64 number = 0)
        : m_case(errorCase)
        , m_text(std::move(text))
        , m_number(number) {}

    Case m_case;
    QString m_text;
    qint64 m_number;
};

} // namespace velmora
