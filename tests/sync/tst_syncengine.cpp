// The sync engine: when passes run, one at a time with at most one more behind, what a pass
// publishes, and how it stops when the program quits.
#include "support/SyncEngineFixture.h"

#include <QSemaphore>
#include <QSignalSpy>

#include <atomic>
#include <sys/stat.h>

using namespace velmora;
using namespace velmora::test;

namespace {

const DayKey march5 = SessionFixture::day("2024-03-05");
const DayKey march6 = SessionFixture::day("2024-03-06");

// A root provider that holds a pass in a file operation until the test lets it go, and counts
// the passes that asked.
struct HeldRoot {
    QSemaphore asked;
    QSemaphore go;
    std::atomic<int> calls = 0;
    std::atomic<bool> finished = false;
    std::atomic<bool> holds = true;
    QString root;

    DiaryCloudSync::RootProvider provider() {
        return [this]() -> std::optional<QString> {
            ++calls;
            finished = false;
            asked.release();
            if (holds)
                go.acquire();
            finished = true;
            return root;
        };
    }
    // While the event loop runs, so the pass can get there.
    bool waitAsked() {
        return waitUntil([&] { return asked.tryAcquire(); });
    }
    void release() {
        holds = false;
        go.release(100);
    }
};

// The engine over a held root provider.
struct HeldEngine {
    HeldRoot held;
    SyncEngineFixture f{held.provider()};

    HeldEngine() { held.root = f.root; }
};

} // namespace

class SyncEngineTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Asked twice to start, the engine follows one subscription and one heartbeat: nothing
    // asks for a second pass behind the first.
    void startTwiceStartsOnce() {
        HeldEngine engine;
        HeldRoot &held = engine.held;
        SyncEngineFixture &f = engine.f;
        f.sync->start();
        QVERIFY(held.waitAsked());
        f.sync->start();
        QTest::qWait(100);
        held.release();
        QVERIFY(waitUntil([&] { return !f.sync->isRunning(); }));
        QCOMPARE(held.calls.load(), 1);
    }

    void requestsDuringAPassRunOneMore() {
        HeldEngine engine;
        HeldRoot &held = engine.held;
        SyncEngineFixture &f = engine.f;
        QSignalSpy ended(f.sync.get(), &DiaryCloudSync::syncLoopEnded);
        f.sync->schedule(0ms);
        QVERIFY(held.waitAsked());
        for (int request = 0; request < 3; ++request) {
            f.sync->schedule(0ms);
            QTest::qWait(30);
        }
        held.release();
        QVERIFY(waitUntil([&] { return ended.size() == 1; }));
        QCOMPARE(held.calls.load(), 2);
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
    }

    void aSavedPageAsksForAPass() {
        SyncEngineFixture f;
        f.sync->start();
        QVERIFY(waitUntil([&] { return f.sync->lastSync().has_value(); }));
        f.open(SessionFixture::today);
        f.session->updateDraft(QStringLiteral("Typed today"));
        QVERIFY(
            waitUntil([&] { return f.pageFileContent(SessionFixture::today) == u"Typed today"; }));
    }

    // Once started, a page the tablet wrote is fetched without anyone asking: by the heartbeat,
    // or by the watch on the sync folder. The other triggers wait a minute here.
    void passesComeUnasked_data() {
        QTest::addColumn<bool>("watches");
        QTest::addColumn<bool>("inPlace"); // the page file is written over where it is
        QTest::newRow("the heartbeat") << false << false;
        QTest::newRow("a change in the sync folder") << true << false;
        QTest::newRow("a page file written in place") << true << true;
    }
    void passesComeUnasked() {
        QFETCH(bool, watches);
        QFETCH(bool, inPlace);
        SyncEngineFixture f;
        if (inPlace)
            f.tablet.writePage(SyncEngineFixture::tabletPage(march5, "Before", f.nowMs() - 1000));
        f.sync = std::make_unique<DiaryCloudSync>(f.sync->services(), f.manifestURL,
                                                  f.sync->rootProvider(), watches, 60s);
        f.sync->setDownloadRequester(f.tablet.downloader());
        f.sync->setTiming({60s, watches ? 20ms : 60s, watches ? 60s : 30ms});
        f.sync->start();
        QVERIFY(waitUntil([&] { return f.sync->lastSync().has_value(); }));
        // The watch is set up after the first pass; a page written before it is written again.
        bool arrived = false;
        for (int attempt = 0; attempt < 20 && !arrived; ++attempt) {
            const QString words = QStringLiteral("Unasked %1").arg(attempt);
            const CompanionPage page =
                SyncEngineFixture::tabletPage(march5, words, f.nowMs() + attempt);
            if (inPlace) {
                const QByteArray bytes = TabletCompanion::encodePage(page);
                f.tablet.writeTornFile(QStringLiteral("Pages/2024-03-05.json"), bytes,
                                       bytes.size());
            } else {
                f.tablet.writePage(page);
            }
            arrived = waitUntil([&] { return f.storedContent(march5) == words; }, 500ms);
        }
        QVERIFY(arrived);
    }

    void syncNowAtMostReleasesTheCallerOfAHangingPass() {
        HeldEngine engine;
        HeldRoot &held = engine.held;
        SyncEngineFixture &f = engine.f;
        test::waitFor(f.sync->syncNow(50ms));
        QVERIFY(f.sync->isRunning());
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::off);
        held.release();
        QVERIFY(waitUntil([&] { return !f.sync->isRunning(); }));
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
    }

    // With the switch off nothing asks for a pass; a pass that was already scheduled shows off.
    void switchedOffDoesNothing() {
        HeldEngine engine;
        HeldRoot &held = engine.held;
        SyncEngineFixture &f = engine.f;
        held.release();
        f.sync->setTiming({20ms, 20ms, 20ms});
        f.sync->schedule(50ms);
        f.sync->setEnabled(false);
        f.sync->start();
        f.sync->schedule(0ms);
        test::waitFor(f.sync->syncNow(60s), 5s);
        test::waitFor(f.sync->syncNow());
        QTest::qWait(150);
        QCOMPARE(held.calls.load(), 0);
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::off);
        QVERIFY(!f.sync->lastSync());
        QVERIFY(!QFile::exists(f.root));
    }

    void noSyncFolderIsUnavailable() {
        SyncEngineFixture f(DiaryCloudSync::noSyncRoot());
        f.seed(march5, QStringLiteral("Stays here"));
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::unavailable);
        QVERIFY(!QFile::exists(f.root));
        QVERIFY(!QFile::exists(f.manifestURL));
    }

    // Marks made for another folder mean nothing here, nor do those of a manifest reached through
    // a link, which the program never makes: every page is compared afresh.
    void aForeignManifestIsIgnored_data() {
        QTest::addColumn<bool>("linked");
        QTest::newRow("made for another folder") << false;
        QTest::newRow("a link to one made for this folder") << true;
    }
    void aForeignManifestIsIgnored() {
        QFETCH(bool, linked);
        SyncEngineFixture f;
        f.seed(march5, QStringLiteral("Never exchanged here"));
        DiaryCloudSyncManifest foreign =
            DiaryCloudSyncManifest::fresh(linked ? f.root : QStringLiteral("/elsewhere"));
        foreign.pages.insert(march5.rawValue(), DiaryCloudSyncMark{1, QStringLiteral("9-9"), {}});
        const QString elsewhere = f.folder.filePath(QStringLiteral("manifest.json"));
        foreign.save(linked ? elsewhere : f.manifestURL);
        if (linked)
            QVERIFY(QDir().mkpath(QFileInfo(f.manifestURL).path()) &&
                    QFile::link(elsewhere, f.manifestURL));
        f.pass();
        QCOMPARE(f.pageFileContent(march5), QStringLiteral("Never exchanged here"));
        QCOMPARE(f.manifest().root, f.root);
    }

    void aPassThatChangedNothingStillCounts() {
        SyncEngineFixture f;
        f.tablet.writePage(SyncEngineFixture::tabletPage(march5, QStringLiteral("In"), f.nowMs()));
        f.pass();
        QCOMPARE(f.sync->changeCount(), 1);
        f.clock->advance(std::chrono::minutes(5));
        QSignalSpy statuses(f.sync.get(), &DiaryCloudSync::statusChanged);
        const QDateTime manifestWritten = QFileInfo(f.manifestURL).lastModified();
        f.pass();
        QCOMPARE(f.sync->changeCount(), 1);
        QCOMPARE(f.sync->lastSync(), f.clock->now());
        QCOMPARE(f.settings->defaults()->dateValue(DiaryCloudSync::lastSyncKey), f.clock->now());
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(statuses.size(), 2);
        QCOMPARE(QFileInfo(f.manifestURL).lastModified(), manifestWritten);
    }

    // What a write cut short by a kill left behind goes at the start of the next pass.
    void aPassRemovesLeftoverTemporaries() {
        SyncEngineFixture f;
        const QString name = QStringLiteral("Pages/.2024-03-05.json.Ab3dE9");
        const QString left = f.tablet.writeFile(name, "{\"entry\": {");
        f.tablet.setModified(name, QDateTime::currentMSecsSinceEpoch() - 3600000);
        f.pass();
        QVERIFY(!QFileInfo::exists(left));
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
    }

    // The folder cannot be used: the pass fails with why, and nothing local changes.
    void folderFailures_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("message");
        QTest::newRow("vanished after an exchange") << "vanish"
                                                    << "The sync folder is missing.";
        QTest::newRow("its pages folder replaced by a file") << "unreadable"
                                                             << "The sync folder is missing.";
    }
    void folderFailures() {
        QFETCH(QString, what);
        QFETCH(QString, message);
        SyncEngineFixture f;
        f.seed(march5, QStringLiteral("Kept"));
        f.pass();
        f.seed(march6, QStringLiteral("Not yet sent"));
        const DiaryCloudSyncManifest before = f.manifest();
        if (what == u"vanish")
            f.tablet.vanish();
        else
            f.tablet.makeUnreadable(QStringLiteral("Pages"));
        const auto lastSync = f.sync->lastSync();
        f.clock->advance(1min);
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
        QVERIFY2(f.sync->failureMessage().contains(message), qPrintable(f.sync->failureMessage()));
        QCOMPARE(f.sync->lastSync(), lastSync);
        QCOMPARE(f.manifest(), before);
        QCOMPARE(f.storedContent(march5), QStringLiteral("Kept"));
        QVERIFY(!QFile::exists(f.root) || what != u"vanish");
    }

    // Someone who can write into the sync folder puts links where its folders or files belong,
    // leading to another folder the user can write. Nothing is read, written or deleted through a
    // link: a linked folder fails the pass and says where it is; a linked file is passed over, and
    // a page or drawing that cannot be sent for a link at its name says so once the rest of the
    // pass is done.
    void linksInTheSyncFolderAreNeverFollowed_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("linked"); // below the chosen folder; empty: the pass completes
        QTest::newRow("Diary Sync a link") << "root"
                                           << "Diary Sync";
        QTest::newRow("Pages a link") << "Pages"
                                      << "Diary Sync/Pages";
        QTest::newRow("Handwriting a link") << "Handwriting"
                                            << "Diary Sync/Handwriting";
        QTest::newRow("page files links") << "page files"
                                          << "Diary Sync/Pages/2024-03-04.json";
        QTest::newRow("drawing files links") << "drawing files"
                                             << "Diary Sync/Handwriting/2024-03-04-0.drawing";
        QTest::newRow("a conflict copy a link") << "conflict copy"
                                                << "";
        QTest::newRow("Pages swapped for a link during the pass") << "swap"
                                                                  << "Diary Sync/Pages";
    }
    void linksInTheSyncFolderAreNeverFollowed() {
        QFETCH(QString, layout);
        QFETCH(QString, linked);
        SyncEngineFixture f;
        const DayKey march4 = SessionFixture::day("2024-03-04");
        f.seed(march4, QStringLiteral("Private fourth"));
        f.seed(march5, QStringLiteral("Private fifth"));
        f.handwriting->write(TabletCompanion::encodeDrawing({{}}), march5, 0);
        f.settings->setUserName(QStringLiteral("Ada"));
        const qint64 monthAgo = f.nowMs() - 31LL * 86400000;
        TabletCompanion outside(f.folder.filePath(QStringLiteral("Outside")),
                                f.folder.filePath(QStringLiteral("outside-state")));
        outside.writePage(SyncEngineFixture::tabletPage(march5, "Planted fifth", monthAgo, true));
        outside.writePage(SyncEngineFixture::tabletPage(march6, "Planted sixth", f.nowMs()));
        outside.writeFile(QStringLiteral("Pages/2024-03-05 notes.json"), "only named like a copy");
        CompanionStroke stroke;
        stroke.points.append({1, 2, 0.5});
        outside.writeDrawing(QStringLiteral("2024-03-06-0.drawing"), {stroke});
        outside.writeProfile({QStringLiteral("Mallory"), f.nowMs() + 60000});
        outside.writeFile(QStringLiteral("Elsewhere/2024-03-04 notes.json"), "not for the diary");

        if (layout == u"root") {
            QVERIFY(QFile::link(outside.root(), f.root));
        } else {
            QVERIFY(QDir().mkpath(f.root));
            for (const QString &name : {QStringLiteral("Pages"), QStringLiteral("Handwriting")}) {
                const QString path = f.root + QLatin1Char('/') + name;
                QVERIFY(layout == name ? QFile::link(outside.root() + QLatin1Char('/') + name, path)
                                       : QDir().mkpath(path));
            }
        }
        if (layout == u"page files") {
            for (const DayKey &day : {march4, march5, march6})
                QVERIFY(QFile::link(
                    outside.pagePath(day == march4 ? march6.rawValue() : day.rawValue()),
                    f.tablet.pagePath(day.rawValue())));
        } else if (layout == u"drawing files") {
            // One leads to a drawing outside, one to where none is yet.
            f.handwriting->write(TabletCompanion::encodeDrawing({{}}), march4, 0);
            QVERIFY(QFile::link(outside.handwritingFolder() + "/2024-03-04-0.drawing",
                                f.tablet.handwritingFolder() + "/2024-03-04-0.drawing"));
            QVERIFY(QFile::link(outside.handwritingFolder() + "/2024-03-06-0.drawing",
                                f.tablet.handwritingFolder() + "/2024-03-05-0.drawing"));
        } else if (layout == u"conflict copy") {
            f.tablet.writePage(SyncEngineFixture::tabletPage(march5, "Tablet fifth", monthAgo));
            QVERIFY(QFile::link(outside.pagePath(march5.rawValue()),
                                f.tablet.pagesFolder() + "/2024-03-05 (conflicted copy).json"));
        } else if (layout == u"swap") {
            // After the listing, before the first page is written.
            f.repository->beforeNext(Operation::entry, [&] {
                QVERIFY(QDir().rename(f.tablet.pagesFolder(), f.tablet.pagesFolder() + ".old"));
                QVERIFY(QFile::link(outside.root() + "/Elsewhere", f.tablet.pagesFolder()));
            });
        }
        const QMap<QString, QByteArray> before = filesBelow(outside.root());

        f.pass();
        QCOMPARE(filesBelow(outside.root()), before);
        QStringList taken = f.recoveredContents();
        for (const DayKey &day : {march4, march5, march6})
            taken.append(f.storedContent(day));
        QVERIFY2(!taken.join(u'|').contains(QStringLiteral("Planted")),
                 qPrintable(taken.join(u'|')));
        QVERIFY(!f.handwriting->pageFile(march6, 0));
        QCOMPARE(f.settings->userName(), QStringLiteral("Ada"));
        if (linked.isEmpty()) {
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
            return;
        }
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
        QCOMPARE(f.sync->failureMessage(),
                 QStringLiteral("The sync folder holds a link at “%1”, which sync does not follow.")
                     .arg(f.chosen + QLatin1Char('/') + linked));
        QVERIFY(!f.sync->lastSync());
        if (layout.endsWith(u" files"))
            QCOMPARE(f.tablet.readProfile()->userName, QStringLiteral("Ada"));
        if (layout == u"drawing files")
            QVERIFY(QFileInfo(f.chosen + QLatin1Char('/') + linked).isSymLink());
    }

    // What stands at a page's or drawing's name without being a file, a folder that may hold the
    // user's own files or a pipe that would hang whoever opens it, stays as it is, unopened. The
    // rest of the pass goes on, and the day that cannot be sent says why instead of "Up to date".
    void whatIsNoFileAtAFilesNameStays_data() {
        QTest::addColumn<QString>("name"); // below "Diary Sync"
        QTest::addColumn<bool>("isFolder");
        // Put in the place of a file both sides had: it is no file the other side removed.
        QTest::addColumn<bool>("exchanged");
        QTest::addColumn<QString>("chosen");
        const QString page = QStringLiteral("Pages/2024-03-05.json");
        const QString drawing = QStringLiteral("Handwriting/2024-03-05-0.drawing");
        QTest::newRow("a folder at a page's name") << page << true << false << "Chosen";
        QTest::newRow("a pipe at a page's name") << page << false << false << "Chosen";
        QTest::newRow("a folder at a drawing's name") << drawing << true << false << "Chosen";
        QTest::newRow("a pipe at a drawing's name") << drawing << false << false << "Chosen";
        QTest::newRow("a folder at an exchanged drawing's name")
            << drawing << true << true << "Chosen";
        QTest::newRow("a pipe at an exchanged drawing's name")
            << drawing << false << true << "Chosen";
        // The status quotes the path on one line, whatever the chosen folder is named.
        QTest::newRow("a pipe in a folder named with line breaks and an override")
            << page << false << false << QStringLiteral("Chosen\n\n\u202Ekcab");
    }
    void whatIsNoFileAtAFilesNameStays() {
        QFETCH(QString, name);
        QFETCH(bool, isFolder);
        QFETCH(bool, exchanged);
        QFETCH(QString, chosen);
        SyncEngineFixture f({}, chosen);
        f.seed(march5, QStringLiteral("Fifth"));
        f.seed(march6, QStringLiteral("Sixth"));
        f.handwriting->write(TabletCompanion::encodeDrawing({{}}), march5, 0);
        f.settings->setUserName(QStringLiteral("Ada"));
        const QString path = f.root + QLatin1Char('/') + name;
        if (exchanged) {
            f.pass();
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
            QVERIFY(QFile::remove(path));
        }
        const auto lastSync = f.sync->lastSync();
        QVERIFY(QDir().mkpath(f.tablet.pagesFolder()) &&
                QDir().mkpath(f.tablet.handwritingFolder()));
        if (isFolder)
            f.tablet.writeFile(name + "/mine.txt", "the user's own");
        else
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR), 0);

        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
        QCOMPARE(f.sync->failureMessage(),
                 QStringLiteral("The sync folder holds something other than a file at “%1”, "
                                "which sync does not replace.")
                     .arg(QString(path).replace(u'\n', "\\n").replace(u'\u202E', "\\u202E")));
        QCOMPARE(test::unevenShownText(f.sync->statusText()), QString());
        QCOMPARE(f.sync->lastSync(), lastSync);
        QVERIFY(f.handwriting->pageFile(march5, 0));
        QCOMPARE(f.pageFileContent(march6), QStringLiteral("Sixth"));
        QCOMPARE(f.tablet.readProfile()->userName, QStringLiteral("Ada"));
        struct stat status {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &status), 0);
        QVERIFY(isFolder ? S_ISDIR(status.st_mode) : S_ISFIFO(status.st_mode));
        if (isFolder)
            QCOMPARE(filesBelow(path).value(QStringLiteral("mine.txt")), "the user's own");
    }

    // A pass that ends early keeps the pages it stored, and the change count moves for them, so
    // the calendar and the reminders hear of them; only a completed pass counts as a sync. Switched
    // off or stopped, it also writes nothing more: the next day waits, the profile is not written.
    void aPassEndingEarlyRaisesWhatItStored_data() {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("nextDay");
        QTest::newRow("switched off") << "off"
                                      << "<none>";
        QTest::newRow("stopped at quit") << "stop"
                                         << "<none>";
        QTest::newRow("failed in the pages") << "pages"
                                             << "<none>";
        QTest::newRow("failed after the pages") << "ink"
                                                << "Second";
    }
    void aPassEndingEarlyRaisesWhatItStored() {
        QFETCH(QString, end);
        QFETCH(QString, nextDay);
        SyncEngineFixture f;
        f.settings->setUserName(QStringLiteral("Ada"));
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march5, QStringLiteral("First"), f.nowMs()));
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march6, QStringLiteral("Second"), f.nowMs()));
        std::optional<QCoro::Task<void>> stopping;
        f.repository->beforeNext(Operation::applyRemote, [&] {
            if (end == u"off")
                f.sync->setEnabled(false);
            else if (end == u"stop")
                stopping.emplace(f.sync->stop(10s));
            else if (end == u"pages")
                f.repository->failNext(Operation::entry,
                                       PersistenceError::readFailed(QStringLiteral("Disk gone")));
            else
                f.tablet.makeUnreadable(QStringLiteral("Handwriting"));
        });
        QSignalSpy changes(f.sync.get(), &DiaryCloudSync::changeCountChanged);
        f.pass();
        if (stopping)
            test::waitFor(std::move(*stopping));
        QCOMPARE(f.storedContent(march5), QStringLiteral("First"));
        // A step that failed keeps none of its marks.
        QCOMPARE(f.mark(march5).has_value(), end != u"pages");
        QCOMPARE(f.storedContent(march6), nextDay);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(f.sync->changeCount(), 1);
        QVERIFY(!f.sync->lastSync());
        QVERIFY(!f.tablet.readProfile());
        if (end == u"off")
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::off);
        if (end == u"pages" || end == u"ink")
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
    }

    // Restoring or replacing the diary leaves revisions that the marks cannot speak for, even one
    // equal to the mark: every restored page counts as changed here, on disk too, also while sync
    // is off or a pass runs. So it goes out where the tablet did not change the day since the
    // last exchange, however old it is, and the page it replaces there is kept; where both
    // changed, the later one wins and the other is kept. A day the restored diary lacks is not
    // brought back from an unchanged page file. The drawing marks stay.
    void forgettingPageMarks_data() {
        QTest::addColumn<QString>("when");
        QTest::addColumn<qint64>("restoredLater"); // s after the exchanged page; 0: no page
        QTest::addColumn<qint64>("tabletLater");   // s; 0: the tablet did not change the day
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("recovered");
        const QStringList exchanged{QStringLiteral("Exchanged")};
        QTest::newRow("between passes") << "idle" << 60LL << 0LL << "Restored" << exchanged;
        QTest::newRow("sync off, then the next launch")
            << "off" << 60LL << 0LL << "Restored" << exchanged;
        QTest::newRow("during a pass") << "running" << 60LL << 0LL << "Restored" << exchanged;
        QTest::newRow("an older page") << "idle" << -3600LL << 0LL << "Restored" << exchanged;
        QTest::newRow("an older page, sync off")
            << "off" << -3600LL << 0LL << "Restored" << exchanged;
        QTest::newRow("an older page, during a pass")
            << "running" << -3600LL << 0LL << "Restored" << exchanged;
        QTest::newRow("the tablet changed it later")
            << "idle" << -3600LL << 30LL << "Tablet" << QStringList{QStringLiteral("Restored")};
        QTest::newRow("the tablet changed it earlier")
            << "idle" << 60LL << 30LL << "Restored" << QStringList{QStringLiteral("Tablet")};
        // Replaced after the pass compared the revisions, before it read the local page.
        QTest::newRow("the tablet changed it earlier, replaced while merging")
            << "merging" << 60LL << 30LL << "Restored" << QStringList{QStringLiteral("Tablet")};
        // Replaced once the pass had read the local page, just before it stores the tablet's.
        QTest::newRow("the tablet changed it earlier, replaced while storing")
            << "storing" << 60LL << 30LL << "Restored" << QStringList{QStringLiteral("Tablet")};
        QTest::newRow("no page of the day") << "idle" << 0LL << 0LL << "<none>" << QStringList{};
    }
    void forgettingPageMarks() {
        QFETCH(QString, when);
        QFETCH(qint64, restoredLater);
        QFETCH(qint64, tabletLater);
        QFETCH(QString, stored);
        QFETCH(QStringList, recovered);
        SyncEngineFixture f;
        DiaryEntryDTO entry = f.seed(march5, QStringLiteral("Exchanged"));
        f.handwriting->write(TabletCompanion::encodeDrawing({{}}), march5, 0);
        f.pass();
        QVERIFY(f.manifest().ink.contains(QStringLiteral("2024-03-05-0.drawing")));
        const QDateTime exchangedAt = entry.updatedAt;
        if (tabletLater)
            f.tablet.writePage(SyncEngineFixture::tabletPage(
                march5, QStringLiteral("Tablet"),
                exchangedAt.addSecs(tabletLater).toMSecsSinceEpoch()));
        // What a restore leaves: other words under the revision that was exchanged.
        DiarySnapshotDTO restored = test::waitFor(f.repository->snapshot());
        restored.entries.clear();
        if (restoredLater) {
            entry.content = QStringLiteral("Restored");
            entry.updatedAt = exchangedAt.addSecs(restoredLater);
            restored.entries.append(entry);
        }
        const auto replace = [&] { test::waitFor(f.repository->replaceAll(restored)); };
        if (when != u"merging" && when != u"storing")
            replace();

        if (when == u"off") {
            f.sync->setEnabled(false);
            f.sync->forgetLocalRevisions();
            QVERIFY(waitUntil([&] { return !f.sync->isRunning(); }));
            f.sync = std::make_unique<DiaryCloudSync>(f.sync->services(), f.manifestURL,
                                                      f.sync->rootProvider(), false, 60s);
            f.sync->setEnabled(true);
            f.pass();
        } else if (when == u"running") {
            f.repository->beforeNext(Operation::revisionsByDay,
                                     [&] { f.sync->forgetLocalRevisions(); });
            f.pass();
        } else if (when == u"merging" || when == u"storing") {
            f.repository->beforeNext(when == u"merging" ? Operation::entry : Operation::applyRemote,
                                     [&] {
                                         replace();
                                         f.sync->forgetLocalRevisions();
                                     });
            f.pass();
        } else {
            f.sync->forgetLocalRevisions();
            QVERIFY(waitUntil([&] { return !f.sync->isRunning(); }));
        }
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.storedContent(march5), stored);
        QCOMPARE(f.pageFileContent(march5), restoredLater ? stored : QStringLiteral("Exchanged"));
        QCOMPARE(f.recoveredContents(), recovered);
        QVERIFY(f.manifest().ink.contains(QStringLiteral("2024-03-05-0.drawing")));
        // Settled: the next pass moves nothing.
        const QString file = f.fingerprint(march5);
        f.pass();
        QCOMPARE(f.fingerprint(march5), file);
        QCOMPARE(f.storedContent(march5), stored);
        QCOMPARE(f.recoveredContents(), recovered);
    }

    // Quitting while a pass is inside a file operation: the pass is stopped, the quit waits for
    // that operation, and the engine can go.
    void stopWaitsForTheOperationInFlight() {
        HeldEngine engine;
        HeldRoot &held = engine.held;
        SyncEngineFixture &f = engine.f;
        test::waitFor(f.sync->syncNow(20ms));
        QVERIFY(f.sync->isRunning());
        QTimer::singleShot(50, [&] { held.release(); });
        test::waitFor(f.sync->stop(30s));
        QVERIFY(!f.sync->isRunning());
        QVERIFY(held.finished);
        // Stopped for good: nothing starts a pass any more.
        f.sync->schedule(0ms);
        test::waitFor(f.sync->syncNow());
        QCOMPARE(held.calls.load(), 1);
        f.sync.reset();
    }

    // When even the wait runs out, the engine is torn down under the suspended pass; the pass
    // later finds it gone and unwinds without touching it.
    void engineGoesWhileAPassIsSuspended_data() {
        QTest::addColumn<bool>("stoppedFirst");
        QTest::newRow("stopped, wait ran out") << true;
        QTest::newRow("torn down at once") << false;
    }
    void engineGoesWhileAPassIsSuspended() {
        QFETCH(bool, stoppedFirst);
        HeldEngine engine;
        HeldRoot &held = engine.held;
        SyncEngineFixture &f = engine.f;
        QCoro::Task<void> waiting = f.sync->syncNow();
        QVERIFY(held.waitAsked());
        if (stoppedFirst)
            test::waitFor(f.sync->stop(20ms));
        f.sync.reset();
        held.release();
        QVERIFY(waitUntil([&] { return held.finished.load(); }));
        // The caller still waiting hears of the end.
        test::waitFor(std::move(waiting));
        QTest::qWait(50);
    }
};

VELMORA_TEST_MAIN(SyncEngineTest)
#include "tst_syncengine.moc"
