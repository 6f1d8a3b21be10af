#include "TransferFixture.h"

#include "backup/StaleStaging.h"
#include "platform/Cancellation.h"
#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"
#include "platform/Sha256.h"

#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

using namespace velmora;
using namespace velmora::test;

namespace {

DiaryTransferDocument decodedFile(const QString &name) {
    return DiaryTransferCodec::decode(fileBytes(transferData(name)));
}

DiaryTransferDocument documentWith(QList<DiaryEntryDTO> entries) {
    DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
    document.entries = std::move(entries);
    return document;
}

// A valid export of about `megabytes` MiB: long entries with accents, quotes and line breaks,
// as a diary has them.
QByteArray largeExport(int megabytes) {
    DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
    const DiaryEntryDTO model = document.entries.first();
    const QString words =
        QStringLiteral("Café au lait by the window, “quoted” words\nand a new line / slash. ")
            .repeated(100);
    const int count = megabytes * 1024 * 1024 / int(words.toUtf8().size() + 250);
    document.entries.clear();
    for (int i = 0; i < count; ++i) {
        DiaryEntryDTO entry = model;
        entry.id = QUuid::createUuid();
        const QDate date = QDate(1990, 1, 1).addDays(i);
        entry.dayKey = DayKey::fromCivilDate(date.year(), date.month(), date.day());
        entry.content = words;
        document.entries.append(entry);
    }
    return DiaryTransferCodec::encode(document);
}

template <typename T> QCoro::Task<void> ended(QCoro::Task<T> task) {
    co_await std::move(task);
}

} // namespace

class TransferTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void currentFormatRoundTripsByteForByte() {
        const QByteArray file = fileBytes(transferData(QStringLiteral("valid-v3.json")));
        const DiaryTransferDocument document = DiaryTransferCodec::decode(file);
        QCOMPARE(document.entries.size(), 2);
        QCOMPARE(document.settings.selectedFont, QStringLiteral("Palatino"));
        QVERIFY(!document.handwriting);
        QCOMPARE(DiaryTransferCodec::encode(document), file);
        QVERIFY(decodedFile(QStringLiteral("version-3.0.json")) == document);
    }

    // Fractions of a second are dropped, "handwriting" appears only when given, slashes stay.
    void encodingKeepsWholeSeconds() {
        DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
        document.exportedAt = isoUtc("2024-03-10T09:30:00.999Z");
        document.entries[0].createdAt = isoUtc("2024-03-01T10:00:00.250Z");
        document.entries[0].updatedAt = isoUtc("2024-03-01T11:00:00.750Z");
        document.entries[0].sealedAt = isoUtc("2024-03-01T12:00:00.500Z");
        document.entries[0].status = DiaryEntryStatus::sealed;
        const QByteArray bytes = DiaryTransferCodec::encode(document);
        QVERIFY(bytes.contains("\"exportedAt\":\"2024-03-10T09:30:00Z\""));
        QVERIFY(bytes.contains("\"createdAt\":\"2024-03-01T10:00:00Z\""));
        QVERIFY(bytes.contains("\"sealedAt\":\"2024-03-01T12:00:00Z\""));
        QVERIFY(bytes.contains("Words / more words"));
        QVERIFY(!bytes.contains("handwriting"));
        const DiaryTransferDocument back = DiaryTransferCodec::decode(bytes);
        QCOMPARE(back.entries[0].updatedAt, isoUtc("2024-03-01T11:00:00Z"));

        document.handwriting = QList<DiaryTransferInk>{};
        QVERIFY(DiaryTransferCodec::encode(document).endsWith(
            "\"format\":\"velmora-export\",\"handwriting\":[],\"settings\":{\"appAppearance\":"
            "\"dark\",\"defaultFontSize\":18,\"selectedFont\":\"Palatino\",\"userName\":\"Ana\"},"
            "\"version\":3}"));
        document.handwriting = QList<DiaryTransferInk>{
            {*DayKey::fromRawValue(QStringLiteral("2024-03-01")), 2, QByteArray("ink")}};
        QVERIFY(DiaryTransferCodec::decode(DiaryTransferCodec::encode(document)).handwriting ==
                document.handwriting);
    }

    // A valid import is read within memory that grows with its size; where memory does run out,
    // the import says so rather than calling a good file malformed.
    void largeImportUnderAMemoryLimit_data() {
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<QByteArray>("outcome");
        QTest::newRow("1.1 GB") << qint64(1'100'000'000) << QByteArray("DECODED ");
        QTest::newRow("250 MB") << qint64(250'000'000)
                                << QByteArray(
                                       "FAILED There is not enough memory to read the file.");
    }

    void largeImportUnderAMemoryLimit() {
        QFETCH(qint64, budget);
        QFETCH(QByteArray, outcome);
        static QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("large.json"));
        if (!QFileInfo::exists(file)) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(largeExport(64));
        }
        QVERIFY(QFileInfo(file).size() >= 64 * 1024 * 1024);
        QProcess child;
        // Under AddressSanitizer an allocation that fails ends the process unless told otherwise.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString options = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           (options.isEmpty() ? QString() : options + QLatin1Char(':')) +
                               QStringLiteral("allocator_may_return_null=1"));
        child.setProcessEnvironment(environment);
        child.start(QStringLiteral(VELMORA_IMPORT_MEMORY_CHILD), {file, QString::number(budget)});
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAllStandardOutput();
        QVERIFY2(output.startsWith(outcome), output.constData());
    }

    void limits() {
        // The content limit counts UTF-8 bytes.
        DiaryEntryDTO entry = decodedFile(QStringLiteral("valid-v3.json")).entries.first();
        entry.content = QString(8388608, QLatin1Char('a'));
        DiaryTransferCodec::validate(documentWith({entry}));
        entry.content = QString(2796203, QChar(0x20AC));
        QCOMPARE(failureMessage([&] { DiaryTransferCodec::validate(documentWith({entry})); }),
                 QStringLiteral("Entry 1 exceeds the 8 MiB text limit."));

        // 100,000 entries pass, one more fails before anything else is looked at.
        entry.content = QStringLiteral("x");
        QList<DiaryEntryDTO> many(100000, entry);
        QDate day(1800, 1, 1);
        for (DiaryEntryDTO &each : many) {
            each.id = QUuid::createUuid();
            each.dayKey = DayKey::fromCivilDate(day.year(), day.month(), day.day());
            day = day.addDays(1);
        }
        DiaryTransferCodec::validate(documentWith(many));
        many.append(entry);
        QCOMPARE(failureMessage([&] { DiaryTransferCodec::validate(documentWith(many)); }),
                 QStringLiteral("The import contains more than 100,000 entries."));

        // The size limit comes before parsing: 256 MiB of spaces would parse as nothing.
        QByteArray huge(DiaryTransferCodec::inputByteLimit + 1, ' ');
        QCOMPARE(failureMessage([&] { DiaryTransferCodec::decode(huge); }),
                 QStringLiteral("The import file is larger than 256 MiB."));
        huge.chop(1);
        QCOMPARE(failureMessage([&] { DiaryTransferCodec::decode(huge); }), malformed + badFormat);

        // An export that no import would read fails as an export before anything is written:
        // six entries of control characters, each written as six bytes, pass 256 MiB.
        entry.content = QString(8'000'000, QChar(1));
        QList<DiaryEntryDTO> large(6, entry);
        for (qsizetype i = 0; i < large.size(); ++i) {
            large[i].id = QUuid::createUuid();
            large[i].dayKey = DayKey::fromCivilDate(2000, 1, int(i) + 1);
        }
        QTemporaryDir dir;
        bool written = false;
        QCOMPARE(failureMessage([&] {
                     DiaryTransferCodec::write(
                         documentWith(large), dir.filePath(QStringLiteral("large.json")),
                         [&](DiaryTransferWriteStep, const QString &) { written = true; });
                 }),
                 QStringLiteral("The export would be larger than 256 MiB, more than an import "
                                "can read, so nothing was exported."));
        QVERIFY(!written);
        QCOMPARE(entriesOf(dir.path()), QStringList());
    }

    // A file that nests deeper than the limit is malformed, however deep.
    void nestedDocuments_data() {
        QTest::addColumn<qsizetype>("depth");
        QTest::addColumn<QString>("message"); // empty: decoded
        for (const NestingDepth &nesting : nestingDepths)
            QTest::newRow(nesting.name)
                << nesting.depth << (nesting.readable ? QString() : malformed + badFormat);
    }

    void nestedDocuments() {
        QFETCH(qsizetype, depth);
        QFETCH(QString, message);
        const QByteArray bytes =
            withNestedMember(fileBytes(transferData(QStringLiteral("valid-v3.json"))), depth);
        QCOMPARE(failureMessage([&] { DiaryTransferCodec::decode(bytes); }), message);
    }

    // Legacy files become version 3: the day in UTC, a new diary id, default settings for
    // version 1 and the present ones for version 2.
    void legacyFilesConvert() {
        const DiaryTransferDocument v1 = decodedFile(QStringLiteral("legacy-v1.json"));
        QCOMPARE(v1.version, 3);
        QCOMPARE(v1.exportedAt, isoUtc("2024-01-05T08:00:00Z"));
        QCOMPARE(v1.settings, (DiaryTransferSettings{QString(), QStringLiteral("Georgia"), 16.0,
                                                     QStringLiteral("System")}));
        QCOMPARE(v1.entries.size(), 2);
        const DiaryEntryDTO late = v1.entries.at(0);
        QCOMPARE(late.id, uuid("11111111-2222-4333-8444-555555555555"));
        QCOMPARE(late.dayKey.rawValue(), QStringLiteral("2024-01-02"));
        QCOMPARE(late.status, DiaryEntryStatus::draft);
        QCOMPARE(late.bodyPointSize, 16.0);
        QCOMPARE(late.originTimeZone, QStringLiteral("Etc/UTC"));
        QCOMPARE(late.createdAt, isoUtc("2024-01-02T04:30:00Z"));
        QCOMPARE(late.updatedAt, late.createdAt);
        QVERIFY(!late.sealedAt);
        QCOMPARE(late.revision.rawValue, 1);
        const DiaryEntryDTO sealed = v1.entries.at(1);
        QCOMPARE(sealed.status, DiaryEntryStatus::sealed);
        QCOMPARE(sealed.sealedAt, std::optional(isoUtc("2023-12-31T13:00:00Z")));
        QCOMPARE(sealed.fontName, QStringLiteral("Georgia"));

        const DiaryTransferDocument v2 = decodedFile(QStringLiteral("legacy-v2.json"));
        QCOMPARE(v2.settings,
                 (DiaryTransferSettings{QStringLiteral("Ana"), QStringLiteral("Georgia"), 18.0,
                                        QStringLiteral("System")}));
        QCOMPARE(decodedFile(QStringLiteral("legacy-v2-no-settings.json")).settings, v1.settings);
        QVERIFY(decodedFile(QStringLiteral("legacy-v1.json")).diaryID != v1.diaryID);
    }

    // What a backup or export killed over an hour ago left goes before the next one writes into
    // the same folder: an export's temporary files, a backup's staging folder with the files in
    // it, this user's only. Nothing else goes, and no link is followed, not even one swapped in
    // once the sweep has chosen what to remove.
    void staleStagingIsRemoved_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QString>("swapped");   // for a link to the user's folder, mid-sweep
        QTest::addColumn<QString>("givenAway"); // to another user, before the sweep
        QTest::addColumn<QStringList>("left");
        const QStringList others{QStringLiteral(".velmora-export-3.json"),
                                 QStringLiteral(".velmora-export-4.txt"),
                                 QStringLiteral(".velmora-export-5.json"),
                                 QStringLiteral(".velmora-exports"),
                                 QStringLiteral("notes.json"),
                                 QStringLiteral(".velmora-snapshot-2"),
                                 QStringLiteral(".velmora-snapshot-3")};
        const QStringList exports{QStringLiteral(".velmora-export-1.json"),
                                  QStringLiteral("..velmora-export-2.json.aB3dE9")};
        const QString staging = QStringLiteral(".velmora-snapshot-1");
        QTest::newRow("an export") << false << QString() << QString()
                                   << others + QStringList{staging, QStringLiteral("Export.json")};
        QTest::newRow("a backup") << true << QString() << QString() << others + exports;
        QTest::newRow("a staging folder swapped for a link")
            << true << staging << QString() << others + exports + QStringList{staging};
        QStringList emptied = others + exports;
        emptied.removeOne(QStringLiteral(".velmora-snapshot-2"));
        QTest::newRow("a staging folder's folder swapped for a link")
            << true << QStringLiteral(".velmora-snapshot-2/page") << QString() << emptied;
        QTest::newRow("another user's staging folder")
            << true << QString() << staging << others + exports + QStringList{staging};
        QTest::newRow("another user's export")
            << false << QString() << exports.first()
            << others + QStringList{staging, exports.first(), QStringLiteral("Export.json")};
    }

    void staleStagingIsRemoved() {
        QFETCH(bool, backup);
        QFETCH(QString, swapped);
        QFETCH(QString, givenAway);
        QFETCH(QStringList, left);
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString mine = elsewhere.filePath(QStringLiteral("mine"));
        const QString link = elsewhere.filePath(QStringLiteral("link"));
        for (const QString &name :
             {QStringLiteral(".velmora-export-1.json"),
              QStringLiteral("..velmora-export-2.json.aB3dE9"),
              QStringLiteral(".velmora-export-3.json"), QStringLiteral(".velmora-export-4.txt"),
              QStringLiteral(".velmora-exports"), QStringLiteral("notes.json"),
              QStringLiteral(".velmora-export-5.json/letter.txt"),
              QStringLiteral(".velmora-snapshot-1/records.ndjson"),
              QStringLiteral(".velmora-snapshot-2/page/letter.txt"),
              QStringLiteral(".velmora-snapshot-3/records.ndjson")}) {
            QVERIFY(QDir(dir.path()).mkpath(QFileInfo(name).path()));
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QStringList young{QStringLiteral(".velmora-export-3.json"),
                                QStringLiteral(".velmora-snapshot-3")};
        for (const QString &name : entriesOf(dir.path()))
            age(dir.filePath(name), young.contains(name) ? 30 * 60 : 3 * 3600);
        QVERIFY(QDir().mkpath(mine));
        QFile letter(mine + QStringLiteral("/letter.txt"));
        QVERIFY(letter.open(QIODevice::WriteOnly) && letter.write("Dear diary") == 10);
        letter.close();
        QVERIFY(QFile::link(mine, link));
        if (!givenAway.isEmpty() &&
            ::lchown(QFile::encodeName(dir.filePath(givenAway)).constData(), 65534, 65534) != 0)
            QSKIP("Only a privileged user can give a folder away to another user.");

        if (backup) {
            removeStaleStaging(
                StagingKind::folder, dir.path(), QStringLiteral(".velmora-snapshot-"), {},
                [&](const QString &path) {
                    if (swapped.isEmpty() || !dir.filePath(swapped).startsWith(path))
                        return;
                    QCOMPARE(
                        ::renameat2(AT_FDCWD, QFile::encodeName(dir.filePath(swapped)).constData(),
                                    AT_FDCWD, QFile::encodeName(link).constData(), RENAME_EXCHANGE),
                        0);
                });
        } else {
            DiaryTransferCodec::write(decodedFile(QStringLiteral("valid-v3.json")),
                                      dir.filePath(QStringLiteral("Export.json")));
        }
        left.sort();
        QCOMPARE(entriesOf(dir.path()), left);
        QCOMPARE(fileBytes(mine + QStringLiteral("/letter.txt")), QByteArray("Dear diary"));
    }

    void writeNeverReplacesAndLeavesNoTemporary() {
        QTemporaryDir dir;
        const DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
        const QString target = dir.filePath(QStringLiteral("Velmora_2024-03-10.json"));
        DiaryTransferCodec::write(document, target);
        QCOMPARE(fileBytes(target), DiaryTransferCodec::encode(document));
        QCOMPARE(failureMessage([&] { DiaryTransferCodec::write(document, target); }),
                 QStringLiteral("A file already exists at the export location."));
        DiaryTransferDocument invalid = document;
        invalid.settings.defaultFontSize = 40;
        QCOMPARE(failureMessage([&] {
                     DiaryTransferCodec::write(invalid, dir.filePath(QStringLiteral("b.json")));
                 }),
                 malformed + QStringLiteral("invalid default font size"));
        QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("Velmora_2024-03-10.json")});
    }

    // A link to the store put in the temporary file's place is neither read back nor moved into
    // place: the store keeps this process's locks, and the export fails as an export.
    void swappedTemporaryNeverReachesTheStore_data() {
        QTest::addColumn<DiaryTransferWriteStep>("step");
        QTest::addColumn<bool>("hard");
        QTest::newRow("a symbolic link before the read-back")
            << DiaryTransferWriteStep::written << false;
        QTest::newRow("a hard link before the read-back")
            << DiaryTransferWriteStep::written << true;
        QTest::newRow("a hard link before the move") << DiaryTransferWriteStep::readBack << true;
    }

    void swappedTemporaryNeverReachesTheStore() {
        QFETCH(DiaryTransferWriteStep, step);
        QFETCH(bool, hard);
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("store.sqlite"));
        const QByteArray stored("SQLite format 3\0", 16);
        QFile made(store);
        QVERIFY(made.open(QIODevice::WriteOnly) && made.write(stored) == stored.size());
        made.close();
        const int locked = lockedFile(store);
        QVERIFY(locked >= 0);
        const auto unlocking = qScopeGuard([locked] { ::close(locked); });
        const auto swap = [&](DiaryTransferWriteStep reached, const QString &temporary) {
            const QByteArray link = QFile::encodeName(temporary);
            const QByteArray target = QFile::encodeName(store);
            if (reached == step)
                QVERIFY(::unlink(link.constData()) == 0 &&
                        (hard ? ::link(target.constData(), link.constData())
                              : ::symlink(target.constData(), link.constData())) == 0);
        };
        QCOMPARE(failureMessage([&] {
                     DiaryTransferCodec::write(decodedFile(QStringLiteral("valid-v3.json")),
                                               dir.filePath(QStringLiteral("c.json")), swap);
                 }),
                 DiaryTransferError::exportReplaced().message());
        QVERIFY(stillLocked(locked));
        QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("store.sqlite")});
        QCOMPARE(fileBytes(store), stored);
    }

    // A stop asked before or while an export is written ends it before its file is moved into
    // place, the temporary file removed: nothing is left in the folder.
    void aStoppedWriteLeavesNothing_data() {
        QTest::addColumn<int>("askedAt");
        QTest::newRow("asked before it starts") << -1;
        QTest::newRow("asked once the temporary file is written")
            << int(DiaryTransferWriteStep::written);
        QTest::newRow("asked once it is read back") << int(DiaryTransferWriteStep::readBack);
    }

    void aStoppedWriteLeavesNothing() {
        QFETCH(int, askedAt);
        QTemporaryDir dir;
        std::stop_source stop;
        if (askedAt < 0)
            stop.request_stop();
        const auto ask = [&](DiaryTransferWriteStep reached, const QString &) {
            if (int(reached) == askedAt)
                stop.request_stop();
        };
        QVERIFY_THROWS_EXCEPTION(
            CancellationError, DiaryTransferCodec::write(
                                   decodedFile(QStringLiteral("valid-v3.json")),
                                   dir.filePath(QStringLiteral("d.json")), ask, stop.get_token()));
        QCOMPARE(entriesOf(dir.path()), QStringList());
    }

    // A long read-back or validation hears a stop at its next entry, as the write's encoding does:
    // a stop asked before the text is read ends it while it is parsed, before any of its fields is
    // looked at.
    void aStopIsHeardBetweenEntries_data() {
        QTest::addColumn<bool>("decoding");
        QTest::addColumn<QByteArray>("diaryID");
        const QByteArray valid = "5A1D2E3F-4B5C-4D6E-8F70-8192A3B4C5D6";
        QTest::newRow("decoding") << true << valid;
        QTest::newRow("decoding, a malformed diary id") << true << QByteArray("not an id");
        QTest::newRow("validating") << false << valid;
    }

    void aStopIsHeardBetweenEntries() {
        QFETCH(bool, decoding);
        QFETCH(QByteArray, diaryID);
        std::stop_source stop;
        stop.request_stop();
        const QByteArray file = fileBytes(transferData(QStringLiteral("valid-v3.json")))
                                    .replace("5A1D2E3F-4B5C-4D6E-8F70-8192A3B4C5D6", diaryID);
        if (decoding)
            QVERIFY_THROWS_EXCEPTION(CancellationError,
                                     DiaryTransferCodec::decode(file, stop.get_token()));
        else
            QVERIFY_THROWS_EXCEPTION(
                CancellationError,
                DiaryTransferCodec::validate(DiaryTransferCodec::decode(file), stop.get_token()));
    }

    // A service destroyed while its work waits lets its file thread finish and end first; the
    // work then ends cancelled without touching the service, the settings or the diary (put back
    // where it was already replaced), and the open page it held takes writing again.
    void workOutlivingTheServiceLeavesItAlone_data() {
        QTest::addColumn<QString>("work");
        // When the service goes: at once, or as the import takes the diary, writes its safety
        // backup or replaces the diary.
        QTest::addColumn<QString>("at");
        QTest::addColumn<bool>("pageOpen");
        const auto row = [](const char *name, const char *work, const char *at, bool pageOpen) {
            QTest::newRow(name) << QString::fromLatin1(work) << QString::fromLatin1(at) << pageOpen;
        };
        row("export, reading the diary", "export", "at once", false);
        row("preview, reading the diary", "preview", "at once", false);
        row("merge, storing the open page first", "merge", "at once", true);
        row("merge, normalising its document", "merge", "at once", false);
        row("replace, normalising its document", "replace", "at once", false);
        row("merge, taking the diary", "merge", "snapshot", false);
        row("merge, writing its safety backup", "merge", "safety", false);
        row("replace, replacing the diary", "replace", "replace", true);
    }

    void workOutlivingTheServiceLeavesItAlone() {
        QFETCH(QString, work);
        QFETCH(QString, at);
        QFETCH(bool, pageOpen);
        SessionFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("kept"));
        if (pageOpen) {
            fixture.open(SessionFixture::today);
            fixture.session->updateDraft(QStringLiteral("typed"));
        }
        const QString file = fixture.folder.filePath(QStringLiteral("export.json"));
        const QString backups = fixture.folder.filePath(QStringLiteral("Q"));
        const DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
        auto service = std::make_unique<DiaryTransferService>(
            fixture.repository, fixture.settings, fixture.clock,
            DiaryOpenDayReloader(pageOpen ? fixture.session.get() : nullptr));
        const auto letGo = [&] { service.reset(); };
        if (at == u"snapshot")
            fixture.repository->beforeNext(Operation::snapshot, letGo);
        if (at == u"replace")
            fixture.repository->beforeNext(Operation::replaceAll, letGo);
        // Let go on the next turn, before the safety backup's end is heard.
        service->setStepObserver([&](DiaryImportStep step) {
            if (at == u"safety" && step == DiaryImportStep::snapshotTaken)
                QMetaObject::invokeMethod(QCoreApplication::instance(), letGo,
                                          Qt::QueuedConnection);
        });
        std::optional<QCoro::Task<void>> working;
        if (work == u"export")
            working = ended(service->exportDiary(file));
        else if (work == u"preview")
            working = ended(service->preview(document));
        else
            working = ended(service->importDocument(document, work == u"replace", backups));
        if (at == u"at once")
            letGo();
        QVERIFY(test::thrownBy<CancellationError>([&] { test::waitFor(std::move(*working)); }));
        QVERIFY(!service);
        QVERIFY(transferThreadsGone());
        QCOMPARE(fixture.repository->callCount(Operation::replaceAll), at == u"replace" ? 2 : 0);
        QCOMPARE(fixture.repository->storedEntries().size(), 1);
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(QFileInfo::exists(backups), at == u"safety" || at == u"replace");
        QCOMPARE(fixture.settings->userName(), QString());
        if (!pageOpen)
            return;
        fixture.session->updateDraft(QStringLiteral("typed after"));
        QVERIFY(fixture.settled());
        QCOMPARE(fixture.repository->stored(SessionFixture::today)->content,
                 QStringLiteral("typed after"));
    }

    // The export keeps whole seconds; importing it into the same diary finds every entry
    // identical and adds nothing.
    void reimportingAnExportIsIdentical() {
        SessionFixture fixture;
        DiaryEntryDTO stored = fixture.seed(SessionFixture::today, QStringLiteral("a/b"));
        stored.updatedAt = stored.updatedAt.addMSecs(437);
        fixture.repository->put(stored);
        fixture.seed(SessionFixture::yesterday, QStringLiteral("sealed"), DiaryEntryStatus::sealed);
        DiaryTransferService service(fixture.repository, fixture.settings, fixture.clock);
        const QString file = fixture.folder.filePath(QStringLiteral("export.json"));
        test::waitFor(service.exportDiary(file));
        const QByteArray bytes = fileBytes(file);
        QVERIFY(!bytes.contains("recover"));
        QVERIFY(!bytes.contains("handwriting"));
        QVERIFY(bytes.contains("\"appAppearance\":\"System\""));

        const DiaryTransferDocument document = DiaryTransferCodec::decode(bytes);
        QCOMPARE(test::waitFor(service.preview(document)), (DiaryImportPreview{0, 2, 0}));
        const DiarySnapshotDTO before = test::waitFor(fixture.repository->snapshot());
        const QString backups = fixture.folder.filePath(QStringLiteral("Quarantine"));
        QCOMPARE(test::waitFor(service.importDocument(document, false, backups)),
                 (DiaryImportPreview{0, 2, 0}));
        const DiarySnapshotDTO after = test::waitFor(fixture.repository->snapshot());
        QCOMPARE(after.entries, before.entries);
        QVERIFY(after.recoveryRecords.isEmpty());
        QCOMPARE(importBackups(backups).size(), 1);
    }

    // A merge leaves stored entries as they are, keeps each conflicting imported entry as a
    // recovery record with its exact payload, adds the new ones and applies the settings.
    void mergeKeepsLosingSidesAside() {
        SessionFixture fixture;
        const DiaryEntryDTO sealed = fixture.seed(
            SessionFixture::day("2024-03-01"), QStringLiteral("sealed"), DiaryEntryStatus::sealed);
        const DiarySnapshotDTO before = test::waitFor(fixture.repository->snapshot());
        DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
        // The first imported entry takes the sealed day under another id; the second is new.
        document.entries[0].content = QStringLiteral("a/b");
        document.entries[0].updatedAt = document.entries[0].createdAt;
        fixture.clock->set(isoUtc("2024-03-20T08:00:00.123Z"));
        DiaryTransferService service(fixture.repository, fixture.settings, fixture.clock);
        service.setOfferedFonts({QStringLiteral("Palatino")});
        QCOMPARE(test::waitFor(service.preview(document)), (DiaryImportPreview{1, 0, 1}));
        const QString backups = fixture.folder.filePath(QStringLiteral("Recovery/Quarantine"));
        QCOMPARE(test::waitFor(service.importDocument(document, false, backups)),
                 (DiaryImportPreview{1, 0, 1}));

        const DiarySnapshotDTO after = test::waitFor(fixture.repository->snapshot());
        QCOMPARE(after.entries.size(), 2);
        QCOMPARE(after.entries.first(), sealed);
        QCOMPARE(after.entries.last().id, document.entries[1].id);
        QCOMPARE(after.metadata.snapshotSequence, before.metadata.snapshotSequence + 1);
        QCOMPARE(after.metadata.diaryID, before.metadata.diaryID);
        QCOMPARE(after.recoveryRecords.size(), 1);
        const DiaryRecoveryDTO kept = after.recoveryRecords.first();
        const QByteArray payload =
            "{\"bodyPointSize\":16,\"content\":\"a\\/b\",\"createdAt\":730980000,"
            "\"dayKey\":\"2024-03-01\",\"fontName\":\"Georgia\","
            "\"id\":\"11111111-2222-4333-8444-555555555555\",\"originTimeZone\":\"Europe\\/Paris\","
            "\"revision\":1,\"status\":\"draft\",\"updatedAt\":730980000}";
        QCOMPARE(kept.preservedPayload, payload);
        QCOMPARE(kept.contentSHA256, sha256Hex(payload));
        QCOMPARE(kept.originalID, std::optional(document.entries[0].id));
        QCOMPARE(kept.proposedDayKey, std::optional(document.entries[0].dayKey));
        QCOMPARE(kept.reason, DiaryRecoveryReason::importConflict);
        QCOMPARE(kept.sourceKind, DiaryRecoverySourceKind::importRecord);
        QCOMPARE(kept.createdAt, fixture.clock->now());

        QCOMPARE(fixture.settings->userName(), QStringLiteral("Ana"));
        QCOMPARE(fixture.settings->userNameChangedAt(), std::optional(fixture.clock->now()));
        QCOMPARE(fixture.settings->selectedFont(), QStringLiteral("Palatino"));
        QCOMPARE(fixture.settings->defaultFontSize(), 18.0);
        QCOMPARE(fixture.settings->appAppearance(), QStringLiteral("dark"));
        const QStringList safety = importBackups(backups);
        QCOMPARE(safety.size(), 1);
        QVERIFY(
            DiarySnapshotService::readPackage(backups + QLatin1Char('/') + safety.first()).diary ==
            before);
    }

    void replaceWithAnEmptyDocument() {
        SessionFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("replaced"));
        const DiarySnapshotDTO before = test::waitFor(fixture.repository->snapshot());
        DiaryTransferService service(fixture.repository, fixture.settings, fixture.clock);
        const DiaryTransferDocument document = documentWith({});
        const QString backups = fixture.folder.filePath(QStringLiteral("Q"));
        QCOMPARE(test::waitFor(service.importDocument(document, true, backups)),
                 (DiaryImportPreview{0, 0, 0}));
        const DiarySnapshotDTO after = test::waitFor(fixture.repository->snapshot());
        QVERIFY(after.entries.isEmpty());
        QVERIFY(after.recoveryRecords.isEmpty());
        QCOMPARE(after.metadata,
                 (DiaryMetadataDTO{document.diaryID, 2, QStringLiteral("import-v3"),
                                   fixture.clock->now(), before.metadata.snapshotSequence + 1}));
        QCOMPARE(importBackups(backups).size(), 1);
    }

    // An export file can carry settings of any length and value; the settings take what the
    // settings window could have set, and keep what they held otherwise.
    void importedSettingsAreBounded_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("imported");
        QTest::addColumn<QString>("stored"); // the key's stored value afterwards
        const QString million(1'000'000, QLatin1Char('x'));
        const auto row = [](const char *name, const char *key, const QString &imported,
                            const QString &stored) {
            QTest::newRow(name) << QString::fromLatin1(key) << imported << stored;
        };
        row("a name of a million letters", "userName", million, million.left(100));
        row("an offered font within spaces", "selectedFont", QStringLiteral(" Palatino\n"),
            QStringLiteral("Palatino"));
        row("no font", "selectedFont", QString(), QString());
        row("a font of a million letters", "selectedFont", million, QStringLiteral("Cochin"));
        row("System, as exports write it", "appAppearance", QStringLiteral("System"),
            QStringLiteral("system"));
        row("an appearance not offered", "appAppearance", QStringLiteral("sepia"),
            QStringLiteral("light"));
    }

    void importedSettingsAreBounded() {
        QFETCH(QString, key);
        QFETCH(QString, imported);
        QFETCH(QString, stored);
        SessionFixture fixture;
        fixture.settings->setSelectedFont(QStringLiteral("Cochin"));
        fixture.settings->setAppAppearance(QStringLiteral("light"));
        DiaryTransferDocument document = documentWith({});
        DiaryTransferSettings &settings = document.settings;
        (key == u"userName"       ? settings.userName
         : key == u"selectedFont" ? settings.selectedFont
                                  : settings.appAppearance) = imported;
        DiaryTransferService service(fixture.repository, fixture.settings, fixture.clock);
        service.setOfferedFonts({QStringLiteral("Cochin"), QStringLiteral("Palatino")});
        test::waitFor(
            service.importDocument(document, false, fixture.folder.filePath(QStringLiteral("Q"))));
        QCOMPARE(fixture.settings->defaults()->stringValue(key).value_or(QString()), stored);
    }

    // A replacement the store refuses puts the old diary back and changes no setting.
    void failedReplaceRestoresTheOldDiary() {
        SessionFixture fixture;
        fixture.seed(SessionFixture::today, QStringLiteral("kept"));
        const DiarySnapshotDTO before = test::waitFor(fixture.repository->snapshot());
        fixture.repository->failNext(Operation::replaceAll,
                                     PersistenceError::writeFailed(QStringLiteral("disk full")));
        DiaryTransferService service(fixture.repository, fixture.settings, fixture.clock);
        const QString backups = fixture.folder.filePath(QStringLiteral("Q"));
        QCOMPARE(failureMessage([&] {
                     test::waitFor(service.importDocument(
                         decodedFile(QStringLiteral("valid-v3.json")), true, backups));
                 }),
                 QStringLiteral("The diary could not be saved: disk full"));
        QVERIFY(test::waitFor(fixture.repository->snapshot()) == before);
        QCOMPARE(fixture.repository->callCount(Operation::replaceAll), 2);
        QCOMPARE(fixture.settings->userName(), QString());
        QCOMPARE(importBackups(backups).size(), 1);
    }

    // From the moment an import takes the diary until the open day is read again, the page is
    // held: what is typed on it is refused, what another writer stores meanwhile waits and
    // lands in the new diary (a merge never drops it), and the page shows the day as the store
    // now holds it, the next words saved on top.
    void importHoldsTheOpenDay_data() {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("blankDay");
        for (const bool replace : {false, true}) {
            for (const char *step : {"snapshotTaken", "safetyBackupWritten", "replaced"})
                QTest::addRow("%s, %s", replace ? "replace" : "merge", step)
                    << replace << QString::fromLatin1(step) << false;
        }
        QTest::newRow("merge into a blank day") << false << "safetyBackupWritten" << true;
    }

    void importHoldsTheOpenDay() {
        QFETCH(bool, replace);
        QFETCH(QString, step);
        QFETCH(bool, blankDay);
        SessionFixture fixture;
        if (!blankDay)
            fixture.seed(SessionFixture::today, QStringLiteral("stored"));
        fixture.open(SessionFixture::today);
        if (!blankDay)
            fixture.session->updateDraft(QStringLiteral("typed just now"));
        DiaryTransferDocument document = decodedFile(QStringLiteral("valid-v3.json"));
        document.entries = {document.entries.first()};
        document.entries.first().dayKey = SessionFixture::today;
        document.entries.first().content = QStringLiteral("imported");

        std::optional<QCoro::Task<void>> otherWriter;
        std::optional<PersistenceError> refusal;
        DiaryTransferService service(fixture.repository, fixture.settings, fixture.clock,
                                     DiaryOpenDayReloader(fixture.session.get()));
        service.setStepObserver([&](DiaryImportStep reached) {
            static const char *const names[] = {"snapshotTaken", "safetyBackupWritten", "replaced"};
            if (step != QLatin1String(names[int(reached)]))
                return;
            try {
                fixture.session->updateDraft(QStringLiteral("typed during the import"));
            } catch (const PersistenceError &error) {
                refusal = error;
            }
            otherWriter = fixture.repository->preserveRecovery(
                fixture.storedEntry(SessionFixture::yesterday, QStringLiteral("kept meanwhile")));
        });
        const QString backups = fixture.folder.filePath(QStringLiteral("Q"));
        test::waitFor(service.importDocument(document, replace, backups));
        QVERIFY(refusal);
        QCOMPARE(refusal->errorCase(), PersistenceError::Case::writeFailed);
        QVERIFY(otherWriter);
        test::waitFor(std::move(*otherWriter));

        const QString shown =
            replace || blankDay ? QStringLiteral("imported") : QStringLiteral("typed just now");
        QCOMPARE(fixture.repository->stored(SessionFixture::today)->content, shown);
        QCOMPARE(fixture.session->currentText(), shown);
        QCOMPARE(fixture.session->currentEntry(),
                 fixture.repository->stored(SessionFixture::today));
        QVERIFY(!fixture.session->hasPendingLocalWriting());
        // The merge keeps an imported entry with its dates as the export file wrote them.
        QStringList recovered;
        for (const DiaryRecoveryDTO &record : fixture.repository->recoveryRecords())
            recovered.append(
                parseJson(record.preservedPayload).toObject().value(u"content").toString());
        recovered.sort();
        const QStringList keptAside =
            replace || blankDay
                ? QStringList{QStringLiteral("kept meanwhile")}
                : QStringList{QStringLiteral("imported"), QStringLiteral("kept meanwhile")};
        QCOMPARE(recovered, keptAside);
        if (!blankDay) {
            const auto safety = DiarySnapshotService::readPackage(backups + QLatin1Char('/') +
                                                                  importBackups(backups).first());
            QCOMPARE(safety.diary.entries.first().content, QStringLiteral("typed just now"));
        }

        fixture.session->updateDraft(shown + QStringLiteral(" and more"));
        QVERIFY(fixture.settled());
        QCOMPARE(fixture.repository->stored(SessionFixture::today)->content,
                 shown + QStringLiteral(" and more"));
    }
};

VELMORA_TEST_MAIN(TransferTest)
#include "tst_transfer.moc"
