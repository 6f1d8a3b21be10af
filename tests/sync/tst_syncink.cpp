// The handwriting step over a real store, a real handwriting folder and a real sync folder, with
// the test tablet writing the drawings: which side's drawing each file ends with, the marks, the
// leaves reported, and the names, folders and files that must be left alone.
#include "support/SyncEngineFixture.h"

#include <QSignalSpy>

#include <fcntl.h>
#include <sys/stat.h>

using namespace velmora;
using namespace velmora::test;

namespace {

const DayKey march5 = SessionFixture::day("2024-03-05");
const DayKey march6 = SessionFixture::day("2024-03-06");
const QString leaf0 = QStringLiteral("2024-03-05-0.drawing");
const qint64 exchangedMs = QDateTime(QDate(2024, 3, 5), QTime(10, 0), Qt::UTC).toMSecsSinceEpoch();
const qint64 laterMs = exchangedMs + 3600 * 1000;

// Three drawings told apart by their strokes.
QByteArray drawing(int which) {
    CompanionStroke stroke;
    for (int i = 0; i <= which + 1; ++i)
        stroke.points.append({10.0 * i, 20.0 + which, 1});
    return TabletCompanion::encodeDrawing({stroke});
}
const QByteArray exchanged = drawing(0);
const QByteArray onComputer = drawing(1);
const QByteArray onTablet = drawing(2);

enum class Change { none, removed, same, changed };
using Reports = QList<QList<QPair<DayKey, qint64>>>;

struct InkFixture : SyncEngineFixture {
    Reports reported;

    InkFixture() {
        sync->onInkChanged = [this](const QList<QPair<DayKey, qint64>> &leaves) {
            reported.append(leaves);
        };
    }

