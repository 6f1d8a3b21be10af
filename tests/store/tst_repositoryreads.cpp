#include "StoreFixture.h"

#include "platform/SearchFolding.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const QString plantedEntry = QStringLiteral(
    "INSERT INTO DiaryEntry (id, dayKey, content, contentFolded, fontName, bodyPointSize, "
    "isLocked, originTimeZone, createdAt, revision) VALUES ('%1', %2, 'planted word', "
    "'planted word', 'Georgia', 16, 0, 'UTC', 1700000000000, %3)");

QString plant(const QString &dayKey, const QString &revision) {
    return plantedEntry.arg(uuidText(QUuid::createUuid()), dayKey, revision);
}

} // namespace

class RepositoryReadsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entryOfAnEmptyDayIsNone() {
        StoreFixture store;
        QCOMPARE(test::waitFor(store.repository->entry(day("2024-03-10"))), std::nullopt);
        const DiaryEntryDTO saved = store.saved("2024-03-10", "Hello");
        QCOMPARE(test::waitFor(store.repository->entry(day("2024-03-10"))), saved);
    }

    void rangesAreHalfOpenAndGuarded_data() {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("days");
        QTest::newRow("march") << "2024-03-01"
                               << "2024-04-01" << 10 << QStringList{"2024-03-01", "2024-03-31"};
        QTest::newRow("limit") << "2024-01-01"
                               << "2025-01-01" << 2 << QStringList{"2024-02-29", "2024-03-01"};
        QTest::newRow("equal keys") << "2024-03-01"
                                    << "2024-03-01" << 10 << QStringList{};
        QTest::newRow("reversed") << "2024-04-01"
                                  << "2024-03-01" << 10 << QStringList{};
        QTest::newRow("limit 0") << "2024-01-01"
                                 << "2025-01-01" << 0 << QStringList{};
    }

    void rangesAreHalfOpenAndGuarded() {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(int, limit);
        QFETCH(QStringList, days);
        StoreFixture store;
        for (const char *text : {"2024-02-29", "2024-03-01", "2024-03-31", "2024-04-01"})
            store.saved(text, QStringLiteral("Entry"));
        const DayKey fromKey = *DayKey::fromRawValue(from);
        const DayKey toKey = *DayKey::fromRawValue(to);
        QStringList entryDays;
        for (const auto &found : test::waitFor(store.repository->entries(fromKey, toKey, limit)))
            entryDays.append(found.dayKey.rawValue());
        QCOMPARE(entryDays, days);
        QStringList keyDays;
        for (const auto &key : test::waitFor(store.repository->dayKeys(fromKey, toKey, limit)))
            keyDays.append(key.rawValue());
        QCOMPARE(keyDays, days);
    }

    void rowCapsHold() {
        StoreFixture store;
        DiarySnapshotDTO snapshot{metadata(), {}, {}};
        QDate date(2020, 1, 1);
        for (int i = 0; i < 520; ++i, date = date.addDays(1)) {
            snapshot.entries.append(entry("2020-01-01", "common"));
            snapshot.entries.last().dayKey =
                DayKey::fromCivilDate(date.year(), date.month(), date.day());
        }
        test::waitFor(store.repository->replaceAll(snapshot));
        const auto all =
            test::waitFor(store.repository->entries(day("2019-01-01"), day("2030-01-01"), 1000));
        QCOMPARE(all.size(), 500);
        QCOMPARE(all.first().dayKey, day("2020-01-01"));
        const auto keys =
            test::waitFor(store.repository->dayKeys(day("2020-01-01"), day("2020-04-01"), 100));
        QCOMPARE(keys.size(), 42);
        QCOMPARE(keys.last(), day("2020-02-11"));
        QCOMPARE(test::waitFor(store.repository->search("COMMON", 10000)).size(), 500);
    }

    void searchFoldsCaseAndMarks_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("days");
        QTest::newRow("accented lower case, padded")
            << " \n café  " << QStringList{"2024-03-03", "2024-03-01"};
        QTest::newRow("plain upper case") << "CAFE" << QStringList{"2024-03-03", "2024-03-01"};
        QTest::newRow("inside a word") << "ouvr" << QStringList{"2024-03-02"};
        QTest::newRow("percent is text") << "50%" << QStringList{"2024-03-02"};
        QTest::newRow("underscore is text") << "a_b" << QStringList{};
        QTest::newRow("only white space") << " \t\n " << QStringList{};
        QTest::newRow("only a combining mark") << QString(QChar(0x0301)) << QStringList{};
        QTest::newRow("no match") << "thé vert" << QStringList{};
    }

    void searchFoldsCaseAndMarks() {
        QFETCH(QString, query);
        QFETCH(QStringList, days);
        StoreFixture store;
        store.saved("2024-03-01", "Un CAFE le matin");
        store.saved("2024-03-02", "Ouvrière à 50% axb");
        store.saved("2024-03-03", "Le Café de Flore");
        QStringList found;
        for (const auto &result : test::waitFor(store.repository->search(query, 10)))
            found.append(result.dayKey.rawValue());
        QCOMPARE(found, days);
    }

    // A store written before the current folding keeps no record of it; it is folded again when
    // it opens, so the old folding of "ﬁ" no longer hides the entry from "fi".
    void aStoreFoldedTheOldWayIsFoldedAgainAtOpen() {
        StoreFixture store;
        store.saved("2024-03-01", "ﬁnal ﬂight");
        store.saved("2024-03-02", "Straße");
        store.sql("UPDATE DiaryEntry SET contentFolded = content; "
                  "DROP TABLE VelmoraSearchFolding");
        store.reopen();
        QCOMPARE(test::waitFor(store.repository->search("fi", 5)).size(), 1);
        QCOMPARE(test::waitFor(store.repository->search("flight", 5)).size(), 1);
        QCOMPARE(test::waitFor(store.repository->search("strasse", 5)).size(), 1);
        QCOMPARE(store.count("SELECT version FROM VelmoraSearchFolding"), searchFoldingVersion);
    }

    void searchSeesEveryWrite() {
        StoreFixture store;
        const DiaryEntryDTO first = store.saved("2024-03-01", "alpha");
        test::waitFor(store.repository->save(draft("2024-03-01", "Bêta"), first.revision, 2));
        QVERIFY(test::waitFor(store.repository->search("alpha", 5)).isEmpty());
        QCOMPARE(test::waitFor(store.repository->search("BETA", 5)).size(), 1);
        DiaryEntryDTO remote = entry("2024-03-02", "Gämma");
        test::waitFor(store.repository->applyRemote(remote, std::nullopt, std::nullopt));
        QCOMPARE(test::waitFor(store.repository->search("gamma", 5)).size(), 1);
    }

    // Rows only a damaged or foreign writer leaves: the reads that map whole entries fail with
    // invalidData, the day lists skip them.
    void plantedRows_data() {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("entriesFailure");
        QTest::addColumn<QString>("searchFailure");
        QTest::addColumn<int>("dayKeyCount");
        QTest::addColumn<int>("revisionCount");
        const QString invalidKey = "The diary contains invalid data: A stored entry has an invalid "
                                   "civil-day key: %1.";
        const QString negative =
            "The diary contains invalid data: A stored entry has an invalid revision: -1.";
        QTest::newRow("impossible day")
            << plant("'2024-02-30'", "1") << invalidKey.arg("2024-02-30")
            << invalidKey.arg("2024-02-30") << 0 << 0;
        // Outside every range, but search reads it.
        QTest::newRow("missing day key")
            << plant("NULL", "1") << QString() << invalidKey.arg(QString()) << 0 << 0;
        QTest::newRow("day key as number") << plant("20240505", "1") << invalidKey.arg("20240505")
                                           << invalidKey.arg("20240505") << 0 << 0;
        QTest::newRow("negative revision")
            << plant("'2024-05-05'", "-1") << negative << negative << 1 << 0;
        QTest::newRow("missing revision")
            << plant("'2024-05-05'", "NULL") << QString() << QString() << 1 << 0;
        QTest::newRow("revision as text")
            << plant("'2024-05-05'", "'many'") << QString() << QString() << 1 << 0;
    }

    void plantedRows() {
        QFETCH(QString, planted);
        QFETCH(QString, entriesFailure);
        QFETCH(QString, searchFailure);
        QFETCH(int, dayKeyCount);
        QFETCH(int, revisionCount);
        StoreFixture store;
        store.saved("2024-05-04", "A good day");
        store.sql(planted);
        auto &repository = *store.repository;
        QCOMPARE(failureOf(repository.entries(day("2024-01-01"), day("2025-01-01"), 10)),
                 entriesFailure);
        QCOMPARE(failureOf(repository.search("word", 10)), searchFailure);
        QCOMPARE(test::waitFor(repository.dayKeys(day("2024-01-01"), day("2025-01-01"), 10)).size(),
                 dayKeyCount + 1);
        QCOMPARE(test::waitFor(repository.revisionsByDay()).size(), revisionCount + 1);
        QCOMPARE(test::waitFor(repository.revisionsByDay()).value(day("2024-05-04")),
                 DiaryRevision{1});
    }

    void plantedEntriesEndASnapshot() {
        StoreFixture store;
        store.sql(QStringLiteral(
                      "INSERT INTO DiaryMetadata (diaryID, schemaVersion, migrationIdentifier, "
                      "createdAt, snapshotSequence) VALUES ('%1', 2, 'm', 0, 7)")
                      .arg(uuidText(QUuid::createUuid())));
        QCOMPARE(test::waitFor(store.repository->snapshot()).metadata.snapshotSequence, 7);
        store.sql(plant("'2024-05-05'", "-3"));
        QCOMPARE(failureOf(store.repository->snapshot()),
                 "The diary contains invalid data: A stored entry has an invalid revision: -3.");
    }

    void missingStoredValuesReadAsTheirDefaults() {
        StoreFixture store;
        store.sql(plant("'2024-05-05'", "NULL"));
        const auto found = test::waitFor(store.repository->entry(day("2024-05-05")));
        QVERIFY(found);
        QCOMPARE(found->revision, DiaryRevision{0});
        QCOMPARE(found->updatedAt, found->createdAt);
        QCOMPARE(found->sealedAt, std::nullopt);
    }

    void snapshotReadsMetadataAndRecordsAsStored() {
        StoreFixture store;
        QCOMPARE(failureOf(store.repository->snapshot()),
                 "The diary contains invalid data: Diary metadata is missing.");
        const QString metadataRow = QStringLiteral(
            "INSERT INTO DiaryMetadata (diaryID, schemaVersion, migrationIdentifier, createdAt, "
            "snapshotSequence) VALUES ('%1', 2, '%2', 1700000000000, 3);");
        const QUuid diaryID = QUuid::createUuid();
        store.sql(metadataRow.arg(uuidText(diaryID), "first") +
                  metadataRow.arg(uuidText(QUuid::createUuid()), "second") +
                  "INSERT INTO RecoveryRecord (recoveryID, reason, sourceKind, preservedPayload, "
                  "contentSHA256, createdAt, proposedDayKey) VALUES "
                  "('" +
                  uuidText(QUuid::createUuid()) +
                  "', 'lostInTheMail', 'legacyPreferenceDraft', x'00', 'ab', 2, '2024-13-01'),"
                  "('" +
                  uuidText(QUuid::createUuid()) +
                  "', 'duplicateDay', 'somewhere', x'01', 'cd', 1, '2024-03-01');");
        store.saved("2024-03-02", "b");
        store.saved("2024-03-01", "a");
        const DiarySnapshotDTO snapshot = test::waitFor(store.repository->snapshot());
        QCOMPARE(snapshot.metadata.diaryID, diaryID);
        QCOMPARE(snapshot.metadata.migrationIdentifier, QStringLiteral("first"));
        QCOMPARE(snapshot.entries.size(), 2);
        QCOMPARE(snapshot.entries.first().dayKey, day("2024-03-01"));
        QCOMPARE(snapshot.recoveryRecords.size(), 2);
        const DiaryRecoveryDTO &older = snapshot.recoveryRecords.at(0);
        const DiaryRecoveryDTO &newer = snapshot.recoveryRecords.at(1);
        QCOMPARE(older.reason, DiaryRecoveryReason::duplicateDay);
        QCOMPARE(older.sourceKind, DiaryRecoverySourceKind::importRecord);
        QCOMPARE(older.proposedDayKey, day("2024-03-01"));
        QCOMPARE(newer.reason, DiaryRecoveryReason::importConflict);
        QCOMPARE(newer.sourceKind, DiaryRecoverySourceKind::legacyPreferenceDraft);
        QCOMPARE(newer.proposedDayKey, std::nullopt);
        QCOMPARE(newer.originalID, std::nullopt);
    }
};

VELMORA_TEST_MAIN(RepositoryReadsTest)
#include "tst_repositoryreads.moc"
