#include "domain/PersistenceError.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "support/GuiTestMain.h"
#include "support/SessionFixture.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>

using namespace velmora;
using Operation = test::ScriptedDiaryRepository::Operation;

Q_DECLARE_METATYPE(velmora::PageKind)
Q_DECLARE_METATYPE(velmora::PageTurnDirection)
Q_DECLARE_METATYPE(velmora::PageTransitionMode)

namespace {

// Short lines never wrap, so each leaf holds as many lines as fit its height: five here.
const LeafLayoutMetrics smallPage{300, 200, 0, 0, 0, 1};

DayKey day(const QString &text) {
    return *DayKey::fromRawValue(text);
}

QString lines(int count) {
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    return text;
}

DiaryEntryDTO entryFor(const DayKey &key, PageKind kind, int lineCount) {
    DiaryEntryDTO entry;
    entry.id = QUuid::createUuid();
    entry.dayKey = key;
    entry.content = lines(lineCount);
    entry.fontName = QStringLiteral("Georgia");
    entry.bodyPointSize = 16;
    entry.status = kind == PageKind::sealed ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft;
    entry.originTimeZone = QStringLiteral("UTC");
    entry.createdAt = QDateTime(QDate(2024, 1, 1), QTime(9, 0), QTimeZone::utc());
    entry.updatedAt = entry.createdAt;
    if (kind == PageKind::sealed)
        entry.sealedAt = entry.createdAt;
    entry.revision = DiaryRevision{1};
    return entry;
}

struct Fixture {
    explicit Fixture(const QByteArray &zone = "UTC") {
        repository->setDelay(Operation::entry, std::chrono::milliseconds(5));
        auto defaults =
            std::make_shared<UserDefaults>(directory.filePath(QStringLiteral("defaults")));
        settings = std::make_shared<UserDefaultsSettingsStore>(defaults, QStringLiteral("Georgia"));
        session = std::make_unique<DiarySessionStore>(repository, settings,
                                                      GregorianCalendar(QTimeZone(zone)));
        auto service = std::make_shared<PageLayoutService>(
            std::make_shared<MacTextKitLeafPaginator>(),
            std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit));
        pages = std::make_unique<DiaryPageSystemStore>(session.get(), service);
        pages->updateMetrics(smallPage);
    }

    // Stores an entry of the kind; a blank day has none.
    void seed(const QString &key, PageKind kind, int lineCount) {
        if (kind != PageKind::blank)
            repository->put(entryFor(day(key), kind, lineCount));
    }

    // Seeds the day and opens it on the given leaf, at rest.
    void open(const QString &key, PageKind kind, int lineCount, qint64 leaf) {
        seed(key, kind, lineCount);
        test::waitFor(session->changeDay(day(key)));
        pages->reloadDescriptors(leaf);
        pages->setTransition(PageTransitionState::idle());
    }

    QTemporaryDir directory;
    test::TemporaryDiaryStore diary;
    std::shared_ptr<test::ScriptedDiaryRepository> repository = diary.repository;
    std::shared_ptr<UserDefaultsSettingsStore> settings;
    std::unique_ptr<DiarySessionStore> session;
    std::unique_ptr<DiaryPageSystemStore> pages;
};

} // namespace

class DiaryPageSystemStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // From a day of `fromKind` on its first or last leaf, a turn into the neighbouring day of
    // `toKind`; forward lands on the first leaf, backward on the last.
    void turnsAcrossDayEdges_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<PageKind>("fromKind");
        QTest::addColumn<PageTurnDirection>("direction");
        QTest::addColumn<PageTransitionMode>("asked");
        QTest::addColumn<QString>("to");
        QTest::addColumn<PageKind>("toKind");
        QTest::addColumn<PageTransitionMode>("shown");
        const auto sealed = PageKind::sealed;
        const auto draft = PageKind::draft;
        const auto blank = PageKind::blank;
        const auto forward = PageTurnDirection::forward;
        const auto backward = PageTurnDirection::backward;
        const auto physical = PageTransitionMode::physical;
        const auto fade = PageTransitionMode::crossFade;
        QTest::newRow("sealed to sealed, forward")
            << "2024-01-10" << sealed << forward << physical << "2024-01-11" << sealed << physical;
        QTest::newRow("sealed to sealed, backward")
            << "2024-01-10" << sealed << backward << physical << "2024-01-09" << sealed << physical;
        QTest::newRow("sealed to sealed, fade asked")
            << "2024-01-10" << sealed << forward << fade << "2024-01-11" << sealed << fade;
        QTest::newRow("sealed to draft")
            << "2024-01-10" << sealed << forward << physical << "2024-01-11" << draft << fade;
        QTest::newRow("draft to sealed")
            << "2024-01-10" << draft << backward << physical << "2024-01-09" << sealed << fade;
        QTest::newRow("blank to sealed")
            << "2024-01-10" << blank << forward << physical << "2024-01-11" << sealed << fade;
        QTest::newRow("sealed to blank")
            << "2024-01-10" << sealed << backward << physical << "2024-01-09" << blank << fade;
        QTest::newRow("leap day") << "2024-03-01" << sealed << backward << physical << "2024-02-29"
                                  << sealed << physical;
        QTest::newRow("new year") << "2024-12-31" << sealed << forward << physical << "2025-01-01"
                                  << sealed << physical;
    }

    void turnsAcrossDayEdges() {
        QFETCH(QString, from);
        QFETCH(PageKind, fromKind);
        QFETCH(PageTurnDirection, direction);
        QFETCH(PageTransitionMode, asked);
        QFETCH(QString, to);
        QFETCH(PageKind, toKind);
        QFETCH(PageTransitionMode, shown);
        Fixture f;
        const bool forward = direction == PageTurnDirection::forward;
        f.seed(to, toKind, 12);
        f.open(from, fromKind, 12, forward ? 99 : 0);
        const auto source = f.pages->selectedDescriptor();
        QVERIFY(source);
        QCOMPARE(source->kind, fromKind);

        test::waitFor(forward ? f.pages->turnForward(asked) : f.pages->turnBackward(asked));

        QCOMPARE(f.session->selectedDay(), day(to));
        const auto &leaves = f.pages->descriptors();
        QVERIFY(!leaves.isEmpty());
        QCOMPARE(leaves.first().dayKey, day(to));
        QCOMPARE(leaves.first().kind, toKind);
        QCOMPARE(f.pages->selectedLeafIndex(), forward ? 0 : leaves.size() - 1);
        QCOMPARE(f.pages->calendarMonth(),
                 DiaryCalendarMonth::containing(day(to), f.session->calendar()));
        const PageTransitionState expected{PageTransitionPhase::animating,
                                           source,
                                           f.pages->selectedDescriptor(),
                                           direction,
                                           shown,
                                           0,
                                           0};
        QCOMPARE(f.pages->transition(), expected);
    }

    void turnsWithinTheDayStayOffTheSession() {
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 0);
        QCOMPARE(f.pages->descriptors().size(), 3);
        const int loads = f.repository->callCount(Operation::entry);
        const quint64 generation = f.pages->navigationGeneration();

        test::waitFor(f.pages->turnForward(PageTransitionMode::physical));
        QCOMPARE(f.pages->selectedLeafIndex(), 1);
        QCOMPARE(f.pages->transition().phase, PageTransitionPhase::animating);
        QCOMPARE(f.pages->transition().source, std::optional(f.pages->descriptors().at(0)));
        QCOMPARE(f.pages->transition().target, std::optional(f.pages->descriptors().at(1)));

        // A turn while another is still shown starts from rest.
        test::waitFor(f.pages->turnBackward(PageTransitionMode::crossFade));
        QCOMPARE(f.pages->selectedLeafIndex(), 0);
        QCOMPARE(f.pages->transition().direction, std::optional(PageTurnDirection::backward));
        QCOMPARE(f.pages->transition().mode, std::optional(PageTransitionMode::crossFade));
        QCOMPARE(f.repository->callCount(Operation::entry), loads);
        QCOMPARE(f.pages->navigationGeneration(), generation);
    }

    // Before its first layout the store shows no leaf, so even the first turn leaves the day.
    void forwardWithNoLeafMovesToTheNextDay() {
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 0);
        DiaryPageSystemStore fresh(f.session.get(), std::make_shared<PageLayoutService>(
                                                        std::make_shared<MacTextKitLeafPaginator>(),
                                                        std::make_shared<PageLayoutCache>(64)));
        test::waitFor(fresh.turnForward(PageTransitionMode::physical));
        QCOMPARE(f.session->selectedDay(), day(QStringLiteral("2024-01-11")));
        QCOMPARE(fresh.selectedLeafIndex(), 0);
        QCOMPARE(fresh.transition().source, std::nullopt);
        QCOMPARE(fresh.transition().mode, std::optional(PageTransitionMode::crossFade));
    }

    void reloadClampsTheLeaf_data() {
        QTest::addColumn<int>("lineCount");
        QTest::addColumn<qint64>("asked");
        QTest::addColumn<qint64>("selected");
        QTest::newRow("beyond the last") << 12 << qint64(7) << qint64(2);
        QTest::newRow("negative") << 12 << qint64(-4) << qint64(0);
        QTest::newRow("within") << 12 << qint64(1) << qint64(1);
        QTest::newRow("blank day") << 0 << qint64(5) << qint64(0);
    }

    void reloadClampsTheLeaf() {
        QFETCH(int, lineCount);
        QFETCH(qint64, asked);
        QFETCH(qint64, selected);
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), lineCount ? PageKind::sealed : PageKind::blank,
               lineCount, 0);
        f.pages->reloadDescriptors(asked);
        QCOMPARE(f.pages->selectedLeafIndex(), selected);
    }

    void metricsChanges() {
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 2);
        test::waitFor(f.pages->turnBackward(PageTransitionMode::physical));
        const PageTransitionState turning = f.pages->transition();
        QSignalSpy transitions(f.pages.get(), &DiaryPageSystemStore::transitionChanged);
        QSignalSpy leaves(f.pages.get(), &DiaryPageSystemStore::descriptorsChanged);

        LeafLayoutMetrics same = smallPage;
        same.horizontalInset = -0.0;
        f.pages->updateMetrics(same);
        QCOMPARE(f.pages->transition(), turning);
        QCOMPARE(transitions.size(), 0);
        QCOMPARE(leaves.size(), 0);

        LeafLayoutMetrics taller = smallPage;
        taller.height = 1000;
        f.pages->updateMetrics(taller);
        QCOMPARE(f.pages->transition(), PageTransitionState::idle());
        QCOMPARE(f.pages->descriptors().size(), 1);
        QCOMPARE(f.pages->selectedLeafIndex(), 0);
    }

    void navigateToTheDayShown_data() {
        QTest::addColumn<qint64>("leaf");
        QTest::newRow("first leaf") << qint64(0);
        QTest::newRow("third leaf") << qint64(2);
    }

    void navigateToTheDayShown() {
        QFETCH(qint64, leaf);
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, leaf);
        const auto source = f.pages->selectedDescriptor();
        const int loads = f.repository->callCount(Operation::entry);
        const quint64 generation = f.pages->navigationGeneration();
        test::waitFor(f.pages->navigate(day(QStringLiteral("2024-01-10"))));
        QCOMPARE(f.repository->callCount(Operation::entry), loads);
        QCOMPARE(f.pages->navigationGeneration(), generation);
        QCOMPARE(f.pages->selectedLeafIndex(), 0);
        if (leaf == 0) {
            QCOMPARE(f.pages->transition(), PageTransitionState::idle());
        } else {
            const PageTransitionState expected{PageTransitionPhase::animating,
                                               source,
                                               f.pages->descriptors().first(),
                                               PageTurnDirection::backward,
                                               PageTransitionMode::crossFade,
                                               0,
                                               0};
            QCOMPARE(f.pages->transition(), expected);
        }
    }

    void navigateByDateCrossFades_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<PageTurnDirection>("direction");
        QTest::addColumn<bool>("lastLeaf");
        QTest::newRow("earlier day") << "2023-06-01" << PageTurnDirection::backward << true;
        QTest::newRow("later day") << "2024-02-01" << PageTurnDirection::forward << false;
    }

    void navigateByDateCrossFades() {
        QFETCH(QString, target);
        QFETCH(PageTurnDirection, direction);
        QFETCH(bool, lastLeaf);
        Fixture f;
        f.seed(target, PageKind::sealed, 12);
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 0);
        test::waitFor(f.pages->navigate(day(target)));
        QCOMPARE(f.session->selectedDay(), day(target));
        QCOMPARE(f.pages->selectedLeafIndex(), lastLeaf ? 2 : 0);
        QCOMPARE(f.pages->transition().direction, std::optional(direction));
        QCOMPARE(f.pages->transition().mode, std::optional(PageTransitionMode::crossFade));
    }

    // The first change resumes after the second began: it fails and publishes nothing.
    void overtakenDayChangePublishesNothing() {
        Fixture f;
        f.seed(QStringLiteral("2024-01-11"), PageKind::sealed, 12);
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 2);
        const auto source = f.pages->selectedDescriptor();
        f.repository->setDelay(Operation::entry, std::chrono::milliseconds(30));
        QSignalSpy leaves(f.pages.get(), &DiaryPageSystemStore::descriptorsChanged);

        auto first = f.pages->turnForward(PageTransitionMode::physical);
        QCOMPARE(f.pages->transition().phase, PageTransitionPhase::loading);
        auto second = f.pages->turnForward(PageTransitionMode::physical);
        QVERIFY(test::failureOf<CancellationError>(std::move(first)));
        test::waitFor(std::move(second));

        QCOMPARE(leaves.size(), 1);
        QCOMPARE(f.session->selectedDay(), day(QStringLiteral("2024-01-11")));
        QCOMPARE(f.pages->selectedLeafIndex(), 0);
        QCOMPARE(f.pages->descriptors().first().dayKey, day(QStringLiteral("2024-01-11")));
        QCOMPARE(f.pages->transition().phase, PageTransitionPhase::animating);
        QCOMPARE(f.pages->transition().source, source);
        QCOMPARE(f.pages->navigationGeneration(), quint64(2));
    }

    void failedDayChangeRestsTheTurn() {
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 2);
        const auto leavesBefore = f.pages->descriptors();
        f.repository->failNext(Operation::entry,
                               PersistenceError::readFailed(QStringLiteral("disk")));
        const auto error =
            test::failureOf<PersistenceError>(f.pages->turnForward(PageTransitionMode::physical));
        QVERIFY(error);
        QCOMPARE(error->errorCase(), PersistenceError::Case::readFailed);
        QCOMPARE(f.pages->transition(), PageTransitionState::idle());
        QCOMPARE(f.pages->descriptors(), leavesBefore);
        QCOMPARE(f.pages->selectedLeafIndex(), 2);
    }

    void cancelledDayChangeRestsTheTurn() {
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 2);
        f.repository->setDelay(Operation::entry, std::chrono::milliseconds(30));
        CancellationToken token;
        auto turn = f.pages->turnForward(PageTransitionMode::physical, token);
        QCOMPARE(f.pages->transition().phase, PageTransitionPhase::loading);
        token.cancel();
        QVERIFY(test::failureOf<CancellationError>(std::move(turn)));
        QCOMPARE(f.pages->transition(), PageTransitionState::idle());
        QCOMPARE(f.pages->selectedLeafIndex(), 2);
    }

    void storeGoneWhileTheDayLoads() {
        Fixture f;
        f.open(QStringLiteral("2024-01-10"), PageKind::sealed, 12, 2);
        f.repository->setDelay(Operation::entry, std::chrono::milliseconds(30));
        auto turn = f.pages->turnForward(PageTransitionMode::physical);
        f.pages.reset();
        QVERIFY(test::failureOf<CancellationError>(std::move(turn)));
        QCOMPARE(f.session->selectedDay(), day(QStringLiteral("2024-01-11")));
    }

    // Samoa skipped 2011-12-30: that key names no day there, so it has no neighbour.
    void adjacentDayThatCannotBeCalculated() {
        Fixture f("Pacific/Apia");
        test::waitFor(f.session->changeDay(day(QStringLiteral("2011-12-30"))));
        f.pages->reloadDescriptors(0);
        const quint64 generation = f.pages->navigationGeneration();
        const auto error =
            test::failureOf<PersistenceError>(f.pages->turnForward(PageTransitionMode::physical));
        QVERIFY(error);
        QCOMPARE(error->errorCase(), PersistenceError::Case::invalidData);
        QCOMPARE(error->text(), QStringLiteral("The adjacent civil day could not be calculated."));
        QCOMPARE(f.pages->navigationGeneration(), generation);
        QCOMPARE(f.session->selectedDay(), day(QStringLiteral("2011-12-30")));
    }
};

VELMORA_GUI_TEST_MAIN(DiaryPageSystemStoreTest)
#include "tst_diarypagesystemstore.moc"
