#include "StoreFixture.h"

#include "platform/JsonCoding.h"
#include "platform/SearchFolding.h"
#include "platform/Sha256.h"

using namespace velmora;
using namespace velmora::test;

namespace {

using Revision = std::optional<DiaryRevision>;

Revision revision(qint64 value) {
    return DiaryRevision{value};
}

// Sets the stored revision (or any column) of a day behind the repository's back.
void plantColumn(StoreFixture &store, const char *dayText, const QString &assignment) {
    store.sql(QStringLiteral("UPDATE DiaryEntry SET %1 WHERE dayKey = '%2'")
                  .arg(assignment, QLatin1String(dayText)));
}

QCoro::Task<int> raceTwoSaves(DiaryRepository &first, DiaryRepository &second,
                              DiaryRevision expected, QStringList *conflicts) {
    const QString round = QString::number(expected.rawValue);
    auto a = first.save(draft("2024-03-10", "first writer, round " + round), expected, 1);
    auto b = second.save(draft("2024-03-10", "second writer, round " + round), expected, 1);
    int succeeded = 0;
    for (auto *task : {&a, &b}) {
        try {
            co_await std::move(*task);
            ++succeeded;
        } catch (const PersistenceError &error) {
            conflicts->append(error.message());
        }
    }
    co_return succeeded;
}

} // namespace

class RepositoryWritesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstSaveCreates_data() {
        QTest::addColumn<Revision>("expected");
        QTest::newRow("no expectation") << Revision();
        QTest::newRow("expecting 0") << revision(0);
    }

    void firstSaveCreates() {
        QFETCH(Revision, expected);
        StoreFixture store;
        const DiaryDraftDTO written = draft("2024-03-10", "Morning pages", 30);
        const DiarySaveResult result = test::waitFor(store.repository->save(written, expected, 42));
        QCOMPARE(result.disposition, DiarySaveDisposition::created);
        QCOMPARE(result.editSequence, 42);
        QCOMPARE(result.entry.id, written.id);
        QCOMPARE(result.entry.revision, DiaryRevision{1});
        QCOMPARE(result.entry.status, DiaryEntryStatus::draft);
        QCOMPARE(result.entry.sealedAt, std::nullopt);
        QCOMPARE(result.entry.bodyPointSize, 24.0);
        QCOMPARE(result.entry.createdAt, written.createdAt);
        QCOMPARE(result.entry.updatedAt, store.clock->moment);
        // The day starts at midnight in the zone it was written in.
        QCOMPARE(store.count("SELECT date FROM DiaryEntry"),
                 QDateTime(QDate(2024, 3, 10), QTime(0, 0), QTimeZone("Europe/Paris"))
                     .toMSecsSinceEpoch());
    }

    void saveChecksTheStoredRevision_data() {
        QTest::addColumn<QString>("plantedRevision");
        QTest::addColumn<Revision>("expected");
        QTest::addColumn<QString>("message");
        QTest::newRow("no expectation over revision 3")
            << "3" << Revision()
            << "The diary changed unexpectedly (expected revision 0, found 3).";
        QTest::newRow("stale expectation")
            << "3" << revision(2)
            << "The diary changed unexpectedly (expected revision 2, found 3).";
        QTest::newRow("negative counts as 0")
            << "-5" << revision(1)
            << "The diary changed unexpectedly (expected revision 1, found 0).";
        QTest::newRow("at the maximum") << "9223372036854775807" << revision(DiaryRevision::maximum)
                                        << "The diary revision cannot be incremented safely.";
        QTest::newRow("sealed") << "3" << revision(3) << "This diary entry is already sealed.";
    }

    void saveChecksTheStoredRevision() {
        QFETCH(QString, plantedRevision);
        QFETCH(Revision, expected);
        QFETCH(QString, message);
        StoreFixture store;
        store.saved("2024-03-10", "Original");
        plantColumn(store, "2024-03-10", "revision = " + plantedRevision);
        if (QByteArray(QTest::currentDataTag()) == "sealed")
            plantColumn(store, "2024-03-10", "isLocked = 1");
        QCOMPARE(failureOf(store.repository->save(draft("2024-03-10", "Changed"), expected, 2)),
                 message);
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry WHERE content = 'Original' AND "
                             "contentFolded = 'original'"),
                 1);
    }

    void saveUpdatesOrLeavesAlone_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<double>("size");
        QTest::addColumn<int>("disposition");
        QTest::addColumn<double>("storedSize");
        QTest::newRow("same words and size")
            << "Same" << 16.0 << int(DiarySaveDisposition::unchanged) << 16.0;
        QTest::newRow("new words") << "Other" << 16.0 << int(DiarySaveDisposition::updated) << 16.0;
        QTest::newRow("size beyond the range")
            << "Same" << 30.0 << int(DiarySaveDisposition::updated) << 24.0;
        QTest::newRow("size not a number")
            << "Same" << qQNaN() << int(DiarySaveDisposition::updated) << 16.0;
    }

    void saveUpdatesOrLeavesAlone() {
        QFETCH(QString, content);
        QFETCH(double, size);
        QFETCH(int, disposition);
        QFETCH(double, storedSize);
        StoreFixture store;
        const DiaryEntryDTO first = store.saved("2024-03-10", "Same");
        store.clock->moment = store.clock->moment.addSecs(60);
        DiaryDraftDTO next = draft("2024-03-10", content, size);
        const DiarySaveResult result =
            test::waitFor(store.repository->save(next, first.revision, 7));
        QCOMPARE(int(result.disposition), disposition);
        QCOMPARE(result.editSequence, 7);
        QCOMPARE(result.entry.bodyPointSize, storedSize);
        QCOMPARE(result.entry.id, first.id);
        QCOMPARE(result.entry.createdAt, first.createdAt);
        const bool changed = disposition != int(DiarySaveDisposition::unchanged);
        QCOMPARE(result.entry.revision, DiaryRevision{changed ? 2 : 1});
        QCOMPARE(result.entry.updatedAt, changed ? store.clock->moment : first.updatedAt);
        QCOMPARE(test::waitFor(store.repository->entry(day("2024-03-10"))), result.entry);
    }

    // A save over a stored entry hands back the entry exactly as the store now holds it, with
    // its search text folded from the new words.
    void anUpdateReturnsWhatReadsBack_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("fontName");
        QTest::addColumn<double>("size");
        QTest::addColumn<int>("millisecond");
        const QChar bom(0xFEFF);
        QTest::newRow("plain") << "New words"
                               << "Georgia" << 16.0 << 0;
        QTest::newRow("font name with an unpaired surrogate")
            << "New words" << QStringLiteral("Geo") + QChar(0xD800) << 16.0 << 0;
        QTest::newRow("leading U+FEFF and accents")
            << bom + QStringLiteral("Crème brûlée") << "Georgia" << 16.0 << 0;
        QTest::newRow("a null character inside")
            << QStringLiteral("one") + QChar(0) + QStringLiteral("two") << "Georgia" << 16.0 << 0;
        QTest::newRow("size below the range") << "Same"
                                              << "Georgia" << 3.0 << 0;
        QTest::newRow("moment with milliseconds") << "New words"
                                                  << "Georgia" << 16.0 << 417;
    }

    void anUpdateReturnsWhatReadsBack() {
        QFETCH(QString, content);
        QFETCH(QString, fontName);
        QFETCH(double, size);
        QFETCH(int, millisecond);
        StoreFixture store;
        const DiaryEntryDTO first = store.saved("2024-03-10", "Same");
        // A clock may answer in any zone; the store keeps UTC.
        store.clock->moment =
            store.clock->moment.addSecs(60).addMSecs(millisecond).toOffsetFromUtc(3600);
        DiaryDraftDTO next = draft("2024-03-10", content, size);
        next.fontName = fontName;
        const DiarySaveResult result =
            test::waitFor(store.repository->save(next, first.revision, 2));
        QCOMPARE(int(result.disposition), int(DiarySaveDisposition::updated));
        const auto readBack = test::waitFor(store.repository->entry(day("2024-03-10")));
        QCOMPARE(readBack, result.entry);
        QCOMPARE(result.entry.updatedAt.timeSpec(), readBack->updatedAt.timeSpec());
        SqliteDatabase database(store.path(), SqliteDatabase::OpenMode::readOnly);
        QCOMPARE(database.queryText(QStringLiteral("SELECT contentFolded FROM DiaryEntry")),
                 foldedForSearch(result.entry.content));
    }

    // What the editor can hold reads back equal, so saving it again changes nothing.
    void textRoundTrips_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        const QChar bom(0xFEFF);
        QTest::newRow("leading U+FEFF") << bom + QStringLiteral("Hi") << bom + QStringLiteral("Hi");
        QTest::newRow("two of them") << QString(2, bom) << QString(2, bom);
        QTest::newRow("unpaired surrogate")
            << QStringLiteral("a") + QChar(0xD83D) + QStringLiteral("b")
            << QStringLiteral("a") + QChar::ReplacementCharacter + QStringLiteral("b");
        QTest::newRow("lone low surrogate at the end")
            << QStringLiteral("a") + QChar(0xDC00)
            << QStringLiteral("a") + QChar::ReplacementCharacter;
        QTest::newRow("pair") << QStringLiteral("😀") << QStringLiteral("😀");
    }

    void textRoundTrips() {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        StoreFixture store;
        const DiaryEntryDTO first = store.saved("2024-03-10", typed);
        QCOMPARE(first.content, stored);
        QCOMPARE(test::waitFor(store.repository->entry(day("2024-03-10")))->content, stored);
        for (qint64 sequence = 2; sequence <= 4; ++sequence) {
            const DiarySaveResult again = test::waitFor(
                store.repository->save(draft("2024-03-10", typed), first.revision, sequence));
            QCOMPARE(int(again.disposition), int(DiarySaveDisposition::unchanged));
            QCOMPARE(again.entry.revision, DiaryRevision{1});
        }
    }

    void aNegativeStoredRevisionRestartsOrFails() {
        StoreFixture store;
        store.saved("2024-03-10", "Old");
        plantColumn(store, "2024-03-10", "revision = -5");
        QCOMPARE(
            failureOf(store.repository->save(draft("2024-03-10", "Old"), revision(0), 1)),
            PersistenceError::invalidData("A stored entry has an invalid revision: -5.").message());
        const auto result =
            test::waitFor(store.repository->save(draft("2024-03-10", "New"), revision(0), 2));
        QCOMPARE(result.entry.revision, DiaryRevision{1});
    }

    void anExpectationForAnEmptyDayConflicts() {
        StoreFixture store;
        QCOMPARE(failureOf(store.repository->save(draft("2024-03-10", "x"), revision(2), 1)),
                 PersistenceError::conflict(DiaryRevision{2}, DiaryRevision{0}).message());
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry"), 0);
    }

    void sealRaisesTheRevisionOnce() {
        StoreFixture store;
        store.saved("2024-03-10", "Words");
        plantColumn(store, "2024-03-10", "revision = 4");
        const QUuid id = test::waitFor(store.repository->entry(day("2024-03-10")))->id;
        store.clock->moment = store.clock->moment.addDays(1);
        const DiaryEntryDTO sealed = test::waitFor(store.repository->seal(id, DiaryRevision{4}));
        QCOMPARE(sealed.revision, DiaryRevision{5});
        QCOMPARE(sealed.status, DiaryEntryStatus::sealed);
        QCOMPARE(sealed.sealedAt, store.clock->moment);
        QCOMPARE(sealed.updatedAt, store.clock->moment);
        QCOMPARE(failureOf(store.repository->seal(id, DiaryRevision{5})),
                 PersistenceError::entryAlreadySealed().message());
        QCOMPARE(failureOf(store.repository->save(draft("2024-03-10", "More"), revision(5), 1)),
                 PersistenceError::entryAlreadySealed().message());
    }

    void sealRefusals_data() {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<QString>("message");
        QTest::newRow("stale") << QString() << qint64(3)
                               << "The diary changed unexpectedly (expected revision 3, found 1).";
        QTest::newRow("gone")
            << "DELETE FROM DiaryEntry" << qint64(1)
            << "The diary contains invalid data: The entry to seal no longer exists.";
        // The row is found by its identifier; its day cannot be read, so nothing is sealed.
        QTest::newRow("unreadable day") << "UPDATE DiaryEntry SET dayKey = '2024-3-10'" << qint64(1)
                                        << "The diary contains invalid data: A stored entry has an "
                                           "invalid civil-day key: 2024-3-10.";
    }

    void sealRefusals() {
        QFETCH(QString, planted);
        QFETCH(qint64, expected);
        QFETCH(QString, message);
        StoreFixture store;
        const DiaryEntryDTO saved = store.saved("2024-03-10", "Words");
        if (!planted.isEmpty())
            store.sql(planted);
        QCOMPARE(failureOf(store.repository->seal(saved.id, DiaryRevision{expected})), message);
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry WHERE isLocked = 1 OR revision <> 1"),
                 0);
    }

    void applyRemoteChecks_data() {
        QTest::addColumn<QString>("stored"); // "" for an empty day, else "revision,isLocked"
        QTest::addColumn<Revision>("expected");
        QTest::addColumn<bool>("incomingSealed");
        QTest::addColumn<QString>("outcome"); // the stored revision, or the failure
        QTest::newRow("empty day, expecting 0")
            << "" << revision(0) << false
            << "The diary changed unexpectedly (expected revision 0, found 0).";
        QTest::newRow("empty day, no expectation") << "" << Revision() << false << "1";
        QTest::newRow("no expectation over 2")
            << "2,0" << Revision() << false
            << "The diary changed unexpectedly (expected revision 0, found 2).";
        QTest::newRow("matching") << "2,0" << revision(2) << false << "3";
        QTest::newRow("negative, no expectation restarts") << "-4,0" << Revision() << false << "1";
        QTest::newRow("negative, any expectation")
            << "-4,0" << revision(0) << false
            << "The diary changed unexpectedly (expected revision 0, found 0).";
        QTest::newRow("draft over sealed")
            << "2,1" << revision(2) << false << "This diary entry is already sealed.";
        QTest::newRow("sealed over sealed") << "2,1" << revision(2) << true << "3";
        QTest::newRow("stale beats sealed")
            << "2,1" << revision(1) << false
            << "The diary changed unexpectedly (expected revision 1, found 2).";
        QTest::newRow("at the maximum")
            << "9223372036854775807,0" << revision(DiaryRevision::maximum) << false
            << "The diary revision cannot be incremented safely.";
    }

    void applyRemoteChecks() {
        QFETCH(QString, stored);
        QFETCH(Revision, expected);
        QFETCH(bool, incomingSealed);
        QFETCH(QString, outcome);
        StoreFixture store;
        QUuid storedID;
        if (!stored.isEmpty()) {
            storedID = store.saved("2024-03-10", "Local words").id;
            const QStringList parts = stored.split(',');
            plantColumn(store, "2024-03-10", "revision = " + parts[0] + ", isLocked = " + parts[1]);
        }
        DiaryEntryDTO incoming = entry("2024-03-10", "Remote words");
        incoming.status = incomingSealed ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft;
        const DiaryEntryDTO displaced = entry("2024-03-10", "Displaced words");
        bool isRevision = false;
        const qint64 expectedRevision = outcome.toLongLong(&isRevision);
        if (!isRevision) {
            QCOMPARE(failureOf(store.repository->applyRemote(incoming, expected, displaced)),
                     outcome);
            QCOMPARE(store.count("SELECT count(*) FROM RecoveryRecord"), 0);
            QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry WHERE content = 'Remote words'"),
                     0);
            return;
        }
        const DiaryEntryDTO result =
            test::waitFor(store.repository->applyRemote(incoming, expected, displaced));
        QCOMPARE(result.revision, DiaryRevision{expectedRevision});
        QCOMPARE(result.content, QStringLiteral("Remote words"));
        QCOMPARE(result.updatedAt, incoming.updatedAt);
        QCOMPARE(result.id, stored.isEmpty() ? incoming.id : storedID);
        QCOMPARE(result.sealedAt,
                 incomingSealed ? std::optional(incoming.updatedAt) : std::nullopt);
        QCOMPARE(
            store.count("SELECT count(*) FROM RecoveryRecord WHERE reason = 'competingDraft' AND "
                        "sourceKind = 'importRecord'"),
            1);
    }

    void aTakenIdentifierGetsAFreshOne_data() {
        QTest::addColumn<bool>("remote");
        QTest::newRow("synced entry") << true;
        QTest::newRow("first save of a day") << false;
    }

    void aTakenIdentifierGetsAFreshOne() {
        QFETCH(bool, remote);
        StoreFixture store;
        const DiaryEntryDTO local = store.saved("2024-03-09", "Yesterday");
        DiaryEntryDTO incoming = entry("2024-03-10", "Today");
        incoming.id = local.id;
        DiaryDraftDTO typed = draft("2024-03-10", "Today");
        typed.id = local.id;
        const DiaryEntryDTO stored =
            remote
                ? test::waitFor(store.repository->applyRemote(incoming, std::nullopt, std::nullopt))
                : test::waitFor(store.repository->save(typed, std::nullopt, 1)).entry;
        QVERIFY(stored.id != local.id);
        QVERIFY(!stored.id.isNull());
        QCOMPARE(test::waitFor(store.repository->entry(day("2024-03-10")))->id, stored.id);
    }

    void recoveryRecordsKeepTheEntryWhole() {
        StoreFixture store;
        DiaryEntryDTO kept = entry("2024-03-10", "Words with a / slash");
        test::waitFor(store.repository->preserveRecovery(kept));
        store.sql(QStringLiteral(
                      "INSERT INTO DiaryMetadata (diaryID, schemaVersion, migrationIdentifier, "
                      "createdAt, snapshotSequence) VALUES ('%1', 2, 'm', 0, 0)")
                      .arg(uuidText(QUuid::createUuid())));
        const auto records = test::waitFor(store.repository->snapshot()).recoveryRecords;
        QCOMPARE(records.size(), 1);
        const DiaryRecoveryDTO &record = records.first();
        QCOMPARE(record.originalID, kept.id);
        QCOMPARE(record.proposedDayKey, kept.dayKey);
        QCOMPARE(record.reason, DiaryRecoveryReason::competingDraft);
        QCOMPARE(record.sourceKind, DiaryRecoverySourceKind::importRecord);
        QCOMPARE(record.createdAt, store.clock->moment);
        QCOMPARE(record.contentSHA256, sha256Hex(record.preservedPayload));
        QVERIFY(record.preservedPayload.contains("\\/ slash"));
        QCOMPARE(
            DiaryEntryDTO::fromJson(parseJson(record.preservedPayload), JsonDateEncoding::iso8601),
            kept);
    }

    void replaceAllSwapsTheWholeDiary() {
        StoreFixture store;
        store.saved("2024-01-01", "Gone soon");
        DiarySnapshotDTO replacement{
            metadata(), {entry("2024-03-02", "Two", 7), entry("2024-03-01", "One", 3)}, {}};
        replacement.entries[1].status = DiaryEntryStatus::sealed;
        replacement.entries[1].sealedAt = utc(2024, 3, 5);
        replacement.recoveryRecords.append(
            makeCompetingRecovery(entry("2024-03-03", "Aside"), utc(2024, 3, 6)));
        test::waitFor(store.repository->replaceAll(replacement));
        const DiarySnapshotDTO stored = test::waitFor(store.repository->snapshot());
        QCOMPARE(stored.metadata, replacement.metadata);
        QCOMPARE(stored.entries,
                 (QList<DiaryEntryDTO>{replacement.entries[1], replacement.entries[0]}));
        QCOMPARE(stored.recoveryRecords, replacement.recoveryRecords);
        QCOMPARE(test::waitFor(store.repository->search("TWO", 5)).size(), 1);

        test::waitFor(store.repository->replaceAll(
            DiarySnapshotDTO{metadata(), {}, replacement.recoveryRecords}));
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry"), 0);
        QCOMPARE(store.count("SELECT count(*) FROM DiaryMetadata"), 1);
        QCOMPARE(store.count("SELECT count(*) FROM RecoveryRecord"), 1);
    }

    void replaceAllRefusesDuplicates_data() {
        QTest::addColumn<int>("duplicate");
        QTest::newRow("two entries of one day") << 0;
        QTest::newRow("two entries with one identifier") << 1;
        QTest::newRow("two records with one identifier") << 2;
    }

    void replaceAllRefusesDuplicates() {
        QFETCH(int, duplicate);
        StoreFixture store;
        store.saved("2024-01-01", "Stays");
        DiarySnapshotDTO replacement{
            metadata(), {entry("2024-03-01", "a"), entry("2024-03-02", "b")}, {}};
        const DiaryRecoveryDTO record =
            makeCompetingRecovery(entry("2024-03-03", "c"), utc(2024, 3, 6));
        replacement.recoveryRecords = {
            record, makeCompetingRecovery(entry("2024-03-03", "d"), utc(2024, 3, 6))};
        if (duplicate == 0)
            replacement.entries[1].dayKey = replacement.entries[0].dayKey;
        else if (duplicate == 1)
            replacement.entries[1].id = replacement.entries[0].id;
        else
            replacement.recoveryRecords[1].recoveryID = record.recoveryID;
        QCOMPARE(failureOf(store.repository->replaceAll(replacement)),
                 PersistenceError::invalidData(
                     "Replacement contains duplicate identifiers or civil days.")
                     .message());
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry WHERE content = 'Stays'"), 1);
    }

    void entryDatesFallBack_data() {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QDateTime>("date");
        QTest::newRow("known zone")
            << "Asia/Tokyo" << QDateTime(QDate(2024, 3, 10), QTime(0, 0), QTimeZone("Asia/Tokyo"));
        QTest::newRow("unknown zone is GMT") << "Mars/Olympus" << utc(2024, 3, 10, 0);
    }

    void entryDatesFallBack() {
        QFETCH(QString, zone);
        QFETCH(QDateTime, date);
        QCOMPARE(entryDate(day("2024-03-10"), zone, utc(2000, 1, 1)), date);
    }

    // A backup of the same diary carries the same ids and revision numbers: a write whose
    // expectation was read before the diary was replaced is refused however equal the numbers,
    // and leaves the replacement as it is; one read after it goes through.
    void writesReadBeforeAReplacementAreRefused_data() {
        QTest::addColumn<QString>("write");
        QTest::addColumn<bool>("dayWritten"); // before the replacement and in it, or in neither
        QTest::addColumn<bool>("readBefore");
        for (const char *write : {"save", "seal", "applyRemote"}) {
            for (const bool written : {true, false}) {
                for (const bool before : {true, false}) {
                    if (write == QByteArrayView("seal") && !written)
                        continue;
                    QTest::addRow("%s, %s day, read %s", write, written ? "written" : "blank",
                                  before ? "before" : "after")
                        << QString::fromLatin1(write) << written << before;
                }
            }
        }
    }

    void writesReadBeforeAReplacementAreRefused() {
        QFETCH(QString, write);
        QFETCH(bool, dayWritten);
        QFETCH(bool, readBefore);
        StoreFixture store;
        const DiaryEntryDTO read = store.saved("2024-03-10", "Before");
        const quint64 before = store.repository->generation();
        DiaryEntryDTO restored = read;
        restored.content = QStringLiteral("Restored");
        test::waitFor(store.repository->replaceAll(
            {metadata(), dayWritten ? QList{restored} : QList<DiaryEntryDTO>{}, {}}));
        const quint64 readIn = readBefore ? before : store.repository->generation();
        const Revision expected = dayWritten ? revision(1) : Revision();

        QString failure;
        if (write == u"save")
            failure = failureOf(
                store.repository->save(draft("2024-03-10", "Typed"), expected, 1, readIn));
        else if (write == u"seal")
            failure = failureOf(store.repository->seal(read.id, DiaryRevision{1}, readIn));
        else
            failure = failureOf(store.repository->applyRemote(entry("2024-03-10", "Remote"),
                                                              expected, std::nullopt, readIn));
        if (!readBefore) {
            QCOMPARE(failure, QString());
            return;
        }
        QCOMPARE(failure, PersistenceError::conflictWithReplacedDiary({}, {}).message());
        const auto kept = test::waitFor(store.repository->entry(day("2024-03-10")));
        QCOMPARE(kept ? kept->content : QString(),
                 dayWritten ? QStringLiteral("Restored") : QString());
        QVERIFY(!kept || !kept->isSealed());
    }

    // What is written while the diary is being replaced waits for the replacement, so the
    // replacement never wipes it; each waiting write goes on once, also when the next replacement
    // takes and lets go of the writes before they have.
    void writesWaitWhileTheDiaryIsReplaced() {
        StoreFixture store;
        const DiaryEntryDTO kept = store.saved("2024-03-09", "Kept");
        const DiarySnapshotDTO diary{metadata(), {kept}, {}};
        DiaryWriteGate::Hold writes = store.repository->holdWrites();
        auto saving =
            store.repository->save(draft("2024-03-10", "Saved meanwhile"), std::nullopt, 1);
        auto keeping = store.repository->preserveRecovery(entry("2024-03-11", "Kept aside"));
        test::waitFor(store.repository->replaceAll(diary));
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry"), 1);
        QCOMPARE(store.count("SELECT count(*) FROM RecoveryRecord"), 0);
        writes.release();
        store.repository->holdWrites().release();
        test::waitFor(std::move(saving));
        test::waitFor(std::move(keeping));
        QCOMPARE(store.count("SELECT count(*) FROM DiaryEntry"), 2);
        QCOMPARE(store.count("SELECT count(*) FROM RecoveryRecord"), 1);
        QCOMPARE(test::waitFor(store.repository->entry(kept.dayKey))->content,
                 QStringLiteral("Kept"));
    }

    void twoSavesExpectingOneRevisionCannotBothWin_data() {
        QTest::addColumn<bool>("twoConnections");
        QTest::newRow("one repository") << false;
        QTest::newRow("two processes' worth of connections") << true;
    }

    void twoSavesExpectingOneRevisionCannotBothWin() {
        QFETCH(bool, twoConnections);
        StoreFixture store;
        const DiaryEntryDTO first = store.saved("2024-03-10", "Start");
        std::unique_ptr<CoreDataDiaryRepository> other;
        if (twoConnections) {
            other = std::make_unique<CoreDataDiaryRepository>(
                std::make_shared<DiaryPersistenceStack>(store.path(), store.stack->model()),
                store.clock);
        }
        for (int round = 0; round < 20; ++round) {
            const DiaryRevision expected =
                test::waitFor(store.repository->entry(day("2024-03-10")))->revision;
            QStringList conflicts;
            const int succeeded = test::waitFor(raceTwoSaves(
                *store.repository, other ? *other : *store.repository, expected, &conflicts));
            QCOMPARE(succeeded, 1);
            QCOMPARE(conflicts, QStringList{PersistenceError::conflict(
                                                expected, DiaryRevision{expected.rawValue + 1})
                                                .message()});
        }
        QCOMPARE(test::waitFor(store.repository->entry(day("2024-03-10")))->revision,
                 DiaryRevision{first.revision.rawValue + 20});
    }
};

VELMORA_TEST_MAIN(RepositoryWritesTest)
#include "tst_repositorywrites.moc"
