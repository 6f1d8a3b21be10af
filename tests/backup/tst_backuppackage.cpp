#include "BackupFixture.h"

#include "backup/DiaryRestoreCoordinator.h"
#include "platform/FileSystemError.h"
#include "platform/Sha256.h"
#include "support/NestedJson.h"
#include "support/TemporaryDiaryStore.h"
#include "support/TestClock.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;
using Operation = ScriptedDiaryRepository::Operation;

class BackupPackageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writerProducesTheCommittedBytes() {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("nested/Golden.velmorabackup"));
        const SnapshotSummary summary =
            DiarySnapshotService::writePackage(packagedDiary(), target, ms(1710063000000));
        const QString golden = backupData(QStringLiteral("valid.velmorabackup/"));
        QCOMPARE(fileBytes(target + QStringLiteral("/manifest.json")),
                 fileBytes(golden + QStringLiteral("manifest.json")));
        QCOMPARE(fileBytes(target + QStringLiteral("/records.ndjson")),
                 fileBytes(golden + QStringLiteral("records.ndjson")));
        QCOMPARE(entriesOf(target),
                 (QStringList{QStringLiteral("manifest.json"), QStringLiteral("records.ndjson")}));
        QCOMPARE(entriesOf(dir.filePath(QStringLiteral("nested"))),
                 QStringList{QStringLiteral("Golden.velmorabackup")});
        QCOMPARE(summary.packageURL, target);
        QCOMPARE(summary.entryCount, 2);
        QCOMPARE(summary.recoveryCount, 1);
        QCOMPARE(summary.earliestDay->rawValue(), QStringLiteral("2024-03-01"));
        QCOMPARE(summary.latestDay->rawValue(), QStringLiteral("2024-03-05"));

        const DiarySnapshotPackage read = DiarySnapshotService::readPackage(target);
        QCOMPARE(read.summary, summary);
        DiarySnapshotDTO expected = packagedDiary();
        std::swap(expected.entries[0], expected.entries[1]);
        std::swap(expected.entries[0], expected.entries[1]);
        QVERIFY(read.diary == expected);
    }

    // An entry's words are placed into its line apart from the rest; the line must still be
    // the canonical writer's, whatever the words or the other texts hold.
    void recordLinesMatchTheCanonicalWriter_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("fontName");
        const QString marker = QStringLiteral("\"content\":\"\"");
        QTest::newRow("empty words") << QString() << QStringLiteral("Georgia");
        QTest::newRow("words hold the key") << marker << QStringLiteral("Georgia");
        QTest::newRow("font holds the key") << QStringLiteral("plain") << marker;
        QTest::newRow("escapes") << QStringLiteral("a \"quote\" \\ /slash/ \t\r\n\b\f\x01\x1f")
                                 << QStringLiteral("Georgia");
        QTest::newRow("escape at every offset")
            << QStringLiteral("abcdefg\"hijklmno\npqrstuvwx\\yz0123456\x02")
            << QStringLiteral("Georgia");
        QTest::newRow("beyond the basic plane")
            << QStringLiteral("Café ✓ \U0001F600 naïve") << QStringLiteral("Gödel");
        QTest::newRow("lone surrogate")
            << QString(QChar(0xD800)) + QStringLiteral("after") << QStringLiteral("Georgia");
    }

    void recordLinesMatchTheCanonicalWriter() {
        QFETCH(QString, content);
        QFETCH(QString, fontName);
        DiaryEntryDTO entry = packagedDiary().entries.last();
        entry.content = content;
        entry.fontName = fontName;
        const QList<DiarySnapshotRecord> records{
            {DiarySnapshotRecordKind::entry, {}, entry, {}},
            {DiarySnapshotRecordKind::metadata, packagedDiary().metadata, {}, {}},
            {DiarySnapshotRecordKind::recovery, {}, {}, packagedDiary().recoveryRecords.first()},
        };
        QByteArray expected;
        for (const DiarySnapshotRecord &record : records)
            expected += writeJson(record.toJson()) + '\n';
        const QByteArray lines = DiarySnapshotService::encodeRecordLines(records);
        QCOMPARE(DiarySnapshotService::encodeRecordLines(records), expected);
    }

    void emptyDiaryWritesNullDays() {
        QTemporaryDir dir;
        DiarySnapshotDTO diary;
        diary.metadata = packagedDiary().metadata;
        const QString target = dir.filePath(QStringLiteral("Empty.velmorabackup"));
        DiarySnapshotService::writePackage(diary, target, ms(1710063000000));
        const QByteArray manifest = fileBytes(target + QStringLiteral("/manifest.json"));
        QVERIFY(manifest.contains("\"earliestDay\":null,\"entryCount\":0,"));
        QVERIFY(manifest.contains("\"latestDay\":null,"));
        QVERIFY(!manifest.endsWith('\n'));
        const QByteArray records = fileBytes(target + QStringLiteral("/records.ndjson"));
        QCOMPARE(records.count('\n'), 1);
        QVERIFY(records.startsWith("{\"kind\":\"metadata\",\"metadata\":{"));
        QVERIFY(records.endsWith("}}\n"));
    }

    void acceptedVariants_data() {
        QTest::addColumn<QString>("package");
        QTest::addColumn<int>("entries");
        QTest::addColumn<qsizetype>("nesting"); // a record and the manifest nest this deep
        QTest::newRow("blank lines") << "blank-lines" << 2 << qsizetype(0);
        QTest::newRow("no final line feed") << "no-final-newline" << 2 << qsizetype(0);
        QTest::newRow("empty diary, null days") << "empty-diary" << 0 << qsizetype(0);
        QTest::newRow("empty diary, days left out") << "days-left-out" << 0 << qsizetype(0);
        for (const NestingDepth &nesting : nestingDepths) {
            if (nesting.readable)
                QTest::newRow(nesting.name) << "valid" << 2 << nesting.depth;
        }
    }

    void acceptedVariants() {
        QFETCH(QString, package);
        QFETCH(int, entries);
        QFETCH(qsizetype, nesting);
        QTemporaryDir dir;
        QString path = backupData(package + QStringLiteral(".velmorabackup"));
        if (nesting > 0) {
            const QString nested = dir.filePath(QStringLiteral("Nested.velmorabackup"));
            copyPackage(path, nested);
            nestBackupManifest(nested, nesting);
            nestBackupRecord(nested, 2, nesting);
            path = nested;
        }
        const auto read = DiarySnapshotService::readPackage(path);
        QCOMPARE(read.diary.entries.size(), entries);
        QCOMPARE(read.summary.entryCount, entries);
        QCOMPARE(read.summary.earliestDay.has_value(), entries > 0);
    }

    void corruptPackages_data() {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *package, const char *message) {
            QTest::newRow(package) << QString::fromUtf8(package) << QString::fromUtf8(message);
        };
        row("byte-flip", "The backup records checksum does not match.");
        row("uppercase-digest", "The backup records checksum does not match.");
        row("truncated", "The backup records byte count does not match.");
        row("extra-byte", "The backup records byte count does not match.");
        row("extra-file", "The backup contains an unexpected item: notes.txt.");
        row("hidden-file", "The backup contains an unexpected item: .thumbnails.");
        row("subfolder", "The backup contains an unexpected item: attachments.");
        row("duplicate-key", "The backup manifest is malformed or ambiguous.");
        row("missing-digest", "The backup manifest is malformed or ambiguous.");
        row("not-json-manifest", "The backup manifest is malformed or ambiguous.");
        row("version-2", "Backup version 2 is not supported.");
        row("other-format", "Backup version 1 is not supported.");
        row("bad-line-3", "Backup record line 3 is malformed.");
        row("bad-line-after-blanks", "Backup record line 1 is malformed.");
        row("second-payload", "Backup record line 2 is malformed.");
        row("words-not-text", "Backup record line 3 is malformed.");
        row("words-missing", "Backup record line 3 is malformed.");
        row("count-mismatch", "The backup record counts do not match the manifest.");
        row("two-metadata", "The backup record counts do not match the manifest.");
        row("duplicate-day", "The backup is internally inconsistent: duplicate civil day");
        row("duplicate-id", "The backup is internally inconsistent: duplicate entry identifier");
        row("duplicate-recovery",
            "The backup is internally inconsistent: duplicate recovery identifier");
        row("day-range",
            "The backup is internally inconsistent: day range does not match the manifest");
        row("day-range-empty",
            "The backup is internally inconsistent: day range does not match the manifest");
        row("metadata-mismatch",
            "The backup is internally inconsistent: metadata does not match the manifest");
        row("missing-records", "The backup is missing records.ndjson.");
        row("not-a-folder", "The backup package is not a directory.");
        // Made below at run time: links, an empty folder and files too large to keep in git.
        row("linked-manifest", "The backup contains a symbolic link: manifest.json.");
        row("linked-other", "The backup contains an unexpected item: notes.json.");
        row("linked-package", "The backup package is not a directory.");
        row("records-as-folder", "The backup contains an unexpected item: records.ndjson.");
        row("missing-both", "The backup is missing manifest.json.");
        row("huge-manifest", "The backup manifest is malformed or ambiguous.");
        row("huge-records", "The backup exceeds the supported size limit.");
        QTest::newRow("long-name")
            << QStringLiteral("long-name")
            << QStringLiteral("The backup contains an unexpected item: %1…%2.")
                   .arg(QString(60, u'a'), QString(56, u'c') + QStringLiteral(".txt"));
        for (const NestingDepth &nesting : nestingDepths) {
            if (nesting.readable)
                continue;
            QTest::addRow("nested-manifest-%lld", qlonglong(nesting.depth))
                << QStringLiteral("nested-manifest-%1").arg(nesting.depth)
                << QStringLiteral("The backup manifest is malformed or ambiguous.");
            QTest::addRow("nested-record-%lld", qlonglong(nesting.depth))
                << QStringLiteral("nested-record-%1").arg(nesting.depth)
                << QStringLiteral("Backup record line 2 is malformed.");
        }
    }

    // Each damaged package is refused with its message, left out of the list beside a valid
    // one, and a restore from it changes nothing and writes no safety backup.
    void corruptPackages() {
        QFETCH(QString, package);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString backups = dir.filePath(QStringLiteral("Backups"));
        QVERIFY(QDir().mkpath(backups));
        copyPackage(backupData(QStringLiteral("valid.velmorabackup")), backups);
        const QString damaged =
            backups + QLatin1Char('/') + package + QStringLiteral(".velmorabackup");
        makeDamaged(package, damaged);
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(failureMessage([&] { DiarySnapshotService::readPackage(damaged); }), message);
        QCOMPARE(failureMessage([&] { DiarySnapshotService::validatePackage(damaged); }), message);
        const QList<SnapshotSummary> listed = DiarySnapshotService::listSnapshots(backups);
        QCOMPARE(listed.size(), 1);
        QVERIFY(listed.first().packageURL.endsWith(QStringLiteral("/valid.velmorabackup")));

        auto clock = std::make_shared<TestClock>(ms(1710063000000));
        TemporaryDiaryStore diary(clock);
        const auto repository = diary.repository;
        repository->put(packagedDiary().entries.first());
        const DiarySnapshotDTO before = test::waitFor(repository->snapshot());
        DiaryRestoreCoordinator coordinator(repository, clock);
        const QString quarantine = dir.filePath(QStringLiteral("Recovery/Quarantine"));
        QCOMPARE(failureMessage([&] { test::waitFor(coordinator.restore(damaged, quarantine)); }),
                 message);
        QVERIFY(test::waitFor(repository->snapshot()) == before);
        QCOMPARE(repository->callCount(Operation::replaceAll), 0);
        QVERIFY(!QFileInfo::exists(quarantine));
    }

    // Large packages are read in runs side by side: lines keep their numbers across runs and
    // the first malformed line in file order is the one reported.
    void largePackagesReportTheRightLine() {
        QTemporaryDir dir;
        DiarySnapshotDTO diary;
        diary.metadata = packagedDiary().metadata;
        DiaryEntryDTO entry = packagedDiary().entries.first();
        entry.content = QString(32 * 1024, QLatin1Char('x'));
        for (int i = 0; i < 800; ++i) {
            entry.id = QUuid::createUuid();
            const QDate day = QDate(2000, 1, 1).addDays(i);
            entry.dayKey = DayKey::fromCivilDate(day.year(), day.month(), day.day());
            diary.entries.append(entry);
        }
        const QString package = dir.filePath(QStringLiteral("Large.velmorabackup"));
        DiarySnapshotService::writePackage(diary, package, ms(0));
        QVERIFY(DiarySnapshotService::readPackage(package).diary == diary);

        const QString recordsPath = package + QStringLiteral("/records.ndjson");
        QList<QByteArray> lines = fileBytes(recordsPath).split('\n');
        lines[700] = "{broken";
        lines[650] = "{broken too";
        lines.insert(10, QByteArray());
        const QByteArray damaged = lines.join('\n');
        writeFileAtomically(recordsPath, damaged);
        DiarySnapshotManifest manifest = DiarySnapshotManifest::fromJson(
            parseJson(fileBytes(package + QStringLiteral("/manifest.json"))));
        manifest.recordsByteCount = damaged.size();
        manifest.recordsSHA256 = sha256Hex(damaged);
        writeFileAtomically(package + QStringLiteral("/manifest.json"), manifest.encoded());
        QCOMPARE(failureMessage([&] { DiarySnapshotService::validatePackage(package); }),
                 QStringLiteral("Backup record line 651 is malformed."));
    }

    void existingDestinationIsLeftAlone_data() {
        QTest::addColumn<bool>("folder");
        QTest::newRow("empty folder") << true;
        QTest::newRow("file") << false;
    }

    void existingDestinationIsLeftAlone() {
        QFETCH(bool, folder);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Taken.velmorabackup"));
        if (folder) {
            QVERIFY(QDir().mkdir(target));
        } else {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("mine");
        }
        QCOMPARE(failureMessage(
                     [&] { DiarySnapshotService::writePackage(packagedDiary(), target, ms(0)); }),
                 QStringLiteral("The diary backup failed: A backup already exists at the "
                                "selected location."));
        QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("Taken.velmorabackup")});
        if (folder)
            QVERIFY(entriesOf(target).isEmpty());
        else
            QCOMPARE(fileBytes(target), QByteArray("mine"));
    }

    // A write that fails at any step leaves neither a package nor its staging folder.
    void failedWriteLeavesNothing_data() {
        QTest::addColumn<int>("step");
        QTest::newRow("after records") << int(DiarySnapshotWriteStep::recordsWritten);
        QTest::newRow("after manifest") << int(DiarySnapshotWriteStep::manifestWritten);
        QTest::newRow("after validation") << int(DiarySnapshotWriteStep::validated);
        QTest::newRow("before the move") << int(DiarySnapshotWriteStep::beforeMove);
    }

    void failedWriteLeavesNothing() {
        QFETCH(int, step);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Failed.velmorabackup"));
        const auto failAt = [step](DiarySnapshotWriteStep reached) {
            if (int(reached) == step)
                throw PersistenceError::writeFailed(QStringLiteral("stopped"));
        };
        QCOMPARE(failureMessage([&] {
                     DiarySnapshotService::writePackage(packagedDiary(), target, ms(0), failAt);
                 }),
                 QStringLiteral("The diary could not be saved: stopped"));
        QVERIFY(entriesOf(dir.path()).isEmpty());
    }

    void snapshotsAreNamedAndListedNewestFirst() {
        QTemporaryDir dir;
        const QString backups = dir.filePath(QStringLiteral("Backups"));
        auto clock = std::make_shared<TestClock>(
            QDateTime(QDate(2024, 3, 10), QTime(9, 30, 5, 250), QTimeZone::utc()));
        TemporaryDiaryStore diary(clock);
        const auto repository = diary.repository;
        repository->put(packagedDiary().entries.first());
        DiarySnapshotService service(repository, clock);

        const SnapshotSummary first = test::waitFor(service.createSnapshot(backups));
        const SnapshotSummary second = test::waitFor(service.createSnapshot(backups));
        clock->advance(std::chrono::hours(-1));
        const SnapshotSummary older = test::waitFor(service.createSnapshot(backups));
        const QRegularExpression name(
            QStringLiteral("^Diary-20240310-093005-[0-9A-F]{8}\\.velmorabackup$"));
        QVERIFY2(name.match(QFileInfo(first.packageURL).fileName()).hasMatch(),
                 qPrintable(first.packageURL));
        QVERIFY(first.packageURL != second.packageURL);
        QCOMPARE(first.entryCount, 1);
        QCOMPARE(first.createdAt, clock->now().addSecs(3600));

        // Listing: newest first, equal times in name order; capitals, files and staging folders
        // are not packages.
        copyPackage(backupData(QStringLiteral("valid.velmorabackup")),
                    backups + QStringLiteral("/Upper.VELMORABACKUP"));
        QVERIFY(QDir().mkpath(backups + QStringLiteral("/.velmora-snapshot-left-over")));
        const QList<SnapshotSummary> listed = DiarySnapshotService::listSnapshots(backups);
        QCOMPARE(listed.size(), 3);
        QCOMPARE(listed.last(), older);
        QVERIFY(listed.contains(first));
        QVERIFY(listed.contains(second));
        QVERIFY(listed.first().packageURL < listed.at(1).packageURL);

        QVERIFY(
            DiarySnapshotService::listSnapshots(dir.filePath(QStringLiteral("none"))).isEmpty());
    }

