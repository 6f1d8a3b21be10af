#pragma once

#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"
#include "pagescreen/VuzIvoduPageView.h"
#include "platform/AsyncSleep.h"
#include "store/StoreFixture.h"
#include "support/TestClock.h"

#include <QSignalSpy>

#include <memory>

namespace velmora::test {

using namespace std::chrono_literals;

// The real store with the levers a test pulls where a failure or a slow disk must be forced:
// saves can be held (they wait until released) or made to fail, and reading a day can be held.
class ScriptedRepository final : public DiaryRepository {
public:
    explicit ScriptedRepository(std::shared_ptr<DiaryRepository> inner)
        : m_inner(std::move(inner)) {}

    bool holdSaves = false;
    bool failSaves = false;
    bool holdReads = false;
    bool failReads = false;
    int saveCount = 0;
    // Reads of this one day's entry wait while it is set.
    std::optional<DayKey> heldReads;

    QCoro::Task<std::optional<DiaryEntryDTO>> entry(DayKey day) override {
        while (holdReads || heldReads == day)
            co_await sleepFor(1ms);
        if (failReads)
            throw PersistenceError::readFailed(QStringLiteral("The disk cannot be read."));
        co_return co_await m_inner->entry(day);
    }
    QCoro::Task<QList<DiaryEntryDTO>> entries(DayKey from, DayKey to, int limit) override {
        return m_inner->entries(from, to, limit);
    }
    QCoro::Task<QList<DiaryEntryDTO>> search(QString query, int limit) override {
        return m_inner->search(query, limit);
    }
    QCoro::Task<QList<DayKey>> dayKeys(DayKey from, DayKey to, int limit) override {
        if (failReads)
            throw PersistenceError::readFailed(QStringLiteral("The disk cannot be read."));
        return m_inner->dayKeys(from, to, limit);
    }
    quint64 generation() const override { return m_inner->generation(); }
    DiaryWriteGate::Hold holdWrites() override { return m_inner->holdWrites(); }
    QCoro::Task<DiarySaveResult> save(DiaryDraftDTO draft,
                                      std::optional<DiaryRevision> expectedRevision,
                                      qint64 editSequence,
                                      std::optional<quint64> readIn = std::nullopt) override {
        ++saveCount;
        while (holdSaves)
            co_await sleepFor(1ms);
        if (failSaves)
            throw PersistenceError::writeFailed(QStringLiteral("The disk is full."));
        co_return co_await m_inner->save(std::move(draft), expectedRevision, editSequence, readIn);
    }
    QCoro::Task<DiaryEntryDTO> seal(QUuid entryID, DiaryRevision expectedRevision,
                                    std::optional<quint64> readIn = std::nullopt) override {
        return m_inner->seal(entryID, expectedRevision, readIn);
    }
    QCoro::Task<DiarySnapshotDTO> snapshot() override { return m_inner->snapshot(); }
    QCoro::Task<void> replaceAll(DiarySnapshotDTO snapshot) override {
        return m_inner->replaceAll(std::move(snapshot));
    }
    QCoro::Task<QHash<DayKey, DiaryRevision>> revisionsByDay() override {
        return m_inner->revisionsByDay();
    }
    QCoro::Task<DiaryEntryDTO> applyRemote(DiaryEntryDTO entry,
                                           std::optional<DiaryRevision> expectedRevision,
                                           std::optional<DiaryEntryDTO> preserving,
                                           std::optional<quint64> readIn = std::nullopt) override {
        return m_inner->applyRemote(std::move(entry), expectedRevision, std::move(preserving),
                                    readIn);
    }
    QCoro::Task<void> preserveRecovery(DiaryEntryDTO entry) override {
        return m_inner->preserveRecovery(std::move(entry));
    }

private:
    std::shared_ptr<DiaryRepository> m_inner;
};

// The open book over a real SQLite store in a temporary folder, the real session and page
// system, real settings, a pinned clock (today is 2024-03-15, 10:00 in Paris) and short timers.
struct PageScreenFixture {
    static constexpr DraftAutosaveTiming autosave{40ms, 150ms};
    static constexpr VuzIvoduPageTimings timings{20ms, 60ms, 30ms, 60ms, 20ms, 60000ms};
    static inline const DayKey today = day("2024-03-15");

    StoreFixture store;
    std::shared_ptr<TestClock> clock =
        std::make_shared<TestClock>(QDateTime(QDate(2024, 3, 15), QTime(9, 0), QTimeZone::utc()));
    std::shared_ptr<ScriptedRepository> repository = std::make_shared<ScriptedRepository>(
        std::shared_ptr<DiaryRepository>(store.repository.get(), [](DiaryRepository *) {}));
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(store.dir.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<UserDefaultsSettingsStore> settings =
        std::make_shared<UserDefaultsSettingsStore>(defaults, QStringLiteral("Georgia"), clock);
    GregorianCalendar calendar{QTimeZone("Europe/Paris")};
    std::unique_ptr<DiarySessionStore> session =
        std::make_unique<DiarySessionStore>(repository, settings, calendar, clock, autosave);
    std::unique_ptr<DiaryPageSystemStore> pages = std::make_unique<DiaryPageSystemStore>(
        session.get(),
        std::make_shared<PageLayoutService>(
            std::make_shared<MacTextKitLeafPaginator>(),
            std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit)));
    DiaryCommandRouter router;
    std::unique_ptr<VuzIvoduPageView> page =
        std::make_unique<VuzIvoduPageView>(*session, *pages, *settings, router, timings);

    ~PageScreenFixture() {
        // The page and the session go before the store they write to.
        page.reset();
        pages.reset();
        session.reset();
        // Cancelled timers and sleeps end on the next turns of the event loop.
        QTest::qWait(20);
    }

    // The stored entry of a day, read straight from the store.
    std::optional<DiaryEntryDTO> stored(const DayKey &dayKey) {
        return test::waitFor(store.repository->entry(dayKey));
    }

    DiaryEntryDTO seed(const char *dayText, const QString &content, bool sealed = false) {
        DiaryEntryDTO saved = store.saved(dayText, content);
        if (sealed)
            saved = test::waitFor(store.repository->seal(saved.id, saved.revision));
        return saved;
    }

    // Opens the book and waits until today's page (or the reopened one) is shown.
    bool open() {
        page->appear();
        return waitUntil([&] {
            return session->phase().kind != DiarySessionPhase::Kind::loading &&
                   !pages->descriptors().isEmpty() &&
                   pages->descriptors().constFirst().dayKey == session->selectedDay();
        });
    }

    // Today read and laid out by the session and the page system alone, for a part of the page
    // screen tested on its own.
    bool selectToday() {
        test::waitFor(session->selectToday());
        pages->reloadDescriptors(0);
        return waitUntil([&] {
            return !pages->descriptors().isEmpty() &&
                   pages->descriptors().constFirst().dayKey == session->selectedDay();
        });
    }

    bool openDay(const DayKey &dayKey) {
        if (!open())
            return false;
        page->navigate(dayKey);
        return waitUntil([&] {
            return session->selectedDay() == dayKey &&
                   pages->transition().phase == PageTransitionPhase::idle;
        });
    }

    bool settled() {
        return waitUntil(
            [&] { return !session->autosave().inFlight() && !session->autosave().pendingEdit(); });
    }
};

} // namespace velmora::test
