#include "platform/FileSystemError.h"
#include "support/NestedJson.h"
#include "support/TestSupport.h"
#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

using namespace velmora;
using Folder = DiaryCloudSyncFolder;

namespace {
// Set while a test plays a file system that can neither exchange two names nor refuse to replace
// one, as a network or FAT drive may be.
bool renameFlagsRefused = false;
// Run once, right before or right after the next exchange of two names: the other side acting
// just then.
std::function<void()> beforeNextExchange;
std::function<void()> afterNextExchange;
} // namespace

// Stands in for the C library's for every caller in the process.
extern "C" int renameat2(int fromFolder, const char *from, int toFolder, const char *to,
                         unsigned int flags) {
    if (flags != 0 && renameFlagsRefused) {
        errno = EINVAL;
        return -1;
    }
    if (flags == RENAME_EXCHANGE && beforeNextExchange)
        std::exchange(beforeNextExchange, nullptr)();
    const int result = int(::syscall(SYS_renameat2, fromFolder, from, toFolder, to, flags));
    if (result == 0 && flags == RENAME_EXCHANGE && afterNextExchange)
        std::exchange(afterNextExchange, nullptr)();
    return result;
}

namespace {

const DayKey march5 = *DayKey::fromRawValue(QStringLiteral("2024-03-05"));

QString pageData(const QString &name) {
    return QStringLiteral(VELMORA_TEST_DATA "/sync/pages/") + name;
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

void setModified(const QString &path, qint64 msSince1970) {
    const timespec time{msSince1970 / 1000, long(msSince1970 % 1000) * 1000000};
    const timespec times[2] = {time, time};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW),
             0);
}

// Makes the items a listing row names: "name" a file, "name/" a folder, "name->target" a
// symbolic link.
void makeItems(const QString &folder, const QStringList &items) {
    for (const QString &item : items) {
        if (item.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir(folder).mkdir(item.chopped(1)));
        } else if (const qsizetype arrow = item.indexOf(QStringLiteral("->")); arrow > 0) {
            QVERIFY(QFile::link(item.mid(arrow + 2), folder + QLatin1Char('/') + item.left(arrow)));
        } else {
            writeBytes(folder + QLatin1Char('/') + item, "{}");
        }
    }
}

DiaryEntryDTO sampleEntry(const QString &content = QStringLiteral("A walk by the river.")) {
    DiaryEntryDTO entry;
    entry.id = QUuid::fromString(QStringLiteral("{0F6C2A4E-4C39-4B5E-9F1B-7A3C0B7D9E11}"));
    entry.dayKey = march5;
    entry.content = content;
    entry.fontName = QStringLiteral("Palatino");
    entry.bodyPointSize = 17;
    entry.originTimeZone = QStringLiteral("Europe/Berlin");
    entry.createdAt = QDateTime::fromMSecsSinceEpoch(1709632800123, QTimeZone::utc());
    entry.updatedAt = QDateTime::fromMSecsSinceEpoch(1709640000250, QTimeZone::utc());
    entry.revision = DiaryRevision{4};
    return entry;
}

// A sync root with its two folders.
struct SyncRoot {
    QTemporaryDir dir;
    Folder folder{dir.filePath(QStringLiteral("Diary Sync"))};

    SyncRoot() { folder.createFolders(DiaryCloudSyncManifest::fresh(folder.root())); }
    QString page(const QString &name) const {
        return folder.pagesFolder() + QLatin1Char('/') + name;
    }
};

} // namespace

class SyncFolderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(QDir(QStringLiteral(VELMORA_TEST_DATA "/sync/pages")).exists()); }

    // The table of page files: what the tablet may write, and what the diary makes of it.
    void decodesPageFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<double>("size");
        QTest::addColumn<QString>("font");
        QTest::addColumn<QString>("content");

        const QString text = QStringLiteral("Rain at noon.\nWalked home.");
        const auto ok = [&](const char *file, double size = 16, const char *font = "Palatino",
                            QString content = {}) {
            QTest::newRow(file) << readAll(pageData(QString::fromLatin1(file))) << true << size
                                << QString::fromLatin1(font) << (content.isNull() ? text : content);
        };
        const auto bad = [](const char *file) {
            QTest::newRow(file) << readAll(pageData(QString::fromLatin1(file))) << false << 0.0
                                << QString() << QString();
        };
        for (const test::NestingDepth &nesting : test::nestingDepths) {
            QTest::newRow(nesting.name)
                << test::withNestedMember(readAll(pageData(QStringLiteral("valid.json"))),
                                          nesting.depth)
                << nesting.readable << 16.0 << QStringLiteral("Palatino") << text;
        }
        ok("valid.json");
        ok("sealed.json");
        ok("extra-keys.json");
        ok("null-sealed-at.json");
        ok("slashes-escaped.json", 16, "Palatino", QStringLiteral("either/or"));
        ok("size-above.json", 24);
        ok("size-below.json", 12);
        ok("font-empty.json", 16, "Georgia");
        ok("font-blank.json", 16, "Georgia");
        ok("updated-before-created.json");
        bad("size-infinite.json");
        bad("version-2.json");
        bad("version-text.json");
        bad("version-fraction.json");
        bad("other-format.json");
        bad("other-day.json");
        bad("invalid-day.json");
        bad("entry-missing.json");
        bad("entry-array.json");
        bad("status-unknown.json");
        bad("id-malformed.json");
        bad("revision-negative.json");
        bad("date-as-text.json");
        bad("content-missing.json");
        bad("content-null.json");
        bad("torn.json");
        bad("empty.json");
        bad("top-level-array.json");
        bad("not-text.json");
    }
    void decodesPageFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readable);
        QFETCH(double, size);
        QFETCH(QString, font);
        QFETCH(QString, content);

        if (!readable) {
            const auto error =
                test::thrownBy<Folder::FolderError>([&] { Folder::decodePage(bytes, march5); });
            QVERIFY(error);
            QCOMPARE(error->message(),
                     QStringLiteral("A synced page (2024-03-05) could not be read."));
            return;
        }
        const DiaryEntryDTO entry = Folder::decodePage(bytes, march5);
        QCOMPARE(entry.dayKey, march5);
        QCOMPARE(entry.bodyPointSize, size);
        QCOMPARE(entry.fontName, font);
        QCOMPARE(entry.content, content);
        QVERIFY(entry.updatedAt >= entry.createdAt);
        // Whatever was read is a page the diary can write again.
        QCOMPARE(Folder::decodePage(Folder::encodePage(entry), march5), entry);
    }

    void encodesPagesWithSortedKeysAndSecondsSince1970() {
        DiaryEntryDTO entry = sampleEntry(QStringLiteral("either/or"));
        entry.status = DiaryEntryStatus::sealed;
        entry.sealedAt = entry.updatedAt;
        const QByteArray bytes = Folder::encodePage(entry);
        QVERIFY(bytes.startsWith("{\n  \"entry\" : {\n    \"bodyPointSize\" : 17,"));
        QVERIFY(bytes.endsWith("\"format\" : \"velmora-page\",\n  \"version\" : 1\n}"));
        QVERIFY(bytes.contains("\"createdAt\" : 1709632800.123,"));
        QVERIFY(bytes.contains("\"sealedAt\" : 1709640000.25,"));
        QVERIFY(bytes.contains("\"content\" : \"either\\/or\","));
        QCOMPARE(Folder::decodePage(bytes, march5), entry);
    }

    // Files the tablet controls are read only up to a bound: past it a page is unreadable, a
    // drawing is left alone and a profile reads as none.
    void boundsWhatItReads_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("padding");
        QTest::addColumn<bool>("read");
        QTest::newRow("page at the bound") << "page" << Folder::pageByteLimit << true;
        QTest::newRow("page past the bound") << "page" << Folder::pageByteLimit + 1 << false;
        QTest::newRow("content at 8 MiB") << "content" << Folder::pageContentByteLimit << true;
        QTest::newRow("content past 8 MiB")
            << "content" << Folder::pageContentByteLimit + 1 << false;
        QTest::newRow("drawing at the bound") << "drawing" << Folder::drawingByteLimit << true;
        QTest::newRow("drawing past the bound")
            << "drawing" << Folder::drawingByteLimit + 1 << false;
        QTest::newRow("profile at the bound") << "profile" << Folder::profileByteLimit << true;
        QTest::newRow("profile past the bound")
            << "profile" << Folder::profileByteLimit + 1 << false;
    }
    void boundsWhatItReads() {
        QFETCH(QString, kind);
        QFETCH(qint64, padding);
        QFETCH(bool, read);
        SyncRoot sync;
        if (kind == u"drawing") {
            // A sparse file: the size is what counts.
            const QString path = sync.folder.inkURL(QStringLiteral("2024-03-05-0.drawing"));
            writeBytes(path, {});
            QCOMPARE(::truncate(QFile::encodeName(path).constData(), padding), 0);
            const auto bytes = sync.folder.coordinatedRead(path, Folder::drawingByteLimit);
            QCOMPARE(bytes.has_value(), read);
            if (bytes)
                QCOMPARE(bytes->size(), padding);
            return;
        }
        if (kind == u"profile") {
            QByteArray bytes = Folder::encodeProfile(
                {QStringLiteral("Ada"), QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc())});
            bytes.append(QByteArray(padding - bytes.size(), ' '));
            writeBytes(sync.folder.profileURL(), bytes);
            QCOMPARE(sync.folder.readProfile().has_value(), read);
            return;
        }
        QByteArray bytes;
        if (kind == u"content") {
            bytes = Folder::encodePage(sampleEntry(QString(padding, QLatin1Char('a'))));
        } else {
            bytes = Folder::encodePage(sampleEntry());
            bytes.append(QByteArray(padding - bytes.size(), ' '));
        }
        writeBytes(sync.folder.pageURL(march5), bytes);
        const auto error =
            test::thrownBy<Folder::FolderError>([&] { sync.folder.readPage(march5); });
        QCOMPARE(!error, read);
    }

    void listsTheFilesOfOneKind_data() {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QStringList>("listed"); // "<file name> <fingerprint kind>"
        QTest::newRow("a page") << QStringList{"2024-03-05.json"}
                                << QStringList{"2024-03-05.json file"};
        QTest::newRow("a placeholder alone")
            << QStringList{".2024-03-05.json.icloud"} << QStringList{"2024-03-05.json pending"};
        QTest::newRow("a file beside its placeholder")
            << QStringList{".2024-03-05.json.icloud", "2024-03-05.json", ".2024-03-06.json.icloud"}
            << QStringList{"2024-03-05.json file", "2024-03-06.json pending"};
        QTest::newRow("hidden and foreign names") << QStringList{".DS_Store",
                                                                 "notes.txt",
                                                                 "2024-03-05.JSON",
                                                                 "..json",
                                                                 ".hidden.json",
                                                                 ".syncthing.2024-03-05.json.tmp",
                                                                 "..hidden.json.icloud",
                                                                 ".icloud",
                                                                 "a.json.icloud"}
                                                  << QStringList{};
        QTest::newRow("a folder named like a page")
            << QStringList{"2024-03-05.json/"} << QStringList{};
        QTest::newRow("symbolic links")
            << QStringList{"2024-03-05.json->/etc/hostname", "2024-03-06.json->2024-03-07.json",
                           "2024-03-07.json"}
            << QStringList{"2024-03-07.json file"};
    }
    void listsTheFilesOfOneKind() {
        QFETCH(QStringList, items);
        QFETCH(QStringList, listed);
        SyncRoot sync;
        makeItems(sync.folder.pagesFolder(), items);
        QStringList found;
        const auto files = sync.folder.list(sync.folder.pagesFolder(), QStringLiteral("json"));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QCOMPARE(it->url, sync.page(it.key()));
            const bool pending = it->fingerprint == Folder::pendingFingerprint;
            QCOMPARE(it->isDownloaded, !pending);
            if (pending)
                QCOMPARE(Folder::fingerprint(0, it->modifiedAt),
                         QStringLiteral("0--63114076800000"));
            else
                QCOMPARE(Folder::fingerprint(sync.page(it.key())), it->fingerprint);
            found.append(it.key() +
                         (pending ? QStringLiteral(" pending") : QStringLiteral(" file")));
        }
        QCOMPARE(found, listed);
    }

    void findsPagesAndTheirConflictCopies() {
        SyncRoot sync;
        makeItems(sync.folder.pagesFolder(),
                  {"2024-03-05.json", "2024-03-05.sync-conflict-20240305-101500-ABCDEFG.json",
                   "2024-03-05 (conflicted copy 2024-03-05 101500).json", "2024-03-06.json",
                   "2024-02-30.json", "notes.json", ".2024-03-05.sync-conflict-1.json.icloud"});
        setModified(sync.page("2024-03-05.sync-conflict-20240305-101500-ABCDEFG.json"), 2000);
        setModified(sync.page("2024-03-05 (conflicted copy 2024-03-05 101500).json"), 1000);
        QMap<DayKey, QList<Folder::ConflictCopy>> conflicts;
        const auto pages = sync.folder.remotePages(&conflicts);
        QCOMPARE(pages.keys(), (QList<DayKey>{march5, *DayKey::fromRawValue("2024-03-06")}));
        QCOMPARE(conflicts.keys(), QList<DayKey>{march5});
        QCOMPARE(conflicts[march5].size(), 2);
        // Oldest first.
        QCOMPARE(conflicts[march5][0].url,
                 sync.page("2024-03-05 (conflicted copy 2024-03-05 101500).json"));
        QCOMPARE(conflicts[march5][1].url,
                 sync.page("2024-03-05.sync-conflict-20240305-101500-ABCDEFG.json"));
    }

    void namesDrawings_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("listed");
        QTest::newRow("leaf 0") << "2024-03-05-0.drawing" << true;
        QTest::newRow("leaf 12") << "2024-03-05-12.drawing" << true;
        QTest::newRow("no leaf") << "2024-03-05-.drawing" << false;
        QTest::newRow("negative leaf") << "2024-03-05--1.drawing" << false;
        QTest::newRow("short day") << "2024-3-5-1.drawing" << false;
        QTest::newRow("invalid day") << "2024-02-30-1.drawing" << false;
        QTest::newRow("other extension") << "2024-03-05-1.png" << false;
        QTest::newRow("hidden") << ".2024-03-05-1.drawing" << false;
    }
    void namesDrawings() {
        QFETCH(QString, name);
        QFETCH(bool, listed);
        SyncRoot sync;
        writeBytes(sync.folder.inkURL(name), "{}");
        QCOMPARE(sync.folder.remoteInk().contains(name), listed);
    }

    // An unreadable or vanished folder is not an empty one: the listing fails, so a pass can
    // never take every file as deleted on the other side.
    void failsToListAFolderItCannotRead_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("damage");
        QTest::newRow("Pages gone") << "Pages"
                                    << "remove";
        QTest::newRow("Pages is a file") << "Pages"
                                         << "file";
        QTest::newRow("Handwriting gone") << "Handwriting"
                                          << "remove";
        QTest::newRow("Handwriting is a file") << "Handwriting"
                                               << "file";
    }
    void failsToListAFolderItCannotRead() {
        QFETCH(QString, folder);
        QFETCH(QString, damage);
        SyncRoot sync;
        const QString path = sync.folder.root() + QLatin1Char('/') + folder;
        QVERIFY(QDir(path).removeRecursively());
        if (damage == u"file")
            writeBytes(path, "not a folder");
        const auto error = test::thrownBy<FileSystemError>([&] {
            if (folder == u"Pages")
                sync.folder.remotePages();
            else
                sync.folder.remoteInk();
        });
        QVERIFY(error);
        QCOMPARE(error->path(), path);
    }

    // What the sync engine's table does not reach: a folder that links to itself, a delete and
    // the profile through a linked folder, and a link swapped in while a page is read. Nothing
    // beyond the link is brought back or changed.
    void neverWorksThroughALinkedFolder_data() {
        QTest::addColumn<QString>("linked"); // below the chosen folder; empty: none is refused
        QTest::addColumn<QString>("operation");
        QTest::newRow("Pages a loop: listing") << "Diary Sync/Pages"
                                               << "loop";
        QTest::newRow("Pages: deleting a page") << "Diary Sync/Pages"
                                                << "delete";
        QTest::newRow("Diary Sync: writing the profile") << "Diary Sync"
                                                         << "profile";
        QTest::newRow("Pages swapped for a link during a read") << ""
                                                                << "swap";
    }
    void neverWorksThroughALinkedFolder() {
        QFETCH(QString, linked);
        QFETCH(QString, operation);
        SyncRoot sync;
        const QString outside = sync.dir.filePath(QStringLiteral("Outside"));
        QVERIFY(QDir().mkpath(outside + QStringLiteral("/Pages")));
        writeBytes(outside + QStringLiteral("/Pages/2024-03-05.json"),
                   Folder::encodePage(sampleEntry(QStringLiteral("from outside"))));
        writeBytes(outside + QStringLiteral("/profile.json"), "{}");
        writeBytes(sync.folder.pageURL(march5),
                   Folder::encodePage(sampleEntry(QStringLiteral("inside"))));
        const QString path = sync.dir.filePath(linked);
        if (!linked.isEmpty()) {
            QVERIFY(QDir(path).removeRecursively());
            QVERIFY(QFile::link(
                operation == u"loop" ? path : outside + path.mid(sync.folder.root().size()), path));
        }
        Folder folder = sync.folder;
        folder.setReadInterruption([&](const QString &, int attempt) {
            if (attempt > 0)
                return;
            QVERIFY(QDir().rename(folder.pagesFolder(), folder.pagesFolder() + ".moved"));
            QVERIFY(QFile::link(outside + QStringLiteral("/Pages"), folder.pagesFolder()));
        });
        const QMap<QString, QByteArray> before = test::filesBelow(outside);

        QStringList brought;
        const auto error = test::thrownBy<Folder::AccessError>([&] {
            if (operation == u"loop")
                brought = QStringList{folder.remotePages().size(), QStringLiteral("listed")};
            else if (operation == u"delete")
                folder.coordinatedDelete(folder.pageURL(march5));
            else if (operation == u"profile")
                folder.writeProfile({QStringLiteral("Ada"), QDateTime::currentDateTimeUtc()});
            else
                for (const DiaryEntryDTO &entry : folder.readPage(march5).entries)
                    brought.append(entry.content);
        });
        QCOMPARE(test::filesBelow(outside), before);
        if (linked.isEmpty()) {
            QVERIFY(!error);
            QCOMPARE(brought, QStringList{QStringLiteral("inside")});
            return;
        }
        QVERIFY(error);
        QCOMPARE(error->errorCase(), Folder::AccessError::Case::linked);
        QCOMPARE(error->path(), path);
    }

    // "Diary Sync" and its folders are made only where nothing was exchanged through them yet.
    void createsFoldersOnlyWhereNothingWasExchanged_data() {
        QTest::addColumn<QString>("gone");  // "", "root", "Pages" or "Handwriting"
        QTest::addColumn<QString>("marks"); // "", "pages", "ink", "both", "elsewhere"
        QTest::addColumn<bool>("fails");
        QTest::newRow("first pass") << "root"
                                    << "" << false;
        QTest::newRow("root gone after pages") << "root"
                                               << "pages" << true;
        QTest::newRow("root gone after drawings") << "root"
                                                  << "ink" << true;
        QTest::newRow("root gone, marks of another root") << "root"
                                                          << "elsewhere" << false;
        QTest::newRow("Pages gone after pages") << "Pages"
                                                << "pages" << true;
        QTest::newRow("Pages gone after drawings only") << "Pages"
                                                        << "ink" << false;
        QTest::newRow("Handwriting gone after drawings") << "Handwriting"
                                                         << "ink" << true;
        QTest::newRow("Handwriting gone after pages only") << "Handwriting"
                                                           << "pages" << false;
        QTest::newRow("all there") << ""
                                   << "both" << false;
    }
    void createsFoldersOnlyWhereNothingWasExchanged() {
        QFETCH(QString, gone);
        QFETCH(QString, marks);
        QFETCH(bool, fails);
        SyncRoot sync;
        DiaryCloudSyncManifest manifest = DiaryCloudSyncManifest::fresh(
            marks == u"elsewhere" ? QStringLiteral("/elsewhere/Diary Sync") : sync.folder.root());
        if (marks != u"ink" && !marks.isEmpty())
            manifest.pages.insert(QStringLiteral("2024-03-05"), {1, QStringLiteral("2-3"), {}});
        if (marks == u"ink" || marks == u"both")
            manifest.ink.insert(QStringLiteral("2024-03-05-0.drawing"),
                                {0, QStringLiteral("2-3"), QStringLiteral("2-3")});
        const QString goneFolder =
            gone == u"root" ? sync.folder.root() : sync.folder.root() + QLatin1Char('/') + gone;
        if (!gone.isEmpty())
            QVERIFY(QDir(goneFolder).removeRecursively());

        const auto error =
            test::thrownBy<Folder::AccessError>([&] { sync.folder.createFolders(manifest); });
        QCOMPARE(bool(error), fails);
        if (fails) {
            QCOMPARE(error->message(), QStringLiteral("The sync folder is missing."));
            QVERIFY(!QFileInfo::exists(goneFolder));
        } else {
            QVERIFY(QFileInfo(sync.folder.pagesFolder()).isDir());
            QVERIFY(QFileInfo(sync.folder.handwritingFolder()).isDir());
        }
    }

    // Conflict copies outlive the read: they go only when the caller settles them, after the
    // day's outcome is stored. A file that is no page of the day is never among them.
    void readsConflictCopiesAndLeavesThemUntilSettled() {
        SyncRoot sync;
        DiaryEntryDTO current = sampleEntry(QStringLiteral("current"));
        sync.folder.writePage(current);
        const QString readable =
            sync.page(QStringLiteral("2024-03-05.sync-conflict-20240305-101500-ABCDEFG.json"));
        const QString rewritten =
            sync.page(QStringLiteral("2024-03-05.sync-conflict-20240305-101600-ABCDEFG.json"));
        const QString corrupt = sync.page(QStringLiteral("2024-03-05_1.json"));
        writeBytes(readable,
                   Folder::encodePage(sampleEntry(QStringLiteral("from the other side"))));
        writeBytes(rewritten, Folder::encodePage(sampleEntry(QStringLiteral("and another"))));
        writeBytes(corrupt, "{\"entry\":");
        setModified(readable, 1000);
        setModified(rewritten, 2000);
        setModified(corrupt, 3000);

        const Folder::PageVersions versions = sync.folder.readPage(march5);
        QCOMPARE(versions.entries.size(), 3);
        QCOMPARE(versions.entries[0].content, current.content);
        QCOMPARE(versions.entries[1].content, QStringLiteral("from the other side"));
        QCOMPARE(versions.entries[2].content, QStringLiteral("and another"));
        QCOMPARE(versions.conflicts.size(), 2);
        QVERIFY(QFileInfo::exists(readable));

        // A copy the tool rewrote after the read is news, and stays.
        writeBytes(rewritten, Folder::encodePage(sampleEntry(QStringLiteral("repaired"))));
        sync.folder.settleConflicts(versions);
        QVERIFY(!QFileInfo::exists(readable));
        QVERIFY(QFileInfo::exists(rewritten));
        QVERIFY(QFileInfo::exists(corrupt));
        QVERIFY(QFileInfo::exists(sync.folder.pageURL(march5)));
        QCOMPARE(sync.folder.readPage(march5).entries.size(), 2);
    }

    // A file replaced or rewritten while it is read is read again, three times at most.
    void readsAgainWhatChangedDuringTheRead_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("changes");
        QTest::addColumn<QByteArray>("read"); // empty: the folder is busy
        QTest::newRow("held still") << "replace" << 0 << QByteArray("version 0");
        QTest::newRow("replaced once") << "replace" << 1 << QByteArray("version 1");
        QTest::newRow("replaced twice") << "replace" << 2 << QByteArray("version 2");
        QTest::newRow("replaced three times") << "replace" << 3 << QByteArray();
        QTest::newRow("grown in place once") << "append" << 1 << QByteArray("version 0+");
        QTest::newRow("grown in place always") << "append" << 3 << QByteArray();
    }
    void readsAgainWhatChangedDuringTheRead() {
        QFETCH(QString, change);
        QFETCH(int, changes);
        QFETCH(QByteArray, read);
        SyncRoot sync;
        const QString path = sync.folder.pageURL(march5);
        writeBytes(path, "version 0");
        Folder folder = sync.folder;
        folder.setReadInterruption([&](const QString &url, int attempt) {
            QCOMPARE(url, path);
            if (attempt >= changes)
                return;
            if (change == u"replace") {
                writeFileAtomically(path, "version " + QByteArray::number(attempt + 1));
            } else {
                QFile file(path);
                QVERIFY(file.open(QIODevice::Append));
                file.write("+");
            }
        });
        if (read.isEmpty()) {
            const auto error = test::thrownBy<Folder::AccessError>(
                [&] { folder.coordinatedRead(path, Folder::pageByteLimit); });
            QVERIFY(error);
            QCOMPARE(error->message(), QStringLiteral("The sync folder is busy."));
        } else {
            QCOMPARE(folder.coordinatedRead(path, Folder::pageByteLimit), read);
        }
    }

    // What stands at a page's name without being a file is never opened (a pipe or socket would
    // hang or fail the reader), and never replaced either: the write says what is there.
    void neverOpensOrReplacesWhatIsNoFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Folder::FolderError::Case>("written");
        QTest::newRow("symbolic link") << "link" << Folder::FolderError::Case::linkedFile;
        QTest::newRow("pipe") << "pipe" << Folder::FolderError::Case::notAFile;
        QTest::newRow("folder") << "folder" << Folder::FolderError::Case::notAFile;
        QTest::newRow("socket") << "socket" << Folder::FolderError::Case::notAFile;
    }
    void neverOpensOrReplacesWhatIsNoFile() {
        QFETCH(QString, kind);
        QFETCH(Folder::FolderError::Case, written);
        SyncRoot sync;
        const QString path = sync.folder.pageURL(march5);
        const QByteArray native = QFile::encodeName(path);
        if (kind == u"link") {
            writeBytes(sync.page("elsewhere"), Folder::encodePage(sampleEntry()));
            QVERIFY(QFile::link(sync.page("elsewhere"), path));
        } else if (kind == u"pipe") {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkdir(path));
        } else {
            // The socket's name stays when it is closed, as when its program ended.
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(native.size()) < sizeof address.sun_path);
            std::copy(native.cbegin(), native.cend(), address.sun_path);
            const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool bound =
                ::bind(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
            ::close(socket);
            QVERIFY(bound);
        }
        struct stat before {};
        QCOMPARE(::lstat(native.constData(), &before), 0);
        QVERIFY(test::thrownBy<FileSystemError>([&] { sync.folder.readPage(march5); }));
        const auto refused = test::thrownBy<Folder::FolderError>(
            [&] { sync.folder.writePage(sampleEntry(), std::nullopt); });
        QVERIFY(refused);
        QCOMPARE(refused->errorCase(), written);
        struct stat after {};
        QCOMPARE(::lstat(native.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
    }

    // A write cut short by a kill leaves its hidden temporary file behind, and the sync tool
    // would carry it to every device. Only the program's own, old enough that no write of its own
    // can still be making it, are removed; whatever else looks like one stays.
    void removesItsOwnLeftoverTemporaries_data() {
        QTest::addColumn<QString>("item"); // below the root; "name->" a link, "name/" a folder
        QTest::addColumn<int>("minutesOld");
        QTest::addColumn<bool>("removed");
        QTest::newRow("a page's") << "Pages/.2024-03-05.json.Ab3dE9" << 60 << true;
        QTest::newRow("a drawing's") << "Handwriting/.2024-03-05-0.drawing.x1Y2z3" << 60 << true;
        QTest::newRow("the profile's") << ".profile.json.QWErty" << 60 << true;
        QTest::newRow("a page's, still young") << "Pages/.2024-03-05.json.Ab3dE9" << 1 << false;
        QTest::newRow("a link") << "Pages/.2024-03-05.json.Ab3dE9->" << 60 << false;
        QTest::newRow("a folder") << "Pages/.2024-03-05.json.Ab3dE9/" << 60 << false;
        QTest::newRow("five letters") << "Pages/.2024-03-05.json.Ab3dE" << 60 << false;
        QTest::newRow("seven letters") << "Pages/.2024-03-05.json.Ab3dE9x" << 60 << false;
        QTest::newRow("not a letter") << "Pages/.2024-03-05.json.Ab3-E9" << 60 << false;
        QTest::newRow("not hidden") << "Pages/2024-03-05.json.Ab3dE9" << 60 << false;
        QTest::newRow("of no page") << "Pages/.notes.json.Ab3dE9" << 60 << false;
        QTest::newRow("a page's in the root") << ".2024-03-05.json.Ab3dE9" << 60 << false;
        QTest::newRow("a sync tool's") << "Pages/.syncthing.2024-03-05.json.tmp" << 60 << false;
        QTest::newRow("the tablet's") << "Pages/.2024-03-05.json.tablet-1a2b3c4d" << 60 << false;
        QTest::newRow("a page's placeholder") << "Pages/.2024-03-05.json.icloud" << 60 << false;
        QTest::newRow("a drawing's placeholder")
            << "Handwriting/.2024-03-05-0.drawing.icloud" << 60 << false;
        QTest::newRow("the profile's placeholder") << ".profile.json.icloud" << 60 << false;
    }
    void removesItsOwnLeftoverTemporaries() {
        QFETCH(QString, item);
        QFETCH(int, minutesOld);
        QFETCH(bool, removed);
        SyncRoot sync;
        // Old, so that a link followed would lead to a file that looks like a leftover.
        const QString outside = sync.dir.filePath(QStringLiteral("outside"));
        writeBytes(outside, "not the sync's");
        setModified(outside, 1000);
        const bool link = item.endsWith(QStringLiteral("->"));
        makeItems(sync.folder.root(), {link ? item + outside : item});
        const QString path = sync.folder.root() + QLatin1Char('/') +
                             (link                  ? item.chopped(2)
                              : item.endsWith(u'/') ? item.chopped(1)
                                                    : item);
        setModified(path, QDateTime::currentMSecsSinceEpoch() - minutesOld * 60000LL);
        sync.folder.removeLeftoverTemporaries();
        QCOMPARE(!QFileInfo(path).exists() && !QFileInfo(path).isSymLink(), removed);
        QCOMPARE(readAll(outside), QByteArray("not the sync's"));
    }

    // Same size in the same millisecond would leave the fingerprint as it was, and the other
    // side would never notice the change.
    void everyWriteChangesTheFingerprint() {
        // In memory, where a write takes well under a clock tick, so that writes share one.
        const QString memory = QStringLiteral("/dev/shm");
        QTemporaryDir dir((QFileInfo(memory).isDir() ? memory : QDir::tempPath()) +
                          QStringLiteral("/velmora-sync-XXXXXX"));
        const Folder folder(dir.filePath(QStringLiteral("Diary Sync")));
        folder.createFolders(DiaryCloudSyncManifest::fresh(folder.root()));
        std::optional<QString> previous;
        for (int i = 0; i < 20; ++i) {
            const std::optional<QString> now =
                folder.writeDrawing(QByteArray(8, char('a' + i)), march5, 0, previous);
            QVERIFY(now);
            QVERIFY2(now != previous, qPrintable(*now));
            previous = now;
        }
        QCOMPARE(folder.list(folder.handwritingFolder(), QStringLiteral("drawing"))
                     .value(QStringLiteral("2024-03-05-0.drawing"))
                     .fingerprint,
                 *previous);
    }

    // A write over what a listing found lands whole and alone, and answers the fingerprint the
    // next listing finds, also where the file system cannot exchange two names.
    void writesOverWhatWasListed_data() {
        QTest::addColumn<bool>("pageBefore");
        QTest::addColumn<bool>("exchanges");
        QTest::newRow("over a page") << true << true;
        QTest::newRow("where no page stood") << false << true;
        QTest::newRow("over a page, no exchange") << true << false;
        QTest::newRow("where no page stood, no exchange") << false << false;
    }
    void writesOverWhatWasListed() {
        QFETCH(bool, pageBefore);
        QFETCH(bool, exchanges);
        SyncRoot sync;
        if (pageBefore)
            sync.folder.writePage(sampleEntry(QStringLiteral("Before")));
        const auto listed = sync.folder.remotePages().value(march5).fingerprint;
        renameFlagsRefused = !exchanges;
        const auto restore = qScopeGuard([] { renameFlagsRefused = false; });
        const std::optional<QString> written =
            sync.folder.writePage(sampleEntry(), pageBefore ? std::optional(listed) : std::nullopt);
        QVERIFY(written);
        QCOMPARE(sync.folder.remotePages().value(march5).fingerprint, *written);
        QCOMPARE(sync.folder.readPage(march5).entries, QList<DiaryEntryDTO>{sampleEntry()});
        QCOMPARE(QDir(sync.folder.pagesFolder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("2024-03-05.json")});
    }

    // The tablet renames its pages (or drawings) over the name while an upload replaces it: one
    // between the upload's last look and its move, which the upload then puts back (`beforeMove`),
    // and one right after each of the first `pages` exchanges, each a second younger than the one
    // before. After the exchange numbered `reuseAt` it renames a second page over the first, made
    // where the file system gives numbers out again on the number of the file that exchange put at
    // the name, once that file is freed: the upload's own after the first exchange, the page put
    // back after a later one. However far the put-back gets before the folder counts as busy, the
    // tablet's newest page stays at the name or in a conflict copy the next pass reads, the
    // tablet's newest drawing is at the name once the next pass has settled what was set aside
    // (also where one more comes right before that pass puts it back, `comesWhileSettled`), and
    // nothing the tablet wrote stays only under a hidden name, where the sweep of leftovers would
    // remove it.
    void theTabletsNewestFileOutlastsAnUploadsPutBack_data() {
        QTest::addColumn<bool>("drawing");
        QTest::addColumn<bool>("beforeMove");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("reuseAt"); // 0: none
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("comesWhileSettled");
        QTest::newRow("the upload's freed number") << false << true << 1 << 1 << false << false;
        QTest::newRow("the freed number of the page put back")
            << false << true << 2 << 2 << false << false;
        QTest::newRow("no put-back, the upload's freed number")
            << false << false << 1 << 1 << false << false;
        for (const bool drawing : {false, true}) {
            for (const int pages : {1, 2, 15, 16, 17, 30})
                QTest::addRow("a %s after each of %d exchanges", drawing ? "drawing" : "page",
                              pages)
                    << drawing << true << pages << 0 << (pages >= 16) << false;
        }
        QTest::newRow("a drawing after each of 16 exchanges, one more as it is settled")
            << true << true << 16 << 0 << true << true;
    }
    void theTabletsNewestFileOutlastsAnUploadsPutBack() {
        QFETCH(bool, drawing);
        QFETCH(bool, beforeMove);
        QFETCH(int, pages);
        QFETCH(int, reuseAt);
        QFETCH(bool, busy);
        QFETCH(bool, comesWhileSettled);
        SyncRoot sync;
        const QString name =
            drawing ? QStringLiteral("2024-03-05-0.drawing") : QStringLiteral("2024-03-05.json");
        const QString folder =
            drawing ? sync.folder.handwritingFolder() : sync.folder.pagesFolder();
        if (drawing)
            sync.folder.writeDrawing("Before", march5, 0, std::nullopt);
        else
            sync.folder.writePage(sampleEntry(QStringLiteral("Before")));
        const auto listed = drawing ? sync.folder.remoteInk().value(name).fingerprint
                                    : sync.folder.remotePages().value(march5).fingerprint;
        const QByteArray page = QFile::encodeName(folder + QLatin1Char('/') + name);
        QList<QByteArray> made;
        QString newest;
        // The tablet's next page, made beside the name (on `number` if it can be had) and renamed
        // over it.
        const auto tabletPage = [&](ino_t number = 0) {
            newest = QStringLiteral("Tablet page %1").arg(made.size());
            struct stat status {};
            do {
                made.append(page + ".tablet" + QByteArray::number(made.size()));
                writeBytes(QFile::decodeName(made.last()),
                           drawing ? newest.toUtf8() : Folder::encodePage(sampleEntry(newest)));
                setModified(QFile::decodeName(made.last()), 1709632800000 + made.size() * 1000);
                ::stat(made.last().constData(), &status);
            } while (number != 0 && status.st_ino != number && made.size() < 64);
            QCOMPARE(::rename(made.last().constData(), page.constData()), 0);
        };
        sync.folder.setWriteInterruption([&](const QString &, Folder::WriteStep step) {
            if (step == Folder::WriteStep::beforeMove && beforeMove)
                tabletPage();
        });
        int exchanges = 0;
        std::function<void()> afterExchange = [&] {
            struct stat put {};
            ::stat(page.constData(), &put);
            tabletPage();
            if (++exchanges == reuseAt)
                tabletPage(put.st_ino);
            if (exchanges < pages)
                afterNextExchange = afterExchange;
        };
        afterNextExchange = afterExchange;
        const auto cleanUp = qScopeGuard([&] {
            beforeNextExchange = nullptr;
            afterNextExchange = nullptr;
            for (const QByteArray &path : made)
                ::unlink(path.constData());
        });
        bool gaveUp = false;
        try {
            QCOMPARE(drawing ? sync.folder.writeDrawing("Computer drawing", march5, 0, listed)
                             : sync.folder.writePage(sampleEntry(), listed),
                     std::nullopt);
        } catch (const Folder::AccessError &error) {
            gaveUp = error.errorCase() == Folder::AccessError::Case::busy;
        }
        QCOMPARE(gaveUp, busy);
        QVERIFY(busy || exchanges == pages);
        const QStringList copies = QDir(folder).entryList({QStringLiteral("*.sync-conflict-*")});
        QCOMPARE(copies.size(), busy ? 1 : 0);
        for (const QString &copy : copies)
            QVERIFY2(
                QRegularExpression(QStringLiteral("^") +
                                   QRegularExpression::escape(name.section(u'.', 0, 0)) +
                                   QStringLiteral("\\.sync-conflict-\\d{8}-\\d{6}-[a-z]{7}\\.") +
                                   name.section(u'.', 1) + QStringLiteral("$"))
                    .match(copy)
                    .hasMatch(),
                qPrintable(copy));
        QStringList read;
        if (drawing) {
            if (comesWhileSettled)
                beforeNextExchange = [&] { tabletPage(); };
            sync.folder.takeBackSetAsideDrawings();
            read.append(QString::fromUtf8(
                sync.folder.coordinatedRead(folder + QLatin1Char('/') + name, 64).value_or("")));
        } else {
            for (const DiaryEntryDTO &entry : sync.folder.readPage(march5).entries)
                read.append(entry.content);
        }
        QVERIFY2(read.contains(newest),
                 qPrintable(newest + QStringLiteral(" is not in ") + read.join(QLatin1Char('|'))));
        if (drawing)
            QCOMPARE(QDir(folder).entryList({QStringLiteral("*.sync-conflict-*")}), QStringList());
        QCOMPARE(QDir(folder).entryList({QStringLiteral(".*")},
                                        QDir::Files | QDir::Hidden | QDir::System),
                 QStringList());
    }

    void writesPagesThatReadBack() {
        SyncRoot sync;
        const DiaryEntryDTO entry = sampleEntry();
        const QString fingerprint = sync.folder.writePage(entry);
        QCOMPARE(sync.folder.remotePages().value(march5).fingerprint, fingerprint);
        QCOMPARE(sync.folder.readPage(march5).entries, QList<DiaryEntryDTO>{entry});
        QCOMPARE(QFileInfo(sync.folder.pageURL(march5)).permissions() & 0x0077, 0);
        sync.folder.coordinatedDelete(sync.folder.pageURL(march5));
        sync.folder.coordinatedDelete(sync.folder.pageURL(march5));
        QVERIFY(sync.folder.remotePages().isEmpty());
    }

    void fingerprints_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("msSince1970");
        QTest::addColumn<QString>("fingerprint");
        QTest::newRow("1.5 s after 2001") << qint64(512) << qint64(978307201500) << "512-1500";
        QTest::newRow("before 2001") << qint64(6) << qint64(978307199000) << "6--1000";
        QTest::newRow("no size") << qint64(-1) << qint64(978307200000) << "-1-0";
        QTest::newRow("1970") << qint64(0) << qint64(0) << "0--978307200000";
    }
    void fingerprints() {
        QFETCH(qint64, size);
        QFETCH(qint64, msSince1970);
        QFETCH(QString, fingerprint);
        QCOMPARE(Folder::fingerprint(size,
                                     QDateTime::fromMSecsSinceEpoch(msSince1970, QTimeZone::utc())),
                 fingerprint);
    }

    void decodesProfiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name"); // null: none
        QTest::addColumn<qint64>("changedAtMs");
        QTest::newRow("seconds") << QByteArray(R"({"userName":"Ada","changedAt":1709632800.5})")
                                 << "Ada" << qint64(1709632800500);
        QTest::newRow("empty name")
            << QByteArray(R"({"changedAt":0,"userName":""})") << "" << qint64(0);
        QTest::newRow("no time") << QByteArray(R"({"userName":"Ada"})") << QString() << qint64(0);
        QTest::newRow("name not text")
            << QByteArray(R"({"userName":7,"changedAt":0})") << QString() << qint64(0);
        QTest::newRow("torn") << QByteArray("{\"userName\":\"Ada\",\"chan") << QString()
                              << qint64(0);
        QTest::newRow("a name of 5000 letters")
            << QByteArray("{\"changedAt\":0,\"userName\":\"") + QByteArray(5000, 'A') + "\"}"
            << QString(100, QLatin1Char('A')) << qint64(0);
        for (const test::NestingDepth &nesting : test::nestingDepths) {
            QTest::newRow(nesting.name)
                << test::withNestedMember(R"({"userName":"Ada","changedAt":0})", nesting.depth)
                << (nesting.readable ? QStringLiteral("Ada") : QString()) << qint64(0);
        }
    }
    void decodesProfiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(qint64, changedAtMs);
        const auto profile = Folder::decodeProfile(bytes);
        QCOMPARE(profile.has_value(), !name.isNull());
        if (!profile)
            return;
        QCOMPARE(profile->userName, name);
        QCOMPARE(profile->changedAt.toMSecsSinceEpoch(), changedAtMs);
        QCOMPARE(Folder::decodeProfile(Folder::encodeProfile(*profile)), profile);
    }

    void readsAndWritesTheProfile() {
        SyncRoot sync;
        QCOMPARE(sync.folder.readProfile(), std::nullopt);
        const Folder::Profile profile{
            QStringLiteral("Ada / Lovelace"),
            QDateTime::fromMSecsSinceEpoch(1709632800250, QTimeZone::utc())};
        const QString written = sync.folder.writeProfile(profile);
        QCOMPARE(Folder::fingerprint(sync.folder.profileURL()), written);
        QCOMPARE(sync.folder.readProfile(), profile);
        QCOMPARE(readAll(sync.folder.profileURL()),
                 QByteArray(R"({"changedAt":1709632800.25,"userName":"Ada \/ Lovelace"})"));
    }

    void asksForPlaceholdersToBeFetched() {
        QTemporaryDir dir;
        QStringList asked;
        const Folder folder(dir.path(), [&](const QString &url) {
            asked.append(url);
            throw std::runtime_error("no tool to ask");
        });
        folder.startDownloading(dir.filePath(QStringLiteral("Pages/2024-03-05.json")));
        QCOMPARE(asked, QStringList{dir.filePath(QStringLiteral("Pages/2024-03-05.json"))});
    }
};

VELMORA_TEST_MAIN(SyncFolderTest)
#include "tst_syncfolder.moc"
