#include "backup/DiaryTransferService.h"

#include "backup/BackupLogging.h"
#include "backup/DiarySnapshotService.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/SerialExecutor.h"
#include "platform/Sha256.h"
#include "platform/UuidText.h"

#include <QHash>

#include <algorithm>

namespace velmora {

namespace {

DiaryEntryDTO toTheSecond(DiaryEntryDTO entry) {
    entry.createdAt = DiaryTransferCodec::wholeSeconds(entry.createdAt);
    entry.updatedAt = DiaryTransferCodec::wholeSeconds(entry.updatedAt);
    if (entry.sealedAt)
        entry.sealedAt = DiaryTransferCodec::wholeSeconds(*entry.sealedAt);
    return entry;
}

// Finds stored entries by id first, then by day.
class EntryLookup {
public:
    explicit EntryLookup(const QList<DiaryEntryDTO> &entries) {
        for (qsizetype i = 0; i < entries.size(); ++i)
            add(entries.at(i), i);
    }
    void add(const DiaryEntryDTO &entry, qsizetype index) {
        m_byID.insert(entry.id, index);
        m_byDay.insert(entry.dayKey, index);
    }
    qsizetype find(const DiaryEntryDTO &entry) const {
        const qsizetype index = m_byID.value(entry.id, -1);
        return index >= 0 ? index : m_byDay.value(entry.dayKey, -1);
    }

private:
    QHash<QUuid, qsizetype> m_byID;
    QHash<DayKey, qsizetype> m_byDay;
};

// An imported font the settings window could have chosen: one it offers, or none (the default
// font) when the name is blank.
std::optional<QString> offeredFont(const QString &name, const QStringList &offered) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || offered.contains(trimmed))
        return trimmed;
    return std::nullopt;
}

// An imported appearance the book is drawn in (the desktop's, light or dark), as the settings keep
// it; exports write the first as "System".
std::optional<QString> knownAppearance(const QString &appearance) {
    for (const char *known : {"system", "light", "dark"}) {
        if (appearance.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(known);
    }
    return std::nullopt;
}

} // namespace

DiaryTransferService::DiaryTransferService(std::shared_ptr<DiaryRepository> repository,
                                           std::shared_ptr<UserDefaultsSettingsStore> settings,
                                           std::shared_ptr<const Clock> clock,
                                           DiaryOpenDayReloader openDay)
    : m_repository(std::move(repository))
    , m_settings(std::move(settings))
    , m_clock(std::move(clock))
    , m_openDay(openDay)
    , m_files(std::make_unique<SerialExecutor>(QStringLiteral("DiaryTransferFiles"))) {}

DiaryTransferService::~DiaryTransferService() {
    // Its file thread then runs what it was given and ends as m_files goes.
    m_lifetime.cancel();
}

bool DiaryTransferService::sameEntry(const DiaryEntryDTO &a, const DiaryEntryDTO &b) {
    return toTheSecond(a) == toTheSecond(b);
}

QByteArray DiaryTransferService::recoveryPayload(const DiaryEntryDTO &entry) {
    return writeJson(entry.toJson(JsonDateEncoding::secondsSinceReferenceDate),
                     {.escapeSlashes = true});
}

QCoro::Task<void> DiaryTransferService::exportDiary(
    QString destination, std::optional<QList<DiaryTransferInk>> handwriting, std::stop_token stop) {
    const CancellationToken lifetime = m_lifetime;
    const auto repository = m_repository;
    const DiarySnapshotDTO diary = co_await repository->snapshot();
    lifetime.throwIfCancelled();
    DiaryTransferDocument document;
    document.exportedAt = m_clock->now();
    document.diaryID = diary.metadata.diaryID;
    document.entries = diary.entries;
    document.settings = {
        m_settings->userName(), m_settings->selectedFont(), m_settings->defaultFontSize(),
        // Written as "System" when never chosen, as exports always have been.
        UserDefaultsSettingsStore::appAppearanceSetting.stored(*m_settings->defaults())
            .value_or(QStringLiteral("System"))};
    document.handwriting = std::move(handwriting);
    auto write =
        m_files->run([document = std::move(document), destination, observer = m_writeStepObserver,
                      stop] { DiaryTransferCodec::write(document, destination, observer, stop); });
    co_await write;
}

QCoro::Task<DiaryImportPreview> DiaryTransferService::preview(DiaryTransferDocument document) {
    const CancellationToken lifetime = m_lifetime;
    const auto repository = m_repository;
    const DiarySnapshotDTO current = co_await repository->snapshot();
    lifetime.throwIfCancelled();
    co_return classify(current, document);
}

DiaryImportPreview DiaryTransferService::classify(const DiarySnapshotDTO &current,
                                                  const DiaryTransferDocument &document) const {
    const EntryLookup lookup(current.entries);
    DiaryImportPreview counts;
    for (const DiaryEntryDTO &entry : document.entries) {
        const qsizetype match = lookup.find(entry);
        if (match < 0)
            ++counts.newEntryCount;
        else if (sameEntry(current.entries.at(match), entry))
            ++counts.identicalCount;
        else
            ++counts.conflictCount;
    }
    return counts;
}

