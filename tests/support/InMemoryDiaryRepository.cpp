#include "support/InMemoryDiaryRepository.h"

#include "platform/AsyncSleep.h"
#include "platform/JsonCoding.h"
#include "platform/Sha256.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora::test {

namespace {

// Case- and diacritic-insensitive form for search.
QString folded(const QString &text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString result;
    result.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            result.append(c);
    }
    return result.toCaseFolded();
}

} // namespace

InMemoryDiaryRepository::InMemoryDiaryRepository(std::shared_ptr<const Clock> clock)
    : m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>()) {
    m_metadata.diaryID = QUuid::createUuid();
    m_metadata.schemaVersion = 2;
    m_metadata.createdAt = m_clock->now();
}

void InMemoryDiaryRepository::put(const DiaryEntryDTO &entry) {
    m_entries.insert(entry.dayKey, entry);
}

std::optional<DiaryEntryDTO> InMemoryDiaryRepository::stored(const DayKey &day) const {
    const auto found = m_entries.constFind(day);
    if (found == m_entries.constEnd())
        return std::nullopt;
    return *found;
}

QList<DiaryEntryDTO> InMemoryDiaryRepository::recoveredEntries() const {
    QList<DiaryEntryDTO> result;
    for (const DiaryRecoveryDTO &record : m_recoveries)
        result.append(
            DiaryEntryDTO::fromJson(parseJson(record.preservedPayload), JsonDateEncoding::iso8601));
    return result;
}

void InMemoryDiaryRepository::setDelay(Operation operation, std::chrono::milliseconds delay) {
    m_delays[operation] = delay;
}

void InMemoryDiaryRepository::script(Operation operation, Step step) {
    m_steps[operation].append(std::move(step));
}

void InMemoryDiaryRepository::beforeNext(Operation operation, std::function<void()> action) {
    m_actions[operation] = std::move(action);
}

int InMemoryDiaryRepository::callCount(Operation operation) const {
    const auto found = m_callCounts.find(operation);
    return found == m_callCounts.end() ? 0 : found->second;
}

int InMemoryDiaryRepository::inProgress(Operation operation) const {
    const auto found = m_inProgress.find(operation);
    return found == m_inProgress.end() ? 0 : found->second;
}

QCoro::Task<void> InMemoryDiaryRepository::begin(Operation operation) {
    ++m_callCounts[operation];
    ++m_inProgress[operation];
    Step step;
    if (auto &steps = m_steps[operation]; !steps.isEmpty())
        step = steps.takeFirst();
    else if (const auto found = m_delays.find(operation); found != m_delays.end())
        step.delay = found->second;
    co_await sleepFor(step.delay);
    if (auto action = std::exchange(m_actions[operation], nullptr))
        action();
    if (step.error) {
        end(operation);
        std::rethrow_exception(step.error);
    }
}

void InMemoryDiaryRepository::end(Operation operation) {
    --m_inProgress[operation];
}

QList<DiaryEntryDTO> InMemoryDiaryRepository::range(const DayKey &from, const DayKey &to, int limit,
                                                    int cap) const {
    QList<DiaryEntryDTO> result;
    if (!(from < to) || limit < 1)
        return result;
    const int bounded = std::min(limit, cap);
    for (auto it = m_entries.lowerBound(from); it != m_entries.end() && it.key() < to; ++it) {
        if (result.size() == bounded)
            break;
        result.append(*it);
    }
    return result;
}

QCoro::Task<std::optional<DiaryEntryDTO>> InMemoryDiaryRepository::entry(DayKey day) {
    co_await begin(Operation::entry);
    end(Operation::entry);
    co_return stored(day);
}

QCoro::Task<QList<DiaryEntryDTO>> InMemoryDiaryRepository::entries(DayKey from, DayKey to,
                                                                   int limit) {
    co_await begin(Operation::entries);
    end(Operation::entries);
    co_return range(from, to, limit, entriesLimitCap);
}

QCoro::Task<QList<DiaryEntryDTO>> InMemoryDiaryRepository::search(QString query, int limit) {
    co_await begin(Operation::search);
    end(Operation::search);
    const QString needle = folded(query.trimmed());
    QList<DiaryEntryDTO> result;
    if (needle.isEmpty() || limit < 1)
        co_return result;
    const QList<DiaryEntryDTO> oldestFirst = m_entries.values();
    for (auto it = oldestFirst.crbegin(); it != oldestFirst.crend(); ++it) {
        if (result.size() == std::min(limit, searchLimitCap))
            break;
        if (folded(it->content).contains(needle))
            result.append(*it);
    }
    co_return result;
}

