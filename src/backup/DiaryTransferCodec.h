#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "platform/DiaryError.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>
#include <stop_token>

namespace velmora {

// Why an export or import was refused; the messages are shown to the user unchanged, even the
// ones that speak of an import when an export failed.
class DiaryTransferError : public DiaryError {
public:
    enum class Case {
        unsupportedVersion,
        malformedDocument,
        recordTooLarge,
        inputTooLarge,
        missingVersion,
        tooManyRecords,
        duplicateIdentifier,
        duplicateDay,
        destinationExists,
        // What the user picked to import: a folder, a pipe or a device, or the store itself.
        notAFile,
        diaryStore,
        // Something else stood in the export's temporary file's place before it was moved in.
        exportReplaced,
        // The export would be larger than an import reads.
        exportTooLarge,
    };

    static DiaryTransferError unsupportedVersion(QString version) {
        return {Case::unsupportedVersion, std::move(version)};
    }
    static DiaryTransferError malformedDocument(QString detail) {
        return {Case::malformedDocument, std::move(detail)};
    }
    static DiaryTransferError recordTooLarge(qint64 index) {
        return {Case::recordTooLarge, {}, index};
    }
    static DiaryTransferError inputTooLarge() { return {Case::inputTooLarge}; }
    static DiaryTransferError missingVersion() { return {Case::missingVersion}; }
    static DiaryTransferError tooManyRecords() { return {Case::tooManyRecords}; }
    static DiaryTransferError duplicateIdentifier() { return {Case::duplicateIdentifier}; }
    static DiaryTransferError duplicateDay() { return {Case::duplicateDay}; }
    static DiaryTransferError destinationExists() { return {Case::destinationExists}; }
    static DiaryTransferError notAFile(QString name) { return {Case::notAFile, std::move(name)}; }
    static DiaryTransferError diaryStore(QString name) {
        return {Case::diaryStore, std::move(name)};
    }
    static DiaryTransferError exportReplaced() { return {Case::exportReplaced}; }
    static DiaryTransferError exportTooLarge() { return {Case::exportTooLarge}; }

    Case errorCase() const { return m_case; }
    const QString &text() const { return m_text; }
    qint64 index() const { return m_index; }

    QString message() const override;

    friend bool operator==(const DiaryTransferError &a, const DiaryTransferError &b) {
        return a.m_case == b.m_case && a.m_text == b.m_text && a.m_index == b.m_index;
    }

private:
    DiaryTransferError(Case errorCase, QString text = {}, qint64 index = 0)
        : m_case(errorCase)
        , m_text(std::move(text))
        , m_index(index) {}

    Case m_case;
    QString m_text;
    qint64 m_index;
};

struct DiaryTransferSettings {
    QString userName;
    QString selectedFont;
    double defaultFontSize = 16;
    QString appAppearance;

    friend bool operator==(const DiaryTransferSettings &, const DiaryTransferSettings &) = default;
};

// One leaf of handwriting carried by an export file.
struct DiaryTransferInk {
    DayKey dayKey;
    qint64 leaf = 0;
    QByteArray drawing;

    friend bool operator==(const DiaryTransferInk &, const DiaryTransferInk &) = default;
};

// The export file.
struct DiaryTransferDocument {
    QString format = QStringLiteral("velmora-export");
    qint64 version = 3;
    QDateTime exportedAt;
    QUuid diaryID;
    QList<DiaryEntryDTO> entries;
    DiaryTransferSettings settings;
    std::optional<QList<DiaryTransferInk>> handwriting;

    friend bool operator==(const DiaryTransferDocument &, const DiaryTransferDocument &) = default;
};

// The points a write passes, in order: the temporary file written, then read back and decoded.
enum class DiaryTransferWriteStep { written, readBack };

// Reads, checks, encodes and writes export files: version 3, and the older versions "1" and "2"
// converted to it. Dates are ISO 8601 in whole seconds, UTC.
class DiaryTransferCodec {
public:
    static constexpr qint64 inputByteLimit = 268435456;
    static constexpr qsizetype entryLimit = 100000;
    static constexpr qint64 contentByteLimit = 8388608;

    using WriteStepObserver =
        std::function<void(DiaryTransferWriteStep step, const QString &temporary)>;

    DiaryTransferCodec() = delete;

    // The bytes of an import file, whole, once its size is within the limit; kept with room
    // for the parser after them, so that decoding a large file does not copy it. A source that
    // is one of `neverOpened` (the store's own files, under any name, even one given to it
    // while it is looked at) is refused without being opened for reading: closing any other
    // descriptor of a file than an O_PATH one drops every POSIX lock this process holds on it.
    // So is anything but a plain file, which could keep the read waiting for ever (a pipe) or
    // never end it (a device). `beforeOpening` lets tests replace the file.
    static QByteArray readFile(const QString &source, const QStringList &neverOpened = {},
                               const std::function<void()> &beforeOpening = {});
    // Any supported version, validated, as version 3. Once `stop` is asked, decoding and
    // validating end with CancellationError at the next entry.
    static DiaryTransferDocument decode(const QByteArray &data, std::stop_token stop = {});
    static void validate(const DiaryTransferDocument &document, std::stop_token stop = {});
    // Validates first: an invalid document is never encoded.
    static QByteArray encode(const DiaryTransferDocument &document);
    // Through a hidden temporary file beside the destination that is read back and decoded
    // before it is moved into place; an existing destination is never replaced, and an export
    // larger than inputByteLimit, which no import would read, is refused before anything is
    // written. `observer` is told each step as it is passed, and lets tests replace the temporary
    // file. Once `stop` is asked, the write ends with CancellationError at the next entry it
    // validates, encodes or reads back, or the next step it passes before the move, its temporary
    // file removed and the destination left as it was.
    static void write(const DiaryTransferDocument &document, const QString &destination,
                      const WriteStepObserver &observer = {}, std::stop_token stop = {});

    static DiaryTransferDocument decodeLegacy(const QByteArray &data, bool isVersion2);

    // The moment without its fraction of a second, as the file keeps it.
    static QDateTime wholeSeconds(const QDateTime &moment);
};

} // namespace velmora
