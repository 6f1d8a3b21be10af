#include "store/CoreDataDiaryRepository.h"

#include "platform/SearchFolding.h"
#include "platform/StorableText.h"
#include "store/DiaryStoreRows.h"
#include "store/SearchSignatures.h"
#include "store/StoreModel.h"

#include <QCoreApplication>
#include <QSet>
#include <QThread>
#include <QTimeZone>

#include <sqlite3.h>

namespace velmora {

namespace {

using Kind = SqliteTransactionKind;

QString selectEntries(const char *rest) {
    return QStringLiteral("SELECT %1, rowid FROM DiaryEntry %2")
        .arg(QLatin1String(entryColumns), QLatin1String(rest));
}

// The column after `entryColumns` in selectEntries.
constexpr int rowIDColumn = 11;

// Operations are entered on the GUI thread; only their bodies run on the store's worker.
void assertOnGuiThread() {
    Q_ASSERT_X(!QCoreApplication::instance() ||
                   QThread::currentThread() == QCoreApplication::instance()->thread(),
               "CoreDataDiaryRepository", "an operation was entered off the GUI thread");
}

bool isValidRange(const DayKey &from, const DayKey &to, int limit) {
    return from < to && limit >= 1;
}

QList<DiaryEntryDTO> collectEntries(SqliteStatement &select) {
    QList<DiaryEntryDTO> result;
    while (select.step())
        result.append(makeEntryDTO(select));
    return result;
}

// A competing entry is kept once: sync meets the same losing version again on every pass while
// the page file cannot be replaced, and the heartbeat would add a copy each minute.
void insertRecoveryRecordOnce(SqliteDatabase &database, const DiaryRecoveryDTO &record) {
    auto &existing = database.cached(QStringLiteral(
        "SELECT 1 FROM RecoveryRecord WHERE originalID = ?1 AND contentSHA256 = ?2 LIMIT 1"));
    existing.bind(1, record.originalID).bind(2, record.contentSHA256);
    if (existing.step())
        return;
    insertRecoveryRecord(database, record);
}

// A missing stored revision reads as 0, like any absent number.
qint64 storedRevision(const SqliteStatement &row) {
    return row.int64(10);
}

} // namespace

CoreDataDiaryRepository::CoreDataDiaryRepository(
    std::shared_ptr<DiaryPersistenceStack> stack, std::shared_ptr<const Clock> clock,
    std::shared_ptr<PersistenceFaultInjecting> faultInjector)
    : m_stack(std::move(stack))
    , m_clock(std::move(clock))
    , m_faultInjector(std::move(faultInjector)) {}

QCoro::Task<bool> CoreDataDiaryRepository::enterWrite(std::optional<quint64> readInGeneration) {
    const std::shared_ptr<DiaryWriteGate> writes = m_writes;
    co_await writes->waitUntilOpen();
    co_return readInGeneration &&*readInGeneration != m_generation;
}

QCoro::Task<std::optional<DiaryEntryDTO>> CoreDataDiaryRepository::entry(DayKey day) {
    assertOnGuiThread();
    auto work = m_stack->perform(Kind::deferred, [day](SqliteDatabase &database) {
        auto &select = database.cached(selectEntries("WHERE dayKey = ?1 LIMIT 1"));
        select.bind(1, day.rawValue());
        return select.step() ? std::optional(makeEntryDTO(select)) : std::nullopt;
    });
    co_return co_await work;
}

QCoro::Task<QList<DiaryEntryDTO>> CoreDataDiaryRepository::entries(DayKey from, DayKey to,
                                                                   int limit) {
    assertOnGuiThread();
    if (!isValidRange(from, to, limit))
        co_return {};
    auto work = m_stack->perform(Kind::deferred, [from, to, limit](SqliteDatabase &database) {
        auto &select = database.cached(
            selectEntries("WHERE dayKey >= ?1 AND dayKey < ?2 ORDER BY dayKey LIMIT ?3"));
        select.bind(1, from.rawValue())
            .bind(2, to.rawValue())
            .bind(3, std::min(limit, entriesLimitCap));
        return collectEntries(select);
    });
    co_return co_await work;
}

QCoro::Task<QList<DiaryEntryDTO>> CoreDataDiaryRepository::search(QString query, int limit) {
    assertOnGuiThread();
    const QString trimmed = query.trimmed();
    if (trimmed.isEmpty() || limit < 1)
        co_return {};
    // The stored side was folded when it was written; only the query is folded here, and it is
    // matched as plain text, never as a pattern.
    const QString folded = foldedForSearch(trimmed);
    if (folded.isEmpty())
        co_return {};
    auto work = m_stack->perform(Kind::deferred, [folded, limit](SqliteDatabase &database) {
        auto &select = database.cached(searchEntriesSql(entryColumns));
        select.bind(1, folded).bind(2, std::min(limit, searchLimitCap));
        return collectEntries(select);
    });
    co_return co_await work;
}

QCoro::Task<QList<DayKey>> CoreDataDiaryRepository::dayKeys(DayKey from, DayKey to, int limit) {
    assertOnGuiThread();
    if (!isValidRange(from, to, limit))
        co_return {};
    auto work = m_stack->perform(Kind::deferred, [from, to, limit](SqliteDatabase &database) {
        auto &select = database.cached(QStringLiteral(
            "SELECT dayKey FROM DiaryEntry WHERE dayKey >= ?1 AND dayKey < ?2 ORDER BY dayKey "
            "LIMIT ?3"));
        select.bind(1, from.rawValue())
            .bind(2, to.rawValue())
            .bind(3, std::min(limit, dayKeysLimitCap));
        QList<DayKey> keys;
        while (select.step()) {
            if (select.columnType(0) != SQLITE_TEXT)
                continue;
            if (auto key = DayKey::fromRawValue(select.text(0)))
                keys.append(*key);
        }
        return keys;
    });
    co_return co_await work;
}

QCoro::Task<QHash<DayKey, DiaryRevision>> CoreDataDiaryRepository::revisionsByDay() {
    assertOnGuiThread();
    auto work = m_stack->perform(Kind::deferred, [](SqliteDatabase &database) {
        auto &select = database.cached(QStringLiteral("SELECT dayKey, revision FROM DiaryEntry"));
        QHash<DayKey, DiaryRevision> revisions;
        while (select.step()) {
            if (select.columnType(0) != SQLITE_TEXT || select.columnType(1) != SQLITE_INTEGER)
                continue;
            const auto key = DayKey::fromRawValue(select.text(0));
            const auto revision = DiaryRevision::fromRawValue(select.int64(1));
            if (key && revision)
                revisions.insert(*key, *revision);
        }
        return revisions;
    });
    co_return co_await work;
}

QCoro::Task<DiarySnapshotDTO> CoreDataDiaryRepository::snapshot() {
    assertOnGuiThread();
    auto work = m_stack->perform(Kind::deferred, &readDiarySnapshot);
    co_return co_await work;
}

QCoro::Task<DiarySaveResult>
CoreDataDiaryRepository::save(DiaryDraftDTO draft, std::optional<DiaryRevision> expectedRevision,
                              qint64 editSequence, std::optional<quint64> readInGeneration) {
    assertOnGuiThread();
    auto entering = enterWrite(readInGeneration);
    const bool replacedSinceRead = co_await entering;
    // Compared as it will be stored, so the same words are never a change.
    draft.content = storableText(draft.content);
    const QDateTime now = m_clock->now();
    // The entry being written into is signed for search once the writing moves on (the next
    // write of anything else signs it), not at every pause in the typing: until then a search
    // reads its text in full. Everything else queued is signed here, as by any write.
    const bool signs = m_stack->signsEntries();
    const auto signAllBut = [signs](SqliteDatabase &database, std::optional<qint64> leaving) {
        if (signs)
            signQueuedEntries(database, leaving);
    };
    auto work = m_stack->perform(
        Kind::immediate,
        [draft, expectedRevision, editSequence, now, signAllBut,
         replacedSinceRead](SqliteDatabase &database) {
            static const QString findDay = selectEntries("WHERE dayKey = ?1 LIMIT 1");
            auto &found = database.cached(findDay);
            found.bind(1, draft.dayKey.rawValue());
            if (found.step()) {
                if (found.int64(5) != 0)
                    throw PersistenceError::entryAlreadySealed();
                const qint64 stored = storedRevision(found);
                const DiaryRevision actual{std::max<qint64>(stored, 0)};
                if (replacedSinceRead)
                    throw PersistenceError::conflictWithReplacedDiary(
                        expectedRevision.value_or(DiaryRevision{}), actual);
                if (!expectedRevision)
                    throw PersistenceError::conflict(DiaryRevision{0}, actual);
                if (*expectedRevision != actual)
                    throw PersistenceError::conflict(*expectedRevision, actual);
                const qint64 rowID = found.int64(rowIDColumn);
                // Every autosave asks this of a long text: comparing the stored bytes costs less
                // than decoding them, and the bytes compared are the bytes written. The size is
                // compared as the caller gave it: a size that clamping would change is a change.
                const QByteArray content = draft.content.toUtf8();
                if (found.utf8(2) == QByteArrayView(content) && found.text(3) == draft.fontName &&
                    found.real(4) == draft.bodyPointSize) {
                    DiarySaveResult unchanged{makeEntryDTO(found), editSequence,
                                              DiarySaveDisposition::unchanged};
                    signAllBut(database, std::nullopt);
                    return unchanged;
                }
                if (stored == DiaryRevision::maximum)
                    throw PersistenceError::revisionOverflow();
                // The saved entry is the row found with what the update writes, so the row is not
                // read back.
                DiaryEntryDTO saved =
                    makeEntryDTO(found, draft.content, DiaryRevision{actual.rawValue + 1});
                saved.fontName = storableText(draft.fontName);
                saved.bodyPointSize = clampedBodyPointSize(draft.bodyPointSize);
                saved.updatedAt =
                    QDateTime::fromMSecsSinceEpoch(now.toMSecsSinceEpoch(), QTimeZone::utc());
                database
                    .cached(
                        QStringLiteral("UPDATE DiaryEntry SET content = ?1, contentFolded = ?2, "
                                       "fontName = ?3, bodyPointSize = ?4, modifiedAt = ?5, "
                                       "revision = ?6 WHERE rowid = ?7"))
                    .bindUtf8(1, content)
                    .bind(2, foldedForSearch(saved.content))
                    .bind(3, saved.fontName)
                    .bind(4, saved.bodyPointSize)
                    .bind(5, saved.updatedAt)
                    .bind(6, saved.revision.rawValue)
                    .bind(7, rowID)
                    .execute();
                signAllBut(database, rowID);
                return DiarySaveResult{std::move(saved), editSequence,
                                       DiarySaveDisposition::updated};
            }
            if (replacedSinceRead)
                throw PersistenceError::conflictWithReplacedDiary(
                    expectedRevision.value_or(DiaryRevision{}), DiaryRevision{0});
            if (expectedRevision && expectedRevision->rawValue != 0)
                throw PersistenceError::conflict(*expectedRevision, DiaryRevision{0});
            DiaryEntryDTO created;
            created.id = draft.id;
            // An identifier another day's entry holds (a draft made before that entry was synced
            // in) would break the store's uniqueness; the new entry gets its own.
            auto &sameID =
                database.cached(QStringLiteral("SELECT 1 FROM DiaryEntry WHERE id = ?1 LIMIT 1"));
            sameID.bind(1, draft.id);
            if (sameID.step())
                created.id = QUuid::createUuid();
            created.dayKey = draft.dayKey;
            created.content = draft.content;
            created.fontName = draft.fontName;
            created.bodyPointSize = draft.bodyPointSize;
            created.originTimeZone = draft.originTimeZone;
            created.createdAt = draft.createdAt;
            created.updatedAt = now;
            created.revision = DiaryRevision{1};
            const qint64 rowID = insertEntryRow(database, created);
            DiarySaveResult result{readEntryRow(database, rowID), editSequence,
                                   DiarySaveDisposition::created};
            signAllBut(database, std::nullopt);
            return result;
        },
        DiaryPersistenceStack::Signing::byBody);
    co_return co_await work;
}

QCoro::Task<DiaryEntryDTO> CoreDataDiaryRepository::seal(QUuid entryID,
                                                         DiaryRevision expectedRevision,
                                                         std::optional<quint64> readInGeneration) {
    assertOnGuiThread();
    auto entering = enterWrite(readInGeneration);
    const bool replacedSinceRead = co_await entering;
    const QDateTime now = m_clock->now();
    auto work = m_stack->perform(Kind::immediate, [entryID, expectedRevision, now,
                                                   replacedSinceRead](SqliteDatabase &database) {
        auto &found = database.cached(selectEntries("WHERE id = ?1 LIMIT 1"));
        found.bind(1, entryID);
        if (!found.step())
            throw PersistenceError::invalidData(QCoreApplication::translate(
                "CoreDataDiaryRepository", "The entry to seal no longer exists."));
        if (found.int64(5) != 0)
            throw PersistenceError::entryAlreadySealed();
        const qint64 stored = storedRevision(found);
        const DiaryRevision actual{std::max<qint64>(stored, 0)};
        if (replacedSinceRead)
            throw PersistenceError::conflictWithReplacedDiary(expectedRevision, actual);
        if (actual != expectedRevision)
            throw PersistenceError::conflict(expectedRevision, actual);
        if (stored == DiaryRevision::maximum)
            throw PersistenceError::revisionOverflow();
        const qint64 rowID = found.int64(rowIDColumn);
        database
            .cached(QStringLiteral("UPDATE DiaryEntry SET isLocked = 1, sealedAt = ?1, "
                                   "modifiedAt = ?1, revision = ?2 WHERE rowid = ?3"))
            .bind(1, now)
            .bind(2, expectedRevision.rawValue + 1)
            .bind(3, rowID)
            .execute();
        // Read back before the commit: a sealed entry that cannot be shown is not stored, so a
        // failure here is never a seal that happened.
        return readEntryRow(database, rowID);
    });
    co_return co_await work;
}

QCoro::Task<DiaryEntryDTO> CoreDataDiaryRepository::applyRemote(
    DiaryEntryDTO entry, std::optional<DiaryRevision> expectedRevision,
    std::optional<DiaryEntryDTO> preserving, std::optional<quint64> readInGeneration) {
    assertOnGuiThread();
    auto entering = enterWrite(readInGeneration);
    const bool replacedSinceRead = co_await entering;
    const QDateTime now = m_clock->now();
    std::optional<DiaryRecoveryDTO> record;
    if (preserving)
        record = makeCompetingRecovery(*preserving, now);
    auto work = m_stack->perform(Kind::immediate, [entry, expectedRevision, record,
                                                   replacedSinceRead](SqliteDatabase &database) {
        DiaryEntryDTO stored = entry;
        stored.sealedAt = entry.isSealed() ? std::optional(entry.sealedAt.value_or(entry.updatedAt))
                                           : std::nullopt;
        stored.revision = DiaryRevision{1};
        auto &found = database.cached(selectEntries("WHERE dayKey = ?1 LIMIT 1"));
        found.bind(1, entry.dayKey.rawValue());
        qint64 rowID = 0;
        if (found.step()) {
            const qint64 storedRevisionValue = storedRevision(found);
            if (replacedSinceRead)
                throw PersistenceError::conflictWithReplacedDiary(
                    expectedRevision.value_or(DiaryRevision{}),
                    DiaryRevision{std::max<qint64>(storedRevisionValue, 0)});
            if (storedRevisionValue >= 0) {
                const DiaryRevision actual{storedRevisionValue};
                if (!expectedRevision)
                    throw PersistenceError::conflict(DiaryRevision{0}, actual);
                if (*expectedRevision != actual)
                    throw PersistenceError::conflict(*expectedRevision, actual);
            } else if (expectedRevision) {
                throw PersistenceError::conflict(*expectedRevision, DiaryRevision{0});
            }
            if (found.int64(5) != 0 && !entry.isSealed())
                throw PersistenceError::entryAlreadySealed();
            // A negative stored revision restarts at 1.
            if (storedRevisionValue >= 0) {
                if (expectedRevision->rawValue == DiaryRevision::maximum)
                    throw PersistenceError::revisionOverflow();
                stored.revision = DiaryRevision{expectedRevision->rawValue + 1};
            }
            rowID = found.int64(rowIDColumn);
            updateEntryRow(database, rowID, stored);
        } else {
            if (replacedSinceRead)
                throw PersistenceError::conflictWithReplacedDiary(
                    expectedRevision.value_or(DiaryRevision{}), DiaryRevision{0});
            if (expectedRevision)
                throw PersistenceError::conflict(*expectedRevision, DiaryRevision{0});
            auto &sameID =
                database.cached(QStringLiteral("SELECT 1 FROM DiaryEntry WHERE id = ?1 LIMIT 1"));
            sameID.bind(1, entry.id);
            if (sameID.step())
                stored.id = QUuid::createUuid();
            rowID = insertEntryRow(database, stored);
        }
        if (record)
            insertRecoveryRecordOnce(database, *record);
        return readEntryRow(database, rowID);
    });
    co_return co_await work;
}

QCoro::Task<void> CoreDataDiaryRepository::preserveRecovery(DiaryEntryDTO entry) {
    assertOnGuiThread();
    auto entering = enterWrite(std::nullopt);
    co_await entering;
    const DiaryRecoveryDTO record = makeCompetingRecovery(entry, m_clock->now());
    auto work = m_stack->perform(Kind::immediate, [record](SqliteDatabase &database) {
        insertRecoveryRecordOnce(database, record);
    });
    co_await work;
}

QCoro::Task<void> CoreDataDiaryRepository::replaceAll(DiarySnapshotDTO snapshot) {
    assertOnGuiThread();
    QSet<QString> days;
    QSet<QUuid> ids;
    QSet<QUuid> recoveryIDs;
    for (const auto &entry : snapshot.entries) {
        days.insert(entry.dayKey.rawValue());
        ids.insert(entry.id);
    }
    for (const auto &record : snapshot.recoveryRecords)
        recoveryIDs.insert(record.recoveryID);
    if (days.size() != snapshot.entries.size() || ids.size() != snapshot.entries.size() ||
        recoveryIDs.size() != snapshot.recoveryRecords.size()) {
        throw PersistenceError::invalidData(QCoreApplication::translate(
            "CoreDataDiaryRepository",
            "Replacement contains duplicate identifiers or civil days."));
    }
    // From here on, what was read before came from the diary being replaced.
    ++m_generation;
    auto work = m_stack->perform(Kind::immediate,
                                 [snapshot = std::move(snapshot)](SqliteDatabase &database) {
                                     writeDiarySnapshot(database, snapshot);
                                 });
    co_await work;
}

} // namespace velmora
