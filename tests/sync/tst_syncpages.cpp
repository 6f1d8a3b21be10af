// The page step over a real store and a real sync folder, with the test tablet writing the
// page files: which side wins, what is kept aside, which marks are left, and the days that are
// passed over.
#include "support/SyncEngineFixture.h"
#include "support/SyncRelay.h"

#include "sync/DiaryCloudSyncManifest.h"

#include <QSignalSpy>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer's runtime, whose header is not always installed.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

using namespace velmora;
using namespace velmora::test;
using Folder = DiaryCloudSyncFolder;

namespace {

// The bytes allocated and not yet freed.
qint64 heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#endif
}

const DayKey march5 = SessionFixture::day("2024-03-05");
const DayKey march6 = SessionFixture::day("2024-03-06");
const DayKey march7 = SessionFixture::day("2024-03-07");

enum class Side { local, incoming };

// A local entry of march 5 written at `localMs`, and the tablet's version of the same entry.
struct Duel {
    SyncEngineFixture f;
    DiaryEntryDTO local;

    Duel(bool localSealed, bool localChanged, qint64 localMs, const CompanionPage &incoming) {
        local = f.storedEntry(march5, QStringLiteral("Local words"),
                              localSealed ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft, 3);
        local.updatedAt = QDateTime::fromMSecsSinceEpoch(localMs, QTimeZone::utc());
        local.sealedAt = localSealed ? std::optional(local.updatedAt) : std::nullopt;
        local.fontName = QStringLiteral("Georgia");
        local.bodyPointSize = 16;
        f.repository->put(local);
        CompanionPage page = incoming;
        page.id = local.id.toString(QUuid::WithoutBraces).toUpper();
        f.tablet.writePage(page);
        // Exchanged before at revision 3 (or 2: changed since), with another file than today's.
        f.setMark(march5, localChanged ? 2 : 3, QStringLiteral("10-10"));
    }
};

} // namespace

class SyncPagesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void winnerTable_data() {
        QTest::addColumn<bool>("localSealed");
        QTest::addColumn<bool>("localChanged");
        QTest::addColumn<bool>("incomingSealed");
        QTest::addColumn<qint64>("incomingLater"); // ms after the local time
        QTest::addColumn<Side>("winner");
        QTest::addColumn<QStringList>("kept");
        const QStringList none;
        const QStringList localKept{QStringLiteral("Local words")};
        const QStringList incomingKept{QStringLiteral("Tablet words")};
        // Our page is newer than the one replacing it: the other device wrote over it unread.
        QTest::newRow("drafts, local unchanged, incoming older")
            << false << false << false << qint64(-5000) << Side::incoming << localKept;
        QTest::newRow("drafts, local unchanged, incoming later")
            << false << false << false << qint64(1) << Side::incoming << none;
        QTest::newRow("drafts, both changed, incoming later")
            << false << true << false << qint64(1) << Side::incoming << localKept;
        QTest::newRow("drafts, both changed, same time")
            << false << true << false << qint64(0) << Side::local << incomingKept;
        QTest::newRow("drafts, both changed, incoming older")
            << false << true << false << qint64(-1) << Side::local << incomingKept;
        QTest::newRow("local draft unchanged, incoming sealed")
            << false << false << true << qint64(-5000) << Side::incoming << localKept;
        QTest::newRow("local draft unchanged, incoming sealed later")
            << false << false << true << qint64(5000) << Side::incoming << none;
        QTest::newRow("local draft changed, incoming sealed")
            << false << true << true << qint64(-5000) << Side::incoming << localKept;
        QTest::newRow("local sealed, incoming draft")
            << true << false << false << qint64(5000) << Side::local << incomingKept;
        QTest::newRow("both sealed, incoming sealed earlier, local changed")
            << true << true << true << qint64(-1) << Side::incoming << localKept;
        // The local sealed words were exchanged once, but the file holds the other seal now.
        QTest::newRow("both sealed, incoming sealed earlier, local exchanged")
            << true << false << true << qint64(-1) << Side::incoming << localKept;
        QTest::newRow("both sealed, incoming sealed later")
            << true << true << true << qint64(1) << Side::local << incomingKept;
    }
    void winnerTable() {
        QFETCH(bool, localSealed);
        QFETCH(bool, localChanged);
        QFETCH(bool, incomingSealed);
        QFETCH(qint64, incomingLater);
        QFETCH(Side, winner);
        QFETCH(QStringList, kept);
        const qint64 localMs =
            QDateTime(QDate(2024, 3, 5), QTime(20, 0), Qt::UTC).toMSecsSinceEpoch();
        Duel duel(localSealed, localChanged, localMs,
                  SyncEngineFixture::tabletPage(march5, QStringLiteral("Tablet words"),
                                                localMs + incomingLater, incomingSealed));
        SyncEngineFixture &f = duel.f;
        QSignalSpy changes(f.sync.get(), &DiaryCloudSync::changeCountChanged);
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);

        const QString words =
            winner == Side::local ? QStringLiteral("Local words") : QStringLiteral("Tablet words");
        QCOMPARE(f.storedContent(march5), words);
        QCOMPARE(f.pageFileContent(march5), words);
        QCOMPARE(f.recoveredContents(), kept);
        QCOMPARE(changes.size(), winner == Side::incoming ? 1 : 0);
        const auto stored = f.repository->stored(march5);
        QCOMPARE(f.mark(march5), (DiaryCloudSyncMark{stored->revision.rawValue,
                                                     f.fingerprint(march5), std::nullopt}));

        // Settled: another pass moves nothing and keeps nothing more.
        const QString file = f.fingerprint(march5);
        f.pass();
        QCOMPARE(f.fingerprint(march5), file);
        QCOMPARE(f.recoveredContents(), kept);
        QCOMPARE(f.repository->stored(march5), stored);
    }

    // Sealed in the same millisecond on both devices: both pick the same page, whichever side
    // holds which, so the page settles instead of each side sending its own for ever.
    void sameSealTimeSettlesOnBothSides_data() {
        QTest::addColumn<QString>("macWords");
        QTest::addColumn<QString>("tabletWords");
        QTest::newRow("one order") << "Sealed on the computer"
                                   << "Sealed on the tablet";
        QTest::newRow("the other") << "Sealed on the tablet"
                                   << "Sealed on the computer";
    }
    void sameSealTimeSettlesOnBothSides() {
        QFETCH(QString, macWords);
        QFETCH(QString, tabletWords);
        SyncEngineFixture f;
        const qint64 sealMs = f.nowMs() - 60000;
        DiaryEntryDTO local = f.storedEntry(march5, macWords, DiaryEntryStatus::sealed, 2);
        local.updatedAt = local.createdAt =
            QDateTime::fromMSecsSinceEpoch(sealMs, QTimeZone::utc());
        local.sealedAt = local.updatedAt;
        f.repository->put(local);
        f.tablet.edit(march5.rawValue(), tabletWords, sealMs);
        f.tablet.seal(march5.rawValue(), sealMs);

        QString lastFile;
        for (int round = 0; round < 4; ++round) {
            f.tablet.sync();
            f.pass();
            lastFile = f.fingerprint(march5);
        }
        // Both keep the same page, and neither writes the file again.
        f.tablet.sync();
        f.pass();
        QCOMPARE(f.fingerprint(march5), lastFile);
        QCOMPARE(f.tablet.pages().value(march5.rawValue()).content, f.storedContent(march5));
        QCOMPARE(f.pageFileContent(march5), f.storedContent(march5));
        // The page that lost is kept, and kept once.
        const QStringList kept = f.recoveredContents();
        const qsizetype tabletKept = f.tablet.recoveries().size();
        QVERIFY(kept.contains(macWords) || kept.contains(tabletWords) || tabletKept > 0);
        f.tablet.sync();
        f.pass();
        QCOMPARE(f.recoveredContents(), kept);
        QCOMPARE(f.tablet.recoveries().size(), tabletKept);
    }

    void basics_data() {
        QTest::addColumn<bool>("localEntry");
        QTest::addColumn<QString>("file"); // "", "page", "same page", "placeholder"
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("marked");
        QTest::newRow("nothing on either side") << false << "" << false << "<none>" << false;
        QTest::newRow("a new local entry is uploaded")
            << true << "" << false << "Local words" << true;
        QTest::newRow("a new page file is stored")
            << false << "page" << true << "Tablet words" << true;
        QTest::newRow("a page file not fetched yet is only asked for")
            << false << "placeholder" << false << "<none>" << false;
        QTest::newRow("the same page on both sides is only marked")
            << true << "same page" << false << "Local words" << true;
    }
    void basics() {
        QFETCH(bool, localEntry);
        QFETCH(QString, file);
        QFETCH(bool, changed);
        QFETCH(QString, stored);
        QFETCH(bool, marked);
        SyncEngineFixture f;
        if (localEntry) {
            DiaryEntryDTO entry = f.storedEntry(march5, QStringLiteral("Local words"));
            entry.fontName = QStringLiteral("Georgia");
            entry.bodyPointSize = 16;
            f.repository->put(entry);
        }
        // Only the words, status, font and size make a page: other times are the same page.
        const CompanionPage page = SyncEngineFixture::tabletPage(
            march5,
            file == u"same page" ? QStringLiteral("Local words") : QStringLiteral("Tablet words"),
            f.nowMs() - 1000);
        if (file == u"page" || file == u"same page")
            f.tablet.writePage(page);
        else if (file == u"placeholder")
            f.tablet.writePlaceholder(QStringLiteral("Pages/2024-03-05.json"),
                                      TabletCompanion::encodePage(page));
        const int recordsBefore = f.repository->recoveryRecords().size();
        f.pass();
        QCOMPARE(f.sync->changeCount(), changed ? 1 : 0);
        QCOMPARE(f.storedContent(march5), stored);
        QCOMPARE(f.mark(march5).has_value(), marked);
        if (marked)
            QCOMPARE(f.mark(march5)->remote, f.fingerprint(march5));
        QCOMPARE(f.repository->recoveryRecords().size(), recordsBefore);
        QVERIFY(f.sync->lastSync());
        if (file == u"placeholder") {
            // The request fetched it; the next pass reads it.
            QVERIFY(QFile::exists(f.tablet.pagePath(march5.rawValue())));
            f.pass();
            QCOMPARE(f.storedContent(march5), QStringLiteral("Tablet words"));
        }
    }

    // A conflict, a seal made meanwhile or a page file that is no page of its day skip that day
    // only; any other failure ends the step, and the marks of the pass are not kept.
    void errorRule_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("stepFails");
        QTest::newRow("saved meanwhile") << "conflict" << false;
        QTest::newRow("sealed meanwhile") << "sealed" << false;
        QTest::newRow("page of another day") << "other day" << false;
        QTest::newRow("the store cannot read") << "read failed" << true;
    }
    void errorRule() {
        QFETCH(QString, failure);
        QFETCH(bool, stepFails);
        SyncEngineFixture f;
        f.seed(march5, QStringLiteral("Old words"));
        f.setMark(march5, 1, QStringLiteral("10-10"));
        f.tablet.writePage(SyncEngineFixture::tabletPage(
            failure == u"other day" ? march7 : march5, QStringLiteral("Tablet words"), f.nowMs()));
        if (failure == u"other day")
            QFile::rename(f.tablet.pagePath(march7.rawValue()),
                          f.tablet.pagePath(march5.rawValue()));
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march6, QStringLiteral("The next day"), f.nowMs()));
        if (failure == u"conflict")
            f.repository->beforeNext(Operation::applyRemote, [&] {
                velmora::test::waitFor(f.repository->inner()->save(
                    DiaryDraftDTO{f.repository->stored(march5)->id, march5,
                                  QStringLiteral("Typed meanwhile"), QStringLiteral("Georgia"), 16,
                                  QStringLiteral("UTC"), f.clock->now(), f.clock->now(),
                                  DiaryRevision{1}},
                    DiaryRevision{1}, 1));
            });
        else if (failure == u"sealed")
            f.repository->failNext(Operation::applyRemote, PersistenceError::entryAlreadySealed());
        else if (failure == u"read failed")
            f.repository->failNext(Operation::entry,
                                   PersistenceError::readFailed(QStringLiteral("Disk gone")));
        const auto markBefore = f.mark(march5);
        f.pass();

        // A file that is no page of its day was not read: what replaces it may not follow ours.
        QCOMPARE(f.mark(march5),
                 failure == u"other day"
                     ? std::optional(DiaryCloudSyncMark{1, DiaryCloudSyncMark::unreadRemote, {}})
                     : markBefore);
        if (stepFails) {
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
            QVERIFY(f.sync->failureMessage().contains(QStringLiteral("Disk gone")));
            QCOMPARE(f.storedContent(march6), QStringLiteral("<none>"));
            QVERIFY(!f.mark(march6));
            QVERIFY(!f.sync->lastSync());
        } else {
            QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
            QCOMPARE(f.storedContent(march6), QStringLiteral("The next day"));
            QVERIFY(f.mark(march6));
        }
    }

    // Conflict copies: the chosen version is stored and written back so both devices end on it,
    // every other version with words of its own is kept, then the copies go.
    void conflictVersions_data() {
        QTest::addColumn<bool>("fileUnchanged");
        QTest::newRow("beside a changed file") << false;
        // A tool made the copies after the file was exchanged.
        QTest::newRow("beside an unchanged file") << true;
    }
    void conflictVersions() {
        QFETCH(bool, fileUnchanged);
        SyncEngineFixture f;
        const qint64 t = f.nowMs() - 600000;
        f.tablet.writePage(SyncEngineFixture::tabletPage(march5, QStringLiteral("Current"), t));
        if (fileUnchanged) {
            f.pass();
            QCOMPARE(f.storedContent(march5), QStringLiteral("Current"));
        }
        const CompanionPage newest =
            SyncEngineFixture::tabletPage(march5, QStringLiteral("Newest copy"), t + 2000);
        f.tablet.writeConflictCopy(newest, t + 2000);
        f.tablet.writeConflictCopy(
            SyncEngineFixture::tabletPage(march5, QStringLiteral("Older copy"), t + 1000), t + 1000,
            QStringLiteral("OTHER"));
        f.tablet.writeConflictCopy(SyncEngineFixture::tabletPage(march5, QString(), t + 500),
                                   t + 500, QStringLiteral("EMPTY"));
        f.pass();

        QCOMPARE(f.storedContent(march5), QStringLiteral("Newest copy"));
        QCOMPARE(f.pageFileContent(march5), QStringLiteral("Newest copy"));
        QCOMPARE(f.mark(march5)->remote, f.fingerprint(march5));
        QCOMPARE(f.recoveredContents(),
                 (QStringList{QStringLiteral("Current"), QStringLiteral("Older copy")}));
        QVERIFY(f.tablet.conflictCopies(march5.rawValue()).isEmpty());
        f.pass();
        QCOMPARE(f.recoveredContents().size(), 2);
    }

    // A copy with no page file beside it is settled as well. It says nothing of what the other
    // side did since the last exchange, so it replaces the local page only when it is newer, and
    // the page it replaces is kept; a page file gone after an exchange is written again only for
    // a copy that won.
    void conflictCopyWithoutItsPageFile_data() {
        QTest::addColumn<QString>("local"); // "", "exchanged" (its page file gone since), "new"
        QTest::addColumn<bool>("newerCopy");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("recovered");
        QTest::addColumn<QString>("pageFile");
        QTest::newRow("nothing local")
            << "" << false << "Copy words" << QStringList{} << "Copy words";
        QTest::newRow("exchanged, a newer copy")
            << "exchanged" << true << "Copy words" << QStringList{"Local words"} << "Copy words";
        QTest::newRow("exchanged, an older copy")
            << "exchanged" << false << "Local words" << QStringList{"Copy words"} << "<none>";
        QTest::newRow("never sent, an older copy")
            << "new" << false << "Local words" << QStringList{"Copy words"} << "Local words";
    }
    void conflictCopyWithoutItsPageFile() {
        QFETCH(QString, local);
        QFETCH(bool, newerCopy);
        QFETCH(QString, stored);
        QFETCH(QStringList, recovered);
        QFETCH(QString, pageFile);
        SyncEngineFixture f;
        if (!local.isEmpty())
            f.seed(march5, QStringLiteral("Local words"));
        if (local == u"exchanged") {
            f.pass();
            f.tablet.remove(QStringLiteral("Pages/2024-03-05.json"));
        }
        // The local page was written 30 days ago.
        const qint64 at = f.nowMs() - (newerCopy ? 1 : 40) * 86400000LL;
        f.tablet.writeConflictCopy(SyncEngineFixture::tabletPage(march5, "Copy words", at), at);
        f.pass();
        QCOMPARE(f.storedContent(march5), stored);
        QCOMPARE(f.recoveredContents(), recovered);
        QCOMPARE(f.pageFileContent(march5), pageFile);
        QVERIFY(f.tablet.conflictCopies(march5.rawValue()).isEmpty());
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.storedContent(march5), stored);
        QCOMPARE(f.recoveredContents(), recovered);
    }

    // However many copies a tool left beside one page, one pass settles them all, with no more
    // than a version or two of the page in memory at a time.
    void manyConflictCopiesSettleInOnePass() {
        SyncEngineFixture f;
        const qint64 t = f.nowMs() - 3600000;
        const QString words(20000, QLatin1Char('w'));
        f.tablet.writePage(SyncEngineFixture::tabletPage(march5, QStringLiteral("Current"), t));
        for (int i = 0; i < 3000; ++i)
            f.tablet.writeConflictCopy(
                SyncEngineFixture::tabletPage(march5, words + (i % 2 ? u'A' : u'B'), t + i + 1),
                t + i + 1, QStringLiteral("D%1").arg(i));
        // The first recovery record is made while the copies are settled; all 3,000 versions
        // held at once then would be 120 MB of text.
        const qint64 before = heapInUse();
        qint64 settling = 0;
        f.repository->beforeNext(Operation::preserveRecovery, [&] { settling = heapInUse(); });
        f.pass();
        QVERIFY2(settling - before < 32 * 1024 * 1024,
                 qPrintable(QString::number(settling - before)));
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QVERIFY(f.tablet.conflictCopies(march5.rawValue()).isEmpty());
        QCOMPARE(f.storedContent(march5), words + u'A');
        QCOMPARE(f.pageFileContent(march5), words + u'A');
        QCOMPARE(f.recoveredContents(), (QStringList{QStringLiteral("Current"), words + u'B'}));
    }

    // A file named like a conflict copy that is no page of the day is never taken for one: it
    // stays where it is, pass after pass, and the page beside it settles.
    void filesThatAreNoCopyStay_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray page = TabletCompanion::encodePage(
            SyncEngineFixture::tabletPage(march6, QStringLiteral("Copy"), 1709640000000));
        QTest::newRow("cut short") << page.left(60);
        QTest::newRow("a page of another day") << page;
        QTest::newRow("another program's file") << QByteArray(R"({"notes": ["mine"]})");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("larger than any page")
            << QByteArray(DiaryCloudSyncFolder::pageByteLimit + 1, ' ');
    }
    void filesThatAreNoCopyStay() {
        QFETCH(QByteArray, bytes);
        SyncEngineFixture f;
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march5, QStringLiteral("Current"), f.nowMs()));
        const QString copy = f.tablet.writeFile(
            QStringLiteral("Pages/2024-03-05 (conflicted copy 2024-03-05 101500).json"), bytes);
        f.pass();
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.storedContent(march5), QStringLiteral("Current"));
        QVERIFY(f.recoveredContents().isEmpty());
        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
    }

    // The incoming page wins for the open day while the user has unsaved typing: nothing happens
    // for that day, and the copies stay for a later pass.
    void openDayWithPendingWritingWaits() {
        SyncEngineFixture f;
        f.clock->set(QDateTime(QDate(2024, 3, 15), QTime(10, 0), Qt::UTC));
        const DayKey today = SessionFixture::today;
        f.seed(today, QStringLiteral("Morning"));
        f.setMark(today, 1, QStringLiteral("10-10"));
        f.open(today);
        f.repository->setDelay(Operation::save, 1s);
        f.session->updateDraft(QStringLiteral("Morning and noon"));
        QVERIFY(f.session->hasPendingLocalWriting());
        const qint64 later = f.nowMs() + 60000;
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(today, QStringLiteral("Tablet noon"), later));
        f.tablet.writeConflictCopy(
            SyncEngineFixture::tabletPage(today, QStringLiteral("Tablet copy"), later - 1),
            later - 1);
        // Unsaved typing is a local change only once saved; the store still holds the exchanged
        // revision, so the tablet's page wins and must wait.
        f.pass();
        QCOMPARE(f.storedContent(today), QStringLiteral("Morning"));
        QCOMPARE(f.mark(today), (DiaryCloudSyncMark{1, QStringLiteral("10-10"), std::nullopt}));
        QCOMPARE(f.tablet.conflictCopies(today.rawValue()).size(), 1);
        QCOMPARE(f.session->currentText(), QStringLiteral("Morning and noon"));
        QCOMPARE(f.sync->changeCount(), 0);
        f.repository->setDelay(Operation::save, 0ms);
        QVERIFY(f.settled());
    }

    // A page that reaches the sync folder while this day's upload runs, at any step of it, is
    // read next time, never overwritten unread, and the upload leaves no mark for a file it did
    // not write; the next pass keeps both pages' words.
    void pageArrivingDuringTheUploadIsNotOverwritten_data() {
        QTest::addColumn<bool>("exchanged"); // the day's page file was there before
        QTest::addColumn<int>("step");       // the write's step, or -1: before the write
        const QList<std::pair<const char *, int>> steps{
            {"before the write", -1},
            {"while its temporary is written", int(Folder::WriteStep::temporaryWritten)},
            {"between the last look and the move", int(Folder::WriteStep::beforeMove)},
            {"right after the move", int(Folder::WriteStep::afterMove)}};
        for (const bool exchanged : {false, true}) {
            for (const auto &[when, step] : steps)
                QTest::addRow("%s page, %s", exchanged ? "an exchanged" : "a new", when)
                    << exchanged << step;
        }
    }
    void pageArrivingDuringTheUploadIsNotOverwritten() {
        QFETCH(bool, exchanged);
        QFETCH(int, step);
        SyncEngineFixture f;
        DiaryEntryDTO local = f.seed(march5, QStringLiteral("Local words"));
        if (exchanged) {
            f.pass();
            local.content = QStringLiteral("Local words, and more");
            local.revision.rawValue += 1;
            f.repository->put(local);
        }
        const auto arrive = [&] {
            f.tablet.writePage(SyncEngineFixture::tabletPage(march5, QStringLiteral("Arrived late"),
                                                             f.nowMs() + 1000));
        };
        bool arrived = false;
        if (step < 0)
            f.repository->beforeNext(Operation::entry, arrive);
        else
            f.sync->setWriteInterruption([&](const QString &url, Folder::WriteStep at) {
                if (!arrived && int(at) == step &&
                    url.endsWith(QStringLiteral("/2024-03-05.json"))) {
                    arrived = true;
                    arrive();
                }
            });
        const std::optional<DiaryCloudSyncMark> markBefore = f.mark(march5);
        f.pass();
        QCOMPARE(f.pageFileContent(march5), QStringLiteral("Arrived late"));
        QCOMPARE(f.mark(march5), markBefore);
        QCOMPARE(QDir(f.tablet.pagesFolder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("2024-03-05.json")});
        f.sync->setWriteInterruption({});
        f.pass();
        const QStringList everything = f.recoveredContents() + QStringList{f.storedContent(march5)};
        QVERIFY2(everything.contains(QStringLiteral("Arrived late")),
                 qPrintable(everything.join('|')));
        QVERIFY2(everything.contains(local.content), qPrintable(everything.join('|')));
        QCOMPARE(f.pageFileContent(march5), f.storedContent(march5));
    }

    // A page file nobody can read: while the local page is unchanged the day waits for a readable
    // file; once it changed, the file's bytes are kept in the diary's folder and the local page
    // takes its place.
    void unreadablePageFile_data() {
        QTest::addColumn<bool>("localChanged");
        QTest::newRow("local unchanged") << false;
        QTest::newRow("local changed") << true;
    }
    void unreadablePageFile() {
        QFETCH(bool, localChanged);
        SyncEngineFixture f;
        f.seed(march5, QStringLiteral("Local words"), DiaryEntryStatus::draft, 2);
        f.setMark(march5, localChanged ? 1 : 2, QStringLiteral("10-10"));
        const CompanionPage page =
            SyncEngineFixture::tabletPage(march5, QStringLiteral("Half written"), f.nowMs());
        QDir().mkpath(f.tablet.pagesFolder());
        f.tablet.writeTornPage(page, 40);
        const QByteArray torn = TabletCompanion::encodePage(page).left(40);
        const QString tornFingerprint = f.fingerprint(march5);
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        const QString kept = f.sync->unreadablePagesFolder() + QStringLiteral("/2024-03-05 ") +
                             tornFingerprint + QStringLiteral(".json");
        if (!localChanged) {
            QCOMPARE(f.fingerprint(march5), tornFingerprint);
            QVERIFY(!QFile::exists(kept));
            QCOMPARE(f.mark(march5)->remote, DiaryCloudSyncMark::unreadRemote);
            return;
        }
        QFile copy(kept);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), torn);
        QCOMPARE(f.pageFileContent(march5), QStringLiteral("Local words"));
        QCOMPARE(f.mark(march5), (DiaryCloudSyncMark{2, f.fingerprint(march5), std::nullopt}));
    }

    // Our page, exchanged and unchanged since, is replaced through the relay by a page that does
    // not come from it: another device's own entry for the day, anything that follows a version
    // this computer could not read whole (a tool's rewrite in place, caught halfway), or the
    // version the other device read before our last edit, written back. Our words are then kept
    // before they are replaced; an edit of our own entry elsewhere replaces them as usual.
    void replacedPageKeepsOurs_data() {
        QTest::addColumn<bool>("torn");
        QTest::addColumn<bool>("ourEntry");
        QTest::addColumn<bool>("writtenBack"); // what the other device read, after our next edit
        QTest::addColumn<bool>("kept");
        QTest::newRow("torn, then another device's page") << true << false << false << true;
        QTest::newRow("another device's page") << false << false << false << true;
        QTest::newRow("torn, then our entry edited elsewhere") << true << true << false << true;
        QTest::newRow("our entry edited elsewhere") << false << true << false << false;
        QTest::newRow("our entry as read before our last edit, written back")
            << false << true << true << true;
    }
    void replacedPageKeepsOurs() {
        QFETCH(bool, torn);
        QFETCH(bool, ourEntry);
        QFETCH(bool, writtenBack);
        QFETCH(bool, kept);
        SyncEngineFixture f;
        const QString otherSide = f.folder.filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(otherSide));
        SyncRelay relay(f.chosen, otherSide);
        TabletCompanion other(otherSide + QStringLiteral("/Diary Sync"),
                              f.folder.filePath(QStringLiteral("other-state")));
        DiaryEntryDTO ours = f.seed(march5, QStringLiteral("Our words"));
        f.pass();
        relay.step();
        QCOMPARE(other.sync().stored, QStringList{march5.rawValue()});
        if (writtenBack) {
            // Our next words reach the other side's folder, but not its diary.
            ours.content = QStringLiteral("Our words, and more");
            ours.updatedAt = ours.updatedAt.addSecs(60);
            ours.revision.rawValue += 1;
            f.repository->put(ours);
            f.pass();
            relay.step();
        }
        if (torn) {
            f.tablet.writeTornPage(
                SyncEngineFixture::tabletPage(march5, QStringLiteral("Half"), f.nowMs()), 40);
            f.pass();
            QCOMPARE(f.storedContent(march5), QStringLiteral("Our words"));
            relay.step();
        }
        CompanionPage theirs = ourEntry
                                   ? other.pages().value(march5.rawValue())
                                   : SyncEngineFixture::tabletPage(march5, QString(), f.nowMs());
        if (!writtenBack) {
            theirs.content = QStringLiteral("Their words");
            theirs.updatedAtMs = f.nowMs() + 60000;
        }
        other.writePage(theirs);
        relay.step();
        f.pass();

        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.storedContent(march5), theirs.content);
        QCOMPARE(f.recoveredContents(), kept ? QStringList{ours.content} : QStringList());
        QCOMPARE(f.mark(march5)->remote, f.fingerprint(march5));
    }

    // The same losing version met again, pass after pass, is kept once.
    void losingVersionIsKeptOnce() {
        SyncEngineFixture f;
        f.seed(march5, QStringLiteral("Local words"), DiaryEntryStatus::sealed, 2);
        f.setMark(march5, 2, QStringLiteral("10-10"));
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march5, QStringLiteral("Tablet draft"), f.nowMs()));
        // The upload after keeping the tablet's draft fails once: the step ends, and the next pass
        // meets the same draft again.
        f.repository->script(Operation::entry, {});
        f.repository->failNext(Operation::entry,
                               PersistenceError::readFailed(QStringLiteral("Busy disk")));
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::failed);
        f.pass();
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::upToDate);
        QCOMPARE(f.recoveredContents(), QStringList{QStringLiteral("Tablet draft")});
        QCOMPARE(f.pageFileContent(march5), QStringLiteral("Local words"));
    }

    void switchedOffMidStepStopsAtTheNextDay() {
        SyncEngineFixture f;
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march5, QStringLiteral("First"), f.nowMs()));
        f.tablet.writePage(
            SyncEngineFixture::tabletPage(march6, QStringLiteral("Second"), f.nowMs()));
        f.repository->beforeNext(Operation::applyRemote, [&] { f.sync->setEnabled(false); });
        f.pass();
        QCOMPARE(f.storedContent(march5), QStringLiteral("First"));
        QCOMPARE(f.storedContent(march6), QStringLiteral("<none>"));
        QVERIFY(f.mark(march5));
        QCOMPARE(f.sync->status(), DiaryCloudSyncStatus::off);
    }
};

Q_DECLARE_METATYPE(Side)

VELMORA_TEST_MAIN(SyncPagesTest)
#include "tst_syncpages.moc"
