#include "PageScreenFixture.h"

#include "book/DiaryRibbonBookmark.h"
#include "book/DiarySavedNote.h"
#include "book/MacBookBinding.h"
#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "book/MacTextures.h"
#include "book/PaperSealRitualView.h"
#include "pagescreen/MacPageTools.h"
#include "pagescreen/MacPageTurnView.h"
#include "pagescreen/PageLoadingLeaf.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "support/GuiTestMain.h"
#include "support/Screenshots.h"

#include <QVariantAnimation>

using namespace velmora;
using namespace velmora::test;

namespace {

using Curve = VuzIvoduPageAnimation::Curve;

// One change of an overlay as the page announced it, with the animation it asked for.
struct Change {
    QString overlay;
    bool shown;
    Curve curve;
    qint64 milliseconds;

    friend bool operator==(const Change &, const Change &) = default;
};

QDebug operator<<(QDebug debug, const Change &change) {
    return debug << change.overlay << change.shown << int(change.curve) << change.milliseconds;
}

// Every change of the saved note and the seal card, in order.
QList<Change> *recordChanges(VuzIvoduPageView &page, QObject *context) {
    auto *changes = new QList<Change>;
    QObject::connect(context, &QObject::destroyed, [changes] { delete changes; });
    const auto record = [changes, &page](const QString &overlay, bool shown,
                                         const VuzIvoduPageAnimation &animation) {
        changes->append({overlay, shown, animation.curve, qint64(animation.duration.count())});
    };
    QObject::connect(
        &page, &VuzIvoduPageView::showSavedNoteChanged, context,
        [&page, record](bool s) { record(QStringLiteral("note"), s, page.savedNoteAnimation()); });
    QObject::connect(&page, &VuzIvoduPageView::showSealConfirmationChanged, context,
                     [&page, record](bool s) {
                         record(QStringLiteral("confirm"), s, page.sealCardAnimation());
                     });
    QObject::connect(
        &page, &VuzIvoduPageView::showSealAcknowledgementChanged, context,
        [&page, record](bool s) { record(QStringLiteral("sealed"), s, page.sealCardAnimation()); });
    return changes;
}

const qint64 springSettles = VuzIvoduPageAnimation::spring(0.42, 0.8, 1).duration.count();

// The open book on screen over the fixture's store; animations stretched by `scale`.
struct Book {
    explicit Book(double scale, std::chrono::nanoseconds noteHold = 150ms,
                  std::chrono::nanoseconds sealHold = 150ms) {
        VuzIvoduPageTimings timings = PageScreenFixture::timings;
        timings.animationScale = scale;
        timings.savedNote = timings.savedNoteReducedMotion = noteHold;
        timings.sealAcknowledgement = sealHold;
        widget = std::make_unique<VuzIvoduPageWidget>(*f.session, *f.pages, f.router, *f.settings,
                                                      timings);
    }
    ~Book() { widget.reset(); }

    bool open() {
        widget->show();
        return waitUntil([&] {
                   return f.pages->selectedDescriptor() &&
                          f.pages->selectedDescriptor()->dayKey == PageScreenFixture::today &&
                          widget->editor()->isVisible();
               }) &&
               settle();
    }

    // Opening replaces the leaf the page system started with; that fade is not what tests
    // look at, so it ends at once.
    bool settle() {
        QVariantAnimation *fade = widget->leafFade()->animation();
        fade->setCurrentTime(fade->duration());
        return !widget->leafFade()->isVisible();
    }

    bool write(const QString &text) {
        widget->controller().setEntryTextFromEditor(text);
        return waitUntil([&] { return f.stored(PageScreenFixture::today).has_value(); });
    }

    ScopedLocale locale{QStringLiteral("en_US")};
    PageScreenFixture f;
    std::unique_ptr<VuzIvoduPageWidget> widget;
};

// How a motion layer and its widget stand at one moment.
struct Look {
    bool layer;
    bool widget;
    double progress;
};

Look look(const PageOverlayMotion *motion, const QWidget *widget) {
    return {motion->isVisible(), widget->isVisible(), motion->progress()};
}

} // namespace

class PageMotionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void easedProgress_data() {
        QTest::addColumn<int>("curve");
        QTest::addColumn<double>("share");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("none is at its end") << int(Curve::none) << 0.0 << 1.0 << 1.0;
        QTest::newRow("ease-in starts slowly") << int(Curve::easeIn) << 0.5 << 0.25 << 0.35;
        QTest::newRow("ease-out starts quickly") << int(Curve::easeOut) << 0.5 << 0.65 << 0.75;
        QTest::newRow("ease-in-out is symmetric") << int(Curve::easeInOut) << 0.5 << 0.499 << 0.501;
        QTest::newRow("ease-in-out starts") << int(Curve::easeInOut) << 0.0 << 0.0 << 0.0;
        QTest::newRow("the spring starts at rest") << int(Curve::spring) << 0.0 << 0.0 << 0.0;
        QTest::newRow("the spring overshoots") << int(Curve::spring) << 0.56 << 1.005 << 1.03;
        QTest::newRow("the spring has settled") << int(Curve::spring) << 1.0 << 1.0 << 1.0;
        QTest::newRow("past the end") << int(Curve::easeIn) << 1.5 << 1.0 << 1.0;
    }

    void easedProgress() {
        QFETCH(int, curve);
        QFETCH(double, share);
        QFETCH(double, low);
        QFETCH(double, high);
        const auto animation = Curve(curve) == Curve::spring
                                   ? VuzIvoduPageAnimation::spring(0.42, 0.8, 1)
                                   : VuzIvoduPageAnimation::eased(Curve(curve), 0.28, 1);
        const double value = animation.progress(share);
        QVERIFY2(value >= low - 1e-9 && value <= high + 1e-9, qPrintable(QString::number(value)));
    }

    void durationsFollowTheScale() {
        QCOMPARE(VuzIvoduPageAnimation::eased(Curve::easeOut, 0.28, 1).duration.count(), 280);
        QCOMPARE(VuzIvoduPageAnimation::eased(Curve::easeOut, 0.28, 0.5).duration.count(), 140);
        // A spring of response 0.42 and damping 0.8 settles after about 0.6 s.
        QVERIFY(springSettles > 550 && springSettles < 700);
        QVERIFY(!VuzIvoduPageAnimation().isAnimated());
        QVERIFY(!VuzIvoduPageAnimation::eased(Curve::easeIn, 0.28, 0).isAnimated());
    }

    void overlaysCarryTheirAnimations_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QList<Change>>("expected");
        const auto change = [](const char *overlay, bool shown, Curve curve, qint64 ms) {
            return Change{QString::fromLatin1(overlay), shown, curve, ms};
        };
        QTest::newRow("save: the note springs in and eases out")
            << "save"
            << QList<Change>{change("note", true, Curve::spring, springSettles),
                             change("note", false, Curve::easeOut, 250)};
        QTest::newRow("the seal command shows the card at once, Keep Writing eases it out")
            << "seal, cancel"
            << QList<Change>{change("confirm", true, Curve::none, 0),
                             change("confirm", false, Curve::easeOut, 280)};
        QTest::newRow("Escape eases the card out as Keep Writing does")
            << "seal, escape"
            << QList<Change>{change("confirm", true, Curve::none, 0),
                             change("confirm", false, Curve::easeOut, 280)};
        QTest::newRow("Seal Page removes the card at once; the acknowledgement eases in and out")
            << "seal, confirm"
            << QList<Change>{change("confirm", true, Curve::none, 0),
                             change("confirm", false, Curve::none, 0),
                             change("sealed", true, Curve::easeOut, 280),
                             change("sealed", false, Curve::easeIn, 280)};
    }

    void overlaysCarryTheirAnimations() {
        QFETCH(QString, script);
        QFETCH(QList<Change>, expected);
        PageScreenFixture f;
        QVERIFY(f.open());
        f.page->setEntryTextFromEditor(QStringLiteral("A page to keep."));
        QVERIFY(f.settled());
        QObject context;
        const QList<Change> *changes = recordChanges(*f.page, &context);
        for (const QString &step : script.split(QStringLiteral(", "))) {
            if (step == QStringLiteral("save"))
                f.page->handleCommand(DiaryCommand::save);
            else if (step == QStringLiteral("seal"))
                f.page->handleCommand(DiaryCommand::seal);
            else if (step == QStringLiteral("cancel"))
                f.page->hideSealConfirmation();
            else if (step == QStringLiteral("escape"))
                f.page->handleEscape();
            else if (step == QStringLiteral("confirm"))
                f.page->confirmSeal();
        }
        QVERIFY(waitUntil([&] { return changes->size() >= expected.size(); }));
        QTest::qWait(30);
        QCOMPARE(*changes, expected);
    }

    void leafChangesCrossFadeOnlyInPhysicalMotion_data() {
        QTest::addColumn<bool>("reduce");
        QTest::addColumn<int>("curve");
        QTest::addColumn<qint64>("milliseconds");
        QTest::newRow("physical") << false << int(Curve::easeInOut) << qint64(180);
        QTest::newRow("reduced motion") << true << int(Curve::none) << qint64(0);
    }

    void leafChangesCrossFadeOnlyInPhysicalMotion() {
        QFETCH(bool, reduce);
        QFETCH(int, curve);
        QFETCH(qint64, milliseconds);
        PageScreenFixture f;
        f.page->setSystemReduceMotion(reduce);
        const VuzIvoduPageAnimation animation = f.page->leafChangeAnimation();
        QCOMPARE(int(animation.curve), curve);
        QCOMPARE(qint64(animation.duration.count()), milliseconds);
    }

    // The script of a save on screen: the note comes from nothing to its full size, stays, and
    // goes; the layer that moves it is there only while it moves. Each motion is moved by hand
    // the moment it starts, early into it and then to its end, so no look waits on the frames.
    void theSavedNoteComesAndGoes() {
        Book book(0.25);
        QVERIFY(book.open());
        QVERIFY(book.write(QStringLiteral("Bread, rain, the long way home.")));
        PageOverlayMotion *motion = book.widget->savedNoteMotion();
        QVariantAnimation *animation = motion->animation();
        struct Seen {
            bool shown;
            qint64 milliseconds;
            QList<Look> looks; // as it starts, early into it, at its end
        };
        QList<Seen> changes;
        connect(&book.widget->controller(), &VuzIvoduPageView::showSavedNoteChanged,
                book.widget.get(), [&](bool shown) {
                    Seen seen{shown, animation->duration(), {}};
                    for (const double share : {0.0, 0.15, 1.0}) {
                        animation->setCurrentTime(int(animation->duration() * share));
                        seen.looks.append(look(motion, book.widget->savedNote()));
                    }
                    changes.append(seen);
                });
        book.f.router.send(DiaryCommand::save);
        QVERIFY(waitUntil([&] { return changes.size() == 2; }));
        const auto &[shown, springs, coming] = changes.at(0);
        QVERIFY(shown);
        QCOMPARE(springs, VuzIvoduPageAnimation::spring(0.42, 0.8, 0.25).duration.count());
        QVERIFY(coming.at(0).layer && !coming.at(0).widget);
        QCOMPARE(coming.at(0).progress, 0.0);
        QVERIFY(coming.at(1).layer && !coming.at(1).widget);
        QVERIFY(coming.at(1).progress > 0.3 && coming.at(1).progress < 0.7);
        QVERIFY(!coming.at(2).layer && coming.at(2).widget);
        QCOMPARE(coming.at(2).progress, 1.0);
        // It goes from where it stood, at its full size.
        const auto &[hidden, eases, going] = changes.at(1);
        QVERIFY(!hidden);
        QCOMPARE(eases, VuzIvoduPageAnimation::eased(Curve::easeOut, 0.25, 0.25).duration.count());
        QVERIFY(going.at(0).layer && !going.at(0).widget);
        QCOMPARE(going.at(0).progress, 1.0);
        QVERIFY(going.at(1).layer && !going.at(1).widget);
        QVERIFY(going.at(1).progress > 0 && going.at(1).progress < 1);
        QVERIFY(!going.at(2).layer && !going.at(2).widget);
        QCOMPARE(going.at(2).progress, 0.0);
        QVERIFY(!motion->isVisible());
        QVERIFY(!book.widget->savedNote()->isVisible());
    }

    void theSealCardComesAndGoes() {
        Book book(0.25);
        QVERIFY(book.open());
        QVERIFY(book.write(QStringLiteral("A day worth keeping.")));
        PaperSealRitualView *card = book.widget->sealCard();
        PageOverlayMotion *motion = book.widget->sealCardMotion();

        // Shown by the command without animation; Escape takes it away gently.
        book.f.router.send(DiaryCommand::seal);
        QVERIFY(waitUntil([&] { return card->isVisible(); }));
        QVERIFY(!motion->isVisible());
        book.widget->controller().handleEscape();
        QVERIFY(motion->isVisible());
        QVERIFY(!card->isVisible());
        QVERIFY(waitUntil([&] { return !motion->isVisible(); }));
        QVERIFY(!card->isVisible());

        // Sealing: the confirmation goes at once, the acknowledgement eases in, then out.
        book.f.router.send(DiaryCommand::seal);
        QVERIFY(waitUntil([&] { return card->isVisible(); }));
        QList<Look> looks;
        connect(&book.widget->controller(), &VuzIvoduPageView::showSealAcknowledgementChanged,
                book.widget.get(), [&] { looks.append(look(motion, card)); });
        book.widget->controller().confirmSeal();
        QVERIFY(!card->isVisible());
        QVERIFY(!motion->isVisible());
        QVERIFY(waitUntil([&] { return looks.size() == 1; }));
        QVERIFY(looks.at(0).layer && !looks.at(0).widget);
        QCOMPARE(card->mode(), PaperSealRitualView::Mode::acknowledgement);
        QVERIFY(waitUntil([&] { return looks.size() == 2; }));
        QVERIFY(waitUntil([&] { return !motion->isVisible(); }));
        QVERIFY(!card->isVisible());
        QVERIFY(book.f.stored(PageScreenFixture::today)->isSealed());
    }

    void aTurnFadesTheOldLeafOnlyInPhysicalMotion_data() {
        QTest::addColumn<bool>("reduce");
        QTest::newRow("physical") << false;
        QTest::newRow("reduced motion") << true;
    }

    void aTurnFadesTheOldLeafOnlyInPhysicalMotion() {
        QFETCH(bool, reduce);
        Book book(0.5);
        book.f.seed("2024-03-14", QStringLiteral("Thursday's page."));
        book.widget->setSystemReduceMotion(reduce);
        QVERIFY(book.open());
        PageOverlayMotion *fade = book.widget->leafFade();
        QVERIFY(book.settle());
        int fades = 0;
        connect(fade->animation(), &QVariantAnimation::stateChanged, book.widget.get(),
                [&](QAbstractAnimation::State state) {
                    fades += state == QAbstractAnimation::Running;
                });
        book.widget->controller().turnToPreviousPage();
        QVERIFY(waitUntil([&] {
            return book.f.session->selectedDay() == day("2024-03-14") &&
                   book.f.pages->transition() == PageTransitionState::idle();
        }));
        QVERIFY(waitUntil([&] { return !fade->isVisible(); }));
        // Reduced motion never fades; a slow store may show the new date a moment before the
        // new leaf, and each change fades.
        QCOMPARE(fades > 0, !reduce);
        QCOMPARE(book.widget->editor()->text(), QStringLiteral("Thursday's page."));
    }

    // Turning away from today slides the ribbon down from the top edge; today slides it away.
    void theRibbonSlidesWithTheDay() {
        Book book(0.25);
        QVERIFY(book.open());
        DiaryRibbonBookmark *ribbon = book.widget->tools()->ribbon();
        auto *motion = book.widget->tools()->findChild<PageOverlayMotion *>();
        QVERIFY(motion);
        QCOMPARE(book.widget->controller().ribbonAnimation(),
                 VuzIvoduPageAnimation::eased(Curve::easeOut, 0.25, 0.25));
        QVERIFY(waitUntil([&] { return !motion->isVisible() && !ribbon->isVisible(); }));
        QList<Look> looks;
        // Looked at as each slide starts: the navigation moves the ribbon before the day changes.
        connect(motion->animation(), &QVariantAnimation::stateChanged, book.widget.get(),
                [&](QAbstractAnimation::State state) {
                    if (state == QAbstractAnimation::Running)
                        looks.append(look(motion, ribbon));
                });
        book.widget->controller().turnToNextPage();
        QVERIFY(waitUntil([&] { return looks.size() == 1; }));
        QVERIFY(looks.at(0).layer && !looks.at(0).widget);
        QVERIFY(looks.at(0).progress < 0.5);
        QVERIFY(waitUntil([&] { return ribbon->isVisible() && !motion->isVisible(); }));
        book.widget->controller().goToToday();
        QVERIFY(waitUntil([&] { return looks.size() == 2; }));
        QVERIFY(looks.at(1).layer && !looks.at(1).widget);
        QVERIFY(waitUntil([&] { return !ribbon->isVisible() && !motion->isVisible(); }));
    }

    // Each refresh of the leaf used to add another binding to the spread.
    void theSpreadKeepsOneBinding() {
        Book book(0.25);
        QVERIFY(book.open());
        QVERIFY(book.write(QStringLiteral("One.")));
        book.widget->controller().handleCommand(DiaryCommand::save);
        book.widget->controller().turnToNextPage();
        QVERIFY(waitUntil([&] { return book.f.session->selectedDay() == day("2024-03-16"); }));
        QCOMPARE(book.widget->findChildren<MacBookBinding *>().size(), 1);
    }

    // Paper with a small indicator that turns while it is on screen and rests when it is not.
    void theLoadingLeafSpinsOnlyOnScreen() {
        QWidget page;
        page.resize(768, 1024);
        auto *leaf = new PageLoadingLeaf(&page);
        leaf->setGeometry(page.rect());
        QVERIFY(!leaf->isSpinning());
        page.show();
        QVERIFY(leaf->isSpinning());
        const int first = leaf->step();
        QVERIFY(waitUntil([&] { return leaf->step() != first; }));
        QVERIFY(saveScreenshot(grabWidget(&page), QStringLiteral("pagescreen-loading-leaf")));
        leaf->hide();
        QVERIFY(!leaf->isSpinning());
    }

    // Frames from the middle of each animation, paused where the screens look.
    void midAnimationScreens() {
        // The note and the card stay far longer than the test looks at them.
        Book book(1, 60s, 60s);
        QVERIFY(book.open());
        QVERIFY(book.write(QStringLiteral("The market smelled of oranges and rain.")));
        // Where each motion is about halfway: a spring does most of its travel early.
        const auto pauseHalfway = [](PageOverlayMotion *motion, double share) {
            QVariantAnimation *animation = motion->animation();
            animation->pause();
            animation->setCurrentTime(int(animation->duration() * share));
        };
        connect(&book.widget->controller(), &VuzIvoduPageView::showSavedNoteChanged,
                book.widget.get(), [&](bool shown) {
                    if (shown)
                        pauseHalfway(book.widget->savedNoteMotion(), 0.15);
                });
        book.f.router.send(DiaryCommand::save);
        QVERIFY(waitUntil([&] { return book.widget->savedNoteMotion()->isVisible(); }));
        QVERIFY(book.widget->savedNoteMotion()->progress() > 0.3);
        QVERIFY(book.widget->savedNoteMotion()->progress() < 0.7);
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(grabWidget(book.widget.get()),
                               QStringLiteral("pagescreen-motion-saved-note")));
        book.widget->savedNoteMotion()->animation()->setCurrentTime(
            book.widget->savedNoteMotion()->animation()->duration());
        QVERIFY(book.widget->savedNote()->isVisible());

        connect(&book.widget->controller(), &VuzIvoduPageView::showSealAcknowledgementChanged,
                book.widget.get(), [&](bool shown) {
                    if (shown)
                        pauseHalfway(book.widget->sealCardMotion(), 0.5);
                });
        book.f.router.send(DiaryCommand::seal);
        QVERIFY(waitUntil([&] { return book.widget->sealCard()->isVisible(); }));
        // The note still showing made way for the card at once.
        QVERIFY(!book.widget->savedNote()->isVisible());
        QVERIFY(!book.widget->savedNoteMotion()->isVisible());
        book.widget->controller().confirmSeal();
        QVERIFY(waitUntil([&] { return book.widget->sealCardMotion()->isVisible(); }));
        QVERIFY(waitUntil([&] { return book.widget->readingLeaf()->isVisible(); }));
        QVERIFY(book.settle());
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(grabWidget(book.widget.get()),
                               QStringLiteral("pagescreen-motion-seal-acknowledgement")));
    }

    void midLeafFadeScreen() {
        Book book(1);
        book.f.seed("2024-03-14", QStringLiteral("Thursday: a letter came from the coast."));
        QVERIFY(book.open());
        QVERIFY(book.write(QStringLiteral("Friday, early. The kettle and the radio.")));
        PageOverlayMotion *fade = book.widget->leafFade();
        QVERIFY(book.settle());
        // Held halfway the moment it starts, where the picture is taken.
        connect(fade->animation(), &QVariantAnimation::stateChanged, book.widget.get(),
                [fade](QAbstractAnimation::State state) {
                    if (state != QAbstractAnimation::Running)
                        return;
                    fade->animation()->pause();
                    fade->animation()->setCurrentTime(fade->animation()->duration() / 2);
                });
        book.widget->controller().turnToPreviousPage();
        QVERIFY(waitUntil([&] { return fade->isVisible(); }));
        QVERIFY(waitUntil(
            [&] { return book.widget->editor()->text().startsWith(QStringLiteral("Thursday")); }));
        QVERIFY(fade->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(grabWidget(book.widget.get()),
                               QStringLiteral("pagescreen-motion-leaf-fade")));
        fade->animation()->setCurrentTime(fade->animation()->duration());
        QVERIFY(!fade->isVisible());
    }

    // A turn's pictures of the leaves share the paper the page shows: on a plain screen no
    // second paper, four times the size, is drawn and kept for them.
    void turnPicturesShareThePagesPaper() {
        clearTextureCache();
        Book book(1);
        const QString paragraph =
            QStringLiteral("The tide went out and left the harbour quiet and grey. ").repeated(3);
        book.f.seed("2024-03-10", (paragraph + QLatin1Char('\n')).repeated(40), true);
        QVERIFY(book.open());
        book.widget->controller().navigate(day("2024-03-10"));
        QVERIFY(waitUntil([&] {
            return book.f.pages->selectedDescriptor() &&
                   book.f.pages->selectedDescriptor()->dayKey == day("2024-03-10") &&
                   book.f.pages->descriptors().size() >= 2 &&
                   book.f.pages->transition() == PageTransitionState::idle();
        }));
        QVERIFY(book.settle());
        // Coming back from a later day opens the day on its last leaf; one leaf back is a turn.
        const qint64 last = book.f.pages->selectedLeafIndex();
        QVERIFY(last >= 1);
        book.widget->repaint();
        bool turned = false;
        book.widget->controller().turnToPreviousPage();
        QVERIFY(waitUntil([&] {
            turned = turned || book.widget->turnView()->isVisible();
            return book.f.pages->selectedLeafIndex() == last - 1 &&
                   book.f.pages->transition() == PageTransitionState::idle();
        }));
        QVERIFY(turned);
        const QStringList papers = textureCacheKeys().filter(QStringLiteral("paper-"));
        QVERIFY2(!papers.isEmpty() && papers.filter(QStringLiteral("@1x")) == papers,
                 qPrintable(papers.join(QStringLiteral(", "))));
    }
};

VELMORA_GUI_TEST_MAIN(PageMotionTest)
#include "tst_pagemotion.moc"