DiarySnapshotDTO DiaryTransferService::merged(const DiarySnapshotDTO &current,
                                              const DiaryTransferDocument &document) const {
    DiarySnapshotDTO diary = current;
    EntryLookup lookup(diary.entries);
    for (const DiaryEntryDTO &entry : document.entries) {
        const qsizetype match = lookup.find(entry);
        if (match < 0) {
            diary.entries.append(entry);
            lookup.add(entry, diary.entries.size() - 1);
        } else if (!sameEntry(diary.entries.at(match), entry)) {
            DiaryRecoveryDTO record;
            record.recoveryID = QUuid::createUuid();
            record.originalID = entry.id;
            record.proposedDayKey = entry.dayKey;
            record.reason = DiaryRecoveryReason::importConflict;
            record.sourceKind = DiaryRecoverySourceKind::importRecord;
            record.preservedPayload = recoveryPayload(entry);
            record.contentSHA256 = sha256Hex(record.preservedPayload);
            record.createdAt = m_clock->now();
            diary.recoveryRecords.append(record);
        }
    }
    ++diary.metadata.snapshotSequence;
    std::stable_sort(
        diary.entries.begin(), diary.entries.end(),
        [](const DiaryEntryDTO &a, const DiaryEntryDTO &b) { return a.dayKey < b.dayKey; });
    return diary;
}

DiarySnapshotDTO DiaryTransferService::replacement(const DiarySnapshotDTO &current,
                                                   const DiaryTransferDocument &document) const {
    DiarySnapshotDTO diary;
    diary.metadata.diaryID = document.diaryID;
    diary.metadata.schemaVersion = 2;
    diary.metadata.migrationIdentifier = QStringLiteral("import-v3");
    const auto earliest = std::min_element(
        document.entries.begin(), document.entries.end(),
        [](const DiaryEntryDTO &a, const DiaryEntryDTO &b) { return a.createdAt < b.createdAt; });
    diary.metadata.createdAt =
        earliest == document.entries.end() ? m_clock->now() : earliest->createdAt;
    diary.metadata.snapshotSequence = current.metadata.snapshotSequence + 1;
    diary.entries = document.entries;
    return diary;
}

QCoro::Task<DiaryImportPreview> DiaryTransferService::importDocument(DiaryTransferDocument document,
                                                                     bool replace,
                                                                     QString backupDirectory) {
    // The open page is held from the start: nothing typed meanwhile is saved over the imported
    // diary, and a quit meanwhile waits for the import to end or to be undone. The hold is kept
    // in this frame, so that it ends even where the service is gone by then.
    const CancellationToken lifetime = m_lifetime;
    DiaryOpenDayReloader openDay = m_openDay;
    auto importing = openDay.whileHeld(DiaryReplacementKind::import, [&] {
        lifetime.throwIfCancelled();
        return importInto(std::move(document), replace, std::move(backupDirectory));
    });
    co_return co_await importing;
}

QCoro::Task<DiaryImportPreview> DiaryTransferService::importInto(DiaryTransferDocument document,
                                                                 bool replace,
                                                                 QString backupDirectory) {
    const CancellationToken lifetime = m_lifetime;
    auto normalise = m_files->run([document = std::move(document)] {
        return DiaryTransferCodec::decode(DiaryTransferCodec::encode(document));
    });
    const DiaryTransferDocument decoded = co_await normalise;
    lifetime.throwIfCancelled();

    const auto repository = m_repository;
    // Nothing else is stored from the moment the diary is taken until the import is in place or
    // undone: a merge never drops a page saved meanwhile, and the safety backup holds them all.
    DiaryWriteGate::Hold writes = repository->holdWrites();
    const DiarySnapshotDTO current = co_await repository->snapshot();
    lifetime.throwIfCancelled();
    const DiaryImportPreview counts = classify(current, decoded);
    if (m_stepObserver)
        m_stepObserver(DiaryImportStep::snapshotTaken);

    const QString folder = standardizedPath(backupDirectory);
    const QString safetyURL = folder + QStringLiteral("/Before-Import-") +
                              uuidText(QUuid::createUuid()) + QStringLiteral(".velmorabackup");
    auto writeSafety = m_files->run([folder, current, safetyURL, createdAt = m_clock->now()] {
        createDirectories(folder);
        DiarySnapshotService::writePackage(current, safetyURL, createdAt);
    });
    co_await writeSafety;
    lifetime.throwIfCancelled();
    if (m_stepObserver)
        m_stepObserver(DiaryImportStep::safetyBackupWritten);

    const DiarySnapshotDTO target =
        replace ? replacement(current, decoded) : merged(current, decoded);
    std::exception_ptr failure;
    try {
        co_await repository->replaceAll(target);
        // Nobody is left to tell the sync or to take the settings: the diary is put back.
        lifetime.throwIfCancelled();
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        try {
            co_await repository->replaceAll(current);
        } catch (const std::exception &error) {
            qCCritical(lcBackup) << "The diary could not be put back after a failed import; the"
                                 << "safety backup" << safetyURL << "holds it:" << error.what();
        }
        std::rethrow_exception(failure);
    }
    if (m_stepObserver)
        m_stepObserver(DiaryImportStep::replaced);

    // Before anything else may write: the sync learns of the new diary first.
    if (replace && m_diaryReplaced)
        m_diaryReplaced();
    writes.release();
    m_settings->setUserName(decoded.settings.userName);
    if (const auto font = offeredFont(decoded.settings.selectedFont, m_offeredFonts))
        m_settings->setSelectedFont(*font);
    m_settings->setDefaultFontSize(decoded.settings.defaultFontSize);
    if (const auto appearance = knownAppearance(decoded.settings.appAppearance))
        m_settings->setAppAppearance(*appearance);
    co_return counts;
}

} // namespace velmora
