// The folder layer against a real file-sync tool: two Syncthing daemons on this machine share one
// folder; the tablet writes on one side and the diary's folder layer reads on the other, and
// back. It also records the names the tool gives its temp files and conflict copies.
#include "support/SyncthingPair.h"
#include "support/TabletCompanion.h"
#include "support/TestSupport.h"
#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <dirent.h>

using namespace velmora;
using namespace velmora::test;
using Folder = DiaryCloudSyncFolder;

namespace {

constexpr auto arrival = std::chrono::seconds(20);

// Every name in the folder, hidden ones too, as the folder layer's listing meets them.
QStringList rawNames(const QString &folder) {
    QStringList names;
    if (DIR *dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent *item = ::readdir(dir))
            names.append(QFile::decodeName(item->d_name));
        ::closedir(dir);
    }
    return names;
}

} // namespace

class SyncthingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (SyncthingPair::binary().isEmpty())
            QSKIP("syncthing is not installed (scripts/setup installs it)");
        QVERIFY(m_work.isValid());
        m_pair = std::make_unique<SyncthingPair>(m_work.path());
        QString why;
        QVERIFY2(m_pair->start(&why), qPrintable(why));
        m_computer = std::make_unique<Folder>(m_pair->sideA() + QStringLiteral("/Diary Sync"));
        m_computer->createFolders(DiaryCloudSyncManifest::fresh(m_computer->root()));
        m_tablet =
            std::make_unique<TabletCompanion>(m_pair->sideB() + QStringLiteral("/Diary Sync"),
                                              m_work.filePath(QStringLiteral("tablet-state")));
        m_pair->rescan(0);
        QVERIFY2(SyncthingPair::waitUntil(
                     [&] { return QFileInfo(m_tablet->pagesFolder()).isDir(); }, arrival),
                 qPrintable(m_pair->log(0) + QStringLiteral("\n---\n") + m_pair->log(1)));
    }

    void cleanupTestCase() {
        if (m_pair)
            m_pair->stop();
        qInfo() << "names the tool used in the sync folder:" << m_seen;
    }

    // What the tablet writes arrives as a page the folder layer reads, with the same
    // fingerprint on both sides; what the computer writes arrives at the tablet.
    void pagesArriveOnTheOtherSide() {
        const CompanionPage page = TabletCompanion::page(QStringLiteral("2024-03-05"),
                                                         QStringLiteral("Written on the tablet."));
        m_tablet->writePage(page);
        m_pair->rescan(1);
        const DayKey day = *DayKey::fromRawValue(QStringLiteral("2024-03-05"));
        QVERIFY2(watch([&] { return readable(day) && m_pair->settled(); }),
                 qPrintable(m_pair->log(0)));
        QCOMPARE(m_computer->readPage(day).entries.first().content, page.content);
        QCOMPARE(m_computer->remotePages().value(day).fingerprint,
                 *Folder::fingerprint(m_tablet->pagePath(day.rawValue())));

        DiaryEntryDTO entry = m_computer->readPage(day).entries.first();
        entry.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-03-06"));
        entry.content = QStringLiteral("Written on the computer.");
        m_computer->writePage(entry);
        m_pair->rescan(0);
        QVERIFY(watch([&] {
            return m_tablet->readPageFile(QStringLiteral("2024-03-06")).has_value() &&
                   m_pair->settled();
        }));
        QCOMPARE(m_tablet->readPageFile(QStringLiteral("2024-03-06"))->content, entry.content);
    }

    // A large drawing takes long enough in transit for the tool's temp file to be seen.
    void aLargeDrawingArrivesWhole() {
        CompanionStroke stroke;
        for (int i = 0; i < 400000; ++i)
            stroke.points.append({double(i % 500), double(i / 500), 0.5});
        const QString written =
            m_tablet->writeDrawing(QStringLiteral("2024-03-05-0.drawing"), {stroke});
        m_pair->rescan(1);
        const QString arrived = m_computer->inkURL(QStringLiteral("2024-03-05-0.drawing"));
        QVERIFY(watch([&] {
            return m_computer->remoteInk().contains(QStringLiteral("2024-03-05-0.drawing")) &&
                   m_pair->settled();
        }));
        QCOMPARE(m_computer->coordinatedRead(arrived, Folder::drawingByteLimit),
                 Folder(m_tablet->root()).coordinatedRead(written, Folder::drawingByteLimit));
    }

    // Both sides change one page while they cannot reach each other: the tool keeps one under
    // the name and the other as a conflict copy, which the folder layer reads beside it.
    void aConflictLeavesACopyBesideThePage() {
        const DayKey day = *DayKey::fromRawValue(QStringLiteral("2024-03-07"));
        m_pair->pause(0);
        m_pair->pause(1);
        QVERIFY(SyncthingPair::waitUntil([&] { return !m_pair->connected(0); }, arrival));
        DiaryEntryDTO entry =
            m_computer->readPage(*DayKey::fromRawValue(QStringLiteral("2024-03-05")))
                .entries.first();
        entry.dayKey = day;
        entry.content = QStringLiteral("the computer's words");
        m_computer->writePage(entry);
        CompanionPage page =
            TabletCompanion::page(day.rawValue(), QStringLiteral("the tablet's words"));
        m_tablet->writePage(page);
        // Each side has taken in its own version before they meet again.
        const QString pagePath = QStringLiteral("Diary Sync/Pages/2024-03-07.json");
        m_pair->rescan(0);
        m_pair->rescan(1);
        QVERIFY(SyncthingPair::waitUntil(
            [&] { return m_pair->knowsLocally(0, pagePath) && m_pair->knowsLocally(1, pagePath); },
            arrival));
        m_pair->resume(0);
        m_pair->resume(1);

        // Done once the tool has moved both versions into place on both sides.
        QMap<DayKey, QList<Folder::ConflictCopy>> conflicts;
        QVERIFY2(watch(
                     [&] {
                         conflicts.clear();
                         m_computer->remotePages(&conflicts);
                         return conflicts.contains(day) && readable(day) && m_pair->settled();
                     },
                     std::chrono::seconds(30)),
                 qPrintable(m_pair->log(0)));
        const QString copy = QFileInfo(conflicts.value(day).first().url).fileName();
        m_seen.append(copy);
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("^2024-03-07\\.sync-conflict-\\d{8}-\\d{6}-[A-Z0-9]{7}\\.json$"))
                .match(copy)
                .hasMatch(),
            qPrintable(copy));
        const Folder::PageVersions versions = m_computer->readPage(day, conflicts.value(day));
        QCOMPARE(versions.entries.size(), 2);
        QStringList contents{versions.entries[0].content, versions.entries[1].content};
        contents.sort();
        QCOMPARE(contents, (QStringList{"the computer's words", "the tablet's words"}));
    }

