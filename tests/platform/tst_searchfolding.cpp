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
        // Marks of different classes are put in order before they are dropped.
        QTest::newRow("marks reordered after a precomposed letter")
            << QStringLiteral("x") + QChar(0xE9) + QChar(0x0323) + QChar(0x0308) + "Y"
            << "xey";
        QTest::newRow("mark that blocks reordering") << QStringLiteral("A") + QChar(0x034F) + "B"
                                                     << "ab";
        QTest::newRow("greek with dialytika and tonos") << "ΐΰ Ά"
                                                        << "ιυ α";
        QTest::newRow("cyrillic") << "Ёлка Й"
                                  << "елка и";
        QTest::newRow("dotted capital i") << "İ"
                                          << "i";
        QTest::newRow("letters beyond cyrillic between latin") << "éאé"
                                                               << "eאe";
    }

    void folds() {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QCOMPARE(foldedForSearch(text), folded);
    }

    // Long text of every Latin, Greek and Cyrillic letter, alone, in runs and under marks, folds
    // as Qt's own decomposition, mark removal and case folding do; the letters whose full folding
    // differs from Qt's simple one are left out.
    void agreesWithAnIndependentFolding() {
        const QList<char16_t> fullFolding{0xDF, 0x130, 0x149, 0x1F0, 0x390, 0x3B0};
        const QString marks[] = {QString(), QString(QChar(0x301)),
                                 QString(QChar(0x323)) + QChar(0x302), QString(QChar(0x20DD))};
        QString text;
        int n = 0;
        for (char16_t c = 0x80; c < 0x530; ++c) {
            const QChar letter(c);
            if (!letter.isLetter() || fullFolding.contains(c))
                continue;
            text += letter + marks[n % 4];
            // Stretches of one to three letters between ASCII, which is sometimes upper case.
            if (++n % 3 == 0)
                text += n % 2 ? QStringLiteral(" Word ") : QStringLiteral("-");
        }
        QString expected;
        for (const QChar c : text.normalized(QString::NormalizationForm_D))
            if (c.category() != QChar::Mark_NonSpacing)
                expected += c;
        expected = expected.toCaseFolded();
        QCOMPARE(foldedForSearch(text), expected);
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