private:
    void makeDamaged(const QString &package, const QString &path) {
        const QString valid = backupData(QStringLiteral("valid.velmorabackup"));
        if (QFileInfo::exists(backupData(package + QStringLiteral(".velmorabackup")))) {
            copyPackage(backupData(package + QStringLiteral(".velmorabackup")), path);
            return;
        }
        if (package == QLatin1String("linked-package")) {
            QVERIFY(QFile::link(valid, path));
            return;
        }
        QVERIFY(QDir().mkpath(path));
        if (package == QLatin1String("missing-both"))
            return;
        copyPackage(valid + QStringLiteral("/records.ndjson"), path);
        if (package == QLatin1String("linked-manifest")) {
            QVERIFY(QFile::link(valid + QStringLiteral("/manifest.json"),
                                path + QStringLiteral("/manifest.json")));
            return;
        }
        copyPackage(valid + QStringLiteral("/manifest.json"), path);
        if (package == QLatin1String("linked-other")) {
            QVERIFY(QFile::link(valid + QStringLiteral("/manifest.json"),
                                path + QStringLiteral("/notes.json")));
        } else if (package == QLatin1String("records-as-folder")) {
            QVERIFY(QFile::remove(path + QStringLiteral("/records.ndjson")));
            QVERIFY(QDir().mkpath(path + QStringLiteral("/records.ndjson")));
        } else if (package == QLatin1String("huge-manifest")) {
            // Valid JSON, padded past the limit with white space.
            QFile manifest(path + QStringLiteral("/manifest.json"));
            QVERIFY(manifest.open(QIODevice::Append));
            QVERIFY(manifest.write(QByteArray(1024 * 1024, ' ')) > 0);
        } else if (package.startsWith(QLatin1String("nested-manifest-"))) {
            nestBackupManifest(path, package.section(QLatin1Char('-'), -1).toLongLong());
        } else if (package.startsWith(QLatin1String("nested-record-"))) {
            nestBackupRecord(path, 2, package.section(QLatin1Char('-'), -1).toLongLong());
        } else if (package == QLatin1String("long-name")) {
            QFile named(path + QLatin1Char('/') + QString(60, u'a') + QString(120, u'b') +
                        QString(56, u'c') + QStringLiteral(".txt"));
            QVERIFY(named.open(QIODevice::WriteOnly));
        } else if (package == QLatin1String("huge-records")) {
            // Sparse: one byte over the limit costs no disk.
            QVERIFY(
                ::truncate(QFile::encodeName(path + QStringLiteral("/records.ndjson")).constData(),
                           backupPackage::recordsByteLimit + 1) == 0);
        } else {
            QFAIL(qPrintable(QStringLiteral("no such package: ") + package));
        }
    }
};

VELMORA_TEST_MAIN(BackupPackageTest)
#include "tst_backuppackage.moc"