    void writeLocal(const DayKey &day, qint64 leaf, const QByteArray &bytes, qint64 atMs) {
        handwriting->write(bytes, day, leaf);
        if (bytes.isEmpty())
            return;
        const timespec time{atMs / 1000, long(atMs % 1000) * 1000000};
        const timespec times[2] = {time, time};
        QCOMPARE(::utimensat(AT_FDCWD,
                             QFile::encodeName(handwriting->fileURL(day, leaf)).constData(), times,
                             0),
                 0);
    }
    void writeRemote(const QString &name, const QByteArray &bytes, qint64 atMs) {
        tablet.writeFile(QStringLiteral("Handwriting/") + name, bytes);
        tablet.setModified(QStringLiteral("Handwriting/") + name, atMs);
    }
    QByteArray local(const QString &name) const {
        return readAll(handwriting->directory() + QLatin1Char('/') + name);
    }
    QByteArray remote(const QString &name) const {
        return readAll(tablet.handwritingFolder() + QLatin1Char('/') + name);
    }
    std::optional<DiaryCloudSyncMark> inkMark(const QString &name) const {
        const DiaryCloudSyncManifest marks = manifest();
        return marks.ink.contains(name) ? std::optional(marks.ink.value(name)) : std::nullopt;
    }
    static void writeBytes(const QString &path, const QByteArray &bytes) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    static QByteArray readAll(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
};

} // namespace

class SyncInkTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // One drawing of march 5, exchanged before (or new on both sides), then changed on either
    // side; the pass settles it and the next pass moves nothing.
    void actionTable_data() {
        QTest::addColumn<bool>("exchangedBefore");
        QTest::addColumn<Change>("computer");
        QTest::addColumn<Change>("tablet");
        QTest::addColumn<qint64>("tabletLater"); // ms after the computer's change
        QTest::addColumn<bool>("sealed");
        QTest::addColumn<QByteArray>("localAfter");
        QTest::addColumn<QByteArray>("remoteAfter");
        QTest::addColumn<bool>("marked");
        QTest::addColumn<bool>("reported");
        const QByteArray none("<none>");
        // clang-format off
        QTest::newRow("removed here, unchanged there") << true << Change::removed << Change::same << qint64(0) << false << none << none << false << false;
        QTest::newRow("removed here, changed there") << true << Change::removed << Change::changed << qint64(0) << false << onTablet << onTablet << true << true;
        QTest::newRow("removed on both sides") << true << Change::removed << Change::removed << qint64(0) << false << none << none << false << false;
        QTest::newRow("removed there") << true << Change::same << Change::removed << qint64(0) << false << none << none << false << true;
        QTest::newRow("changed here, removed there") << true << Change::changed << Change::removed << qint64(0) << false << onComputer << onComputer << true << false;
        QTest::newRow("changed here") << true << Change::changed << Change::same << qint64(0) << false << onComputer << onComputer << true << false;
        QTest::newRow("changed there") << true << Change::same << Change::changed << qint64(0) << false << onTablet << onTablet << true << true;
        QTest::newRow("both changed, tablet later") << true << Change::changed << Change::changed << qint64(1) << false << onTablet << onTablet << true << true;
        QTest::newRow("both changed, same time") << true << Change::changed << Change::changed << qint64(0) << false << onComputer << onComputer << true << false;
        QTest::newRow("both changed, computer later") << true << Change::changed << Change::changed << qint64(-1) << false << onComputer << onComputer << true << false;
        QTest::newRow("new here") << false << Change::changed << Change::none << qint64(0) << false << onComputer << onComputer << true << false;
        QTest::newRow("new there") << false << Change::none << Change::changed << qint64(0) << false << onTablet << onTablet << true << true;
        QTest::newRow("new there, sealed day") << false << Change::none << Change::changed << qint64(0) << true << onTablet << onTablet << true << true;
        QTest::newRow("new on both, tablet later") << false << Change::changed << Change::changed << qint64(1) << false << onTablet << onTablet << true << true;
        QTest::newRow("new on both, same time") << false << Change::changed << Change::changed << qint64(0) << false << onComputer << onComputer << true << false;
        // A sealed page keeps the drawing it has; the tablet's version counts as seen.
        QTest::newRow("new on both, tablet later, sealed") << false << Change::changed << Change::changed << qint64(1) << true << onComputer << onTablet << true << false;
        QTest::newRow("changed there, sealed") << true << Change::same << Change::changed << qint64(0) << true << exchanged << onTablet << true << false;
        QTest::newRow("both changed, tablet later, sealed") << true << Change::changed << Change::changed << qint64(1) << true << onComputer << onTablet << true << false;
        // ... and a drawing removed on the tablet goes up again at the next pass.
        QTest::newRow("removed there, sealed") << true << Change::same << Change::removed << qint64(0) << true << exchanged << none << false << false;
        // clang-format on
    }
    void actionTable() {
        QFETCH(bool, exchangedBefore);
        QFETCH(Change, computer);
        QFETCH(Change, tablet);
        QFETCH(qint64, tabletLater);
        QFETCH(bool, sealed);
        QFETCH(QByteArray, localAfter);
        QFETCH(QByteArray, remoteAfter);
        QFETCH(bool, marked);
        QFETCH(bool, reported);
        InkFixture f;
        if (sealed)
            f.seed(march5, QStringLiteral("Sealed words"), DiaryEntryStatus::sealed);
        if (exchangedBefore) {
            f.writeLocal(march5, 0, exchanged, exchangedMs);
            f.pass();
            QCOMPARE(f.remote(leaf0), exchanged);
            QVERIFY(f.inkMark(leaf0));
        }
        if (computer == Change::removed)
            f.writeLocal(march5, 0, {}, 0);
        else if (computer == Change::changed)
            f.writeLocal(march5, 0, onComputer, laterMs);
        if (tablet == Change::removed)
            f.tablet.remove(QStringLiteral("Handwriting/") + leaf0);
        else if (tablet == Change::changed)
            f.writeRemote(leaf0, onTablet, laterMs + tabletLater);
        QSignalSpy reloads(f.session.get(), &DiarySessionStore::syncedChangeCountChanged);

        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.local(leaf0), localAfter);
        QCOMPARE(f.remote(leaf0), remoteAfter);
        QCOMPARE(f.inkMark(leaf0).has_value(), marked);
        const Reports expected = reported ? Reports{{{march5, 0}}} : Reports{};
        QCOMPARE(f.reported, expected);
        QCOMPARE(reloads.size(), 0); // march 5 is not the open day

