#include "platform/UserDefaults.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>

using namespace velmora;

// The typed reads give the same answer for a value just written and for the same value read back
// from the file by a later run, whatever type it was stored with.
class UserDefaultsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typedReads_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("number");
        QTest::addColumn<qint64>("integer");
        QTest::addColumn<bool>("flag");
        QTest::addColumn<std::optional<QString>>("text");

        using Text = std::optional<QString>;
        QTest::newRow("missing") << QVariant() << 0.0 << qint64(0) << false << Text();
        QTest::newRow("true") << QVariant(true) << 1.0 << qint64(1) << true << Text("true");
        QTest::newRow("false") << QVariant(false) << 0.0 << qint64(0) << false << Text("false");
        QTest::newRow("integer") << QVariant(21) << 21.0 << qint64(21) << true << Text("21");
        QTest::newRow("fraction") << QVariant(1.25) << 1.25 << qint64(1) << true << Text("1.25");
        QTest::newRow("numeric text")
            << QVariant(QStringLiteral(" 7 ")) << 7.0 << qint64(7) << true << Text(" 7 ");
        QTest::newRow("word") << QVariant(QStringLiteral("YES")) << 0.0 << qint64(0) << true
                              << Text("YES");
        QTest::newRow("other text")
            << QVariant(QStringLiteral("maybe")) << 0.0 << qint64(0) << false << Text("maybe");
        QTest::newRow("date") << QVariant(QDateTime(QDate(2024, 1, 2), QTime(3, 4), Qt::UTC)) << 0.0
                              << qint64(0) << false << Text();
    }

    void typedReads() {
        QFETCH(QVariant, stored);
        QFETCH(double, number);
        QFETCH(qint64, integer);
        QFETCH(bool, flag);
        QFETCH(std::optional<QString>, text);

        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("defaults.ini"));
        const QString key = QStringLiteral("Velmora.reminder.hour");
        auto written = std::make_unique<UserDefaults>(path);
        if (stored.isValid())
            written->setObject(key, stored);
        written->synchronize();
        UserDefaults reread(path);
        for (const UserDefaults *defaults : {written.get(), &reread}) {
            QCOMPARE(defaults->contains(key), stored.isValid());
            QCOMPARE(defaults->doubleValue(key), number);
            QCOMPARE(defaults->integerValue(key), integer);
            QCOMPARE(defaults->boolValue(key), flag);
            QCOMPARE(defaults->stringValue(key), text);
        }
    }

    void datesKeepTheirMilliseconds() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("defaults.ini"));
        const QDateTime moment = QDateTime::fromMSecsSinceEpoch(1709200000123, Qt::UTC);
        {
            UserDefaults defaults(path);
            defaults.setDate(QStringLiteral("Velmora.sync.lastSync"), moment);
        }
        QCOMPARE(UserDefaults(path).dateValue(QStringLiteral("Velmora.sync.lastSync")),
                 std::optional(moment));
        UserDefaults(path).remove(QStringLiteral("Velmora.sync.lastSync"));
        QVERIFY(!UserDefaults(path).contains(QStringLiteral("Velmora.sync.lastSync")));
    }

    // A test suite of any name, "Velmora" included, stays apart from the standard domain.
    void noSuiteReachesTheStandardDomain_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("the program's name") << "Velmora";
        QTest::newRow("a way up") << "../Velmora";
        QTest::newRow("a way up and down") << "Suites/../../Velmora";
        QTest::newRow("an empty name") << "";
    }

    void noSuiteReachesTheStandardDomain() {
        QFETCH(QString, name);
        const auto suite = UserDefaults::suite(name);
        QVERIFY(QFileInfo(suite->filePath()).absolutePath().endsWith(QStringLiteral("/Suites")));
        suite->setString(QStringLiteral("fromSuite"), name);
        suite->synchronize();
        QVERIFY(!UserDefaults::standard()->contains(QStringLiteral("fromSuite")));
        QVERIFY(QFile::remove(suite->filePath()));
    }

    // What a process killed while it took the settings lock leaves; reading and writing go on
    // at once instead of waiting for the lock to age.
    void emptyLockOfADeadProcessIsCleared() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("defaults.ini"));
        UserDefaults(path).setString(QStringLiteral("draft_2024-01-01"), QStringLiteral("text"));
        QFile lock(path + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        {
            UserDefaults defaults(path);
            QCOMPARE(defaults.stringValue(QStringLiteral("draft_2024-01-01")),
                     std::optional<QString>(QStringLiteral("text")));
            defaults.remove(QStringLiteral("draft_2024-01-01"));
        }
        QVERIFY(UserDefaults(path).keys().isEmpty());
    }
};

VELMORA_TEST_MAIN(UserDefaultsTest)
#include "tst_userdefaults.moc"
