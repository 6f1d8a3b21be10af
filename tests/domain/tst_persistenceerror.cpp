#include "domain/DiaryRepository.h"
#include "domain/DiarySessionError.h"
#include "domain/PersistenceError.h"
#include "support/TestSupport.h"

using namespace velmora;

Q_DECLARE_METATYPE(velmora::PersistenceError)

class PersistenceErrorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void messages_data() {
        QTest::addColumn<PersistenceError>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("load") << PersistenceError::storeLoadFailed("x")
                              << "The diary store could not be opened: x";
        QTest::newRow("read") << PersistenceError::readFailed("x")
                              << "The diary could not be read: x";
        QTest::newRow("write") << PersistenceError::writeFailed("x")
                               << "The diary could not be saved: x";
        QTest::newRow("invalid")
            << PersistenceError::invalidData("The selected calendar month is invalid.")
            << "The diary contains invalid data: The selected calendar month is invalid.";
        QTest::newRow("conflict")
            << PersistenceError::conflict(DiaryRevision{3}, DiaryRevision{4})
            << "The diary changed unexpectedly (expected revision 3, found 4).";
        QTest::newRow("conflict with a replaced diary")
            << PersistenceError::conflictWithReplacedDiary(DiaryRevision{2}, DiaryRevision{2})
            << "The diary was replaced by a restore or an import meanwhile, so this change was "
               "not stored.";
        QTest::newRow("huge conflict")
            << PersistenceError::conflict(DiaryRevision{DiaryRevision::maximum}, DiaryRevision{0})
            << "The diary changed unexpectedly (expected revision 9223372036854775807, found 0).";
        QTest::newRow("fault") << PersistenceError::faultInjected(
                                      DiaryRepositoryFaultPoint::beforeRead)
                               << "A persistence fault was injected at beforeRead.";
        QTest::newRow("migration")
            << PersistenceError::migrationFailed("x") << "The diary could not be migrated: x";
        QTest::newRow("backup") << PersistenceError::backupFailed("x")
                                << "The diary backup failed: x";
        QTest::newRow("unavailable")
            << PersistenceError::storeUnavailable() << "The diary store is unavailable.";
        QTest::newRow("overflow") << PersistenceError::revisionOverflow()
                                  << "The diary revision cannot be incremented safely.";
        QTest::newRow("sealed") << PersistenceError::entryAlreadySealed()
                                << "This diary entry is already sealed.";
    }

    void messages() {
        QFETCH(PersistenceError, error);
        QFETCH(QString, message);
        QCOMPARE(error.message(), message);
    }

    void equality() {
        using E = PersistenceError;
        QVERIFY(E::conflict(DiaryRevision{3}, DiaryRevision{4}) ==
                E::conflict(DiaryRevision{3}, DiaryRevision{4}));
        QVERIFY(E::conflict(DiaryRevision{3}, DiaryRevision{4}) !=
                E::conflict(DiaryRevision{3}, DiaryRevision{5}));
        QVERIFY(E::storeUnavailable() == E::storeUnavailable());
        QVERIFY(E::storeUnavailable() != E::revisionOverflow());
        QVERIFY(E::writeFailed("a") != E::readFailed("a"));
        QVERIFY(E::writeFailed("a") != E::writeFailed("b"));
    }

    void sessionErrorMessages() {
        using C = DiarySessionError::Case;
        QCOMPARE(DiarySessionError(C::pastDateConfirmationRequired).message(),
                 QStringLiteral("Choose Write for this date before adding to a past day."));
        QCOMPARE(DiarySessionError(C::futureDateUnavailable).message(),
                 QStringLiteral("A new diary page cannot be started in the future."));
    }

    void faultPoints() {
        const auto points = allCases<DiaryRepositoryFaultPoint>();
        QCOMPARE(points.size(), size_t(15));
        QCOMPARE(points.front(), DiaryRepositoryFaultPoint::beforeRead);
        QCOMPARE(points.back(), DiaryRepositoryFaultPoint::afterRestoreReopen);
        QCOMPARE(rawValue(DiaryRepositoryFaultPoint::afterCommitBeforeAcknowledgement),
                 QStringLiteral("afterCommitBeforeAcknowledgement"));
        for (auto point : points)
            QCOMPARE(fromRawValue<DiaryRepositoryFaultPoint>(rawValue(point)), point);
        QVERIFY(!fromRawValue<DiaryRepositoryFaultPoint>(u"BeforeRead"));
        QVERIFY(!fromRawValue<DiaryRepositoryFaultPoint>(u""));
    }

    void unavailableRepositoryFailsWithItsErrorOrUnavailable() {
        const PersistenceError loadFailed = PersistenceError::storeLoadFailed("disk full");
        UnavailableDiaryRepository repository(loadFailed);
        const DayKey day = *DayKey::fromRawValue(QStringLiteral("2024-02-29"));

        const auto failureOf = [](auto task) -> std::optional<PersistenceError> {
            try {
                test::waitFor(std::move(task));
            } catch (const PersistenceError &error) {
                return error;
            }
            return std::nullopt;
        };
        QCOMPARE(failureOf(repository.entry(day)), loadFailed);
        QCOMPARE(failureOf(repository.entries(day, day, 1)), loadFailed);
        QCOMPARE(failureOf(repository.search(QStringLiteral("x"), 1)), loadFailed);
        QCOMPARE(failureOf(repository.dayKeys(day, day, 1)), loadFailed);
        QCOMPARE(failureOf(repository.save({}, std::nullopt, 1)), loadFailed);
        QCOMPARE(failureOf(repository.seal(QUuid::createUuid(), DiaryRevision{1})), loadFailed);
        QCOMPARE(failureOf(repository.snapshot()), loadFailed);
        QCOMPARE(failureOf(repository.replaceAll({})), loadFailed);
        QCOMPARE(failureOf(repository.revisionsByDay()), PersistenceError::storeUnavailable());
        QCOMPARE(failureOf(repository.applyRemote({}, std::nullopt, std::nullopt)),
                 PersistenceError::storeUnavailable());
        QCOMPARE(failureOf(repository.preserveRecovery({})), PersistenceError::storeUnavailable());
    }
};

VELMORA_TEST_MAIN(PersistenceErrorTest)
#include "tst_persistenceerror.moc"
