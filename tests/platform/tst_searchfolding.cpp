#include "platform/SearchFolding.h"
#include "support/TestSupport.h"

using namespace velmora;

class SearchFoldingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void folds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::newRow("ascii") << "Hello, World 42"
                               << "hello, world 42";
        QTest::newRow("latin accents") << "Crème Brûlée à São Paulo"
                                       << "creme brulee a sao paulo";
        QTest::newRow("decomposed input") << QStringLiteral("Cafe") + QChar(0x301) << "cafe";
        QTest::newRow("beyond latin") << "Dvořák Ωμέγα ǅ"
                                      << "dvorak ωμεγα ǆ";
        QTest::newRow("sharp s") << "Straße STRASSE ẞ"
                                 << "strasse strasse ss";
        QTest::newRow("ligatures fold in full") << "ﬁnal ﬂight ﬀ ﬃ ﬆ"
                                                << "final flight ff ffi st";
        QTest::newRow("n preceded by apostrophe") << "ŉ"
                                                  << "ʼn";
        QTest::newRow("korean syllable")
            << "한" << QString::fromUtf8("한").normalized(QString::NormalizationForm_D);
        // A spacing vowel sign is part of the word; only the nasal sign above is dropped.
        QTest::newRow("devanagari spacing marks kept") << "किताबें"
                                                       << "किताब";
        // The variation selector goes, the enclosing keycap stays: a keycap is no bare digit.
        QTest::newRow("keycap") << "1️⃣" << QStringLiteral("1") + QChar(0x20E3);
        QTest::newRow("outside the basic plane") << "𝐀 😀"
                                                 << "𝐀 😀";
        QTest::newRow("unpaired surrogate passes")
            << QString(QChar(0xD800)) + "A" << QString(QChar(0xD800)) + "a";
    }

    void folds() {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QCOMPARE(foldedForSearch(text), folded);
    }

    void queriesFindWhatTheyShould_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("found");
        QTest::newRow("fi in a ligature") << "ﬁnal ﬂight"
                                          << "fi" << true;
        QTest::newRow("vowel sign is no wildcard") << "कताब"
                                                   << "कि" << false;
        QTest::newRow("digit is no keycap") << "page 1"
                                            << "1️⃣" << false;
    }

    void queriesFindWhatTheyShould() {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(bool, found);
        QCOMPARE(foldedForSearch(text).contains(foldedForSearch(query)), found);
    }
};

VELMORA_TEST_MAIN(SearchFoldingTest)
#include "tst_searchfolding.moc"
