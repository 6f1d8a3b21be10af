#include "PageScreenFixture.h"

#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "ink/MacInkLibrary.h"
#include "pagescreen/LeafInkFeed.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "support/GuiTestMain.h"
#include "support/InkDrawings.h"

#include <QTemporaryDir>

using namespace velmora;
using namespace velmora::test;

namespace {

// The leaves of the table's Handwriting folder, by letter: a drawing, a drawing with no
// strokes, bytes that are no drawing, and a leaf with no file.
const QHash<QString, DayKey> leaves{{QStringLiteral("A"), day("2024-03-10")},
                                    {QStringLiteral("B"), day("2024-03-11")},
                                    {QStringLiteral("C"), day("2024-03-12")},
                                    {QStringLiteral("D"), day("2024-03-13")}};

// Made once: glyph outlines can change once the page has loaded its own fonts.
QByteArray drawing() {
    static const QByteArray bytes = handwrittenText({QStringLiteral("call the bakery")}).encode();
    return bytes;
}

struct InkFolder {
    QTemporaryDir dir;
    DiaryHandwritingStore store{dir.filePath(QStringLiteral("Handwriting"))};

    InkFolder() {
        store.write(drawing(), leaves[QStringLiteral("A")], 0);
        store.write(InkDrawing(QList<InkStroke>()).encode(), leaves[QStringLiteral("B")], 0);
        store.write(QByteArrayLiteral("{\"format\":"), leaves[QStringLiteral("C")], 0);
    }
};

// "A@48" is the leaf's request at line height 48; "none" no request.
std::optional<LeafInkRequest> request(const QString &word) {
    if (word == QLatin1String("none"))
        return std::nullopt;
    const QStringList parts = word.split(QLatin1Char('@'));
    return LeafInkRequest{leaves[parts.at(0)], 0, parts.at(1).toDouble(), MacInkLibrary::pageWidth};
}

// What an image is, in the table's words: "none", or the request whose rendering it equals.
QString describe(const QImage &ink) {
    if (ink.isNull())
        return QStringLiteral("none");
    for (const double lineHeight : {40.0, 48.0})
        if (ink == MacInkLibrary::render(drawing(), lineHeight, MacInkLibrary::pageWidth))
            return QStringLiteral("A@%1").arg(lineHeight);
    return QStringLiteral("other");
}

// Plays a script of steps on the feed: "A@40" shows a request and "none" none, "wait" waits
// for the answer, "reload" asks again, "draw:B" writes a drawing into B's file with a new time,
// "ahead:A@40+B@48" fetches those leaves ahead and "fetched" waits until they are. False, with
// the step, when a step fails.
bool play(const QString &script, LeafInkFeed &feed, InkFolder &folder) {
    for (const QString &step : script.split(QLatin1Char(' '))) {
        bool done = true;
        if (step == QLatin1String("wait")) {
            done = waitUntil([&] { return feed.isAnswered(); });
        } else if (step == QLatin1String("fetched")) {
            done = waitUntil([&] { return feed.isAheadFetched(); });
        } else if (step == QLatin1String("reload")) {
            feed.reload();
        } else if (step.startsWith(QLatin1String("draw:"))) {
            const DayKey leaf = leaves[step.mid(5)];
            folder.store.write(drawing(), leaf, 0);
            QFile file(folder.store.fileURL(leaf, 0));
            done = file.open(QIODevice::ReadWrite) &&
                   file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60),
                                    QFileDevice::FileModificationTime);
        } else if (step.startsWith(QLatin1String("ahead:"))) {
            QList<LeafInkRequest> ahead;
            for (const QString &word : step.mid(6).split(QLatin1Char('+'), Qt::SkipEmptyParts))
                ahead.append(*request(word));
            feed.fetchAhead(ahead);
        } else {
            feed.show(request(step));
        }
        if (!done) {
            qWarning() << "The step" << step << "failed";
            return false;
        }
    }
    return true;
}

// Returns once every answer the library owes has reached the GUI thread: its worker takes
// requests in turn, and a request's second step is handed over before a later one's is.
void drain(MacInkLibrary &library) {
    static int width = 100;
    for (int i = 0; i < 2; ++i)
        test::waitFor(library.image(leaves[QStringLiteral("A")], 0, 44, ++width));
}

