#include "MigrationFixtures.h"

#include "domain/PersistenceError.h"
#include "platform/Sha256.h"
#include "platform/UuidText.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest/QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

const QTimeZone paris("Europe/Paris");
const QDateTime migrationTime = QDateTime::fromMSecsSinceEpoch(1733000000000, QTimeZone::utc());

// Stops a migration with an ordinary error at one point, leaving what a failure there leaves.
class FailingInjector final : public MigrationFaultInjecting {
public:
    explicit FailingInjector(DiaryRepositoryFaultPoint point)
        : m_point(point) {}
    void inject(DiaryRepositoryFaultPoint point) override {
        if (point == m_point)
            throw PersistenceError::faultInjected(point);
    }

private:
    DiaryRepositoryFaultPoint m_point;
};

QString migrationMessage(const std::function<void()> &body) {
    const auto error = thrownBy<PersistenceError>(body);
    if (!error)
        return {};
    if (error->errorCase() == PersistenceError::Case::migrationFailed)
        return error->text();
    return error->message();
}

QStringList reasonsOf(const QList<DiaryRecoveryDTO> &records) {
    QStringList reasons;
    for (const auto &record : records)
        reasons.append(rawValue(record.reason));
    return reasons;
}

} // namespace

class MigrationTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_store;
    std::unique_ptr<UserDefaults> m_defaults;

    DiaryMigrationCoordinator coordinator(std::shared_ptr<MigrationFaultInjecting> injector =
                                              std::make_shared<NoMigrationFaultInjector>()) {
        auto clock = std::make_shared<FixedClock>();
        clock->moment = migrationTime;
        return DiaryMigrationCoordinator(std::move(clock), std::move(injector));
    }

    PreparedDiaryStore prepare(DiaryMigrationCoordinator coordinator) {
        return coordinator.prepareStore(m_store, *m_defaults, paris);
    }

    QString migrations() const { return m_dir.filePath(QStringLiteral("Recovery/Migrations")); }
    QString journal() const { return migrations() + QStringLiteral("/active-migration.json"); }

    // Migrates a small diary but stops right after the adoption: the store is new, the journal
    // and the drafts are still there.
    MigrationJournal interruptAfterAdoption() {
        writeLegacyV1Store(m_store, QList<LegacyEntryPayload>{legacyEntry("2024-01-02", "a")});
        plant(*m_defaults, QStringLiteral("draft_2024-01-03"), QStringLiteral("kept draft"));
        const auto point = DiaryRepositoryFaultPoint::afterMigrationAdoption;
        const QString failure = migrationMessage(
            [&] { prepare(coordinator(std::make_shared<FailingInjector>(point))); });
        Q_ASSERT(failure == PersistenceError::faultInjected(point).message());
        QFile file(journal());
        file.open(QIODevice::ReadOnly);
        return MigrationJournal::fromJson(parseJson(file.readAll()));
    }

    void writeJournal(const MigrationJournal &journal) {
        QFile file(this->journal());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(encodeMigrationJson(journal.toJson()));
    }

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_store = m_dir.filePath(QStringLiteral("Diary/../RaDevov.sqlite"));
        m_defaults = std::make_unique<UserDefaults>(m_dir.filePath(QStringLiteral("defaults.ini")));
    }

    void migrationJsonForms_data() {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QByteArray>("expected");

        const QDateTime reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        const QUuid id = *uuidFromText(QStringLiteral("01234567-89ab-cdef-0123-456789abcdef"));
        MigrationJournal journal{id,   "/d/s.sqlite", {"draft_a"},  "/q",        "/r",
                                 "/m", reference,     std::nullopt, std::nullopt};
        QTest::newRow("journal") << encodeMigrationJson(journal.toJson())
                                 << QByteArray(
                                        R"({"archivedDraftKeys":["draft_a"],)"
                                        R"("conflictReportPath":"\/r",)"
                                        R"("operationID":"01234567-89AB-CDEF-0123-456789ABCDEF",)"
                                        R"("quarantinePath":"\/q","stagedStorePath":"\/m",)"
                                        R"("startedAt":0,"storePath":"\/d\/s.sqlite"})");
        const auto empty = MigrationConflictEnvelope::make({}, reference.addMSecs(1500));
        QTest::newRow("empty report")
            << encodeMigrationJson(empty.toJson())
            << QByteArray(R"({"checksum":")") + sha256Hex("[]").toLatin1() +
                   QByteArray(R"(","createdAt":1.5,"formatVersion":1,"reportData":"W10="})");
        MigrationConflictRecord bare{id,
                                     std::nullopt,
                                     std::nullopt,
                                     DiaryRecoveryReason::malformedDraftKey,
                                     DiaryRecoverySourceKind::legacyPreferenceDraft,
                                     "ab"};
        QTest::newRow("record without optionals")
            << encodeMigrationJson(bare.toJson())
            << QByteArray(R"({"contentSHA256":"ab","reason":"malformedDraftKey",)"
                          R"("recoveryID":"01234567-89AB-CDEF-0123-456789ABCDEF",)"
                          R"("sourceKind":"legacyPreferenceDraft"})");
    }

    void migrationJsonForms() {
        QFETCH(QByteArray, encoded);
        QFETCH(QByteArray, expected);
        QCOMPARE(encoded, expected);
    }

    void candidates_data() {
        QTest::addColumn<QList<LegacyEntryPayload>>("legacy");
        QTest::addColumn<QStringList>("drafts");
        QTest::addColumn<QStringList>("entryDays");
        QTest::addColumn<QStringList>("reasons");

        const QUuid shared = QUuid::createUuid();
        QTest::newRow("unsealed entry and draft on one day")
            << QList{legacyEntry("2024-03-05", "entry")} << QStringList{"draft_2024-03-05"}
            << QStringList{} << QStringList{"duplicateDay", "duplicateDay"};
        QTest::newRow("sealed entry beats a draft")
            << QList{legacyEntry("2024-03-05", "entry", true)} << QStringList{"draft_2024-03-05"}
            << QStringList{"2024-03-05"} << QStringList{"competingDraft"};
        QTest::newRow("two sealed entries")
            << QList{legacyEntry("2024-03-05", "a", true), legacyEntry("2024-03-05", "b", true)}
            << QStringList{} << QStringList{} << QStringList{"duplicateDay", "duplicateDay"};
        QTest::newRow("one id on two days")
            << QList{legacyEntry("2024-03-05", "a", false, shared),
                     legacyEntry("2024-03-06", "b", false, shared)}
            << QStringList{} << QStringList{}
            << QStringList{"duplicateIdentifier", "duplicateIdentifier"};
        QTest::newRow("same-id sibling of a sealed winner is kept")
            << QList{legacyEntry("2024-03-05", "sealed", true, shared),
                     legacyEntry("2024-03-05", "older copy", false, shared)}
            << QStringList{} << QStringList{"2024-03-05"} << QStringList{"competingDraft"};
        QTest::newRow("malformed draft keys")
            << QList<LegacyEntryPayload>{} << QStringList{"draft_", "draft_2023-02-29", "draft_x"}
            << QStringList{}
            << QStringList{"malformedDraftKey", "malformedDraftKey", "malformedDraftKey"};
        QTest::newRow("entries sorted by day")
            << QList{legacyEntry("2024-03-07", "c"), legacyEntry("2024-03-05", "a")}
            << QStringList{"draft_2024-03-06"}
            << QStringList{"2024-03-05", "2024-03-06", "2024-03-07"} << QStringList{};
    }

    void candidates() {
        QFETCH(QList<LegacyEntryPayload>, legacy);
        QFETCH(QStringList, drafts);
        QFETCH(QStringList, entryDays);
        QFETCH(QStringList, reasons);

        for (const auto &key : drafts)
            plant(*m_defaults, key, QStringLiteral("text of ") + key);
        const auto plan = coordinator().buildCandidates(legacy, drafts, *m_defaults, paris);

        QStringList days;
        for (const auto &entry : plan.entries)
            days.append(entry.dayKey.rawValue());
        QCOMPARE(days, entryDays);
        QCOMPARE(reasonsOf(plan.recoveryRecords), reasons);
        // Nothing written is lost: every source is an entry or a record, once.
        QCOMPARE(plan.entries.size() + plan.recoveryRecords.size(), legacy.size() + drafts.size());
        for (const auto &record : plan.recoveryRecords) {
            QCOMPARE(record.contentSHA256, sha256Hex(record.preservedPayload));
            QCOMPARE(record.originalID.has_value(),
                     record.reason != DiaryRecoveryReason::malformedDraftKey);
        }
    }

    void draftBecomesEntry() {
        const QString key = QStringLiteral("draft_2024-03-05");
        plant(*m_defaults, key, QStringLiteral("Dear diary"));
        const auto plan = coordinator().buildCandidates({}, {key}, *m_defaults, paris);
        QCOMPARE(plan.entries.size(), 1);
        const MigrationCandidate &entry = plan.entries.first();
        QCOMPARE(entry.id.toRfc4122(), sha256Digest(key.toUtf8()).left(16));
        QCOMPARE(entry.fontName, QStringLiteral("Georgia"));
        QCOMPARE(entry.createdAt, migrationTime);
        QCOMPARE(entry.date, QDateTime(QDate(2024, 3, 5), QTime(0, 0), paris));
        QCOMPARE(entry.originTimeZone, QStringLiteral("Europe/Paris"));
        QCOMPARE(LegacyPreferenceDraftPayload::fromJson(parseJson(entry.payload)),
                 (LegacyPreferenceDraftPayload{key, QStringLiteral("Dear diary")}));
    }

    void draftKeysWhoseValueIsNotTextStay() {
        plant(*m_defaults, QStringLiteral("draft_2024-01-01"), QStringLiteral("text"));
        plant(*m_defaults, QStringLiteral("draft_2024-01-02"), QDateTime::currentDateTimeUtc());
        plant(*m_defaults, QStringLiteral("draft_2024-01-03"), QStringList{"a", "b"});
        plant(*m_defaults, QStringLiteral("draft_2024-01-04"), 42);
        plant(*m_defaults, QStringLiteral("other"), QStringLiteral("x"));
        // A number reads as its text, as the older version's drafts were read.
        QCOMPARE(DiaryMigrationCoordinator::collectDraftKeys(*m_defaults),
                 (QStringList{"draft_2024-01-01", "draft_2024-01-04"}));

        writeLegacyV1Store(m_store, QList<LegacyEntryPayload>{});
        prepare(coordinator());
        QCOMPARE(m_defaults->keys(),
                 (QStringList{"draft_2024-01-02", "draft_2024-01-03", "other"}));
    }

    void missingStoreIsCreatedFresh_data() {
        QTest::addColumn<QStringList>("leftovers");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("side files of a removed store") << QStringList{"-wal", "-shm", "-journal"};
        // What a launch that died while creating the store leaves.
        QTest::newRow("empty file") << QStringList{""};
    }

    void missingStoreIsCreatedFresh() {
        QFETCH(QStringList, leftovers);
        const QString location = m_dir.filePath(QStringLiteral("RaDevov.sqlite"));
        for (const QString &suffix : leftovers) {
            QFile leftover(location + suffix);
            QVERIFY(leftover.open(QIODevice::WriteOnly));
            leftover.write(suffix.isEmpty() ? "" : "junk");
        }
        const auto prepared = prepare(coordinator());
        QCOMPARE(prepared, (PreparedDiaryStore{location, false, std::nullopt, std::nullopt}));
        for (const QString &suffix : leftovers) {
            if (!suffix.isEmpty())
                QVERIFY(!QFile::exists(location + suffix));
        }
        const StoredDiary diary = readStoredDiary(location);
        QCOMPARE(diary.entries.size(), 0);
        QCOMPARE(diary.metadata.size(), 1);
        QCOMPARE(diary.metadata.first().schemaVersion, 2);
        QCOMPARE(diary.metadata.first().createdAt, migrationTime);

        // A second launch leaves the current store as it is, and the stack opens it.
        QCOMPARE(prepare(coordinator()), prepared);
        QCOMPARE(readStoredDiary(location).metadata, diary.metadata);
        DiaryPersistenceStack stack(location, durableModel());
    }

    // A store whose writing fails part way holds no tables at all, never a schema without its
    // metadata: the next launch writes it afresh instead of opening a diary it cannot snapshot.
    void storeWrittenHalfwayHoldsNothing() {
        const QString location = m_dir.filePath(QStringLiteral("RaDevov.sqlite"));
        MigrationCandidate candidate;
        candidate.id = QUuid::createUuid();
        candidate.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-01-02"));
        candidate.date = noonOf(QStringLiteral("2024-01-02"));
        candidate.content = QStringLiteral("a");
        candidate.fontName = QStringLiteral("Georgia");
        candidate.createdAt = candidate.date;
        candidate.originTimeZone = QStringLiteral("Europe/Paris");
        MigrationCandidate sameDay = candidate;
        sameDay.id = QUuid::createUuid();
        QVERIFY_THROWS_EXCEPTION(SqliteError, coordinator().writeDurableStore(
                                                  location, durableModel(), {candidate, sameDay},
                                                  {}, QUuid::createUuid()));
        {
            SqliteDatabase database(location, SqliteDatabase::OpenMode::readOnly);
            QCOMPARE(database.queryInt64(QStringLiteral("SELECT count(*) FROM sqlite_master")), 0);
        }
        prepare(coordinator());
        QCOMPARE(readStoredDiary(location).metadata.size(), 1);
    }

    void legacyStoreIsMigrated() {
        const QUuid sealedID = QUuid::createUuid();
        writeLegacyV1Store(m_store, QList{legacyEntry("2024-03-04", "sealed day", true, sealedID),
                                          legacyEntry("2024-03-05", "plain day"),
                                          legacyEntry("2024-03-06", "clash")});
        plant(*m_defaults, QStringLiteral("draft_2024-03-04"), QStringLiteral("late draft"));
        plant(*m_defaults, QStringLiteral("draft_2024-03-06"), QStringLiteral("clashing draft"));
        plant(*m_defaults, QStringLiteral("draft_2024-03-07"), QStringLiteral("new day"));
        plant(*m_defaults, QStringLiteral("draft_junk"), QStringLiteral("odd key"));

        const auto prepared = prepare(coordinator());
        const QString location = m_dir.filePath(QStringLiteral("RaDevov.sqlite"));
        QCOMPARE(prepared.storeURL, location);
        QVERIFY(prepared.migrated);
        QVERIFY(QFile::exists(*prepared.quarantineStoreURL));
        QVERIFY(QFile::exists(*prepared.conflictReportURL));

        const StoredDiary diary = readStoredDiary(location);
        QStringList entries;
        for (const auto &entry : diary.entries)
            entries.append(entry.dayKey.rawValue() + QLatin1Char(' ') + entry.content);
        QCOMPARE(entries, (QStringList{"2024-03-04 sealed day", "2024-03-05 plain day",
                                       "2024-03-07 new day"}));
        const auto &sealed = diary.entries.first();
        QCOMPARE(sealed.id, sealedID);
        QCOMPARE(sealed.sealedAt, std::optional(sealed.createdAt));
        QVERIFY(sealed.isSealed());
        QCOMPARE(sealed.updatedAt, sealed.createdAt);
        QCOMPARE(sealed.revision, DiaryRevision{1});
        QCOMPARE(sealed.bodyPointSize, 16.0);
        QCOMPARE(sealed.originTimeZone, QStringLiteral("Europe/Paris"));
        {
            SqliteDatabase database(location, SqliteDatabase::OpenMode::readOnly);
            QCOMPARE(
                database.queryInt64(QStringLiteral("SELECT date FROM DiaryEntry ORDER BY dayKey "
                                                   "LIMIT 1")),
                noonOf("2024-03-04").toMSecsSinceEpoch());
        }
        QCOMPARE(diary.entries.last().createdAt, migrationTime);
        QCOMPARE(
            reasonsOf(diary.recoveryRecords),
            (QStringList{"malformedDraftKey", "competingDraft", "duplicateDay", "duplicateDay"}));

        // The identifier names every file of the run.
        QCOMPARE(diary.metadata.size(), 1);
        const QString identifier = diary.metadata.first().migrationIdentifier;
        QVERIFY(prepared.quarantineStoreURL->endsWith("/Quarantine/LegacyV1-" + identifier +
                                                      ".sqlite"));
        QVERIFY(
            prepared.conflictReportURL->endsWith("/LegacyV1-conflicts-" + identifier + ".json"));
        QCOMPARE(QDir(migrations()).entryList(QDir::Files),
                 QStringList{QFileInfo(*prepared.conflictReportURL).fileName()});
        QCOMPARE(m_defaults->keys(), QStringList{});

        // The report lists the records, in order, and its checksum holds.
        QFile reportFile(*prepared.conflictReportURL);
        QVERIFY(reportFile.open(QIODevice::ReadOnly));
        const auto envelope = MigrationConflictEnvelope::fromJson(parseJson(reportFile.readAll()));
        QCOMPARE(envelope.checksum, sha256Hex(envelope.reportData));
        QList<MigrationConflictRecord> expected;
        for (const auto &record : diary.recoveryRecords)
            expected.append(MigrationConflictRecord::of(record));
        QCOMPARE(envelope.records(), expected);

        // The quarantine copy is the old store, unchanged.
        QCOMPARE(DiaryMigrationCoordinator::readLegacyEntries(*prepared.quarantineStoreURL,
                                                              DiaryModelProvider::legacyV1Model())
                     .size(),
                 3);
        QCOMPARE(prepare(coordinator()),
                 (PreparedDiaryStore{location, false, std::nullopt, std::nullopt}));

        // The launch goes on to read the migrated diary through the repository.
        CoreDataDiaryRepository repository(
            std::make_shared<DiaryPersistenceStack>(location, durableModel()),
            std::make_shared<FixedClock>());
        const auto stored =
            velmora::test::waitFor(repository.entry(*DayKey::fromRawValue("2024-03-07")));
        QVERIFY(stored);
        QCOMPARE(stored->content, QStringLiteral("new day"));
    }

    // An old store whose latest rows are still only in its write-ahead log.
    // Rows dated outside the years the store can key are kept as recovery records, so the
    // migrated diary stays readable as a whole.
    void legacyRowsBeyondTheCalendarAreKeptAside() {
        const auto at = [](int year) {
            return QDateTime(QDate(year, 6, 1), QTime(12, 0), QTimeZone::utc());
        };
        QList<LegacyEntryPayload> entries{legacyEntry("2024-03-04", "ordinary")};
        for (const int year : {10000, 123456, -2}) {
            LegacyEntryPayload far = legacyEntry("2024-03-05", QStringLiteral("year %1").arg(year));
            far.date = at(year);
            entries.append(far);
        }
        writeLegacyV1Store(m_store, entries);
        const auto prepared = prepare(coordinator());
        QVERIFY(prepared.migrated);

        const StoredDiary diary = readStoredDiary(prepared.storeURL);
        QCOMPARE(diary.entries.size(), 1);
        QCOMPARE(diary.entries.first().content, QStringLiteral("ordinary"));
        QCOMPARE(diary.recoveryRecords.size(), 3);
        for (const auto &record : diary.recoveryRecords) {
            QCOMPARE(record.sourceKind, DiaryRecoverySourceKind::legacyEntry);
            QCOMPARE(record.reason, DiaryRecoveryReason::malformedDraftKey);
            QCOMPARE(record.proposedDayKey, std::nullopt);
            QVERIFY(record.originalID);
        }
        // The whole diary reads, as a backup or an export reads it.
        auto stack = std::make_shared<DiaryPersistenceStack>(
            prepared.storeURL, DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        CoreDataDiaryRepository repository(stack, std::make_shared<FixedClock>());
        QCOMPARE(test::waitFor(repository.snapshot()).recoveryRecords.size(), 3);
    }

    void legacyStoreWithLiveLogIsMigratedWhole() {
        writeLegacyV1Store(m_store,
                           QList<LegacyEntryPayload>{legacyEntry("2024-01-01", "in file")});
        SqliteDatabase writer(m_store, SqliteDatabase::OpenMode::readWrite);
        writer.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        writer.exec(QStringLiteral("PRAGMA wal_autocheckpoint = 0"));
        SqliteStatement insert(
            writer.handle(), QStringLiteral("INSERT INTO DiaryEntry (id, date, content, fontName, "
                                            "isLocked, createdAt) VALUES (?, ?, ?, ?, ?, ?)"));
        const auto logged = legacyEntry("2024-01-02", "only in the log");
        insert.bind(1, logged.id)
            .bind(2, logged.date)
            .bind(3, logged.content)
            .bind(4, logged.fontName)
            .bind(5, false)
            .bind(6, logged.createdAt)
            .execute();
        QVERIFY(QFileInfo(m_dir.filePath(QStringLiteral("RaDevov.sqlite-wal"))).size() > 0);

        const auto prepared = prepare(coordinator());
        QStringList contents;
        for (const auto &entry : readStoredDiary(prepared.storeURL).entries)
            contents.append(entry.content);
        QCOMPARE(contents, (QStringList{"in file", "only in the log"}));
        QCOMPARE(DiaryMigrationCoordinator::readLegacyEntries(*prepared.quarantineStoreURL,
                                                              DiaryModelProvider::legacyV1Model())
                     .size(),
                 2);
    }

    void legacyRowsAreReadStrictly_data() {
        QTest::addColumn<LegacyRow>("row");
        QTest::addColumn<QString>("failure");

        const LegacyRow good = LegacyRow::of(legacyEntry("2024-01-01", "x"));
        QTest::newRow("complete") << good << QString();
        LegacyRow row = good;
        row.isLocked = QVariant();
        QTest::newRow("no isLocked reads unsealed") << row << QString();
        const QString incomplete = QStringLiteral("A LegacyV1 entry is missing required data.");
        row = good;
        row.content = QVariant();
        QTest::newRow("no content") << row << incomplete;
        row = good;
        row.fontName = QByteArray("Georgia");
        QTest::newRow("font not text") << row << incomplete;
        row = good;
        row.createdAt = QVariant();
        QTest::newRow("no createdAt") << row << incomplete;
        row = good;
        row.id = QStringLiteral("not-a-uuid");
        QTest::newRow("bad id") << row << incomplete;
    }

    void legacyRowsAreReadStrictly() {
        QFETCH(LegacyRow, row);
        QFETCH(QString, failure);
        writeLegacyV1Store(m_store, QList{row});
        plant(*m_defaults, QStringLiteral("draft_2024-01-01"), QStringLiteral("draft"));
        QCOMPARE(migrationMessage([&] { prepare(coordinator()); }), failure);
        if (!failure.isEmpty()) {
            // Nothing changed but the journal and the quarantine copy.
            QCOMPARE(DiaryMigrationCoordinator::collectDraftKeys(*m_defaults).size(), 1);
            QVERIFY(QFile::exists(journal()));
        }
    }

    void foreignStoresAreRefused() {
        {
            SqliteDatabase db(m_store, SqliteDatabase::OpenMode::readWriteCreate);
            db.exec(QStringLiteral("CREATE TABLE Something (x)"));
        }
        QCOMPARE(migrationMessage([&] { prepare(coordinator()); }),
                 QStringLiteral("The store model is neither LegacyV1 nor DurableV2."));
        // A file SQLite cannot read fails with SQLite's own error, and stays as it was.
        QFile garbage(m_dir.filePath(QStringLiteral("RaDevov.sqlite")));
        QVERIFY(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
        garbage.write(QByteArray(4096, 'x'));
        garbage.close();
        QVERIFY_THROWS_EXCEPTION(SqliteError, prepare(coordinator()));
        QCOMPARE(garbage.size(), 4096);
        writeLegacyV1Store(m_dir.filePath("legacy.sqlite"), QList<LegacyEntryPayload>{});
        QCOMPARE(migrationMessage([&] {
                     DiaryMigrationCoordinator::validateStagedStore(m_dir.filePath("legacy.sqlite"),
                                                                    durableModel(), 0, 0);
                 }),
                 QStringLiteral("The staged store is not compatible with DurableV2."));
    }

    void validationCountsRows_data() {
        QTest::addColumn<int>("extraMetadata");
        QTest::addColumn<qint64>("expectedEntries");
        QTest::addColumn<bool>("passes");
        QTest::newRow("as planned") << 0 << qint64(1) << true;
        QTest::newRow("entry count differs") << 0 << qint64(2) << false;
        QTest::newRow("two metadata rows") << 1 << qint64(1) << false;
        QTest::newRow("no metadata row") << -1 << qint64(1) << false;
    }

    void validationCountsRows() {
        QFETCH(int, extraMetadata);
        QFETCH(qint64, expectedEntries);
        QFETCH(bool, passes);
        auto plan =
            coordinator().buildCandidates({legacyEntry("2024-01-01", "x")}, {}, *m_defaults, paris);
        coordinator().writeDurableStore(m_store, durableModel(), plan.entries, plan.recoveryRecords,
                                        QUuid::createUuid());
        {
            SqliteDatabase db(m_store, SqliteDatabase::OpenMode::readWrite);
            if (extraMetadata > 0)
                db.exec(QStringLiteral("INSERT INTO DiaryMetadata SELECT * FROM DiaryMetadata"));
            if (extraMetadata < 0)
                db.exec(QStringLiteral("DELETE FROM DiaryMetadata"));
        }
        QCOMPARE(migrationMessage([&] {
                     DiaryMigrationCoordinator::validateStagedStore(m_store, durableModel(),
                                                                    expectedEntries, 0);
                 }),
                 passes ? QString()
                        : QStringLiteral(
                              "Staged-store validation counts do not match the migration plan."));
    }

    void failureAfterAdoptionIsSettledNextLaunch() {
        const MigrationJournal journal = interruptAfterAdoption();
        QCOMPARE(journal.archivedDraftKeys, QStringList{"draft_2024-01-03"});
        QCOMPARE(journal.plannedEntryCount, std::optional<qint64>(2));
        QVERIFY(!QFile::exists(journal.stagedStorePath));
        QVERIFY(m_defaults->stringValue("draft_2024-01-03"));

        const auto prepared = prepare(coordinator());
        QCOMPARE(prepared,
                 (PreparedDiaryStore{QFileInfo(journal.storePath).filePath(), true,
                                     journal.quarantinePath, journal.conflictReportPath}));
        QVERIFY(!m_defaults->stringValue("draft_2024-01-03"));
        QVERIFY(!QFile::exists(this->journal()));
        QCOMPARE(readStoredDiary(prepared.storeURL).entries.size(), 2);
        QCOMPARE(prepare(coordinator()).migrated, false);
    }

    void failureBeforeAdoptionMigratesAgain_data() {
        QTest::addColumn<DiaryRepositoryFaultPoint>("point");
        for (auto point : {DiaryRepositoryFaultPoint::beforeMigrationQuarantine,
                           DiaryRepositoryFaultPoint::afterMigrationQuarantine,
                           DiaryRepositoryFaultPoint::afterMigrationStageWrite,
                           DiaryRepositoryFaultPoint::afterMigrationStageReopen})
            QTest::newRow(qPrintable(rawValue(point))) << point;
    }

    void failureBeforeAdoptionMigratesAgain() {
        QFETCH(DiaryRepositoryFaultPoint, point);
        writeLegacyV1Store(m_store, QList<LegacyEntryPayload>{legacyEntry("2024-01-02", "a")});
        plant(*m_defaults, QStringLiteral("draft_2024-01-03"), QStringLiteral("draft"));
        QCOMPARE(migrationMessage(
                     [&] { prepare(coordinator(std::make_shared<FailingInjector>(point))); }),
                 PersistenceError::faultInjected(point).message());
        QVERIFY(m_defaults->stringValue("draft_2024-01-03"));
        QVERIFY(QDir(migrations()).entryList({"DurableV2-stage-*"}, QDir::Files).isEmpty());

        const auto prepared = prepare(coordinator());
        QVERIFY(prepared.migrated);
        QCOMPARE(readStoredDiary(prepared.storeURL).entries.size(), 2);
        QVERIFY(!m_defaults->stringValue("draft_2024-01-03"));
    }

    void settlingRefusesBadJournals_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("failure");

        const QString unsafe =
            QStringLiteral("The interrupted migration journal contains an unsafe path.");
        QTest::newRow("empty file") << ""
                                    << ""
                                    << "The interrupted migration journal is unreadable.";
        QTest::newRow("other store") << "storePath"
                                     << "other.sqlite"
                                     << "The interrupted migration journal targets another store.";
        QTest::newRow("staged outside migrations") << "stagedStorePath"
                                                   << "Recovery/x.sqlite" << unsafe;
        QTest::newRow("report is the directory") << "conflictReportPath"
                                                 << "Recovery" << unsafe;
        QTest::newRow("quarantine escapes") << "quarantinePath"
                                            << "Recovery/../q.sqlite" << unsafe;
    }

    // Any doubt about the store keeps the drafts and the journal where they are.
    void settlingRefusesBadJournals() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, failure);

        MigrationJournal journal = interruptAfterAdoption();
        const QString absolute = m_dir.filePath(value);
        if (field == "storePath")
            journal.storePath = absolute;
        else if (field == "stagedStorePath")
            journal.stagedStorePath = absolute;
        else if (field == "conflictReportPath")
            journal.conflictReportPath = absolute;
        else if (field == "quarantinePath")
            journal.quarantinePath = absolute;
        else if (field == "operationID")
            journal.operationID = QUuid::createUuid();
        else if (field == "plannedEntryCount")
            journal.plannedEntryCount = value.toLongLong();
        writeJournal(journal);
        if (field.isEmpty())
            QFile(this->journal()).resize(0);
        const QByteArray before = [&] {
            QFile file(this->journal());
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();

        QCOMPARE(migrationMessage([&] { prepare(coordinator()); }), failure);
        QVERIFY(m_defaults->stringValue("draft_2024-01-03"));
        QFile file(this->journal());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    // What stands at a journal's name and is no file is not waited on: the launch stops as for
    // a journal it cannot read.
    void aPipeAtAJournalsNameIsUnreadable_data() {
        QTest::addColumn<QString>("journal");
        QTest::addColumn<QString>("failure");
        QTest::newRow("the migration's") << "Recovery/Migrations/active-migration.json"
                                         << "The interrupted migration journal is unreadable.";
        QTest::newRow("the restore's")
            << "Recovery/Restores/active-restore.json"
            << PersistenceError::readFailed(
                   QStringLiteral("The interrupted restore journal is unreadable."))
                   .message();
    }

    void aPipeAtAJournalsNameIsUnreadable() {
        QFETCH(QString, journal);
        QFETCH(QString, failure);
        prepare(coordinator());
        const QString path = m_dir.filePath(journal);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        standAt(path, QStringLiteral("a pipe"));
        QString message;
        QVERIFY(endsWithoutWaiting(
            path, [&] { message = migrationMessage([&] { prepare(coordinator()); }); }));
        QCOMPARE(message, failure);
    }

    // A journal beside a store it does not describe can never be settled: the diary opens, the
    // drafts stay in the defaults and the journal is kept aside in Recovery.
    void unsettledJournalIsSetAside_data() {
        QTest::addColumn<QString>("store");
        QTest::newRow("store deleted and made afresh") << "fresh";
        QTest::newRow("store of another run") << "operationID";
        QTest::newRow("plan not met") << "plannedEntryCount";
    }

    void unsettledJournalIsSetAside() {
        QFETCH(QString, store);
        MigrationJournal journal = interruptAfterAdoption();
        if (store == "fresh") {
            DiaryMigrationCoordinator::removeStoreFiles(journal.storePath);
        } else {
            if (store == "operationID")
                journal.operationID = QUuid::createUuid();
            else
                journal.plannedEntryCount = 5;
            writeJournal(journal);
        }
        const QByteArray before = [&] {
            QFile file(this->journal());
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();

        for (int launch = 0; launch < 2; ++launch) {
            const auto prepared = prepare(coordinator());
            QCOMPARE(prepared.migrated, false);
            QVERIFY(QFile::exists(prepared.storeURL));
        }
        QCOMPARE(m_defaults->stringValue("draft_2024-01-03"), std::optional(QString("kept draft")));
        QVERIFY(!QFile::exists(this->journal()));
        QFile aside(m_dir.filePath(QStringLiteral("Recovery/unsettled-migration-%1.json")
                                       .arg(uuidText(journal.operationID))));
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), before);
    }

    // A journal whose removal failed after a successful run: the drafts are gone and the store
    // has been written since, so the plan no longer fits, yet nothing is left to lose.
    void journalOutlivingItsDraftsIsSettled() {
        MigrationJournal journal = interruptAfterAdoption();
        m_defaults->remove(QStringLiteral("draft_2024-01-03"));
        journal.plannedEntryCount = 5;
        writeJournal(journal);
        QVERIFY(prepare(coordinator()).migrated);
        QVERIFY(!QFile::exists(this->journal()));
    }

    void settlingLeavesOtherKeysAndReportsWhatExists() {
        MigrationJournal journal = interruptAfterAdoption();
        plant(*m_defaults, QStringLiteral("fontSize"), 14);
        journal.archivedDraftKeys.append(QStringLiteral("fontSize"));
        writeJournal(journal);
        QFile::remove(journal.quarantinePath);
        const auto prepared = prepare(coordinator());
        QVERIFY(prepared.migrated);
        QCOMPARE(prepared.quarantineStoreURL, std::nullopt);
        QCOMPARE(prepared.conflictReportURL, std::optional(journal.conflictReportPath));
        QCOMPARE(m_defaults->keys(), QStringList{"fontSize"});
    }
};

VELMORA_TEST_MAIN(MigrationTest)
#include "tst_migration.moc"
