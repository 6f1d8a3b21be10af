#include "support/NestedJson.h"
#include "support/TestSupport.h"
#include "sync/DiaryCloudSyncManifest.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace velmora;
using Manifest = DiaryCloudSyncManifest;

namespace {

const QString root = QStringLiteral("/home/ada/Sync/Diary Sync");

Manifest withMarks() {
    Manifest manifest = Manifest::fresh(root);
    manifest.pages.insert(QStringLiteral("2024-03-05"),
                          {7, QStringLiteral("812-730000000123"), {}});
    manifest.ink.insert(QStringLiteral("2024-03-05-0.drawing"),
                        {0, QStringLiteral("written"), QStringLiteral("90-12")});
    return manifest;
}

} // namespace

class SyncManifestTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void loads_data() {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QString>("currentRoot");
        QTest::addColumn<bool>("kept");
        const QByteArray saved = QJsonDocument(withMarks().toJson()).toJson();
        QTest::newRow("saved for this root") << saved << root << true;
        QTest::newRow("same root, spelled with dots") << saved << root + "/../Diary Sync/." << true;
        QTest::newRow("no file") << QByteArray() << root << false;
        QTest::newRow("empty file") << QByteArray("") << root << false;
        QTest::newRow("another shape") << QByteArray(R"({"entries":[]})") << root << false;
        QTest::newRow("an array") << QByteArray("[]") << root << false;
        QTest::newRow("torn") << saved.left(saved.size() / 2) << root << false;
        QTest::newRow("a mark of another shape")
            << QByteArray(
                   R"({"root":"/home/ada/Sync/Diary Sync","pages":{"2024-03-05":{"local":"7"}},"ink":{}})")
            << root << false;
        QTest::newRow("another root") << saved << "/media/ada/Sync/Diary Sync" << false;
        QTest::newRow("a root one character longer") << saved << root + "s" << false;
        for (const test::NestingDepth &nesting : test::nestingDepths) {
            QTest::newRow(nesting.name)
                << test::withNestedMember(saved, nesting.depth) << root << nesting.readable;
        }
    }
    void loads() {
        QFETCH(QByteArray, file);
        QFETCH(QString, currentRoot);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Sync/manifest.json"));
        if (!file.isNull()) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Sync")));
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file);
        }
        const Manifest loaded = Manifest::load(path, currentRoot);
        QCOMPARE(loaded, kept ? withMarks() : Manifest::fresh(Manifest::rootPath(currentRoot)));
    }

    // A drawing's mark has "localInk", a page's never does, and an absent one stays absent.
    void writesMarksAsTheirFieldsAre() {
        const QJsonObject json = withMarks().toJson();
        QCOMPARE(json.keys(), (QStringList{"ink", "pages", "root"}));
        const QJsonObject page = json["pages"].toObject()["2024-03-05"].toObject();
        QCOMPARE(page.keys(), (QStringList{"local", "remote"}));
        QCOMPARE(page["local"].toInteger(), 7);
        QCOMPARE(json["ink"].toObject()["2024-03-05-0.drawing"].toObject()["localInk"].toString(),
                 "90-12");
        QCOMPARE(Manifest::fromJson(json), withMarks());
    }

    void savesIntoAFolderItMakes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Sync/manifest.json"));
        withMarks().save(path);
        QCOMPARE(Manifest::load(path, root), withMarks());
        QCOMPARE(QFileInfo(path).permissions() & 0x0077, 0);
    }

    void aFailedSaveIsOnlyLogged() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("Sync")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("the sync manifest could not be saved"));
        withMarks().save(dir.filePath(QStringLiteral("Sync/manifest.json")));
    }
};

VELMORA_TEST_MAIN(SyncManifestTest)
#include "tst_syncmanifest.moc"