QCoro::Task<QList<DayKey>> InMemoryDiaryRepository::dayKeys(DayKey from, DayKey to, int limit) {
    co_await begin(Operation::dayKeys);
    end(Operation::dayKeys);
    QList<DayKey> keys;
    for (const DiaryEntryDTO &entry : range(from, to, limit, dayKeysLimitCap))
        keys.append(entry.dayKey);
    co_return keys;
}

QCoro::Task<DiarySaveResult> InMemoryDiaryRepository::save(DiaryDraftDTO draft,
                                                           std::optional<DiaryRevision> expected,
                                                           qint64 editSequence) {
    m_saveCalls.append({draft, expected, editSequence});
    const QDateTime now = m_clock->now();
    co_await begin(Operation::save);
    end(Operation::save);

    auto found = m_entries.find(draft.dayKey);
    if (found != m_entries.end()) {
        DiaryEntryDTO &entry = *found;
        if (entry.isSealed())
            throw PersistenceError::entryAlreadySealed();
        const DiaryRevision storedRevision{std::max<qint64>(entry.revision.rawValue, 0)};
        if (!expected)
            throw PersistenceError::conflict(DiaryRevision{}, storedRevision);
        if (*expected != storedRevision)
            throw PersistenceError::conflict(*expected, storedRevision);
        if (entry.content == draft.content && entry.fontName == draft.fontName &&
            entry.bodyPointSize == draft.bodyPointSize)
            co_return DiarySaveResult{entry, editSequence, DiarySaveDisposition::unchanged};
        if (entry.revision.rawValue == DiaryRevision::maximum)
            throw PersistenceError::revisionOverflow();
        entry.content = draft.content;
        entry.fontName = draft.fontName;
        entry.bodyPointSize = clampedBodyPointSize(draft.bodyPointSize);
        entry.updatedAt = now;
        entry.revision = DiaryRevision{storedRevision.rawValue + 1};
        co_return DiarySaveResult{entry, editSequence, DiarySaveDisposition::updated};
    }

    if (expected && expected->rawValue != 0)
        throw PersistenceError::conflict(*expected, DiaryRevision{});
    const DiaryEntryDTO entry{draft.id,
                              draft.dayKey,
                              draft.content,
                              draft.fontName,
                              clampedBodyPointSize(draft.bodyPointSize),
                              DiaryEntryStatus::draft,
                              draft.originTimeZone,
                              draft.createdAt,
                              now,
                              std::nullopt,
                              DiaryRevision{1}};
    m_entries.insert(entry.dayKey, entry);
    co_return DiarySaveResult{entry, editSequence, DiarySaveDisposition::created};
}

QCoro::Task<DiaryEntryDTO> InMemoryDiaryRepository::seal(QUuid entryID,
                                                         DiaryRevision expectedRevision) {
    const QDateTime now = m_clock->now();
    co_await begin(Operation::seal);
    end(Operation::seal);
    const auto found =
        std::find_if(m_entries.begin(), m_entries.end(),
                     [&](const DiaryEntryDTO &entry) { return entry.id == entryID; });
    if (found == m_entries.end())
        throw PersistenceError::invalidData(QStringLiteral("The entry to seal no longer exists."));
    DiaryEntryDTO &entry = *found;
    if (entry.isSealed())
        throw PersistenceError::entryAlreadySealed();
    const DiaryRevision storedRevision{std::max<qint64>(entry.revision.rawValue, 0)};
    if (storedRevision != expectedRevision)
        throw PersistenceError::conflict(expectedRevision, storedRevision);
    if (entry.revision.rawValue == DiaryRevision::maximum)
        throw PersistenceError::revisionOverflow();
    entry.status = DiaryEntryStatus::sealed;
    entry.sealedAt = now;
    entry.updatedAt = now;
    entry.revision = DiaryRevision{expectedRevision.rawValue + 1};
    co_return DiaryEntryDTO(entry); // a copy: the stored entry stays
}

QCoro::Task<DiarySnapshotDTO> InMemoryDiaryRepository::snapshot() {
    co_await begin(Operation::snapshot);
    end(Operation::snapshot);
    co_return DiarySnapshotDTO{m_metadata, m_entries.values(), m_recoveries};
}

