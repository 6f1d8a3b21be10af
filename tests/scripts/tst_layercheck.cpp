#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace velmora;

// Small source trees with their own src/CMakeLists.txt, checked by scripts/check-layers.
using Files = QMap<QString, QString>;

class LayerCheckTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trees_data() {
        QTest::addColumn<QString>("cmake");
        QTest::addColumn<Files>("files");
        // Empty when the tree passes; else a text the failure must name.
        QTest::addColumn<QString>("failure");

        const QString lowAndHigh = QStringLiteral("velmora_library(low PUBLIC Qt6::Core)\n"
                                                  "# a comment naming velmora_library(ghost)\n"
                                                  "velmora_library(high PUBLIC velmora_low)\n");
        QTest::newRow("a header includes what it links PUBLIC")
            << lowAndHigh
            << Files{{"low/L.h", ""}, {"high/H.h", "#include \"low/L.h\"\n#include <vector>\n"}}
            << QString();
        QTest::newRow("an upward include")
            << lowAndHigh
            << Files{{"low/L.h", ""},
                     {"low/L.cpp", "#include \"L.h\"\n\n#include \"high/H.h\"\n"},
                     {"high/H.h", "#include \"low/L.h\"\n"}}
            << QStringLiteral("src/low/L.cpp:3: \"high/H.h\" is in high, which low may not use");
        QTest::newRow("a link nothing includes")
            << lowAndHigh << Files{{"low/L.h", ""}, {"high/H.h", ""}}
            << QStringLiteral("high links low, which none of its files includes");
        QTest::newRow("a PUBLIC link only sources use")
            << lowAndHigh << Files{{"low/L.h", ""}, {"high/H.cpp", "#include \"low/L.h\"\n"}}
            << QStringLiteral("high links low PUBLIC, but none of its headers includes it");
        QTest::newRow("a link to no library")
            << QStringLiteral("velmora_library(low PUBLIC velmora_nothing)\n")
            << Files{{"low/L.h", ""}} << QStringLiteral("low links velmora_nothing");
        QTest::newRow("a file in no library folder")
            << lowAndHigh
            << Files{{"low/L.h", ""}, {"high/H.h", "#include \"low/L.h\"\n"}, {"stray/S.h", ""}}
            << QStringLiteral("src/stray/S.h: lies in no library folder");

        const QString chain = QStringLiteral(
            "velmora_library(low PUBLIC Qt6::Core)\n"
            "velmora_library(low/nested NAME lownested PUBLIC velmora_low)\n"
            "velmora_library(mid\n  PUBLIC velmora_lownested\n  PRIVATE velmora_low)\n"
            "velmora_library(top PRIVATE velmora_mid)\n");
        const Files chainFiles{{"low/L.h", ""},
                               {"low/nested/N.h", "#include \"low/L.h\"\n"},
                               {"mid/M.h", "#include \"low/nested/N.h\"\n"},
                               {"mid/M.cpp", "#include \"M.h\"\n#include \"low/L.h\"\n"},
                               {"top/T.cpp", "#include \"mid/M.h\"\n"}};
        QTest::newRow("what a PUBLIC link exports, followed on")
            << chain << chainFiles << QString();
        Files topReachesExported = chainFiles;
        topReachesExported[QStringLiteral("top/T.cpp")] +=
            QStringLiteral("#include \"low/nested/N.h\"\n#include \"low/L.h\"\n");
        QTest::newRow("a library's PUBLIC links reach those who link it")
            << chain << topReachesExported << QString();
        Files headerShowsPrivate = chainFiles;
        headerShowsPrivate[QStringLiteral("mid/M.h")] += QStringLiteral("#include \"low/L.h\"\n");
        // low is also exported by lownested, so this is allowed; a private link no export covers
        // is not.
        QTest::newRow("a header includes a private link another exports")
            << chain << headerShowsPrivate << QString();
        const QString privateOnly = QStringLiteral("velmora_library(low PUBLIC Qt6::Core)\n"
                                                   "velmora_library(mid PRIVATE velmora_low)\n"
                                                   "velmora_library(top PUBLIC velmora_mid)\n");
        QTest::newRow("a header includes a PRIVATE link")
            << privateOnly << Files{{"low/L.h", ""}, {"mid/M.h", "#include \"low/L.h\"\n"}}
            << QStringLiteral("src/mid/M.h:1: \"low/L.h\" is in low, which mid links PRIVATE");
        QTest::newRow("a PRIVATE link stays with its library")
            << privateOnly
            << Files{{"low/L.h", ""},
                     {"mid/M.h", ""},
                     {"mid/M.cpp", "#include \"low/L.h\"\n"},
                     {"top/T.h", "#include \"mid/M.h\"\n"},
                     {"top/T.cpp", "#include \"low/L.h\"\n"}}
            << QStringLiteral("src/top/T.cpp:1: \"low/L.h\" is in low, which top may not use "
                              "(top links mid)");
    }

    void trees() {
        QFETCH(QString, cmake);
        QFETCH(Files, files);
        QFETCH(QString, failure);
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        Files all = files;
        all[QStringLiteral("CMakeLists.txt")] = cmake;
        for (auto it = all.cbegin(); it != all.cend(); ++it) {
            const QString path = tree.filePath(QStringLiteral("src/") + it.key());
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(it.value().toUtf8());
        }

        QProcess check;
        check.start(QStringLiteral("python3"),
                    {QStringLiteral(VELMORA_CHECK_LAYERS), QStringLiteral("--root"), tree.path()});
        QVERIFY(check.waitForFinished(30000));
        const QString output = QString::fromUtf8(check.readAllStandardOutput());
        QCOMPARE(check.readAllStandardError(), QByteArray());
        if (failure.isEmpty()) {
            QVERIFY2(check.exitCode() == 0, qPrintable(output));
            QVERIFY(output.startsWith(QStringLiteral("layer check passed")));
        } else {
            QCOMPARE(check.exitCode(), 1);
            QVERIFY2(output.contains(failure), qPrintable(output));
        }
    }
};

VELMORA_TEST_MAIN(LayerCheckTest)
#include "tst_layercheck.moc"