// The library's drawings at the page's width, in the table's words ("A@40"), sorted.
QString drawnLeaves(const MacInkLibrary &library) {
    QStringList words;
    for (auto image = library.cache().cbegin(); image != library.cache().cend(); ++image) {
        const QStringList parts = image.key().split(QLatin1Char('#'));
        if (parts.at(4).toDouble() == MacInkLibrary::pageWidth)
            words.append(leaves.key(*DayKey::fromRawValue(parts.at(0))) + QLatin1Char('@') +
                         QString::number(parts.at(3).toDouble()));
    }
    words.sort();
    return words.join(QLatin1Char(' '));
}

bool shows(PageScreenFixture &f, const DayKey &key) {
    return waitUntil([&] {
        return f.session->selectedDay() == key && f.pages->selectedDescriptor() &&
               f.pages->selectedDescriptor()->dayKey == key &&
               f.pages->transition().phase == PageTransitionPhase::idle;
    });
}

} // namespace

class LeafInkTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // `script` is played as play() reads it; `delivered` is what the feed handed over.
    void answersOnlyTheLatestRequest_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("delivered");
        QTest::addColumn<bool>("withLibrary");
        QTest::newRow("a drawing") << "A@40"
                                   << "A@40" << true;
        QTest::newRow("no file clears") << "A@40 wait D@40"
                                        << "A@40 none" << true;
        QTest::newRow("no strokes clears") << "A@40 wait B@40"
                                           << "A@40 none" << true;
        QTest::newRow("undecodable clears") << "A@40 wait C@40"
                                            << "A@40 none" << true;
        QTest::newRow("no leaf clears") << "A@40 wait none"
                                        << "A@40 none" << true;
        QTest::newRow("stale leaf dropped") << "A@40 D@40"
                                            << "" << true;
        QTest::newRow("stale leaf dropped, back again") << "A@40 D@40 A@40"
                                                        << "A@40" << true;
        QTest::newRow("stale size dropped") << "A@40 A@48"
                                            << "A@48" << true;
        QTest::newRow("new size keeps ink until drawn") << "A@40 wait A@48"
                                                        << "A@40 A@48" << true;
        QTest::newRow("same request asks once") << "A@40 wait A@40 wait"
                                                << "A@40" << true;
        QTest::newRow("changed file after reload") << "B@40 wait draw:B reload"
                                                   << "A@40" << true;
        QTest::newRow("unchanged without reload") << "B@40 wait draw:B"
                                                  << "" << true;
        QTest::newRow("no library") << "A@40"
                                    << "" << false;
    }

    void answersOnlyTheLatestRequest() {
        QFETCH(QString, script);
        QFETCH(QString, delivered);
        QFETCH(bool, withLibrary);
        InkFolder folder;
        MacInkLibrary library(folder.store);
        QStringList deliveries;
        LeafInkFeed feed([&](const QImage &ink) { deliveries.append(describe(ink)); });
        if (withLibrary)
            feed.setLibrary(&library);

        QVERIFY(play(script, feed, folder));
        if (withLibrary && feed.request())
            QVERIFY(waitUntil([&] { return feed.isAnswered(); }));
        drain(library);

        QCOMPARE(deliveries.join(QLatin1Char(' ')), delivered);
        QCOMPARE(describe(feed.ink()),
                 deliveries.isEmpty() ? QStringLiteral("none") : deliveries.constLast());
    }

    // `script` is played as play() reads it. `atOnce` is the ink right after the last step;
    // `known` what the feed knows of each request once all is answered; `drawn` what the library
    // drew.
    void fetchesAheadTheLeavesATurnReaches_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("atOnce");
        QTest::addColumn<QString>("known");
        QTest::addColumn<QString>("drawn");
        QTest::newRow("after the shown leaf") << "D@40 ahead:A@40+B@40"
                                              << "none"
                                              << "A@40=A@40 B@40=none D@40=none"
                                              << "A@40";
        QTest::newRow("a leaf fetched ahead shows at once") << "D@40 ahead:A@40 fetched A@40"
                                                            << "A@40"
                                                            << "A@40=A@40"
                                                            << "A@40";
        QTest::newRow("a leaf not fetched ahead waits") << "D@40 wait A@40"
                                                        << "none"
                                                        << "A@40=A@40"
                                                        << "A@40";
        QTest::newRow("another size is not the leaf") << "D@40 ahead:A@48 fetched A@40"
                                                      << "none"
                                                      << "A@40=A@40 A@48=A@48"
                                                      << "A@40 A@48";
        QTest::newRow("an earlier list's answer is dropped") << "ahead:A@40 ahead:A@48"
                                                             << "none"
                                                             << "A@40=none A@48=A@48"
                                                             << "A@40 A@48";
        QTest::newRow("an earlier list's other leaves are not fetched")
            << "ahead:B@40+A@40 ahead:A@48"
            << "none"
            << "A@40=none A@48=A@48"
            << "A@48";
        QTest::newRow("fetched again after a reload") << "ahead:B@40 fetched draw:B reload"
                                                      << "none"
                                                      << "B@40=A@40"
                                                      << "B@40";
    }

    void fetchesAheadTheLeavesATurnReaches() {
        QFETCH(QString, script);
        QFETCH(QString, atOnce);
        QFETCH(QString, known);
        QFETCH(QString, drawn);
        InkFolder folder;
        MacInkLibrary library(folder.store);
        LeafInkFeed feed(nullptr);
        feed.setLibrary(&library);

        QVERIFY(play(script, feed, folder));
        QCOMPARE(describe(feed.ink()), atOnce);

        QVERIFY(waitUntil(
            [&] { return (!feed.request() || feed.isAnswered()) && feed.isAheadFetched(); }));
        QCOMPARE(drawnLeaves(library), drawn);
        QStringList knownInk;
        for (const QString &word : known.split(QLatin1Char(' ')))
            knownInk.append(
                word.section(QLatin1Char('='), 0, 0) + QLatin1Char('=') +
                describe(feed.knownInk(*request(word.section(QLatin1Char('='), 0, 0)))));
        QCOMPARE(knownInk.join(QLatin1Char(' ')), known);
    }

    // The leaf a turn into the day before lands on, its last, is fetched ahead for the turn's
    // picture at that day's own size, once the day is read and laid out off the GUI thread;
    // while it is read nothing is fetched for it. `ahead` is the leaf asked for ("last@40": the
    // day's last leaf at line height 40); the next day, without an entry, has nothing to draw.
    // The reading scale is 1.25.
    void fetchesAheadTheLeafABackwardTurnLandsOn_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<double>("size");
        QTest::addColumn<bool>("heldReads");
        QTest::addColumn<QString>("ahead");
        QTest::addColumn<bool>("severalLeaves");
        QTest::newRow("a day of several leaves") << 80 << 16.0 << false << "last@40" << true;
        QTest::newRow("a day of one leaf, at its size") << 1 << 24.0 << false << "last@48" << false;
        QTest::newRow("a day still being read") << 80 << 16.0 << true << "last@40" << true;
    }

    void fetchesAheadTheLeafABackwardTurnLandsOn() {
        QFETCH(int, lines);
        QFETCH(double, size);
        QFETCH(bool, heldReads);
        QFETCH(QString, ahead);
        QFETCH(bool, severalLeaves);
        PageScreenFixture f;
        InkFolder folder;
        const DayKey previous = day("2024-03-10");
        const DayKey source = day("2024-03-11");
        QStringList text;
        for (int line = 1; line <= lines; ++line)
            text.append(QStringLiteral("Line %1 of the day before.").arg(line));
        const DiaryEntryDTO written =
            test::waitFor(
                f.store.repository->save(draft("2024-03-10", text.join(QLatin1Char('\n')), size),
                                         std::nullopt, 1))
                .entry;
        test::waitFor(f.store.repository->seal(written.id, written.revision));
        f.seed("2024-03-11", QStringLiteral("A few words."), true);
        // Leaves grow with the reading scale: 24 points is 30 on the leaf, at lines of 48.
        f.settings->setReadingScale(1.25);
        // Whichever leaf the turn lands on has a drawing: only fetching that one shows it at once.
        for (qint64 leaf = 0; leaf < 8; ++leaf)
            folder.store.write(drawing(), previous, leaf);
        MacInkLibrary library(folder.store);
        auto owned = std::make_unique<VuzIvoduPageWidget>(*f.session, *f.pages, f.router,
                                                          *f.settings, PageScreenFixture::timings);
        VuzIvoduPageWidget &widget = *owned;
        const auto settle = qScopeGuard([&] {
            f.repository->heldReads.reset();
            owned.reset();
            drain(library);
        });
        widget.setInkLibrary(&library);
        widget.show();
        QVERIFY(shows(f, PageScreenFixture::today));
        if (heldReads)
            f.repository->heldReads = previous;
        widget.controller().navigate(source);
        QVERIFY(shows(f, source));
        const auto fetchedAhead = [&] {
            QStringList words;
            for (const LeafInkRequest &request : widget.readingInk()->aheadRequests())
                words.append(request.day.rawValue() + QLatin1Char('#') +
                             QString::number(request.leaf) + QLatin1Char('@') +
                             QString::number(request.lineHeight));
            return words.join(QLatin1Char(' '));
        };
        if (heldReads) {
            QVERIFY(waitUntil([&] {
                return widget.editorInk()->isAheadFetched() &&
                       widget.readingInk()->isAheadFetched();
            }));
            QCOMPARE(fetchedAhead(), QString());
            QVERIFY(!widget.isNeighbourInkFetched());
            f.repository->heldReads.reset();
        }
        QVERIFY(waitUntil([&] { return widget.isNeighbourInkFetched(); }));
        const QString fetched = fetchedAhead();

        QString inkAtOnce;
        connect(f.pages.get(), &DiaryPageSystemStore::transitionChanged, &widget,
                [&](const PageTransitionState &turn) {
                    if (turn.phase == PageTransitionPhase::animating && turn.target &&
                        turn.target->dayKey == previous && inkAtOnce.isEmpty())
                        inkAtOnce = describe(widget.readingLeaf()->textView()->ink());
                });
        widget.controller().turnToPreviousPage();
        QVERIFY(shows(f, previous));
        const PageDescriptor arrived = *f.pages->selectedDescriptor();
        QCOMPARE(arrived.leafCount > 1, severalLeaves);
        QCOMPARE(arrived.leafIndex, arrived.leafCount - 1);
        const QString last = QStringLiteral("2024-03-10#%1").arg(arrived.leafIndex);
        QCOMPARE(fetched, QString(ahead).replace(QStringLiteral("last"), last));
        QCOMPARE(inkAtOnce, QStringLiteral("A@%1").arg(ahead.section(QLatin1Char('@'), 1)));
    }

    // A turn cannot wait for the disk: the leaf it turns to has its ink from the moment the turn
    // begins, fetched while the page before it was shown, both on the leaf and in the picture
    // the turn draws of it.
    void aTurnsArrivingLeafHasItsInkAtOnce_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("sealed");
        QTest::newRow("forward to a sealed day") << "2024-03-10"
                                                 << "2024-03-11" << true;
        QTest::newRow("backward to a sealed day") << "2024-03-11"
                                                  << "2024-03-10" << true;
        QTest::newRow("forward to a written day") << "2024-03-12"
                                                  << "2024-03-13" << false;
    }

    void aTurnsArrivingLeafHasItsInkAtOnce() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, sealed);
        PageScreenFixture f;
        InkFolder folder;
        const DayKey source = day(qPrintable(from));
        const DayKey target = day(qPrintable(to));
        folder.store.write(drawing(), target, 0);
        for (const DayKey &key : {source, target})
            f.seed(qPrintable(key.rawValue()), QStringLiteral("A few words."), sealed);
        MacInkLibrary library(folder.store);
        auto owned = std::make_unique<VuzIvoduPageWidget>(*f.session, *f.pages, f.router,
                                                          *f.settings, PageScreenFixture::timings);
        VuzIvoduPageWidget &widget = *owned;
        const auto settle = qScopeGuard([&] {
            owned.reset();
            drain(library);
        });
        widget.setInkLibrary(&library);
        widget.show();
        QVERIFY(shows(f, PageScreenFixture::today));
        widget.controller().navigate(source);
        QVERIFY(shows(f, source));
        QVERIFY(waitUntil([&] { return widget.isNeighbourInkFetched(); }));

        QString inkAtOnce;
        QImage picture;
        connect(f.pages.get(), &DiaryPageSystemStore::transitionChanged, &widget,
                [&](const PageTransitionState &turn) {
                    if (turn.phase != PageTransitionPhase::animating || !turn.target ||
                        turn.target->dayKey != target || !picture.isNull())
                        return;
                    picture = widget.leafPicture(*turn.target).toImage();
                    inkAtOnce = describe(sealed ? widget.readingLeaf()->textView()->ink()
                                                : widget.editor()->ink());
                });
        if (target > source)
            widget.controller().turnToNextPage();
        else
            widget.controller().turnToPreviousPage();
        QVERIFY(shows(f, target));
        QCOMPARE(inkAtOnce, QStringLiteral("A@40"));
        const PageDescriptor arrived = *f.pages->selectedDescriptor();
        QCOMPARE(picture, widget.leafPicture(arrived).toImage());
        widget.setInkLibrary(nullptr);
        QVERIFY(picture != widget.leafPicture(arrived).toImage());
    }

    // The open book asks for the ink of the day it shows, at the editor's line height, and for
    // the sealed leaf's ink at the leaf's own.
    void pageShowsTheInkOfTheShownDay() {
        PageScreenFixture f;
        InkFolder folder;
        const DayKey today = PageScreenFixture::today;
        folder.store.write(drawing(), today, 0);
        const DiaryEntryDTO written =
            test::waitFor(
                f.store.repository->save(draft("2024-03-10", QStringLiteral("Sealed words."), 24),
                                         std::nullopt, 1))
                .entry;
        test::waitFor(f.store.repository->seal(written.id, written.revision));
        MacInkLibrary library(folder.store);
        auto owned = std::make_unique<VuzIvoduPageWidget>(*f.session, *f.pages, f.router,
                                                          *f.settings, PageScreenFixture::timings);
        VuzIvoduPageWidget &widget = *owned;
        const auto settle = qScopeGuard([&] {
            owned.reset();
            drain(library);
        });
        widget.setInkLibrary(&library);
        widget.show();
        const auto shown = [&](const DayKey &key) {
            return waitUntil([&] {
                return f.session->selectedDay() == key && f.pages->selectedDescriptor() &&
                       f.pages->selectedDescriptor()->dayKey == key &&
                       f.pages->transition().phase == PageTransitionPhase::idle;
            });
        };
        QVERIFY(shown(today));
        QVERIFY(waitUntil([&] { return describe(widget.editor()->ink()) == "A@40"; }));

        // Another day without handwriting clears the editor's ink.
        widget.controller().navigate(day("2024-03-13"));
        QVERIFY(shown(day("2024-03-13")));
        QVERIFY(waitUntil([&] { return widget.editor()->ink().isNull(); }));

        // A sealed day's leaf shows its own ink once it arrives.
        folder.store.write(drawing(), day("2024-03-10"), 0);
        widget.controller().navigate(day("2024-03-10"));
        QVERIFY(shown(day("2024-03-10")));
        QVERIFY(waitUntil([&] {
            return widget.readingLeaf()->isVisible() &&
                   describe(widget.readingLeaf()->textView()->ink()) == "A@40";
        }));
        QCOMPARE(widget.readingLeaf()->textView()->accessibleName(), QStringLiteral("Diary page"));

        // A larger reading scale: the ink grows with the leaf's ruled lines (24 × 1.25 × 1.6).
        f.settings->setReadingScale(1.25);
        QVERIFY(
            waitUntil([&] { return describe(widget.readingLeaf()->textView()->ink()) == "A@48"; }));

        // Handwriting synced for the open day is drawn without reopening the page.
        widget.controller().navigate(day("2024-03-13"));
        QVERIFY(shown(day("2024-03-13")));
        folder.store.write(drawing(), day("2024-03-13"), 0);
        widget.controller().handleCloudSyncChange();
        QVERIFY(waitUntil([&] { return !widget.editor()->ink().isNull(); }));
        QVERIFY(widget.readingLeaf()->textView()->ink().isNull() ||
                !widget.readingLeaf()->isVisible());
    }
};

VELMORA_GUI_TEST_MAIN(LeafInkTest)
#include "tst_leafink.moc"
