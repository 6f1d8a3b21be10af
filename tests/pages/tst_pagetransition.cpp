#include "pages/DiaryCalendarMonth.h"
#include "pages/PageTransitionState.h"
#include "support/TestSupport.h"

#include <QTimeZone>

using namespace velmora;

Q_DECLARE_METATYPE(velmora::PageTurnDirection)
Q_DECLARE_METATYPE(velmora::PageTransitionPhase)

namespace {

PageDescriptor leaf(qint64 index) {
    PageDescriptor descriptor;
    descriptor.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-03-01"));
    descriptor.id = PageDescriptorID{descriptor.dayKey, DiaryRevision{1}, index};
    descriptor.leafIndex = index;
    descriptor.leafCount = 3;
    descriptor.kind = PageKind::sealed;
    return descriptor;
}

PageTurnInteraction dragging(PageTurnDirection direction) {
    PageTurnInteraction interaction;
    const bool begun =
        interaction.begin(leaf(1), leaf(direction == PageTurnDirection::forward ? 2 : 0), direction,
                          PageTransitionMode::physical);
    Q_ASSERT(begun);
    return interaction;
}

} // namespace

class PageTransitionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void update_data() {
        QTest::addColumn<PageTurnDirection>("direction");
        QTest::addColumn<double>("translation");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("progress");
        const auto forward = PageTurnDirection::forward;
        const auto backward = PageTurnDirection::backward;
        QTest::newRow("forward quarter") << forward << -100.0 << 400.0 << 0.25;
        QTest::newRow("forward dragged the wrong way") << forward << 50.0 << 400.0 << 0.0;
        QTest::newRow("forward past the page") << forward << -900.0 << 400.0 << 1.0;
        QTest::newRow("backward quarter") << backward << 100.0 << 400.0 << 0.25;
        QTest::newRow("narrow width is not divided") << forward << -0.3 << 0.5 << 0.3;
        QTest::newRow("narrow width clamps") << forward << -2.0 << 0.5 << 1.0;
        QTest::newRow("width not a number") << forward << -0.5 << qQNaN() << 0.5;
    }

    void update() {
        QFETCH(PageTurnDirection, direction);
        QFETCH(double, translation);
        QFETCH(double, width);
        QFETCH(double, progress);
        PageTurnInteraction interaction = dragging(direction);
        interaction.update(translation, width, -800);
        QCOMPARE(interaction.state.progress, progress);
        QCOMPARE(interaction.state.velocity, -800.0);
        QCOMPARE(interaction.state.phase, PageTransitionPhase::interactive);
    }

    void updateIgnoresStatesNotDragging_data() {
        QTest::addColumn<PageTransitionPhase>("phase");
        QTest::addColumn<bool>("hasDirection");
        QTest::newRow("idle") << PageTransitionPhase::idle << true;
        QTest::newRow("loading") << PageTransitionPhase::loading << true;
        QTest::newRow("animating") << PageTransitionPhase::animating << true;
        QTest::newRow("interactive without direction") << PageTransitionPhase::interactive << false;
    }

    void updateIgnoresStatesNotDragging() {
        QFETCH(PageTransitionPhase, phase);
        QFETCH(bool, hasDirection);
        PageTurnInteraction interaction = dragging(PageTurnDirection::forward);
        interaction.state.phase = phase;
        if (!hasDirection)
            interaction.state.direction.reset();
        const PageTransitionState before = interaction.state;
        interaction.update(-200, 400, 10);
        QCOMPARE(interaction.state, before);
        QVERIFY(!interaction.finish(-400, 400));
        QCOMPARE(interaction.state, PageTransitionState::idle());
    }

    void finish_data() {
        QTest::addColumn<PageTurnDirection>("direction");
        QTest::addColumn<double>("lastTranslation");
        QTest::addColumn<double>("velocity");
        QTest::addColumn<double>("predicted");
        QTest::addColumn<double>("width");
        QTest::addColumn<bool>("commits");
        const auto forward = PageTurnDirection::forward;
        const auto backward = PageTurnDirection::backward;
        QTest::newRow("progress exactly 0.35") << forward << -140.0 << 0.0 << 0.0 << 400.0 << true;
        QTest::newRow("predicted exactly 0.35")
            << forward << -80.0 << 0.0 << -140.0 << 400.0 << true;
        QTest::newRow("just short, slow") << forward << -80.0 << -649.0 << -139.0 << 400.0 << false;
        QTest::newRow("just short, velocity 650")
            << forward << -80.0 << -650.0 << -139.0 << 400.0 << true;
        QTest::newRow("backward fast the wrong way")
            << backward << 10.0 << -700.0 << 10.0 << 400.0 << false;
        QTest::newRow("backward fast") << backward << 10.0 << 700.0 << 10.0 << 400.0 << true;
        QTest::newRow("width 0 divides by 1") << forward << 0.0 << 0.0 << -0.35 << 0.0 << true;
    }

    void finish() {
        QFETCH(PageTurnDirection, direction);
        QFETCH(double, lastTranslation);
        QFETCH(double, velocity);
        QFETCH(double, predicted);
        QFETCH(double, width);
        QFETCH(bool, commits);
        PageTurnInteraction interaction = dragging(direction);
        interaction.update(lastTranslation, width, velocity);
        PageTransitionState expected = interaction.state;
        QCOMPARE(interaction.finish(predicted, width), commits);
        if (commits)
            expected.phase = PageTransitionPhase::animating;
        else
            expected = PageTransitionState::idle();
        QCOMPARE(interaction.state, expected);
    }

    void beginNeedsLeavesAndRest() {
        PageTurnInteraction interaction;
        QVERIFY(!interaction.begin(std::nullopt, leaf(1), PageTurnDirection::forward,
                                   PageTransitionMode::crossFade));
        QVERIFY(!interaction.begin(leaf(0), std::nullopt, PageTurnDirection::forward,
                                   PageTransitionMode::crossFade));
        QCOMPARE(interaction.state, PageTransitionState::idle());
        QVERIFY(interaction.begin(leaf(0), leaf(1), PageTurnDirection::forward,
                                  PageTransitionMode::crossFade));
        interaction.update(-40, 400, 0);
        const PageTransitionState dragged = interaction.state;
        QVERIFY(!interaction.begin(leaf(1), leaf(2), PageTurnDirection::forward,
                                   PageTransitionMode::physical));
        QCOMPARE(interaction.state, dragged);
    }

    void calendarMonth_data() {
        QTest::addColumn<QString>("day");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("firstDay");
        QTest::newRow("leap day") << "2024-02-29" << QByteArray("UTC") << "2024-02-01";
        QTest::newRow("end of year") << "2025-12-31" << QByteArray("UTC") << "2025-12-01";
        QTest::newRow("far east") << "2024-03-01" << QByteArray("Pacific/Kiritimati")
                                  << "2024-03-01";
        // Samoa skipped 2011-12-30 altogether; a key for it names no day there.
        QTest::newRow("skipped day") << "2011-12-30" << QByteArray("Pacific/Apia") << "2011-12-30";
    }

    void calendarMonth() {
        QFETCH(QString, day);
        QFETCH(QByteArray, zone);
        QFETCH(QString, firstDay);
        const GregorianCalendar calendar{QTimeZone(zone)};
        QCOMPARE(DiaryCalendarMonth::containing(*DayKey::fromRawValue(day), calendar).firstDay,
                 *DayKey::fromRawValue(firstDay));
    }
};

VELMORA_TEST_MAIN(PageTransitionTest)
#include "tst_pagetransition.moc"