private:
    // The day's page file is there and reads whole.
    bool readable(const DayKey &day) const {
        try {
            m_computer->readPage(day);
            return true;
        } catch (const DiaryError &) {
            return false;
        }
    }

    // Waits for the predicate, noting every hidden name the tool leaves in the two folders and
    // checking that the listing never takes one for a file.
    template <typename Predicate>
    bool watch(Predicate predicate, std::chrono::milliseconds timeout = arrival) {
        return SyncthingPair::waitUntil(
            [&] {
                for (const QString &folder :
                     {m_computer->pagesFolder(), m_computer->handwritingFolder()}) {
                    for (const QString &name : rawNames(folder)) {
                        if (name.startsWith(QLatin1Char('.')) && name != u"." && name != u".." &&
                            !m_seen.contains(name))
                            m_seen.append(name);
                    }
                }
                const auto pages =
                    m_computer->list(m_computer->pagesFolder(), QStringLiteral("json"));
                for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
                    if (it.key().startsWith(QLatin1Char('.')))
                        qFatal("a hidden name was listed: %s", qPrintable(it.key()));
                }
                return predicate();
            },
            timeout);
    }

    QTemporaryDir m_work;
    std::unique_ptr<SyncthingPair> m_pair;
    std::unique_ptr<Folder> m_computer;
    std::unique_ptr<TabletCompanion> m_tablet;
    QStringList m_seen;
};

VELMORA_TEST_MAIN(SyncthingTest)
#include "tst_syncthing.moc"
