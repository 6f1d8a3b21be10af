#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimeZone>

using namespace velmora;

namespace {

// Answers at once, so the benchmarks measure the session's own work per keystroke and per day.
class ImmediateRepository final : public DiaryRepository {
public:
    QHash<DayKey, DiaryEntryDTO> stored;

    QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) override {
        const auto found = stored.constFind(day);
        co_return found == stored.constEnd() ? std::nullopt : std::optional(*found);
    }
    QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey, DayKey, int) override { co_return {}; }
    QCoro::Task<QList<DiaryEntryDTO>> search(QString, int) override { co_return {}; }
    QCoro::Task<QList<DayKey>> dayKeys(DayKey, DayKey, int) override { co_return {}; }
    quint64 generation() const override { return 0; }
    DiaryWriteGate::Hold holdWrites() override { return m_writes.hold(); }
    QCoro::Task<DiarySaveResult> save(DiaryDraftDTO, std::optional<DiaryRevision>, qint64,
                                      std::optional<quint64>) override {
        co_return {};
    }
    QCoro::Task<DiaryEntryDTO> seal(QUuid, DiaryRevision, std::optional<quint64>) override {
        co_return {};
    }
    QCoro::Task<DiarySnapshotDTO> snapshot() override { co_return {}; }
    QCoro::Task<void> replaceAll(DiarySnapshotDTO) override { co_return; }
    QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsByDay() override { co_return {}; }
    QCoro::Task<DiaryEntryDTO> applyRemote(DiaryEntryDTO entry, std::optional<DiaryRevision>,
                                           std::optional<DiaryEntryDTO>,
                                           std::optional<quint64>) override {
        co_return entry;
    }
    QCoro::Task<void> preserveRecovery(DiaryEntryDTO) override { co_return; }

private:
    DiaryWriteGate m_writes;
};

struct Session {
    QTemporaryDir folder;
    std::shared_ptr<ImmediateRepository> repository = std::make_shared<ImmediateRepository>();
    DiarySessionStore store{
        repository,
        std::make_shared<UserDefaultsSettingsStore>(
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("settings.ini"))),
            QStringLiteral("Georgia")),
        GregorianCalendar(QTimeZone("Europe/Paris"))};

    DayKey today() const {
        return DayKey::fromDate(QDateTime::currentDateTimeUtc(), store.calendar());
    }
};

// One keystroke on a page of the given length: the draft, the numbering, the restarted idle
// timer, and the event-loop turn that retires the timer it replaced.
void BM_SessionKeystroke(benchmark::State &state) {
    Session session;
    [[maybe_unused]] auto opened = session.store.selectToday();
    QString text(int(state.range(0)), QLatin1Char('a'));
    for (auto _ : state) {
        text.append(QLatin1Char('b'));
        session.store.updateDraft(text);
        QCoreApplication::processEvents();
    }
    session.store.autosave().cancelTimers();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SessionKeystroke)->Arg(1024)->Arg(100 * 1024);

// Turning to another day when the store answers at once: flush, load, publish, decide access.
void BM_SessionChangeDay(benchmark::State &state) {
    Session session;
    const DayKey days[] = {session.today(), *DayKey::fromRawValue(QStringLiteral("2020-05-01"))};
    DiaryEntryDTO entry;
    entry.dayKey = days[1];
    entry.content = QStringLiteral("Stored");
    session.repository->stored.insert(entry.dayKey, entry);
    int turn = 0;
    for (auto _ : state) {
        [[maybe_unused]] auto changed = session.store.changeDay(days[turn++ % 2]);
        benchmark::DoNotOptimize(session.store.phase());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SessionChangeDay);

} // namespace
