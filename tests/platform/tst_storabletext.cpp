#include "platform/StorableText.h"
#include "support/TestSupport.h"

using namespace velmora;

namespace {

// Plain text with surrogate units put in at given places.
QString textWith(qsizetype length, const QList<std::pair<qsizetype, char16_t>> &units) {
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text += QChar(char16_t(u'a' + i % 26));
    for (const auto &[at, unit] : units)
        text[at] = QChar(unit);
    return text;
}

} // namespace

class StorableTextTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Unpaired surrogates become U+FFFD wherever they fall in a long text, pairs stay.
    void replacesOnlyUnpairedSurrogates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qsizetype>>("replaced");
        QTest::newRow("none") << textWith(100, {}) << QList<qsizetype>{};
        QTest::newRow("empty") << QString() << QList<qsizetype>{};
        QTest::newRow("a pair across a block of eight")
            << textWith(40, {{7, 0xD83D}, {8, 0xDE00}}) << QList<qsizetype>{};
        QTest::newRow("lone high first") << textWith(40, {{0, 0xD800}}) << QList<qsizetype>{0};
        QTest::newRow("lone high last") << textWith(40, {{39, 0xDBFF}}) << QList<qsizetype>{39};
        QTest::newRow("lone low after a block")
            << textWith(40, {{16, 0xDC00}}) << QList<qsizetype>{16};
        QTest::newRow("in the short tail") << textWith(19, {{18, 0xDFFF}}) << QList<qsizetype>{18};
        QTest::newRow("two highs, then a pair")
            << textWith(40, {{20, 0xD800}, {21, 0xD800}, {22, 0xDC00}}) << QList<qsizetype>{20};
        QTest::newRow("low before high")
            << textWith(40, {{30, 0xDC00}, {31, 0xD800}}) << QList<qsizetype>{30, 31};
        QTest::newRow("just outside the range")
            << textWith(40, {{3, 0xD7FF}, {4, 0xE000}}) << QList<qsizetype>{};
    }

    void replacesOnlyUnpairedSurrogates() {
        QFETCH(QString, text);
        QFETCH(QList<qsizetype>, replaced);
        QString expected = text;
        for (const qsizetype at : replaced)
            expected[at] = QChar::ReplacementCharacter;
        QCOMPARE(storableText(text), expected);
    }
};

VELMORA_TEST_MAIN(StorableTextTest)
#include "tst_storabletext.moc"
