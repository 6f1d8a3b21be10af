#include "TransferFixture.h"

#include "backup/DiaryTransferFlows.h"
#include "support/ScriptedAlerts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

DiaryAlert outcome(const char *title, const QString &message) {
    const bool failed = QByteArrayView(title).contains("Failed");
    return {QString::fromLatin1(title),
            message,
            failed ? DiaryAlertStyle::critical : DiaryAlertStyle::informational,
            {QStringLiteral("OK")}};
}

DiaryAlert question(int newEntries, int identical, int conflicts) {
    return {QStringLiteral("Import Diary Data?"),
            QStringLiteral("New entries: %1\nAlready identical: %2\nConflicts preserved for "
                           "recovery: %3\n\nMerge keeps the current diary and never overwrites a "
                           "sealed entry. Replace creates a verified pre-import backup first.")
                .arg(newEntries)
                .arg(identical)
                .arg(conflicts),
            DiaryAlertStyle::warning,
            {QStringLiteral("Merge"), QStringLiteral("Cancel"), QStringLiteral("Replace Diary")}};
}

const DiaryAlert confirmation{
    QStringLiteral("Replace the Entire Diary?"),
    QStringLiteral("This replaces every current entry after creating and validating a recovery "
                   "backup. This action is intentionally separate from Merge."),
    DiaryAlertStyle::critical,
    {QStringLiteral("Replace Diary"), QStringLiteral("Cancel")}};

struct FlowFixture : SessionFixture {
    std::shared_ptr<ScriptedAlerts> alerts = std::make_shared<ScriptedAlerts>();
    int completions = 0;
    QString quarantine = folder.filePath(QStringLiteral("Recovery/Quarantine"));
    QString store = folder.filePath(QStringLiteral("store.sqlite"));
    std::function<void()> beforeOpeningSource;
    DiaryDataOperationGuard operations;

    DiaryTransferFlowContext context() {
        DiaryTransferFlowContext context{repository, settings, clock, alerts,
                                         DiaryOpenDayReloader(session.get())};
        context.storeURL = store;
        context.lockFile = folder.filePath(QStringLiteral("Velmora.lock"));
        context.beforeOpeningSource = beforeOpeningSource;
        context.dataOperations = &operations;
        return context;
    }
    std::function<void()> completion() {
        return [this] { ++completions; };
    }
    void importFile(const QString &path) {
        // Millions of values take seconds to read under the sanitizers and many times that on a
        // loaded machine; the limit is there to catch a hang, not to time the read.
        test::waitFor(runImportFlow(path, context(), quarantine, completion()),
                      std::chrono::minutes(5));
    }
};

} // namespace

class TransferFlowsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The file's name as the alerts quote it: its own line, its own direction.
    void exportReportsTheFileName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Velmora_2024-03-15.json"
                               << "Velmora_2024-03-15.json";
        QTest::newRow("line breaks and an override") << "Velmora\n\n\u202Enosj.json"
                                                     << "Velmora\\n\\n\\u202Enosj.json";
        QTest::newRow("Hebrew") << "\u05d9\u05d5\u05de\u05df.json"
                                << "\u2068\u05d9\u05d5\u05de\u05df.json\u2069";
    }

    void exportReportsTheFileName() {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        FlowFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("exported"));
        const QString file = fixture.folder.filePath(name);
        test::waitFor(runExportFlow(file, fixture.context(), fixture.completion()));
        QCOMPARE(fixture.alerts->shown,
                 QList<DiaryAlert>{outcome("Export Successful",
                                           QStringLiteral("Your diary was exported to %1. Keep "
                                                          "this unencrypted file private.")
                                               .arg(shown))});
        QCOMPARE(fixture.completions, 1);
        QCOMPARE(DiaryTransferCodec::decode(fileBytes(file)).entries.size(), 1);

        test::waitFor(runExportFlow(file, fixture.context(), fixture.completion()));
        QCOMPARE(fixture.alerts->shown.last(),
                 outcome("Export Failed",
                         QStringLiteral("A file already exists at the export location.")));
        QCOMPARE(fixture.completions, 2);

        // Into a folder of that name, which is not there: the failure quotes its path.
        test::waitFor(runExportFlow(file + QStringLiteral(".d/") + name, fixture.context(),
                                    fixture.completion()));
        const QString failure = fixture.alerts->shown.last().informativeText;
        QVERIFY2(failure.contains(QString(shown).remove(QChar(0x2068)).remove(QChar(0x2069))),
                 qPrintable(failure));
        QCOMPARE(test::unevenShownText(failure), QString());
    }

    void malformedImports_data() { malformedImportRows(); }

    // A malformed file ends in one critical alert with its message, and nothing is written.
    void malformedImports() {
        QFETCH(QString, file);
        QFETCH(QString, message);
        FlowFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("untouched"));
        const DiarySnapshotDTO before = test::waitFor(fixture.repository->snapshot());
        QString path = transferData(file);
        const QByteArray native = QFile::encodeName(fixture.folder.filePath(file));
        int locked = -1;
        const auto unlocking = qScopeGuard([&locked] { ::close(locked); });
        if (file.startsWith(u"swapped for ")) {
            // An export when it is picked, and a link to one of the store's files, which this
            // process holds a lock on, by the time it is opened.
            path = fixture.folder.filePath(file);
            const QString target = fixture.store + file.mid(file.lastIndexOf(u"store") + 5);
            for (const QString &made : {path, target})
                QVERIFY(QFile::copy(transferData(QStringLiteral("valid-v3.json")), made));
            locked = lockedFile(target);
            QVERIFY(locked >= 0 && QFile::link(target, path + QStringLiteral(".link")));
            fixture.beforeOpeningSource = [native] {
                ::rename((native + ".link").constData(), native.constData());
            };
        } else if (file == u"Velmora.lock") {
            // The diary's lock, held as the program holds it where only POSIX locks work.
            path = fixture.folder.filePath(file);
            QFile made(path);
            QVERIFY(made.open(QIODevice::WriteOnly) && made.write("4242\nvelmora\nhost\n") > 0);
            made.close();
            locked = lockedFile(path);
            QVERIFY(locked >= 0);
        } else if (QDir::isAbsolutePath(file)) {
            path = file;
        } else if (file == u"a folder") {
            path = fixture.folder.filePath(file);
            QVERIFY(QDir().mkdir(path));
        } else if (file.endsWith(u"a pipe")) {
            path = fixture.folder.filePath(file);
            const QByteArray pipe = file == u"a pipe" ? native : native + ".pipe";
            QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
            if (pipe != native)
                QCOMPARE(::symlink(pipe.constData(), native.constData()), 0);
        } else if (!QFileInfo::exists(path)) {
            path = fixture.folder.filePath(file);
            QFile made(path);
            QVERIFY(made.open(QIODevice::WriteOnly));
            const QByteArray valid = fileBytes(transferData(QStringLiteral("valid-v3.json")));
            if (path == fixture.store) {
                // It would import, were it read.
                made.write(valid);
            } else if (oddVersions.contains(file)) {
                made.write(
                    QJsonDocument(QJsonObject{{"version", oddVersions.value(file)}}).toJson());
            } else if (file == QLatin1String("huge-version.json")) {
                made.write("{\"version\":[" + QByteArray("0,").repeated(2'999'999) + "0]}");
            } else if (file == QLatin1String("oversized-entry.json")) {
                made.write(
                    QByteArray(valid).replace("Words / more words", QByteArray(8388609, 'w')));
            } else if (file.startsWith(QLatin1String("nested-"))) {
                const QString depth =
                    QString(file).remove(QRegularExpression(QStringLiteral("\\D")));
                made.write(withNestedMember(valid, depth.toLongLong()));
            } else {
                // Sparse, and refused before it is read.
                QVERIFY(made.resize(DiaryTransferCodec::inputByteLimit + 1));
            }
        }
        fixture.importFile(path);
        QCOMPARE(fixture.alerts->shown, QList<DiaryAlert>{outcome("Import Failed", message)});
        QCOMPARE(test::unevenShownText(fixture.alerts->shown.value(0).informativeText), QString());
        QCOMPARE(fixture.completions, 1);
        QVERIFY(test::waitFor(fixture.repository->snapshot()) == before);
        QCOMPARE(fixture.repository->callCount(Operation::replaceAll), 0);
        QVERIFY(!QFileInfo::exists(fixture.quarantine));
        QCOMPARE(fixture.settings->selectedFont(), QStringLiteral("Georgia"));
        QVERIFY(locked < 0 || stillLocked(locked));
        if (file == u"Velmora.lock") {
            // Nor does an export over it open it.
            test::waitFor(runExportFlow(path, fixture.context(), fixture.completion()));
            QCOMPARE(fixture.alerts->shown.last().informativeText,
                     QStringLiteral("A file already exists at the export location."));
            QVERIFY(stillLocked(locked));
        }
    }

    void cancellingWritesNothing_data() {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QList<DiaryAlert>>("shown");
        // A quit begins while the last question is up: its answer counts as Cancel.
        QTest::addColumn<bool>("quit");
        QTest::newRow("cancel") << QList<int>{1} << QList<DiaryAlert>{question(2, 0, 0)} << false;
        QTest::newRow("closed") << QList<int>{-1} << QList<DiaryAlert>{question(2, 0, 0)} << false;
        QTest::newRow("replace, then cancel")
            << QList<int>{2, 1} << QList<DiaryAlert>{question(2, 0, 0), confirmation} << false;
        QTest::newRow("merge, during a quit")
            << QList<int>{0} << QList<DiaryAlert>{question(2, 0, 0)} << true;
        QTest::newRow("replace, confirmed during a quit")
            << QList<int>{2, 0} << QList<DiaryAlert>{question(2, 0, 0), confirmation} << true;
    }

    void cancellingWritesNothing() {
        QFETCH(QList<int>, answers);
        QFETCH(QList<DiaryAlert>, shown);
        QFETCH(bool, quit);
        FlowFixture fixture;
        fixture.alerts->answers = answers;
        if (quit)
            fixture.alerts->beforeAnswer = [&](const DiaryAlert &alert) {
                fixture.operations.setQuitting(alert == shown.last());
            };
        fixture.importFile(transferData(QStringLiteral("valid-v3.json")));
        QCOMPARE(fixture.alerts->shown, shown);
        QCOMPARE(fixture.completions, 1);
        QCOMPARE(fixture.repository->callCount(Operation::replaceAll), 0);
        QVERIFY(!QFileInfo::exists(fixture.quarantine));
    }

    // 3 new, 2 identical, 1 conflicting entry: the question shows the counts in that order and
    // the merge reports its own. No file thread is left at either alert, and a quit asked while
    // the diary is replaced waits until the import's file thread is gone.
    void mergeAsksAndReports() {
        FlowFixture fixture;
        QList<DiaryEntryDTO> entries;
        for (const char *day : {"2024-03-01", "2024-03-02", "2024-03-03"})
            entries.append(fixture.seed(SessionFixture::day(day), QStringLiteral("stored")));
        DiaryTransferDocument document =
            DiaryTransferCodec::decode(fileBytes(transferData(QStringLiteral("valid-v3.json"))));
        const DiaryEntryDTO template_ = document.entries.first();
        document.entries = {entries[0], entries[1], entries[2]};
        document.entries[2].content = QStringLiteral("imported");
        for (const char *day : {"2024-04-01", "2024-04-02", "2024-04-03"}) {
            DiaryEntryDTO added = template_;
            added.id = QUuid::createUuid();
            added.dayKey = SessionFixture::day(day);
            document.entries.append(added);
        }
        const QString file = fixture.folder.filePath(QStringLiteral("six.json"));
        DiaryTransferCodec::write(document, file);
        // No file thread of the import is left while an alert waits, which may be past a quit.
        bool threadsGone = true;
        fixture.alerts->beforeAnswer = [&](const DiaryAlert &) {
            threadsGone = threadsGone && transferThreadsGone();
        };
        detail::WaitState<void> quit;
        std::optional<QCoro::Task<void>> settling;
        bool settledAtOnce = true;
        fixture.repository->beforeNext(Operation::replaceAll, [&] {
            settling = detail::capture<void>(fixture.operations.settleWork({}), &quit);
            settledAtOnce = quit.done;
        });
        fixture.importFile(file);
        QVERIFY(threadsGone);
        QVERIFY(settling && !settledAtOnce);
        QVERIFY(waitUntil([&] { return quit.done; }));
        QCOMPARE(fixture.alerts->shown,
                 (QList<DiaryAlert>{
                     question(3, 2, 1),
                     outcome("Import Complete", QStringLiteral("Imported 3 new entries. Preserved "
                                                               "1 conflicts for recovery."))}));
        QCOMPARE(test::waitFor(fixture.repository->snapshot()).entries.size(), 6);
        QCOMPARE(fixture.repository->recoveryRecords().size(), 1);
        QCOMPARE(importBackups(fixture.quarantine).size(), 1);
        QCOMPARE(fixture.completions, 1);
    }

    // After a confirmed replace the open page shows the imported entry: the writing that was
    // pending went into the diary before the safety backup, and no old draft saves over the
    // new entry.
    void replaceReloadsTheOpenDay() {
        FlowFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("stored"));
        fixture.open(SessionFixture::today);
        fixture.session->updateDraft(QStringLiteral("typed before the import"));

        DiaryTransferDocument document =
            DiaryTransferCodec::decode(fileBytes(transferData(QStringLiteral("valid-v3.json"))));
        document.entries.first().dayKey = SessionFixture::today;
        document.entries.first().content = QStringLiteral("imported");
        const QString file = fixture.folder.filePath(QStringLiteral("replace.json"));
        DiaryTransferCodec::write(document, file);
        fixture.alerts->answers = {2, 0};
        fixture.importFile(file);
        QCOMPARE(fixture.alerts->shown,
                 (QList<DiaryAlert>{
                     question(1, 0, 1), confirmation,
                     outcome("Import Complete", QStringLiteral("Imported 1 new entries. Preserved "
                                                               "1 conflicts for recovery."))}));
        QCOMPARE(fixture.session->currentText(), QStringLiteral("imported"));
        QVERIFY(!fixture.session->hasPendingLocalWriting());
        QTest::qWait(250);
        QCOMPARE(fixture.repository->stored(SessionFixture::today)->content,
                 QStringLiteral("imported"));
        const QStringList safety = importBackups(fixture.quarantine);
        QCOMPARE(safety.size(), 1);
        const auto kept = DiarySnapshotService::readPackage(fixture.quarantine + QLatin1Char('/') +
                                                            safety.first());
        QCOMPARE(kept.diary.entries.first().content, QStringLiteral("typed before the import"));
        QCOMPARE(fixture.settings->appAppearance(), QStringLiteral("dark"));
    }
};

VELMORA_TEST_MAIN(TransferFlowsTest)
#include "tst_transferflows.moc"
