#include "MigrationFixtures.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest/QtTest>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr int fixtureRows = 500;
constexpr int fixtureDrafts = 20;
const QTimeZone paris("Europe/Paris");

const QList<DiaryRepositoryFaultPoint> migrationPoints{
    DiaryRepositoryFaultPoint::beforeMigrationQuarantine,
    DiaryRepositoryFaultPoint::afterMigrationQuarantine,
    DiaryRepositoryFaultPoint::afterMigrationStageWrite,
    DiaryRepositoryFaultPoint::afterMigrationStageReopen,
    DiaryRepositoryFaultPoint::afterMigrationAdoption,
    DiaryRepositoryFaultPoint::afterMigrationFinalReopen,
};

// VELMORA_LONG_CRASH_TEST=<n> multiplies the runs.
int scale() {
    const int factor = qEnvironmentVariableIntValue("VELMORA_LONG_CRASH_TEST");
    return factor > 0 ? factor : 1;
}

// How often each text is in the store, as an entry or in a recovery record.
QHash<QString, int> textsIn(const QString &storePath) {
    QHash<QString, int> counts;
    const StoredDiary diary = readStoredDiary(storePath);
    for (const auto &entry : diary.entries)
        ++counts[entry.content];
    for (const auto &record : diary.recoveryRecords)
        ++counts[preservedText(record)];
    return counts;
}

bool isCurrentStore(const QString &storePath) {
    return isStoreOf(storePath, durableModel());
}

} // namespace

class MigrationCrashTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_store;
    QString m_defaultsPath;
    LegacyDiaryFixture m_fixture = LegacyDiaryFixture::make(fixtureRows, fixtureDrafts);
    qint64 m_runMicroseconds = 0;
    int m_kills = 0;

    void freshFixture() {
        QDir(m_dir.path()).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir.path()));
        UserDefaults defaults(m_defaultsPath);
        m_fixture.write(m_store, defaults);
    }

    QProcess *startChild(const QString &mode) {
        auto *child = new QProcess(this);
        child->setProgram(QStringLiteral(MIGRATION_CRASH_CHILD));
        child->setArguments({m_store, m_defaultsPath, mode});
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start();
        if (!child->waitForStarted() || !child->waitForReadyRead(30000))
            qFatal("the migration child did not start");
        child->readLine();
        return child;
    }

    // Kills the child after a random share of an uninterrupted run.
    void killAtRandom() {
        QProcess *child = startChild(QStringLiteral("none"));
        const auto delay = QRandomGenerator::global()->bounded(m_runMicroseconds * 6 / 5 + 1);
        QThread::usleep(quint64(delay));
        child->kill();
        child->waitForFinished();
        m_kills += child->exitStatus() == QProcess::CrashExit;
        delete child;
    }

    // A draft may leave the defaults only once its text is safe in the current store.
    void checkDraftsNotLostYet() {
        UserDefaults defaults(m_defaultsPath);
        QStringList gone;
        for (const QString &key : m_fixture.textDraftKeys()) {
            if (!defaults.stringValue(key))
                gone.append(key);
        }
        if (gone.isEmpty())
            return;
        QVERIFY2(isCurrentStore(m_store), "drafts were removed before the store was adopted");
        const auto texts = textsIn(m_store);
        for (const auto &[key, value] : m_fixture.drafts) {
            if (gone.contains(key))
                QCOMPARE(texts.value(value.toString()), 1);
        }
    }

    // After a normal launch everything written is in the store exactly once, and only the draft
    // values that are not text are left in the defaults.
    void checkEverythingMigrated() {
        UserDefaults defaults(m_defaultsPath);
        const auto prepared = DiaryMigrationCoordinator().prepareStore(m_store, defaults, paris);
        QCOMPARE(prepared.storeURL, m_store);
        const auto texts = textsIn(m_store);
        int expected = 0;
        for (const auto &row : std::as_const(m_fixture.rows)) {
            QCOMPARE(texts.value(row.content), 1);
            ++expected;
        }
        for (const auto &[key, value] : m_fixture.drafts) {
            const bool isText = LegacyDiaryFixture::isText(value);
            QCOMPARE(defaults.stringValue(key).has_value(), false);
            QCOMPARE(defaults.keys().contains(key), !isText);
            if (isText) {
                QCOMPARE(texts.value(value.toString()), 1);
                ++expected;
            }
        }
        int total = 0;
        for (int count : texts)
            total += count;
        QCOMPARE(total, expected);
        QVERIFY(!QFile::exists(
            m_dir.filePath(QStringLiteral("Recovery/Migrations/active-migration.json"))));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_store = m_dir.filePath(QStringLiteral("RaDevov.sqlite"));
        m_defaultsPath = m_dir.filePath(QStringLiteral("defaults.ini"));
        // One uninterrupted run sets the range of the random kills.
        freshFixture();
        QProcess *child = startChild(QStringLiteral("none"));
        QVERIFY(child->waitForFinished(60000));
        QCOMPARE(child->exitCode(), 0);
        m_runMicroseconds = child->readLine().trimmed().toLongLong();
        QVERIFY(m_runMicroseconds > 0);
        delete child;
        checkEverythingMigrated();
    }

    void killedAtEachMigrationPoint_data() {
        QTest::addColumn<DiaryRepositoryFaultPoint>("point");
        for (int run = 0; run < scale(); ++run) {
            for (auto point : migrationPoints)
                QTest::addRow("%s #%d", qPrintable(rawValue(point)), run) << point;
        }
    }

    void killedAtEachMigrationPoint() {
        QFETCH(DiaryRepositoryFaultPoint, point);
        freshFixture();
        QProcess *child = startChild(rawValue(point));
        QVERIFY(child->waitForFinished(60000));
        QCOMPARE(child->exitStatus(), QProcess::CrashExit);
        delete child;
        ++m_kills;
        checkDraftsNotLostYet();
        QCOMPARE(isCurrentStore(m_store),
                 point == DiaryRepositoryFaultPoint::afterMigrationAdoption ||
                     point == DiaryRepositoryFaultPoint::afterMigrationFinalReopen);
        checkEverythingMigrated();
    }

    // Kills at random moments, sometimes again while the next launch repeats or settles the run.
    void killedAtRandomMoments() {
        const int runs = 25 * scale();
        const int killsBefore = m_kills;
        for (int run = 0; run < runs; ++run) {
            freshFixture();
            const int kills = 1 + QRandomGenerator::global()->bounded(3);
            for (int kill = 0; kill < kills; ++kill) {
                killAtRandom();
                checkDraftsNotLostYet();
            }
            checkEverythingMigrated();
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("%d random runs, %d processes killed in them, %d in all", runs, m_kills - killsBefore,
              m_kills);
    }
};

VELMORA_TEST_MAIN(MigrationCrashTest)
#include "tst_migrationcrash.moc"