        const bool goesUpAgain = sealed && tablet == Change::removed;
        const DiaryCloudSyncManifest marks = f.manifest();
        f.pass();
        if (goesUpAgain)
            QCOMPARE(f.remote(leaf0), exchanged);
        else
            QCOMPARE(f.manifest(), marks);
        const DiaryCloudSyncManifest settled = f.manifest();
        const QByteArray remoteSettled = f.remote(leaf0);
        f.pass();
        QCOMPARE(f.manifest(), settled);
        QCOMPARE(f.local(leaf0), localAfter);
        QCOMPARE(f.remote(leaf0), remoteSettled);
        QCOMPARE(f.reported.size(), reported ? 1 : 0);
    }

    // Leaves are reported once per pass, and the open page reloads once when its day is among
    // them, however many of its leaves changed.
    void reportsChangedLeavesOncePerPass_data() {
        QTest::addColumn<DayKey>("openDay");
        QTest::addColumn<int>("reloads");
        QTest::newRow("the open day") << march5 << 1;
        QTest::newRow("another day") << march6 << 0;
    }
    void reportsChangedLeavesOncePerPass() {
        QFETCH(DayKey, openDay);
        QFETCH(int, reloads);
        InkFixture f;
        f.open(openDay);
        for (int leaf : {0, 1, 2})
            f.writeRemote(QStringLiteral("2024-03-05-%1.drawing").arg(leaf), drawing(leaf),
                          laterMs);
        f.writeLocal(march6, 0, onComputer, laterMs);
        QSignalSpy reloaded(f.session.get(), &DiarySessionStore::syncedChangeCountChanged);
        QSignalSpy changes(f.sync.get(), &DiaryCloudSync::changeCountChanged);
        f.pass();
        const Reports all{{{march5, 0}, {march5, 1}, {march5, 2}}};
        QCOMPARE(f.reported, all);
        QCOMPARE(reloaded.size(), reloads);
        QCOMPARE(changes.size(), 1);
        // Uploads alone change nothing here.
        f.writeLocal(march6, 0, onTablet, laterMs + 1000);
        f.pass();
        QCOMPARE(f.reported.size(), 1);
        QCOMPARE(changes.size(), 1);
    }

    // The switch turned off during the step: it stops at the next drawing, and what it took
    // so far is still reported.
    void stopsAtTheNextDrawingWhenSwitchedOff() {
        InkFixture f;
        for (int leaf : {0, 1, 2}) {
            f.writeLocal(march5, leaf, exchanged, exchangedMs);
            f.writeRemote(QStringLiteral("2024-03-05-%1.drawing").arg(leaf), drawing(leaf + 1),
                          laterMs);
        }
        // The first drawing's page is looked up before it is taken.
        f.repository->beforeNext(Operation::entry, [&] { f.sync->setEnabled(false); });
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::off);
        const Reports first{{{march5, 0}}};
        QCOMPARE(f.reported, first);
        QCOMPARE(f.local(QStringLiteral("2024-03-05-1.drawing")), exchanged);
    }

    // One leaf under another name ("-01", "-+1", any character after the day) is no name of
    // that leaf: such files and marks are left alone on both sides, pass after pass.
    void leavesNamesThatAliasALeafAlone_data() {
        QTest::addColumn<QStringList>("tabletNames");
        QTest::addColumn<QStringList>("computerNames");
        QTest::newRow("leading zero") << QStringList{"2024-03-05-01.drawing"} << QStringList{};
        QTest::newRow("plus sign") << QStringList{"2024-03-05-+1.drawing"} << QStringList{};
        QTest::newRow("other separator") << QStringList{"2024-03-05_1.drawing"} << QStringList{};
        QTest::newRow("two aliases")
            << QStringList{"2024-03-05-01.drawing", "2024-03-05-001.drawing"} << QStringList{};
        QTest::newRow("an alias here") << QStringList{} << QStringList{"2024-03-05-01.drawing"};
    }
    void leavesNamesThatAliasALeafAlone() {
        QFETCH(QStringList, tabletNames);
        QFETCH(QStringList, computerNames);
        InkFixture f;
        QDir().mkpath(f.handwriting->directory());
        QDir().mkpath(f.tablet.handwritingFolder());
        int which = 0;
        for (const QString &name : tabletNames)
            f.writeRemote(name, drawing(++which), laterMs);
        for (const QString &name : computerNames)
            InkFixture::writeBytes(f.handwriting->directory() + QLatin1Char('/') + name,
                                   drawing(++which));
        // A mark under an alias, however it got there, stays as it is.
        DiaryCloudSyncManifest marks = f.manifest();
        marks.ink.insert(QStringLiteral("2024-03-05-0001.drawing"), {0, QStringLiteral("7-7"), {}});
        marks.save(f.manifestURL);
        const QStringList before = QDir(f.tablet.handwritingFolder()).entryList(QDir::Files);
        const QStringList localBefore = QDir(f.handwriting->directory()).entryList(QDir::Files);
        for (int pass = 0; pass < 2; ++pass) {
            f.pass();
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        }
        QCOMPARE(QDir(f.tablet.handwritingFolder()).entryList(QDir::Files), before);
        QCOMPARE(QDir(f.handwriting->directory()).entryList(QDir::Files), localBefore);
        which = 0;
        for (const QString &name : tabletNames)
            QCOMPARE(f.remote(name), drawing(++which));
        QCOMPARE(f.manifest().ink, marks.ink);
        QVERIFY(f.reported.isEmpty());
    }

    // A Handwriting folder that cannot be listed when the step comes to it fails the pass;
    // nothing is deleted and no mark forgotten, and once it is back everything is as it was.
    void failsWhenAHandwritingFolderCannotBeListed_data() {
        QTest::addColumn<bool>("tabletSide");
        QTest::newRow("the sync folder's") << true;
        QTest::newRow("the diary's") << false;
    }
    void failsWhenAHandwritingFolderCannotBeListed() {
        QFETCH(bool, tabletSide);
        InkFixture f;
        f.writeLocal(march5, 0, exchanged, exchangedMs);
        f.writeLocal(march5, 1, onComputer, exchangedMs);
        f.pass();
        const DiaryCloudSyncManifest exchangedMarks = f.manifest();
        QCOMPARE(exchangedMarks.ink.size(), 2);
        // Gone between the folders' check and the handwriting step (a file takes its place, so
        // even the superuser cannot list it).
        const QString local = f.handwriting->directory();
        f.repository->beforeNext(Operation::revisionsByDay, [&] {
            if (tabletSide) {
                f.tablet.makeUnreadable(QStringLiteral("Handwriting"));
            } else {
                QVERIFY(QDir().rename(local, local + QStringLiteral(".aside")));
                InkFixture::writeBytes(local, "not a folder");
            }
        });
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
        QVERIFY(!f.sync->failureMessage().isEmpty());
        QCOMPARE(f.manifest().ink, exchangedMarks.ink);
        if (tabletSide) {
            QCOMPARE(f.local(leaf0), exchanged);
            f.tablet.makeReadable(QStringLiteral("Handwriting"));
        } else {
            QCOMPARE(f.remote(leaf0), exchanged);
            QVERIFY(QFile::remove(local));
            QVERIFY(QDir().rename(local + QStringLiteral(".aside"), local));
        }
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.manifest(), exchangedMarks);
        QCOMPARE(f.local(leaf0), exchanged);
        QCOMPARE(f.remote(QStringLiteral("2024-03-05-1.drawing")), onComputer);
        QVERIFY(f.reported.isEmpty());
    }

    // A drawing caught mid-rewrite, or one that is no drawing at all, is not taken: the local
    // drawing and the mark stay, and the finished file is taken by a later pass.
    void takesOnlyWholeDrawings_data() {
        QTest::addColumn<bool>("exchangedBefore");
        QTest::addColumn<QByteArray>("caught");
        QTest::newRow("cut short") << true << onTablet.left(onTablet.size() / 2);
        QTest::newRow("cut short, new") << false << onTablet.left(onTablet.size() / 2);
        QTest::newRow("not a drawing") << true << QByteArray("PNG\x89 not json");
        QTest::newRow("another format") << true << QByteArray("{\"format\":\"x\",\"version\":1}");
        QTest::newRow("empty") << true << QByteArray();
    }
    void takesOnlyWholeDrawings() {
        QFETCH(bool, exchangedBefore);
        QFETCH(QByteArray, caught);
        InkFixture f;
        if (exchangedBefore) {
            f.writeLocal(march5, 0, exchanged, exchangedMs);
            f.pass();
        } else {
            QDir().mkpath(f.tablet.handwritingFolder());
        }
        const DiaryCloudSyncManifest marks = f.manifest();
        f.tablet.writeTornFile(QStringLiteral("Handwriting/") + leaf0, caught, caught.size());
        f.tablet.setModified(QStringLiteral("Handwriting/") + leaf0, laterMs);
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.local(leaf0), exchangedBefore ? exchanged : QByteArray("<none>"));
        QCOMPARE(f.manifest(), marks);
        QVERIFY(f.reported.isEmpty());

        f.writeRemote(leaf0, onTablet, laterMs + 1000);
        f.pass();
        QCOMPARE(f.local(leaf0), onTablet);
        QCOMPARE(f.reported.size(), 1);
    }

    // A drawing that reaches the sync folder after the listing, up to the moment this pass's
    // drawing takes its name, is neither overwritten nor deleted by this pass, nor marked as this
    // pass's own; the next pass compares it.
    void leavesADrawingThatArrivedAfterTheListing_data() {
        QTest::addColumn<bool>("removedHere");
        QTest::addColumn<int>("step"); // the upload's step, or -1: before the drawing's turn
        QTest::newRow("an upload") << false << -1;
        QTest::newRow("an upload, between its last look and its move")
            << false << int(DiaryCloudSyncFolder::WriteStep::beforeMove);
        QTest::newRow("an upload, right after its move")
            << false << int(DiaryCloudSyncFolder::WriteStep::afterMove);
        QTest::newRow("a removal") << true << -1;
    }
    void leavesADrawingThatArrivedAfterTheListing() {
        QFETCH(bool, removedHere);
        QFETCH(int, step);
        InkFixture f;
        const QString march6Leaf = QStringLiteral("2024-03-06-0.drawing");
        f.writeLocal(march5, 0, exchanged, exchangedMs);
        f.writeLocal(march6, 0, exchanged, exchangedMs);
        f.pass();
        // March 5 changed on the tablet (its page is looked up while the step runs); march 6
        // changed or went here.
        f.writeRemote(leaf0, onTablet, laterMs);
        f.writeLocal(march6, 0, removedHere ? QByteArray() : onComputer, laterMs);
        const auto arrive = [&] { f.writeRemote(march6Leaf, onTablet, laterMs + 5); };
        if (step < 0)
            f.repository->beforeNext(Operation::entry, arrive);
        else
            f.sync->setWriteInterruption(
                [&](const QString &url, DiaryCloudSyncFolder::WriteStep at) {
                    if (int(at) == step && url.endsWith(march6Leaf))
                        arrive();
                });
        const std::optional<DiaryCloudSyncMark> markBefore = f.inkMark(march6Leaf);
        f.pass();
        QCOMPARE(f.remote(march6Leaf), onTablet);
        QCOMPARE(f.inkMark(march6Leaf), markBefore);
        f.sync->setWriteInterruption({});
        f.pass();
        QCOMPARE(f.local(march6Leaf), onTablet);
        QCOMPARE(f.remote(march6Leaf), onTablet);
    }

    // An upload's put-back that gave up while the tablet kept writing left the last drawing to
    // come back beside the name (an id in small letters): the next pass takes the newer of it and
    // the file at the name, or it alone, as the tablet's drawing, and the copy goes; one as old as
    // the file stays. A sync tool's own copy (an id in capitals) stays where it is, and the file
    // at the name is taken.
    void settlesADrawingAPutBackSetAside_data() {
        QTest::addColumn<QString>("copy");
        QTest::addColumn<qint64>("copyLater"); // ms after the file at the name
        QTest::addColumn<bool>("nameGone");
        QTest::addColumn<QByteArray>("taken");
        QTest::addColumn<bool>("copyStays");
        const QString ours =
            QStringLiteral("2024-03-05-0.sync-conflict-20240305-110000-qwertyu.drawing");
        const QString tools =
            QStringLiteral("2024-03-05-0.sync-conflict-20240305-110000-ABC4DEF.drawing");
        QTest::newRow("set aside, newer") << ours << qint64(1000) << false << drawing(3) << false;
        QTest::newRow("set aside, older") << ours << qint64(-1000) << false << onTablet << false;
        QTest::newRow("set aside, as old") << ours << qint64(0) << false << onTablet << true;
        QTest::newRow("set aside, its name empty since")
            << ours << qint64(1000) << true << drawing(3) << false;
        QTest::newRow("a sync tool's copy, newer")
            << tools << qint64(1000) << false << onTablet << true;
    }
    void settlesADrawingAPutBackSetAside() {
        QFETCH(QString, copy);
        QFETCH(qint64, copyLater);
        QFETCH(bool, nameGone);
        QFETCH(QByteArray, taken);
        QFETCH(bool, copyStays);
        InkFixture f;
        f.writeLocal(march5, 0, exchanged, exchangedMs);
        f.pass();
        f.writeLocal(march5, 0, onComputer, laterMs);
        if (nameGone)
            f.tablet.remove(QStringLiteral("Handwriting/") + leaf0);
        else
            f.writeRemote(leaf0, onTablet, laterMs + 1000);
        f.writeRemote(copy, drawing(3), laterMs + 1000 + copyLater);
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.local(leaf0), taken);
        QCOMPARE(f.remote(leaf0), taken);
        QCOMPARE(f.remote(copy) == drawing(3), copyStays);
    }

    // A placeholder is asked for and nothing else happens to it; once it is fetched, the
    // next pass settles it.
    void asksForPlaceholdersOnly() {
        InkFixture f;
        f.writeLocal(march5, 0, exchanged, exchangedMs);
        f.pass();
        const DiaryCloudSyncManifest marks = f.manifest();
        f.writeLocal(march5, 0, onComputer, laterMs);
        f.tablet.writePlaceholder(QStringLiteral("Handwriting/") + leaf0, onTablet);
        f.pass();
        QCOMPARE(f.local(leaf0), onComputer);
        QCOMPARE(f.manifest(), marks);
        QCOMPARE(f.remote(leaf0), onTablet); // fetched by the tool on request
        f.tablet.setModified(QStringLiteral("Handwriting/") + leaf0, laterMs + 1000);
        f.pass();
        QCOMPARE(f.local(leaf0), onTablet);
    }
};

QTEST_GUILESS_MAIN(SyncInkTest)
#include "tst_syncink.moc"
