#include "PageScreenFixture.h"

#include "pagescreen/PageMotion.h"
#include "pagescreen/PageNavigation.h"
#include "pagescreen/VuzIvoduEdgeStrip.h"
#include "support/GuiTestMain.h"

#include <QMouseEvent>

using namespace velmora;
using namespace velmora::test;

namespace {

// Navigation on its own over the fixture's session and page system, with what it reports.
struct Navigation {
    PageScreenFixture &f;
    PageMotion motion{PageScreenFixture::timings.animationScale};
    PageNavigation navigation{*f.session, *f.pages, *f.settings, motion,
                              PageScreenFixture::timings.crossFadeSettle};
    QSignalSpy arrived{&navigation, &PageNavigation::arrived};
    QSignalSpy settled{&navigation, &PageNavigation::settled};
    QSignalSpy failed{&navigation, &PageNavigation::failed};
    QSignalSpy settling{&navigation, &PageNavigation::settlingChanged};

    explicit Navigation(PageScreenFixture &fixture, bool reduced = false)
        : f(fixture) {
        motion.setSystemReduceMotion(reduced);
    }
};

void drag(QWidget &strip, QEvent::Type type, double x) {
    const QPointF at(x, 200);
    QMouseEvent event(
        type, at, strip.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&strip, &event);
}

} // namespace

class PageNavigationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each landing is reported once, and the page comes to rest: at once after a cross-fade's
    // hold, or once the drawn turn is done.
    void aLandingIsReportedOnceAndSettles_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("reduced");
        QTest::addColumn<QString>("lands");
        QTest::addColumn<bool>("drawnTurn");
        QTest::newRow("jump") << "navigate" << false << "2024-03-10" << false;
        QTest::newRow("next, physical") << "next" << false << "2024-03-16" << true;
        QTest::newRow("next, cross-fade") << "next" << true << "2024-03-16" << false;
        QTest::newRow("previous, physical") << "previous" << false << "2024-03-14" << true;
        QTest::newRow("previous, cross-fade") << "previous" << true << "2024-03-14" << false;
    }

    void aLandingIsReportedOnceAndSettles() {
        QFETCH(QString, operation);
        QFETCH(bool, reduced);
        QFETCH(QString, lands);
        QFETCH(bool, drawnTurn);
        PageScreenFixture f;
        f.seed("2024-03-10", QStringLiteral("Sunday"));
        // Only a turn from one sealed leaf to another is drawn like paper.
        for (const char *sealed : {"2024-03-14", "2024-03-15", "2024-03-16"})
            f.seed(sealed, QStringLiteral("Sealed"), true);
        QVERIFY(f.selectToday());
        Navigation n(f, reduced);
        if (operation == QLatin1String("navigate"))
            n.navigation.navigate(day("2024-03-10"));
        else if (operation == QLatin1String("next"))
            n.navigation.turnToNextPage();
        else
            n.navigation.turnToPreviousPage();
        QVERIFY(n.navigation.isSettling());
        QVERIFY(waitUntil([&] { return n.settled.size() == 1; }));
        QCOMPARE(n.arrived.size(), 1);
        QCOMPARE(f.session->selectedDay().rawValue(), lands);
        // A drawn turn holds the page until the view has played it.
        QCOMPARE(n.navigation.isSettling(), drawnTurn);
        QCOMPARE(n.navigation.isPhysicalTurnRunning(), drawnTurn);
        if (drawnTurn)
            n.navigation.resetTransition();
        QVERIFY(!n.navigation.isSettling());
        QTest::qWait(40);
        QCOMPARE(n.arrived.size(), 1);
        QCOMPARE(n.settled.size(), 1);
        QCOMPARE(n.failed.size(), 0);
        QCOMPARE(n.settling.size(), 2);
        QCOMPARE(n.settling.first().at(0).toBool(), true);
        QCOMPARE(n.settling.last().at(0).toBool(), false);
    }

    // Only the newest of overlapping navigations lands; the overtaken and the stopped ones report
    // nothing, neither a landing nor their cancellation as a failure.
    void anOvertakenOrStoppedNavigationReportsNothing_data() {
        QTest::addColumn<bool>("stopped");
        QTest::newRow("overtaken") << false;
        QTest::newRow("stopped") << true;
    }

    void anOvertakenOrStoppedNavigationReportsNothing() {
        QFETCH(bool, stopped);
        PageScreenFixture f;
        QVERIFY(f.selectToday());
        Navigation n(f, true);
        f.repository->heldReads = day("2024-03-10");
        n.navigation.navigate(day("2024-03-10"));
        QTest::qWait(20);
        if (stopped)
            n.navigation.stop();
        else
            n.navigation.navigate(day("2024-03-12"));
        f.repository->heldReads.reset();
        QVERIFY(waitUntil([&] { return !n.navigation.isSettling(); }));
        QTest::qWait(60);
        QCOMPARE(n.failed.size(), 0);
        QCOMPARE(n.arrived.size(), stopped ? 0 : 1);
        QCOMPARE(f.session->selectedDay(), stopped ? PageScreenFixture::today : day("2024-03-12"));
    }

    void aFailedReadIsReportedAndTheDragDropped() {
        PageScreenFixture f;
        QVERIFY(f.selectToday());
        Navigation n(f);
        QSignalSpy interaction(&n.navigation, &PageNavigation::edgeInteractionChanged);
        f.repository->failReads = true;
        n.navigation.edgeDragChanged(-300, -300, PageTurnDirection::forward);
        QVERIFY(n.navigation.showsUnderLeaf());
        n.navigation.edgeDragEnded(-300);
        QVERIFY(waitUntil([&] { return !n.navigation.isSettling(); }));
        QCOMPARE(n.failed.size(), 1);
        QVERIFY(n.failed.first().at(0).toString().contains(QStringLiteral("cannot be read")));
        QCOMPARE(n.arrived.size(), 0);
        QCOMPARE(n.navigation.edgeInteraction().state, PageTransitionState::idle());
        QVERIFY(!interaction.isEmpty());
        QCOMPARE(f.session->selectedDay(), PageScreenFixture::today);
    }

    // The first day's load keeps the page settling beside the navigations.
    void theFirstLoadHoldsThePage() {
        PageScreenFixture f;
        QVERIFY(f.selectToday());
        Navigation n(f, true);
        n.navigation.loadStarted();
        n.navigation.navigate(day("2024-03-12"));
        QVERIFY(waitUntil([&] { return n.settled.size() == 1; }));
        QVERIFY(n.navigation.isSettling());
        n.navigation.loadEnded();
        QVERIFY(!n.navigation.isSettling());
        QCOMPARE(n.settling.size(), 2);
    }

    // The lifted leaf turns with the drag in physical motion only, against the drag's direction.
    void theLiftedLeafFollowsTheDrag_data() {
        QTest::addColumn<bool>("reduced");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<double>("angle");
        QTest::newRow("forward, half way") << false << true << -26.0;
        QTest::newRow("backward, half way") << false << false << 26.0;
        QTest::newRow("reduced motion") << true << true << 0.0;
    }

    void theLiftedLeafFollowsTheDrag() {
        QFETCH(bool, reduced);
        QFETCH(bool, forward);
        QFETCH(double, angle);
        PageScreenFixture f;
        QVERIFY(f.selectToday());
        Navigation n(f, reduced);
        const double half = PageNavigation::edgeDragPageWidth / 2;
        n.navigation.edgeDragChanged(forward ? -half : half, forward ? -half : half,
                                     forward ? PageTurnDirection::forward
                                             : PageTurnDirection::backward);
        QCOMPARE(n.navigation.showsUnderLeaf(), !reduced);
        QCOMPARE(n.navigation.edgeTurnAngle(), angle);
    }

    // The strips at the page's edges: a press and a few moves, as the pointer makes them.
    void theEdgeStripsTurnTheDragIntoATurn_data() {
        QTest::addColumn<bool>("leading");
        QTest::addColumn<QList<double>>("moves");
        QTest::addColumn<bool>("begins");
        QTest::addColumn<QString>("lands");
        QTest::newRow("a jitter") << false << QList<double>{-3, -6, -2} << false << "2024-03-15";
        QTest::newRow("forward") << false << QList<double>{-100, -300} << true << "2024-03-16";
        QTest::newRow("backward") << true << QList<double>{100, 300} << true << "2024-03-14";
        QTest::newRow("thrown back")
            << false << QList<double>{-100, -200, -20} << true << "2024-03-15";
    }

    void theEdgeStripsTurnTheDragIntoATurn() {
        QFETCH(bool, leading);
        QFETCH(QList<double>, moves);
        QFETCH(bool, begins);
        QFETCH(QString, lands);
        PageScreenFixture f;
        // Without the view nobody plays a drawn turn to its end.
        f.page->setSystemReduceMotion(true);
        QVERIFY(f.open());
        QVERIFY(waitUntil([&] { return !f.page->isSettling(); }));
        VuzIvoduEdgeStrip strip(leading ? PageTurnDirection::backward : PageTurnDirection::forward,
                                *f.page, nullptr);
        strip.resize(34, 900);
        const double pressedAt = 400;
        drag(strip, QEvent::MouseButtonPress, pressedAt);
        bool began = false;
        for (const double move : std::as_const(moves)) {
            drag(strip, QEvent::MouseMove, pressedAt + move);
            began = began || f.page->edgeInteraction().state.phase != PageTransitionPhase::idle;
        }
        QCOMPARE(began, begins);
        drag(strip, QEvent::MouseButtonRelease, pressedAt + moves.constLast());
        QVERIFY(waitUntil([&] {
            return f.session->selectedDay().rawValue() == lands && !f.page->isSettling() &&
                   f.page->edgeInteraction().state == PageTransitionState::idle();
        }));
    }
};

VELMORA_GUI_TEST_MAIN(PageNavigationTest)
#include "tst_pagenavigation.moc"
