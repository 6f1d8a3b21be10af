#include "support/ScriptedDiaryRepository.h"

#include "platform/AsyncSleep.h"
#include "platform/JsonCoding.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryStoreRows.h"
#include "support/TestSupport.h"

#include <algorithm>

namespace velmora::test {

namespace {

QCoro::Task<void> writeBeside(std::shared_ptr<DiaryPersistenceStack> stack,
                              DiarySnapshotDTO diary) {
    auto work = stack->perform(SqliteTransactionKind::immediate, [diary](SqliteDatabase &database) {
        writeDiarySnapshot(database, diary);
    });
    co_await work;
}

} // namespace

ScriptedDiaryRepository::ScriptedDiaryRepository(std::shared_ptr<DiaryRepository> inner)
    : m_inner(std::move(inner)) {}

void ScriptedDiaryRepository::put(const DiaryEntryDTO &entry) {
    DiarySnapshotDTO diary = velmora::test::waitFor(m_inner->snapshot());
    diary.entries.removeIf([&](const DiaryEntryDTO &other) {
        return other.dayKey == entry.dayKey || other.id == entry.id;
    });
    diary.entries.append(entry);
    // Written as another writer of the same diary writes it, not as a replacement of the diary,
    // which would turn every expectation read before into a conflict.
    if (const auto *store = dynamic_cast<const CoreDataDiaryRepository *>(m_inner.get())) {
        velmora::test::waitFor(writeBeside(store->stack(), diary));
        return;
    }
    velmora::test::waitFor(m_inner->replaceAll(diary));
}

std::optional<DiaryEntryDTO> ScriptedDiaryRepository::stored(const DayKey &day) const {
    return velmora::test::waitFor(m_inner->entry(day));
}

QList<DiaryEntryDTO> ScriptedDiaryRepository::storedEntries() const {
    return velmora::test::waitFor(m_inner->snapshot()).entries;
}

QList<DiaryRecoveryDTO> ScriptedDiaryRepository::recoveryRecords() const {
    return velmora::test::waitFor(m_inner->snapshot()).recoveryRecords;
}

QList<DiaryEntryDTO> ScriptedDiaryRepository::recoveredEntries() const {
    QList<DiaryEntryDTO> result;
    for (const DiaryRecoveryDTO &record : recoveryRecords())
        result.append(
            DiaryEntryDTO::fromJson(parseJson(record.preservedPayload), JsonDateEncoding::iso8601));
    return result;
}

void ScriptedDiaryRepository::setDelay(Operation operation, std::chrono::milliseconds delay) {
    m_delays[operation] = delay;
}

void ScriptedDiaryRepository::script(Operation operation, Step step) {
    m_steps[operation].append(std::move(step));
}

void ScriptedDiaryRepository::beforeNext(Operation operation, std::function<void()> action) {
    m_actions[operation] = std::move(action);
}

int ScriptedDiaryRepository::callCount(Operation operation) const {
    const auto found = m_callCounts.find(operation);
    return found == m_callCounts.end() ? 0 : found->second;
}

int ScriptedDiaryRepository::inProgress(Operation operation) const {
    const auto found = m_inProgress.find(operation);
    return found == m_inProgress.end() ? 0 : found->second;
}

QCoro::Task<void> ScriptedDiaryRepository::begin(Operation operation) {
    ++m_callCounts[operation];
    Step step;
    if (auto &steps = m_steps[operation]; !steps.isEmpty())
        step = steps.takeFirst();
    else if (const auto found = m_delays.find(operation); found != m_delays.end())
        step.delay = found->second;
    // Always through the event loop, as the store's own work is.
    co_await sleepFor(step.delay);
    if (auto action = std::exchange(m_actions[operation], nullptr))
        action();
    if (step.error)
        std::rethrow_exception(step.error);
}

template <typename T, typename Work>
QCoro::Task<T> ScriptedDiaryRepository::run(Operation operation, Work work) {
    ++m_inProgress[operation];
    std::exception_ptr failure;
    std::optional<T> result;
    try {
        co_await begin(operation);
        auto task = work();
        result = co_await std::move(task);
    } catch (...) {
        failure = std::current_exception();
    }
    --m_inProgress[operation];
    if (failure)
        std::rethrow_exception(failure);
    co_return std::move(*result);
}

// Each task is named before it is awaited: GCC 12 destroys a capturing lambda in a co_await
// operand twice.
QCoro::Task<std::optional<DiaryEntryDTO>> ScriptedDiaryRepository::entry(DayKey day) {
    auto task = run<std::optional<DiaryEntryDTO>>(Operation::entry,
                                                  [this, day] { return m_inner->entry(day); });
    co_return co_await std::move(task);
}

QCoro::Task<QList<DiaryEntryDTO>> ScriptedDiaryRepository::entries(DayKey from, DayKey to,
                                                                   int limit) {
    auto task = run<QList<DiaryEntryDTO>>(
        Operation::entries, [this, from, to, limit] { return m_inner->entries(from, to, limit); });
    co_return co_await std::move(task);
}

QCoro::Task<QList<DiaryEntryDTO>> ScriptedDiaryRepository::search(QString query, int limit) {
    auto task = run<QList<DiaryEntryDTO>>(
        Operation::search, [this, query, limit] { return m_inner->search(query, limit); });
    co_return co_await std::move(task);
}

QCoro::Task<QList<DayKey>> ScriptedDiaryRepository::dayKeys(DayKey from, DayKey to, int limit) {
    auto task = run<QList<DayKey>>(
        Operation::dayKeys, [this, from, to, limit] { return m_inner->dayKeys(from, to, limit); });
    co_return co_await std::move(task);
}

QCoro::Task<DiarySaveResult> ScriptedDiaryRepository::save(DiaryDraftDTO draft,
                                                           std::optional<DiaryRevision> expected,
                                                           qint64 editSequence,
                                                           std::optional<quint64> readIn) {
    m_saveCalls.append({draft, expected, editSequence});
    auto task =
        run<DiarySaveResult>(Operation::save, [this, draft, expected, editSequence, readIn] {
            return m_inner->save(draft, expected, editSequence, readIn);
        });
    co_return co_await std::move(task);
}

QCoro::Task<DiaryEntryDTO> ScriptedDiaryRepository::seal(QUuid entryID,
                                                         DiaryRevision expectedRevision,
                                                         std::optional<quint64> readIn) {
    auto task = run<DiaryEntryDTO>(Operation::seal, [this, entryID, expectedRevision, readIn] {
        return m_inner->seal(entryID, expectedRevision, readIn);
    });
    co_return co_await std::move(task);
}

QCoro::Task<DiarySnapshotDTO> ScriptedDiaryRepository::snapshot() {
    auto task = run<DiarySnapshotDTO>(Operation::snapshot, [this] { return m_inner->snapshot(); });
    co_return co_await std::move(task);
}

QCoro::Task<void> ScriptedDiaryRepository::replaceAll(DiarySnapshotDTO snapshot) {
    auto task = run<bool>(Operation::replaceAll, [this, snapshot]() -> QCoro::Task<bool> {
        auto work = m_inner->replaceAll(snapshot);
        co_await std::move(work);
        co_return true;
    });
    co_await std::move(task);
}

QCoro::Task<QHash<DayKey, DiaryRevision>> ScriptedDiaryRepository::revisionsByDay() {
    auto task = run<QHash<DayKey, DiaryRevision>>(Operation::revisionsByDay,
                                                  [this] { return m_inner->revisionsByDay(); });
    co_return co_await std::move(task);
}

QCoro::Task<DiaryEntryDTO> ScriptedDiaryRepository::applyRemote(
    DiaryEntryDTO entry, std::optional<DiaryRevision> expectedRevision,
    std::optional<DiaryEntryDTO> preserving, std::optional<quint64> readIn) {
    auto task = run<DiaryEntryDTO>(
        Operation::applyRemote, [this, entry, expectedRevision, preserving, readIn] {
            return m_inner->applyRemote(entry, expectedRevision, preserving, readIn);
        });
    co_return co_await std::move(task);
}

QCoro::Task<void> ScriptedDiaryRepository::preserveRecovery(DiaryEntryDTO entry) {
    auto task = run<bool>(Operation::preserveRecovery, [this, entry]() -> QCoro::Task<bool> {
        auto work = m_inner->preserveRecovery(entry);
        co_await std::move(work);
        co_return true;
    });
    co_await std::move(task);
}

} // namespace velmora::test
