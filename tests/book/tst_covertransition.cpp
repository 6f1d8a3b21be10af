#include "book/DiaryCoverTransition.h"
#include "support/TestSupport.h"

using namespace velmora;

class CoverTransitionTests : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void springIsLogicallyCompleteBeforeItSettles() {
        const DiaryCoverCurve spring = DiaryCoverCurve::spring(1.1, 0.9);
        QVERIFY(spring.logicalCompletion() > 0.9);
        QVERIFY(spring.logicalCompletion() < spring.settled());
        QVERIFY(spring.settled() < 2.0);
        // Within a hundredth of the way from the logical completion on, without overshooting far.
        for (double t = spring.logicalCompletion(); t < spring.settled(); t += 0.01)
            QVERIFY2(std::abs(1 - spring.value(t)) <= 0.01, qPrintable(QString::number(t)));
        QVERIFY(std::abs(1 - spring.value(spring.logicalCompletion() * 0.8)) > 0.01);
        QCOMPARE(spring.value(0), 0.0);
        QCOMPARE(spring.value(spring.settled()), 1.0);
    }

    void easeInOut() {
        const DiaryCoverCurve curve = DiaryCoverCurve::easeInOut(0.25);
        QCOMPARE(curve.logicalCompletion(), 0.25);
        QVERIFY(std::abs(curve.value(0.125) - 0.5) < 1e-6);
        QVERIFY(curve.value(0.025) < 0.02);
        QCOMPARE(curve.value(0.25), 1.0);
    }

    void looks_data() {
        QTest::addColumn<double>("progress");
        QTest::addColumn<double>("coverOpacity");
        QTest::addColumn<double>("pagesOpacity");
        QTest::addColumn<double>("angle");
        QTest::addColumn<double>("shadowAlpha");
        QTest::addColumn<double>("shadowRadius");
        QTest::addColumn<QPointF>("shadowOffset");
        QTest::newRow("closed") << 0.0 << 1.0 << 0.0 << 0.0 << 0.45 << 18.0 << QPointF(4, 10);
        QTest::newRow("pages half")
            << 0.325 << 1.0 << 0.5 << -37.375 << 0.3525 << 21.25 << QPointF(9.85, 10);
        QTest::newRow("cover half")
            << 0.65 << 0.5 << 1.0 << -74.75 << 0.255 << 24.5 << QPointF(15.7, 10);
        QTest::newRow("cover gone")
            << 0.8 << 0.0 << 1.0 << -92.0 << 0.21 << 26.0 << QPointF(18.4, 10);
        QTest::newRow("open") << 1.0 << 0.0 << 1.0 << -115.0 << 0.15 << 28.0 << QPointF(22, 10);
    }

    void looks() {
        QFETCH(double, progress);
        const CoverSwingLook look = coverSwing(progress);
        QTEST(look.opacity + 0.0, "coverOpacity");
        QFETCH(double, pagesOpacity);
        QVERIFY(qFuzzyCompare(1 + diaryReveal(progress), 1 + pagesOpacity));
        QFETCH(double, angle);
        QVERIFY(qFuzzyCompare(look.angleDegrees, angle) || (angle == 0 && look.angleDegrees == 0));
        QFETCH(double, shadowAlpha);
        QVERIFY(std::abs(look.shadowColor.alphaF() - shadowAlpha) < 0.005);
        QTEST(look.shadowRadius, "shadowRadius");
        QFETCH(QPointF, shadowOffset);
        QVERIFY(std::abs(look.shadowOffset.x() - shadowOffset.x()) < 1e-9);
    }

    // Opening springs (or eases for 0.25 s under reduced motion); closing the book eases in and
    // out over 0.75 s (0.25 s under reduced motion).
    void opensAndClosesOnScriptedTime_data() {
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<double>("closing");
        QTest::newRow("spring") << false << 0.75;
        QTest::newRow("reduced motion") << true << 0.25;
    }

    void opensAndClosesOnScriptedTime() {
        QFETCH(bool, reduceMotion);
        QFETCH(double, closing);
        double now = 10;
        DiaryCoverTransition stage(nullptr, [&] { return now; });
        stage.setReduceMotion(reduceMotion);
        const DiaryCoverCurve curve =
            reduceMotion ? DiaryCoverCurve::easeInOut() : DiaryCoverCurve::spring();
        QVERIFY(stage.coverTakesInput());
        QVERIFY(!stage.bookPresent());

        stage.openDiary();
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::opening);
        QVERIFY(stage.bookPresent() && stage.coverPresent());
        QVERIFY(!stage.coverTakesInput());
        now += curve.logicalCompletion() / 2;
        stage.step();
        QVERIFY(stage.progress() > 0.3 && stage.progress() < 1);
        stage.openDiary(); // ignored while it moves
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::opening);

        now += curve.logicalCompletion() / 2 + 0.001;
        stage.step();
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::open);
        QVERIFY(stage.showDiary());
        QVERIFY(!stage.isAnimating());
        QCOMPARE(stage.isMoving(), !reduceMotion); // a spring's tail still settles
        now += 1;
        stage.step();
        QCOMPARE(stage.progress(), 1.0);
        QVERIFY(!stage.coverPresent());
        stage.openDiary(); // ignored while open
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::open);

        stage.closeDiary();
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::closing);
        QVERIFY(!stage.showDiary() && stage.isAnimating());
        now += closing / 4;
        stage.step();
        QVERIFY(stage.progress() > 0.85 && stage.progress() < 0.95);
        now += closing / 4;
        stage.step();
        QVERIFY(std::abs(stage.progress() - 0.5) < 1e-6);
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::closing);
        now += closing / 2 + 0.001;
        stage.step();
        QCOMPARE(stage.phase(), DiaryCoverTransition::Phase::closed);
        QCOMPARE(stage.progress(), 0.0);
        QVERIFY(stage.coverTakesInput());
        QVERIFY(!stage.bookPresent());
    }

    void realFramesReachTheOpenBook() {
        DiaryCoverTransition stage;
        stage.setReduceMotion(true);
        stage.openDiary();
        QVERIFY(
            test::waitUntil([&] { return stage.phase() == DiaryCoverTransition::Phase::open; }));
    }
};

VELMORA_TEST_MAIN(CoverTransitionTests)
#include "tst_covertransition.moc"
