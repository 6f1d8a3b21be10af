#include "backup/DiarySnapshotService.h"

#include "backup/BackupLogging.h"
#include "backup/DiarySnapshotFormatError.h"
#include "backup/FastJson.h"
#include "backup/StaleStaging.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"
#include "platform/SerialExecutor.h"
#include "platform/Sha256.h"
#include "platform/UuidText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {

namespace {

const char *const invariantDetails[] = {
    QT_TRANSLATE_NOOP("DiarySnapshotFormatError", "metadata does not match the manifest"),
    QT_TRANSLATE_NOOP("DiarySnapshotFormatError", "duplicate entry identifier"),
    QT_TRANSLATE_NOOP("DiarySnapshotFormatError", "duplicate civil day"),
    QT_TRANSLATE_NOOP("DiarySnapshotFormatError", "duplicate recovery identifier"),
    QT_TRANSLATE_NOOP("DiarySnapshotFormatError", "day range does not match the manifest"),
};

[[noreturn]] void throwInvariant(int detail) {
    throw DiarySnapshotFormatError::invariantViolation(
        QCoreApplication::translate("DiarySnapshotFormatError", invariantDetails[detail]));
}

QByteArray nativePath(const QString &path) {
    return QFile::encodeName(path);
}

// A regular file opened as the diary's other files are and mapped read-only; the bytes stay
// valid as long as the object lives.
class MappedFile {
public:
    explicit MappedFile(const QString &path)
        : m_path(path)
        , m_fd(openRegularFile(path, &m_size)) {}
    ~MappedFile() {
        if (m_map)
            ::munmap(m_map, size_t(m_size));
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    qint64 size() const { return m_size; }

    // The whole file, without copying it.
    QByteArray bytes() {
        if (m_size == 0)
            return {};
        if (!m_map) {
            void *map = ::mmap(nullptr, size_t(m_size), PROT_READ, MAP_PRIVATE, m_fd.get(), 0);
            if (map == MAP_FAILED)
                throw FileSystemError(QStringLiteral("Could not read the file"), m_path, errno);
            m_map = map;
        }
        return QByteArray::fromRawData(static_cast<const char *>(m_map), m_size);
    }

private:
    QString m_path;
    qint64 m_size = 0;
    FileDescriptor m_fd;
    void *m_map = nullptr;
};

// The names in a folder, hidden ones included, in name order; a failure to list is thrown.
QStringList folderItems(const QString &folder) {
    DIR *directory = ::opendir(nativePath(folder).constData());
    if (!directory)
        throw FileSystemError(QStringLiteral("Could not list the folder"), folder, errno);
    QStringList names;
    errno = 0;
    while (const dirent *item = ::readdir(directory)) {
        const QString name = QFile::decodeName(item->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(directory);
    if (error != 0)
        throw FileSystemError(QStringLiteral("Could not list the folder"), folder, error);
    names.sort();
    return names;
}

const QString stagingPrefix = QStringLiteral(".velmora-snapshot-");

bool lstatPath(const QString &path, struct stat &status) {
    if (::lstat(nativePath(path).constData(), &status) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    throw FileSystemError(QStringLiteral("Could not read the attributes of"), path, errno);
}

void removeStaging(const QString &staging) {
    if (!QDir(staging).removeRecursively())
        qCWarning(lcBackup) << "Could not remove the staging folder" << staging;
}

void observe(const DiarySnapshotService::WriteStepObserver &observer, DiarySnapshotWriteStep step) {
    if (observer)
        observer(step);
}

// An entry's words are checked as a JSON string, which is all that decoding asks of them; a
// validation that keeps nothing need not convert them.
constexpr std::string_view unreadWords = "content";

DiarySnapshotRecord decodeRecord(const QByteArray &line, qint64 lineNumber,
                                 std::string_view unreadStringKey) {
    try {
        DiarySnapshotRecord record =
            DiarySnapshotRecord::fromJson(parseJsonFast(line, unreadStringKey));
        if (record.payloadMatchesKind())
            return record;
    } catch (const InsufficientMemoryError &) {
        throw;
    } catch (const DiaryError &error) {
        qCDebug(lcBackup) << "Backup record line" << lineNumber
                          << "does not decode:" << error.what();
    }
    throw DiarySnapshotFormatError::malformedRecord(lineNumber);
}

// One record as a line. An entry's words are most of a backup's bytes, so they are escaped
// straight into the line; the rest of the line comes from the canonical writer with the words
// left empty. Quotes within texts are escaped, so the empty pair can only be the words' own.
void appendRecordLine(QByteArray &out, const DiarySnapshotRecord &record) {
    static constexpr QByteArrayView emptyWords = "\"content\":\"\"";
    if (record.kind == DiarySnapshotRecordKind::entry && record.entry && !record.metadata &&
        !record.recovery) {
        DiarySnapshotRecord bare = record;
        bare.entry->content.clear();
        const QByteArray line = writeJson(bare.toJson());
        const qsizetype at = line.indexOf(emptyWords);
        if (at >= 0) {
            const qsizetype valueAt = at + emptyWords.size() - 2;
            out.append(line.constData(), valueAt);
            appendJsonString(out, record.entry->content);
            out.append(line.constData() + valueAt + 2, line.size() - valueAt - 2);
            out.append('\n');
            return;
        }
    }
    out.append(writeJson(record.toJson()));
    out.append('\n');
}

// The lines of records [begin, end), in a buffer reserved for them: the words of a diary are
// mostly ASCII, and a short guess costs a single reallocation.
QByteArray encodeRun(const QList<DiarySnapshotRecord> &records, qsizetype begin, qsizetype end) {
    constexpr qsizetype bytesPerRecordOutsideWords = 512;
    qsizetype room = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const DiarySnapshotRecord &record = records.at(i);
        room +=
            bytesPerRecordOutsideWords + (record.entry ? record.entry->content.size() * 5 / 4 : 0);
    }
    QByteArray lines;
    lines.reserve(room);
    for (qsizetype i = begin; i < end; ++i)
        appendRecordLine(lines, records.at(i));
    return lines;
}

// The records of a run of lines, in line order.
struct RecordLines {
    QList<DiaryMetadataDTO> metadata;
    QList<DiaryEntryDTO> entries;
    QList<DiaryRecoveryDTO> recoveries;
    qint64 lineCount = 0;
    // The line, counted within the run, that did not decode.
    std::optional<qint64> malformedLine;
};

// Decodes the non-empty lines of bytes [begin, end). Without `keepDiary` entries and recovery
// records keep only what the invariants compare.
void decodeRun(const char *data, qsizetype begin, qsizetype end, bool keepDiary, RecordLines &run) {
    for (qsizetype start = begin; start < end;) {
        const char *feed = static_cast<const char *>(std::memchr(data + start, '\n', end - start));
        const qsizetype stop = feed ? feed - data : end;
        if (stop > start) {
            ++run.lineCount;
            std::optional<DiarySnapshotRecord> decoded;
            try {
                decoded = decodeRecord(QByteArray::fromRawData(data + start, stop - start),
                                       run.lineCount, keepDiary ? std::string_view() : unreadWords);
            } catch (const DiarySnapshotFormatError &) {
                run.malformedLine = run.lineCount;
                return;
            }
            DiarySnapshotRecord &record = *decoded;
            switch (record.kind) {
            case DiarySnapshotRecordKind::metadata:
                run.metadata.append(*record.metadata);
                break;
            case DiarySnapshotRecordKind::entry:
                if (!keepDiary) {
                    DiaryEntryDTO key;
                    key.id = record.entry->id;
                    key.dayKey = record.entry->dayKey;
                    record.entry = key;
                }
                run.entries.append(std::move(*record.entry));
                break;
            case DiarySnapshotRecordKind::recovery:
                if (!keepDiary) {
                    DiaryRecoveryDTO key;
                    key.recoveryID = record.recovery->recoveryID;
                    record.recovery = key;
                }
                run.recoveries.append(std::move(*record.recovery));
                break;
            }
        }
        start = stop + 1;
    }
}

// How many threads share the work of `count` items of `bytes` in all: one for small inputs.
int workersFor(qsizetype bytes) {
    constexpr qsizetype bytesPerWorker = 4 * 1024 * 1024;
    const int cores = int(std::max(1U, std::thread::hardware_concurrency()));
    return int(std::clamp<qsizetype>(bytes / bytesPerWorker, 1, std::min(cores, 8)));
}

// Runs work(0) .. work(parts - 1), each on a thread of its own but the first; rethrows the
// first failure once all have ended.
template <typename Work> void inParallel(int parts, Work work) {
    std::vector<std::exception_ptr> errors(static_cast<size_t>(parts));
    const auto guarded = [&](int part) {
        try {
            work(part);
        } catch (...) {
            errors[size_t(part)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    for (int part = 1; part < parts; ++part)
        threads.emplace_back(guarded, part);
    guarded(0);
    for (std::thread &thread : threads)
        thread.join();
    for (const std::exception_ptr &error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
}

// Runs `side` on a thread of its own while `work` runs here, when `bytes` make that worth a
// thread; otherwise one after the other. Rethrows the first failure once both have ended.
template <typename Side, typename Work>
void besideLargeWork(qsizetype bytes, Side side, Work work) {
    if (workersFor(bytes) <= 1) {
        side();
        work();
        return;
    }
    inParallel(2, [&](int part) {
        if (part == 0)
            work();
        else
            side();
    });
}

// The lines of the records in runs that follow one another: the runs are encoded side by side
// and written or hashed in order, never joined.
QList<QByteArray> encodeRecordRuns(const QList<DiarySnapshotRecord> &records) {
    qsizetype estimate = 0;
    for (const DiarySnapshotRecord &record : records)
        estimate += record.entry ? record.entry->content.size() : 0;
    const int parts =
        int(std::max<qsizetype>(1, std::min<qsizetype>(workersFor(estimate), records.size())));
    QList<QByteArray> runs(parts);
    inParallel(parts, [&](int part) {
        runs[part] =
            encodeRun(records, records.size() * part / parts, records.size() * (part + 1) / parts);
    });
    return runs;
}

// Decodes every line; the lines are split into runs at line feeds and decoded side by side,
// and the first malformed line in file order is reported.
RecordLines decodeLines(const QByteArray &records, bool keepDiary) {
    const char *data = records.constData();
    const qsizetype size = records.size();
    const int parts = workersFor(size);
    QList<qsizetype> bounds{0};
    for (int part = 1; part < parts; ++part) {
        qsizetype bound = std::max(bounds.last(), size * part / parts);
        const char *feed = static_cast<const char *>(std::memchr(data + bound, '\n', size - bound));
        bounds.append(feed ? feed - data + 1 : size);
    }
    bounds.append(size);
    std::vector<RecordLines> runs(static_cast<size_t>(parts));
    inParallel(parts, [&](int part) {
        decodeRun(data, bounds[part], bounds[part + 1], keepDiary, runs[size_t(part)]);
    });
    RecordLines all;
    for (RecordLines &run : runs) {
        if (run.malformedLine)
            throw DiarySnapshotFormatError::malformedRecord(all.lineCount + *run.malformedLine);
        all.lineCount += run.lineCount;
        all.metadata.append(run.metadata);
        all.entries.append(std::move(run.entries));
        all.recoveries.append(std::move(run.recoveries));
    }
    return all;
}

// Reads and validates a package in the checks' order. Without `keepDiary` entries and recovery
// records keep only what the invariants compare, so listing holds one package's keys at most.
DiarySnapshotPackage readValidated(const QString &packageURL, bool keepDiary) {
    const QString url = standardizedPath(packageURL);
    struct stat status {};
    if (!lstatPath(url, status))
        throw FileSystemError(QStringLiteral("Could not read the attributes of"), url, ENOENT);
    if (!S_ISDIR(status.st_mode))
        throw DiarySnapshotFormatError::packageNotDirectory();

    bool hasManifest = false;
    bool hasRecords = false;
    for (const QString &name : folderItems(url)) {
        struct stat item {};
        if (!lstatPath(url + QLatin1Char('/') + name, item))
            continue;
        const bool manifest = name == backupPackage::manifestFileName;
        const bool records = name == backupPackage::recordsFileName;
        if (!manifest && !records)
            throw DiarySnapshotFormatError::unexpectedPackageItem(name);
        if (S_ISLNK(item.st_mode))
            throw DiarySnapshotFormatError::symbolicLink(name);
        if (!S_ISREG(item.st_mode))
            throw DiarySnapshotFormatError::unexpectedPackageItem(name);
        hasManifest = hasManifest || manifest;
        hasRecords = hasRecords || records;
    }
    if (!hasManifest)
        throw DiarySnapshotFormatError::missingFile(backupPackage::manifestFileName);
    if (!hasRecords)
        throw DiarySnapshotFormatError::missingFile(backupPackage::recordsFileName);

    // Sizes come from the open files, before a byte is read.
    MappedFile manifestFile(url + QLatin1Char('/') + backupPackage::manifestFileName);
    MappedFile recordsFile(url + QLatin1Char('/') + backupPackage::recordsFileName);
    if (recordsFile.size() > backupPackage::recordsByteLimit)
        throw DiarySnapshotFormatError::fileTooLarge();
    if (manifestFile.size() > backupPackage::manifestByteLimit)
        throw DiarySnapshotFormatError::malformedManifest();
    const QByteArray manifestBytes = manifestFile.bytes();
    const QByteArray records = recordsFile.bytes();

    if (!DiarySnapshotService::manifestKeysAreUnambiguous(manifestBytes))
        throw DiarySnapshotFormatError::malformedManifest();
    DiarySnapshotManifest manifest;
    try {
        manifest = DiarySnapshotManifest::fromJson(parseJsonFast(manifestBytes));
    } catch (const InsufficientMemoryError &) {
        throw;
    } catch (const DiaryError &error) {
        qCDebug(lcBackup) << "Manifest of" << url << "does not decode:" << error.what();
        throw DiarySnapshotFormatError::malformedManifest();
    }
    if (manifest.format != backupPackage::formatIdentifier ||
        manifest.formatVersion != backupPackage::formatVersion)
        throw DiarySnapshotFormatError::unsupportedVersion(manifest.formatVersion);
    if (manifest.recordsByteCount != records.size())
        throw DiarySnapshotFormatError::byteCountMismatch();
    // The digest is taken while the lines decode; a digest that differs is still the failure
    // reported, whatever the lines hold.
    QString digest;
    RecordLines lines;
    std::exception_ptr decodeFailure;
    besideLargeWork(
        records.size(), [&] { digest = sha256Hex(records); },
        [&] {
            try {
                lines = decodeLines(records, keepDiary);
            } catch (...) {
                decodeFailure = std::current_exception();
            }
        });
    if (digest != manifest.recordsSHA256)
        throw DiarySnapshotFormatError::checksumMismatch();
    if (decodeFailure)
        std::rethrow_exception(decodeFailure);
    DiarySnapshotDTO diary;
    const int metadataCount = int(lines.metadata.size());
    if (metadataCount == 1)
        diary.metadata = lines.metadata.first();
    diary.entries = std::move(lines.entries);
    diary.recoveryRecords = std::move(lines.recoveries);
    if (metadataCount != 1 || diary.entries.size() != manifest.entryCount ||
        diary.recoveryRecords.size() != manifest.recoveryCount)
        throw DiarySnapshotFormatError::recordCountMismatch();
    DiarySnapshotService::checkInvariants(diary, manifest);

    SnapshotSummary summary{manifest.createdAt,
                            manifest.diaryID,
                            diary.entries.size(),
                            diary.recoveryRecords.size(),
                            manifest.earliestDay,
                            manifest.latestDay,
                            url};
    if (!keepDiary)
        diary = {};
    return {std::move(diary), std::move(summary)};
}

} // namespace

DiarySnapshotService::DiarySnapshotService(std::shared_ptr<DiaryRepository> repository,
                                           std::shared_ptr<const Clock> clock)
    : m_repository(std::move(repository))
    , m_clock(std::move(clock))
    , m_files(std::make_unique<SerialExecutor>(QStringLiteral("DiaryBackupFiles"))) {}

DiarySnapshotService::~DiarySnapshotService() {
    m_lifetime.cancel();
}

QCoro::Task<SnapshotSummary> DiarySnapshotService::createSnapshot(QString folder) {
    const CancellationToken lifetime = m_lifetime;
    const QString name =
        QStringLiteral("Diary-%1-%2.%3")
            .arg(m_clock->now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                 uuidText(QUuid::createUuid()).left(8), backupPackage::extension);
    const QString destination = standardizedPath(folder) + QLatin1Char('/') + name;
    auto makeFolder = m_files->run([folder] { createDirectories(folder); });
    co_await makeFolder;
    lifetime.throwIfCancelled();
    const auto repository = m_repository;
    DiarySnapshotDTO diary = co_await repository->snapshot();
    lifetime.throwIfCancelled();
    auto write = m_files->run([diary = std::move(diary), destination, createdAt = m_clock->now()] {
        return writePackage(diary, destination, createdAt);
    });
    co_return co_await write;
}

QList<SnapshotSummary> DiarySnapshotService::listSnapshots(const QString &folder) {
    QList<SnapshotSummary> summaries;
    QStringList names;
    try {
        names = folderItems(standardizedPath(folder));
    } catch (const DiaryError &error) {
        qCDebug(lcBackup) << "No backups listed:" << error.what();
        return summaries;
    }
    for (const QString &name : std::as_const(names)) {
        if (QFileInfo(name).suffix() != backupPackage::extension)
            continue;
        try {
            summaries.append(validatePackage(standardizedPath(folder) + QLatin1Char('/') + name));
        } catch (const std::exception &error) {
            qCInfo(lcBackup) << "Backup" << name << "left out of the list:" << error.what();
        }
    }
    std::stable_sort(summaries.begin(), summaries.end(),
                     [](const SnapshotSummary &a, const SnapshotSummary &b) {
                         return a.createdAt > b.createdAt;
                     });
    return summaries;
}

SnapshotSummary DiarySnapshotService::writePackage(const DiarySnapshotDTO &diary,
                                                   const QString &destination,
                                                   const QDateTime &createdAt,
                                                   const WriteStepObserver &observer) {
    const QString target = standardizedPath(destination);
    struct stat existing {};
    if (lstatPath(target, existing))
        throw PersistenceError::backupFailed(QCoreApplication::translate(
            "DiarySnapshotService", "A backup already exists at the selected location."));
    const QString parent = QFileInfo(target).path();
    createDirectories(parent);
    removeStaleStaging(StagingKind::folder, parent, stagingPrefix);
    const QString staging =
        parent + QLatin1Char('/') + stagingPrefix + uuidText(QUuid::createUuid());
    if (::mkdir(nativePath(staging).constData(), 0700) != 0)
        throw FileSystemError(QStringLiteral("Could not create the folder"), staging, errno);

    try {
        DiarySnapshotManifest manifest;
        manifest.createdAt = createdAt;
        manifest.diaryID = diary.metadata.diaryID;
        manifest.schemaVersion = diary.metadata.schemaVersion;
        manifest.entryCount = diary.entries.size();
        manifest.recoveryCount = diary.recoveryRecords.size();
        {
            const QList<DiarySnapshotRecord> records = makeRecords(diary);
            for (const DiarySnapshotRecord &record : records) {
                if (record.kind != DiarySnapshotRecordKind::entry)
                    continue;
                if (!manifest.earliestDay)
                    manifest.earliestDay = record.entry->dayKey;
                manifest.latestDay = record.entry->dayKey;
            }
            const QList<QByteArray> runs = encodeRecordRuns(records);
            qsizetype size = 0;
            for (const QByteArray &run : runs)
                size += run.size();
            if (size > backupPackage::recordsByteLimit)
                throw DiarySnapshotFormatError::fileTooLarge();
            manifest.recordsByteCount = size;
            // The digest is taken while the file is written.
            besideLargeWork(
                size, [&] { manifest.recordsSHA256 = sha256HexOfPieces(runs); },
                [&] {
                    writeFileAtomically(staging + QLatin1Char('/') + backupPackage::recordsFileName,
                                        runs);
                });
        }
        observe(observer, DiarySnapshotWriteStep::recordsWritten);
        writeFileAtomically(staging + QLatin1Char('/') + backupPackage::manifestFileName,
                            manifest.encoded());
        observe(observer, DiarySnapshotWriteStep::manifestWritten);
        validatePackage(staging);
        observe(observer, DiarySnapshotWriteStep::validated);
        syncDirectory(parent);
        observe(observer, DiarySnapshotWriteStep::beforeMove);
        // rename() would replace an empty folder standing at the destination.
        if (::renameat2(AT_FDCWD, nativePath(staging).constData(), AT_FDCWD,
                        nativePath(target).constData(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                throw PersistenceError::backupFailed(QCoreApplication::translate(
                    "DiarySnapshotService", "A backup already exists at the selected location."));
            throw FileSystemError(QStringLiteral("Could not move the backup into place at"), target,
                                  errno);
        }
        try {
            syncDirectory(parent);
        } catch (const DiaryError &error) {
            qCWarning(lcBackup) << "The new backup may not survive a power cut:" << error.what();
        }
        return {manifest.createdAt,
                manifest.diaryID,
                manifest.entryCount,
                manifest.recoveryCount,
                manifest.earliestDay,
                manifest.latestDay,
                target};
    } catch (...) {
        removeStaging(staging);
        throw;
    }
}

DiarySnapshotPackage DiarySnapshotService::readPackage(const QString &packageURL) {
    return readValidated(packageURL, true);
}

SnapshotSummary DiarySnapshotService::validatePackage(const QString &packageURL) {
    return readValidated(packageURL, false).summary;
}

bool DiarySnapshotService::manifestKeysAreUnambiguous(const QByteArray &manifest) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(manifest);
    if (decoder.hasError())
        return false;
    const auto occurrences = [&text](const char *key) {
        return text.count(QLatin1Char('"') + QLatin1String(key) + QLatin1Char('"'));
    };
    for (const char *key : {"format", "formatVersion", "createdAt", "diaryID", "schemaVersion",
                            "entryCount", "recoveryCount", "recordsByteCount", "recordsSHA256"}) {
        if (occurrences(key) != 1)
            return false;
    }
    return occurrences("earliestDay") <= 1 && occurrences("latestDay") <= 1;
}

QList<DiarySnapshotRecord> DiarySnapshotService::makeRecords(const DiarySnapshotDTO &diary) {
    QList<DiarySnapshotRecord> records;
    records.reserve(1 + diary.entries.size() + diary.recoveryRecords.size());
    records.append({DiarySnapshotRecordKind::metadata, diary.metadata, {}, {}});
    QList<DiaryEntryDTO> entries = diary.entries;
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const DiaryEntryDTO &a, const DiaryEntryDTO &b) { return a.dayKey < b.dayKey; });
    for (const DiaryEntryDTO &entry : std::as_const(entries))
        records.append({DiarySnapshotRecordKind::entry, {}, entry, {}});
    QList<DiaryRecoveryDTO> recoveries = diary.recoveryRecords;
    std::stable_sort(recoveries.begin(), recoveries.end(),
                     [](const DiaryRecoveryDTO &a, const DiaryRecoveryDTO &b) {
                         return uuidText(a.recoveryID) < uuidText(b.recoveryID);
                     });
    for (const DiaryRecoveryDTO &recovery : std::as_const(recoveries))
        records.append({DiarySnapshotRecordKind::recovery, {}, {}, recovery});
    return records;
}

QByteArray DiarySnapshotService::encodeRecordLines(const QList<DiarySnapshotRecord> &records) {
    const QList<QByteArray> runs = encodeRecordRuns(records);
    if (runs.size() == 1)
        return runs.first();
    qsizetype total = 0;
    for (const QByteArray &run : runs)
        total += run.size();
    QByteArray lines;
    lines.reserve(total);
    for (const QByteArray &run : runs)
        lines.append(run);
    return lines;
}

DiarySnapshotRecord DiarySnapshotService::decodeRecordLine(const QByteArray &line,
                                                           qint64 lineNumber) {
    return decodeRecord(line, lineNumber, {});
}

void DiarySnapshotService::checkInvariants(const DiarySnapshotDTO &diary,
                                           const DiarySnapshotManifest &manifest) {
    if (diary.metadata.diaryID != manifest.diaryID ||
        diary.metadata.schemaVersion != manifest.schemaVersion)
        throwInvariant(0);
    QSet<QUuid> ids;
    QSet<DayKey> days;
    QList<DayKey> sortedDays;
    sortedDays.reserve(diary.entries.size());
    for (const DiaryEntryDTO &entry : diary.entries) {
        ids.insert(entry.id);
        days.insert(entry.dayKey);
        sortedDays.append(entry.dayKey);
    }
    if (ids.size() != diary.entries.size())
        throwInvariant(1);
    if (days.size() != diary.entries.size())
        throwInvariant(2);
    QSet<QUuid> recoveryIDs;
    for (const DiaryRecoveryDTO &recovery : diary.recoveryRecords)
        recoveryIDs.insert(recovery.recoveryID);
    if (recoveryIDs.size() != diary.recoveryRecords.size())
        throwInvariant(3);
    std::sort(sortedDays.begin(), sortedDays.end());
    const bool rangeMatches = sortedDays.isEmpty() ? !manifest.earliestDay && !manifest.latestDay
                                                   : manifest.earliestDay == sortedDays.first() &&
                                                         manifest.latestDay == sortedDays.last();
    if (!rangeMatches)
        throwInvariant(4);
}

} // namespace velmora
