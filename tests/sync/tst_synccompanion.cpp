// The test tablet and the relay against the real folder layer: what one side writes, the other
// reads, across a relay that behaves as a file-sync tool.
#include "support/SyncRelay.h"
#include "support/TabletCompanion.h"
#include "support/TestSupport.h"
#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

using namespace velmora;
using namespace velmora::test;
using Folder = DiaryCloudSyncFolder;

namespace {

const DayKey march5 = *DayKey::fromRawValue(QStringLiteral("2024-03-05"));
const DayKey march6 = *DayKey::fromRawValue(QStringLiteral("2024-03-06"));

// Two machines: the computer's sync folder (side A) and the tablet's (side B), each with a
// "Diary Sync", kept in step by the relay.
struct TwoSides {
    QTemporaryDir dir;
    QString sideA = dir.filePath(QStringLiteral("computer"));
    QString sideB = dir.filePath(QStringLiteral("tablet"));
    Folder computer{sideA + QStringLiteral("/Diary Sync")};
    TabletCompanion tablet{sideB + QStringLiteral("/Diary Sync"),
                           dir.filePath(QStringLiteral("tablet-state"))};
    SyncRelay relay{sideA, sideB};

    TwoSides() {
        QDir().mkpath(sideB);
        computer.createFolders(DiaryCloudSyncManifest::fresh(computer.root()));
        relay.step();
    }
};

DiaryEntryDTO entryOf(const CompanionPage &page) {
    DiaryEntryDTO entry;
    entry.id = QUuid::fromString(page.id);
    entry.dayKey = *DayKey::fromRawValue(page.dayKey);
    entry.content = page.content;
    entry.fontName = page.fontName;
    entry.bodyPointSize = page.bodyPointSize;
    entry.status = page.sealed ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft;
    entry.originTimeZone = page.originTimeZone;
    entry.createdAt = QDateTime::fromMSecsSinceEpoch(page.createdAtMs, QTimeZone::utc());
    entry.updatedAt = QDateTime::fromMSecsSinceEpoch(page.updatedAtMs, QTimeZone::utc());
    if (page.sealedAtMs)
        entry.sealedAt = QDateTime::fromMSecsSinceEpoch(*page.sealedAtMs, QTimeZone::utc());
    entry.revision = DiaryRevision{page.revision};
    return entry;
}

} // namespace

class SyncCompanionTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Two encoders, one format: each side reads exactly what the other wrote.
    void pagesTravelBothWays_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("sealed");
        QTest::newRow("a draft") << "Rain at noon.\nWalked home." << false;
        QTest::newRow("sealed, with quotes and slashes")
            << "“Either/or,” she said\t\\ done." << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("beyond the basic plane") << "Mountains 🏔️ and rivers" << true;
    }
    void pagesTravelBothWays() {
        QFETCH(QString, content);
        QFETCH(bool, sealed);
        TwoSides sides;
        CompanionPage page = TabletCompanion::page(march5.rawValue(), content, sealed);
        page.updatedAtMs += 1234;
        page.revision = 9;
        sides.tablet.writePage(page);
        sides.relay.step();
        QCOMPARE(sides.computer.readPage(march5).entries, QList<DiaryEntryDTO>{entryOf(page)});
        // The relay keeps modification times, so both sides fingerprint the file alike.
        QCOMPARE(sides.computer.remotePages().value(march5).fingerprint,
                 *Folder::fingerprint(sides.tablet.pagePath(march5.rawValue())));

        DiaryEntryDTO entry = entryOf(page);
        entry.dayKey = march6;
        sides.computer.writePage(entry);
        sides.relay.step();
        CompanionPage read = *sides.tablet.readPageFile(march6.rawValue());
        QCOMPARE(entryOf(read), entry);
    }

    void aTornPageIsUnreadable() {
        TwoSides sides;
        sides.tablet.writeTornPage(TabletCompanion::page(march5.rawValue(), QStringLiteral("half")),
                                   60);
        sides.relay.step();
        QVERIFY(test::thrownBy<Folder::FolderError>([&] { sides.computer.readPage(march5); }));
    }

    void aPlaceholderArrivesWhenAskedFor() {
        QTemporaryDir dir;
        TabletCompanion tablet(dir.filePath(QStringLiteral("Diary Sync")),
                               dir.filePath(QStringLiteral("state")));
        const Folder folder(tablet.root(), tablet.downloader());
        folder.createFolders(DiaryCloudSyncManifest::fresh(folder.root()));
        const CompanionPage page =
            TabletCompanion::page(march5.rawValue(), QStringLiteral("fetched"));
        tablet.writePlaceholder(QStringLiteral("Pages/2024-03-05.json"),
                                TabletCompanion::encodePage(page));

        Folder::RemoteFile listed = folder.remotePages().value(march5);
        QCOMPARE(listed.fingerprint, Folder::pendingFingerprint);
        QVERIFY(!listed.isDownloaded);
        folder.startDownloading(listed.url);
        listed = folder.remotePages().value(march5);
        QVERIFY(listed.isDownloaded);
        QCOMPARE(folder.readPage(march5).entries.first().content, QStringLiteral("fetched"));
    }

    // Both sides change a page before the relay runs: the tool keeps the newer under the name and
    // leaves the other beside it, where the folder layer finds it as a conflict copy.
    void bothSidesChangingMakesAConflictCopy() {
        TwoSides sides;
        DiaryEntryDTO mine =
            entryOf(TabletCompanion::page(march5.rawValue(), QStringLiteral("computer")));
        sides.computer.writePage(mine);
        sides.relay.step();
        mine.content = QStringLiteral("computer, later");
        sides.computer.writePage(mine);
        sides.tablet.writePage(TabletCompanion::page(march5.rawValue(), QStringLiteral("tablet")));
        sides.tablet.setModified(QStringLiteral("Pages/2024-03-05.json"),
                                 QDateTime::currentMSecsSinceEpoch() + 60000);
        const SyncRelay::Round round = sides.relay.step();
        QCOMPARE(round.conflicts.size(), 1);
        QVERIFY(round.conflicts.first().startsWith(
            QStringLiteral("Diary Sync/Pages/2024-03-05.sync-conflict-")));

        QMap<DayKey, QList<Folder::ConflictCopy>> conflicts;
        QCOMPARE(sides.computer.remotePages(&conflicts).keys(), QList<DayKey>{march5});
        QCOMPARE(conflicts.value(march5).size(), 1);
        const Folder::PageVersions versions =
            sides.computer.readPage(march5, conflicts.value(march5));
        QCOMPARE(versions.entries.size(), 2);
        QCOMPARE(versions.entries[0].content, QStringLiteral("tablet"));
        QCOMPARE(versions.entries[1].content, QStringLiteral("computer, later"));

        // Settling removes the copy here, and the relay carries the removal over.
        sides.computer.settleConflicts(versions);
        sides.relay.step();
        QVERIFY(sides.tablet.conflictCopies(march5.rawValue()).isEmpty());
    }

    // What a sync tool does with a vanished folder: it deletes everything on the other side.
    // The folder layer then fails rather than making a new, empty "Diary Sync".
    void aVanishedFolderIsCarriedOverAndRefused() {
        TwoSides sides;
        DiaryCloudSyncManifest manifest = DiaryCloudSyncManifest::fresh(sides.computer.root());
        manifest.pages.insert(march5.rawValue(),
                              {1,
                               sides.computer.writePage(entryOf(TabletCompanion::page(
                                   march5.rawValue(), QStringLiteral("kept")))),
                               {}});
        sides.relay.step();
        QVERIFY(QFileInfo::exists(sides.tablet.pagePath(march5.rawValue())));

        QVERIFY(QDir(sides.tablet.root()).removeRecursively());
        sides.relay.step();
        QVERIFY(sides.computer.remotePages().isEmpty());
        QVERIFY(QDir(sides.computer.root()).removeRecursively());
        const auto error =
            test::thrownBy<Folder::AccessError>([&] { sides.computer.createFolders(manifest); });
        QVERIFY(error);
        QCOMPARE(error->message(), QStringLiteral("The sync folder is missing."));
    }

    // The tablet's own sync follows the diary's rules from its side.
    void theTabletSyncsItsOwnDiary() {
        TwoSides sides;
        sides.tablet.edit(march5.rawValue(), QStringLiteral("tablet draft"), 1000);
        QCOMPARE(sides.tablet.sync().uploaded, QStringList{march5.rawValue()});
        QCOMPARE(sides.tablet.sync().uploaded, QStringList{});
        sides.relay.step();
        DiaryEntryDTO entry = sides.computer.readPage(march5).entries.first();

        // A sealed page from the computer beats the tablet's newer draft; the draft is kept.
        entry.content = QStringLiteral("sealed on the computer");
        entry.status = DiaryEntryStatus::sealed;
        entry.sealedAt = entry.updatedAt;
        sides.computer.writePage(entry);
        sides.tablet.edit(march5.rawValue(), QStringLiteral("tablet, later"), 5000);
        sides.relay.step();
        QCOMPARE(sides.tablet.sync().stored, QStringList{march5.rawValue()});
        QVERIFY(sides.tablet.pages().value(march5.rawValue()).sealed);
        QCOMPARE(sides.tablet.recoveries().size(), 1);
        QCOMPARE(sides.tablet.recoveries().first().content, QStringLiteral("tablet, later"));

        // Its state lives outside the sync folder and survives a new process.
        TabletCompanion again(sides.tablet.root(),
                              sides.dir.filePath(QStringLiteral("tablet-state")));
        QCOMPARE(again.pages(), sides.tablet.pages());
        QCOMPARE(again.recoveries().size(), 1);
    }

    void theCommandDrivesTheSameTablet() {
        TwoSides sides;
        const auto companion = [&](const QStringList &arguments) {
            QProcess process;
            process.start(QStringLiteral(VELMORA_COMPANION),
                          QStringList{"--root", sides.tablet.root(), "--state",
                                      sides.dir.filePath(QStringLiteral("command-state"))} +
                              arguments);
            if (!process.waitForFinished(30000) || process.exitCode() != 0)
                qWarning() << process.readAllStandardError();
            return QString::fromUtf8(process.readAllStandardOutput());
        };
        const QStringList relay{"relay", sides.sideA, sides.sideB};
        companion({"write-page", "2024-03-05", "from the command", "--sealed"});
        companion(relay);
        DiaryEntryDTO entry = sides.computer.readPage(march5).entries.first();
        QCOMPARE(entry.content, QStringLiteral("from the command"));
        QVERIFY(entry.isSealed());
        QCOMPARE(companion({"show", "2024-03-05"}), QStringLiteral("sealed\nfrom the command\n"));

        // Each run remembers what the last carried: a change on one side travels, not a conflict.
        entry.content = QStringLiteral("changed on the computer");
        sides.computer.writePage(entry);
        QCOMPARE(companion(relay), QString());
        QCOMPARE(companion({"show", "2024-03-05"}),
                 QStringLiteral("sealed\nchanged on the computer\n"));
    }
};

VELMORA_TEST_MAIN(SyncCompanionTest)
#include "tst_synccompanion.moc"