QCoro::Task<void> InMemoryDiaryRepository::replaceAll(DiarySnapshotDTO snapshot) {
    co_await begin(Operation::replaceAll);
    end(Operation::replaceAll);
    QMap<DayKey, DiaryEntryDTO> entries;
    QSet<QUuid> ids;
    for (const DiaryEntryDTO &entry : snapshot.entries) {
        if (entries.contains(entry.dayKey) || ids.contains(entry.id))
            throw PersistenceError::invalidData(
                QStringLiteral("The snapshot holds duplicate entries."));
        entries.insert(entry.dayKey, entry);
        ids.insert(entry.id);
    }
    m_metadata = snapshot.metadata;
    m_entries = entries;
    m_recoveries = snapshot.recoveryRecords;
}

QCoro::Task<QHash<DayKey, DiaryRevision>> InMemoryDiaryRepository::revisionsByDay() {
    co_await begin(Operation::revisionsByDay);
    end(Operation::revisionsByDay);
    QHash<DayKey, DiaryRevision> revisions;
    for (const DiaryEntryDTO &entry : m_entries)
        revisions.insert(entry.dayKey, entry.revision);
    co_return revisions;
}

QCoro::Task<DiaryEntryDTO>
InMemoryDiaryRepository::applyRemote(DiaryEntryDTO incoming, std::optional<DiaryRevision> expected,
                                     std::optional<DiaryEntryDTO> preserving) {
    const QDateTime now = m_clock->now();
    std::optional<DiaryRecoveryDTO> recovery;
    if (preserving)
        recovery = makeCompetingRecovery(*preserving, now);
    co_await begin(Operation::applyRemote);
    end(Operation::applyRemote);

    DiaryEntryDTO result = incoming;
    result.bodyPointSize = clampedBodyPointSize(incoming.bodyPointSize);
    result.sealedAt = incoming.isSealed()
                          ? std::optional(incoming.sealedAt.value_or(incoming.updatedAt))
                          : std::nullopt;
    const auto found = m_entries.find(incoming.dayKey);
    if (found != m_entries.end()) {
        const qint64 storedRevision = found->revision.rawValue;
        qint64 next = 1;
        if (storedRevision >= 0) {
            if (!expected)
                throw PersistenceError::conflict(DiaryRevision{}, found->revision);
            if (expected->rawValue != storedRevision)
                throw PersistenceError::conflict(*expected, found->revision);
        } else if (expected) {
            throw PersistenceError::conflict(*expected, DiaryRevision{});
        }
        if (found->isSealed() && !incoming.isSealed())
            throw PersistenceError::entryAlreadySealed();
        if (expected) {
            if (expected->rawValue == DiaryRevision::maximum)
                throw PersistenceError::revisionOverflow();
            next = expected->rawValue + 1;
        }
        result.id = found->id;
        result.createdAt = found->createdAt;
        result.revision = DiaryRevision{next};
    } else {
        if (expected)
            throw PersistenceError::conflict(*expected, DiaryRevision{});
        const bool idTaken =
            std::any_of(m_entries.begin(), m_entries.end(),
                        [&](const DiaryEntryDTO &e) { return e.id == incoming.id; });
        if (idTaken)
            result.id = QUuid::createUuid();
        result.revision = DiaryRevision{1};
    }
    m_entries.insert(result.dayKey, result);
    if (recovery)
        m_recoveries.append(*recovery);
    co_return result;
}

QCoro::Task<void> InMemoryDiaryRepository::preserveRecovery(DiaryEntryDTO entry) {
    const DiaryRecoveryDTO record = makeCompetingRecovery(entry, m_clock->now());
    co_await begin(Operation::preserveRecovery);
    end(Operation::preserveRecovery);
    m_recoveries.append(record);
}

double InMemoryDiaryRepository::clampedBodyPointSize(double size) {
    if (!std::isfinite(size))
        return 16.0;
    return std::clamp(size, 12.0, 24.0);
}

DiaryRecoveryDTO InMemoryDiaryRepository::makeCompetingRecovery(const DiaryEntryDTO &entry,
                                                                const QDateTime &createdAt) {
    DiaryRecoveryDTO record;
    record.preservedPayload = writeJson(entry.toJson(JsonDateEncoding::iso8601));
    record.recoveryID = QUuid::createUuid();
    record.originalID = entry.id;
    record.proposedDayKey = entry.dayKey;
    record.reason = DiaryRecoveryReason::competingDraft;
    record.sourceKind = DiaryRecoverySourceKind::importRecord;
    record.contentSHA256 = sha256Hex(record.preservedPayload);
    record.createdAt = createdAt;
    return record;
}

} // namespace velmora::test
