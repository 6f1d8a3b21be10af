#include "PageScreenFixture.h"

#include "pagescreen/MacPageTurnController.h"
#include "support/GuiTestMain.h"

#include <QVariantAnimation>

using namespace velmora;
using namespace velmora::test;

namespace {

PageDescriptor leaf(const char *dayText, qint64 index, std::optional<qint64> revision = 1) {
    PageDescriptor descriptor;
    descriptor.dayKey = day(dayText);
    descriptor.leafIndex = index;
    descriptor.leafCount = 2;
    descriptor.kind = PageKind::sealed;
    descriptor.id =
        PageDescriptorID{descriptor.dayKey,
                         revision ? std::optional(DiaryRevision{*revision}) : std::nullopt, index};
    return descriptor;
}

PageTransitionState turn(const PageDescriptor &source, const PageDescriptor &target,
                         PageTurnDirection direction,
                         PageTransitionMode mode = PageTransitionMode::physical,
                         PageTransitionPhase phase = PageTransitionPhase::animating) {
    return PageTransitionState{phase, source, target, direction, mode, 0, 0};
}

constexpr int turnOutlastingTheTest = 3600 * 1000;

// The turns the controller is playing, oldest first.
QList<QVariantAnimation *> runningTurns(const MacPageTurnController &controller) {
    QList<QVariantAnimation *> turns = controller.findChildren<QVariantAnimation *>();
    turns.removeIf(
        [](const QVariantAnimation *turn) { return turn->state() != QAbstractAnimation::Running; });
    return turns;
}

} // namespace

class PageTurnsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aNewerNavigationOvertakesTheOlder() {
        PageScreenFixture f;
        f.seed("2024-03-13", QStringLiteral("Wednesday"));
        f.seed("2024-03-14", QStringLiteral("Thursday"));
        f.page->setSystemReduceMotion(true);
        QVERIFY(f.openDay(day("2024-03-12")));
        const int focus = f.page->focusRequest();
        f.page->turnToNextPage();
        f.page->turnToNextPage();
        QVERIFY(waitUntil([&] { return f.pages->transition() == PageTransitionState::idle(); }));
        // The focus comes a moment after the page is read; the overtaken turn asks for none.
        QVERIFY(waitUntil([&] { return f.page->focusRequest() > focus; }));
        QTest::qWait(60);
        QCOMPARE(f.session->selectedDay(), day("2024-03-13"));
        QCOMPARE(f.page->entryText(), QStringLiteral("Wednesday"));
        QCOMPARE(f.page->focusRequest(), focus + 1);
        QCOMPARE(f.page->persistenceError(), std::nullopt);
    }

    void aCrossFadeIsHeldThenSettles() {
        PageScreenFixture f;
        f.seed("2024-03-14", QStringLiteral("Thursday"));
        f.page->setSystemReduceMotion(true);
        QCOMPARE(f.page->motionMode(), PageTransitionMode::crossFade);
        QVERIFY(f.open());
        f.page->turnToPreviousPage();
        QVERIFY(waitUntil([&] { return f.session->selectedDay() == day("2024-03-14"); }));
        QVERIFY(waitUntil([&] { return f.page->entryText() == QStringLiteral("Thursday"); }));
        // Held for the cross-fade, then idle.
        QCOMPARE(f.pages->transition().mode, PageTransitionMode::crossFade);
        QVERIFY(f.pages->transition().phase != PageTransitionPhase::idle);
        QVERIFY(waitUntil([&] { return f.pages->transition() == PageTransitionState::idle(); }));
    }

    void focusOnlyOnAWritableUnsealedLeaf_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<bool>("focused");
        QTest::newRow("draft") << "2024-03-10" << false << true;
        QTest::newRow("sealed") << "2024-03-10" << true << false;
        QTest::newRow("blank past") << "2024-03-09" << false << false;
        QTest::newRow("future") << "2024-03-19" << false << false;
        QTest::newRow("today") << "2024-03-15" << false << true;
    }

    void focusOnlyOnAWritableUnsealedLeaf() {
        QFETCH(QString, target);
        QFETCH(bool, sealed);
        QFETCH(bool, focused);
        PageScreenFixture f;
        f.seed("2024-03-10", QStringLiteral("Sunday"), sealed);
        QVERIFY(f.openDay(day("2024-03-12")));
        QTest::qWait(30);
        const int focus = f.page->focusRequest();
        f.page->navigate(*DayKey::fromRawValue(target));
        QVERIFY(waitUntil([&] {
            return f.session->selectedDay().rawValue() == target &&
                   f.pages->transition() == PageTransitionState::idle();
        }));
        // The focus comes a moment after the page is read, and only once.
        if (focused)
            QVERIFY(waitUntil([&] { return f.page->focusRequest() > focus; }));
        QTest::qWait(30);
        QCOMPARE(f.page->focusRequest(), focus + (focused ? 1 : 0));
    }

    void theEdgeDragCommitsAtItsThresholds_data() {
        QTest::addColumn<double>("translation");
        QTest::addColumn<double>("predicted");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<bool>("commits");
        // 0.35 of 768 is 268.8 points; 650 is the velocity that turns.
        QTest::newRow("far enough") << -270.0 << -270.0 << true << true;
        QTest::newRow("short, slow") << -230.0 << -240.0 << true << false;
        QTest::newRow("short, flicked") << -230.0 << -400.0 << true << true;
        QTest::newRow("flicked the wrong way") << -230.0 << -60.0 << true << false;
        QTest::newRow("backward, far enough") << 300.0 << 300.0 << false << true;
        QTest::newRow("backward, predicted far") << 100.0 << 280.0 << false << true;
    }

    void theEdgeDragCommitsAtItsThresholds() {
        QFETCH(double, translation);
        QFETCH(double, predicted);
        QFETCH(bool, forward);
        QFETCH(bool, commits);
        PageScreenFixture f;
        QVERIFY(f.open());
        const auto direction = forward ? PageTurnDirection::forward : PageTurnDirection::backward;
        f.page->edgeDragChanged(translation / 2, translation / 2, direction);
        f.page->edgeDragChanged(translation, predicted, direction);
        QCOMPARE(f.page->edgeInteraction().state.phase, PageTransitionPhase::interactive);
        f.page->edgeDragEnded(predicted);
        if (!commits) {
            QCOMPARE(f.page->edgeInteraction().state, PageTransitionState::idle());
            QCOMPARE(f.session->selectedDay(), PageScreenFixture::today);
            return;
        }
        const DayKey expected = forward ? day("2024-03-16") : day("2024-03-14");
        QVERIFY(waitUntil([&] { return f.session->selectedDay() == expected; }));
        QVERIFY(waitUntil(
            [&] { return f.page->edgeInteraction().state.phase == PageTransitionPhase::idle; }));
    }

    void aDragAtTheFirstLeafPreviewsYesterdayBlank() {
        PageScreenFixture f;
        f.settings->setSelectedFont(QStringLiteral("Palatino"));
        f.settings->setDefaultFontSize(20);
        QVERIFY(f.open());
        const auto preview = f.page->adjacentDescriptor(PageTurnDirection::backward);
        QVERIFY(preview);
        QCOMPARE(preview->dayKey, day("2024-03-14"));
        QCOMPARE(preview->kind, PageKind::blank);
        QCOMPARE(preview->fontName, QStringLiteral("Palatino"));
        QCOMPARE(preview->bodyPointSize, 20.0);
        QCOMPARE(preview->id.revision, std::nullopt);
        f.page->edgeDragChanged(40, 40, PageTurnDirection::backward);
        QCOMPARE(f.page->edgeInteraction().state.target, preview);
        QCOMPARE(f.page->edgeInteraction().state.mode, PageTransitionMode::physical);
    }

    void theOpenCalendarMarksTheWrittenDaysOfItsMonth() {
        PageScreenFixture f;
        f.seed("2024-03-10", QStringLiteral("Sunday"));
        f.seed("2024-03-12", QStringLiteral("Tuesday"), true);
        f.seed("2024-02-12", QStringLiteral("Another month"));
        QVERIFY(f.open());
        QVERIFY(f.page->entryDays().isEmpty());
        f.page->openCalendar();
        QVERIFY(waitUntil([&] { return f.page->entryDays() == QSet<int>({10, 12}); }));
    }

    void escapeClosesTheTopmostThingOnly() {
        PageScreenFixture f;
        QVERIFY(f.open());
        QSignalSpy closed(f.page.get(), &VuzIvoduPageView::closeDiaryRequested);
        f.page->setEntryTextFromEditor(QStringLiteral("Words"));
        f.router.send(DiaryCommand::seal);
        f.page->setShowSearch(true);
        f.page->setShowCalendar(true);
        int focus = f.page->focusRequest();

        f.page->handleEscape();
        QVERIFY(!f.page->showSealConfirmation());
        QVERIFY(f.page->showSearch());
        QCOMPARE(f.page->focusRequest(), focus);

        f.page->handleEscape();
        QVERIFY(!f.page->showSearch());
        QVERIFY(f.page->showCalendar());
        QCOMPARE(f.page->focusRequest(), ++focus);

        f.page->handleEscape();
        QVERIFY(!f.page->showCalendar());
        QCOMPARE(f.page->focusRequest(), ++focus);
        QVERIFY(!f.page->showLeavePrompt());

        f.page->handleEscape();
        QVERIFY(f.page->showLeavePrompt());
        QCOMPARE(closed.count(), 0);
    }

    void theTurnControllerStartsEachTurnOnce_data() {
        QTest::addColumn<PageTransitionState>("state");
        QTest::addColumn<bool>("starts");
        const PageDescriptor first = leaf("2024-03-10", 0);
        const PageDescriptor second = leaf("2024-03-10", 1);
        QTest::newRow("forward") << turn(first, second, PageTurnDirection::forward) << true;
        QTest::newRow("cross-fade")
            << turn(first, second, PageTurnDirection::forward, PageTransitionMode::crossFade)
            << false;
        QTest::newRow("interactive")
            << turn(first, second, PageTurnDirection::forward, PageTransitionMode::physical,
                    PageTransitionPhase::interactive)
            << false;
        QTest::newRow("loading") << turn(first, second, PageTurnDirection::forward,
                                         PageTransitionMode::physical, PageTransitionPhase::loading)
                                 << false;
        PageTransitionState noTarget = turn(first, second, PageTurnDirection::forward);
        noTarget.target.reset();
        QTest::newRow("no target") << noTarget << false;
    }

    // Each turn below would outlast the test: the test ends it itself, at the moment it looks.
    void theTurnControllerStartsEachTurnOnce() {
        QFETCH(PageTransitionState, state);
        QFETCH(bool, starts);
        MacPageTurnController controller;
        controller.setTurnDuration(turnOutlastingTheTest);
        int completions = 0;
        controller.setOnCompleted([&] { ++completions; });
        controller.update(state);
        controller.update(state);
        QCOMPARE(controller.activeTransitionID().has_value(), starts);
        if (!starts) {
            QTest::qWait(50);
            QVERIFY(!controller.isAnimating());
            QCOMPARE(completions, 0);
            return;
        }
        QVERIFY(waitUntil([&] { return controller.isAnimating(); }));
        const QList<QVariantAnimation *> turns = runningTurns(controller);
        QCOMPARE(turns.size(), 1);
        turns.first()->setCurrentTime(turns.first()->duration());
        QVERIFY(waitUntil([&] { return completions == 1; }));
        QVERIFY(!controller.isAnimating());
        QCOMPARE(controller.arrangedObjects().first().leafIndex, 0);
        QCOMPARE(controller.selectedIndex(), 1);
        QCOMPARE(controller.animatedIndex(), 1.0);
    }

    void theTurnControllerTakesANewIdentityMidTurn() {
        const PageDescriptor first = leaf("2024-03-10", 0);
        const PageDescriptor second = leaf("2024-03-10", 1);
        MacPageTurnController controller;
        controller.setTurnDuration(turnOutlastingTheTest);
        int completions = 0;
        int completionsOfNewest = 0;
        controller.setOnCompleted([&] { ++completions; });
        controller.update(turn(first, second, PageTurnDirection::forward));
        QVERIFY(waitUntil([&] { return controller.isAnimating(); }));
        // The same leaves the other way, then the same day saved again: each is a new turn.
        controller.update(turn(second, first, PageTurnDirection::backward));
        QCOMPARE(controller.arrangedObjects().first().leafIndex, 0);
        QCOMPARE(controller.selectedIndex(), 1);
        const PageDescriptor savedAgain = leaf("2024-03-10", 0, 2);
        controller.setOnCompleted([&] {
            ++completions;
            ++completionsOfNewest;
        });
        controller.update(turn(second, savedAgain, PageTurnDirection::backward));
        QVERIFY(waitUntil([&] { return runningTurns(controller).size() == 3; }));
        // The newest ends first; the older ones run out after it.
        const QList<QVariantAnimation *> turns = runningTurns(controller);
        for (auto it = turns.rbegin(); it != turns.rend(); ++it)
            (*it)->setCurrentTime((*it)->duration());
        QVERIFY(waitUntil([&] { return completions == 3; }));
        // Completion goes to the newest action, whichever turn ends.
        QCOMPARE(completionsOfNewest, 3);
        QCOMPARE(controller.animatedIndex(), 0.0);
        QCOMPARE(controller.activeTransitionID()->target, savedAgain.id);
    }
};

VELMORA_GUI_TEST_MAIN(PageTurnsTest)
#include "tst_pageturns.moc"
