#include "CrashWriterContent.h"
#include "StoreFixture.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <csignal>

using namespace velmora;
using namespace velmora::test;

class CrashSafetyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A writer killed at any moment leaves every entry at a revision it wrote whole, and every
    // save it reported as done is still there. More runs: VELMORA_CRASH_RUNS.
    void killedWritersLoseNothingAcknowledged() {
        const int runs = qEnvironmentVariableIsSet("VELMORA_CRASH_RUNS")
                             ? qEnvironmentVariableIntValue("VELMORA_CRASH_RUNS")
                             : 12;
        QTemporaryDir dir;
        const QString path = dir.filePath("Diary.sqlite");
        QHash<QString, qint64> acknowledged;
        auto *random = QRandomGenerator::global();
        int acknowledgedSaves = 0;
        for (int run = 0; run < runs; ++run) {
            QProcess writer;
            writer.start(QStringLiteral(VELMORA_CRASH_WRITER), {path});
            QVERIFY(writer.waitForStarted());
            // Most kills land mid-write; some during start-up.
            if (run % 4 != 0)
                QVERIFY(waitUntil([&] { return writer.canReadLine(); }, std::chrono::seconds(30)));
            QTest::qWait(int(random->bounded(10, 300)));
            ::kill(pid_t(writer.processId()), SIGKILL);
            QVERIFY(writer.waitForFinished());
            for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> parts = line.split(' ');
                if (parts.size() == 3 && parts[0] == "ACK") {
                    acknowledged.insert(QString::fromLatin1(parts[1]), parts[2].toLongLong());
                    ++acknowledgedSaves;
                }
            }
            verifyStore(path, acknowledged);
            if (QTest::currentTestFailed())
                return;
        }
        qInfo("%d saves acknowledged over %d runs", acknowledgedSaves, runs);
        QVERIFY2(acknowledgedSaves > 0, "the writer never got to save");
    }

private:
    void verifyStore(const QString &path, const QHash<QString, qint64> &acknowledged) {
        // A writer killed while it started may not have created the store yet.
        if (!QFile::exists(path)) {
            QVERIFY(acknowledged.isEmpty());
            return;
        }
        {
            SqliteDatabase database(path, SqliteDatabase::OpenMode::readWrite);
            QCOMPARE(database.queryText("PRAGMA integrity_check"), QStringLiteral("ok"));
        }
        auto stack = std::make_shared<DiaryPersistenceStack>(
            path, DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        CoreDataDiaryRepository repository(stack, std::make_shared<SystemClock>());
        const auto entries =
            test::waitFor(repository.entries(day("2024-01-01"), day("2025-01-01"), 500));
        QHash<QString, qint64> stored;
        for (const auto &found : entries) {
            QCOMPARE(found.content, crashWriterContent(found.dayKey, found.revision.rawValue));
            QCOMPARE(test::waitFor(repository.search(found.content.left(22), 5)).size(), 1);
            stored.insert(found.dayKey.rawValue(), found.revision.rawValue);
        }
        for (auto it = acknowledged.begin(); it != acknowledged.end(); ++it) {
            QVERIFY2(
                stored.value(it.key()) >= it.value(),
                qPrintable(QStringLiteral("%1 lost revision %2").arg(it.key()).arg(it.value())));
        }
    }
};

VELMORA_TEST_MAIN(CrashSafetyTest)
#include "tst_crashsafety.moc"
