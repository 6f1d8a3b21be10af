#include "platform/DiaryError.h"
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

    // A value a message quotes shows what would break its line, end it or turn the words around
    // it as escapes, keeps at most sixty units at each end, and reads right to left only inside
    // an isolate of its own.
    void shownExcerptStaysOneLine_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const QString &value, const QString &shown) {
            QTest::newRow(name) << value << shown;
        };
        const auto isolated = [](const QString &shown) { return u'\u2068' + shown + u'\u2069'; };
        const QString a59(59, u'a'), a60(60, u'a'), c59(59, u'c'), c60(60, u'c');
        row("plain", "Velmora_2024-03-15.json", "Velmora_2024-03-15.json");
        row("empty", {}, {});
        row("line breaks and a tab", "a\nb\r\nc\td", "a\\nb\\r\\nc\\td");
        row("NUL", QString::fromUtf16(u"a\0b", 3), "a\\u0000b");
        row("escape, DEL and C1", "\x1b[2J\x7f\u0085\u009f", "\\u001B[2J\\u007F\\u0085\\u009F");
        row("line and paragraph separators", "a\u2028b\u2029c", "a\\u2028b\\u2029c");
        row("embeddings, overrides and isolates", "txt.\u202A\u202E\u2066exe\u2069",
            "txt.\\u202A\\u202E\\u2066exe\\u2069");
        row("override around Hebrew", "\u202E\u05e9\u05dc\u05dd\u202C",
            isolated("\u200E\\u202E\u05e9\u05dc\u05dd\u200E\\u202C"));
        row("Hebrew", "\u05d9\u05d5\u05de\u05df.json", isolated("\u05d9\u05d5\u05de\u05df.json"));
        row("Arabic", "\u064a\u0648\u0645 3", isolated("\u064a\u0648\u0645 3"));
        row("Arabic-Indic digits", "\u0661\u0662", isolated("\u0661\u0662"));
        row("right to left beyond the BMP", "\U0001E900", isolated("\U0001E900"));
        row("RLM", "ab\u200Fc", isolated("ab\u200Fc"));
        row("LRM and a backslash", "C:\\n\u200Ew", "C:\\n\u200Ew");
        row("whole at 121", QString(121, u'a'), QString(121, u'a'));
        row("cut at 122", a60 + "bb" + c60, a60 + u'…' + c60);
        row("marks at the cut", a59 + "\n\t" + QString(200, u'b') + "\r\x7f" + c59,
            a59 + "\\n…\\u007F" + c59);
        row("nothing but line breaks", QString(3000, u'\n'),
            QString("\\n").repeated(60) + u'…' + QString("\\n").repeated(60));
        row("a pair at the head's cut", a59 + "\U0001F600" + QString(10, u'b') + c60,
            a59 + u'…' + c60);
        row("a pair at the tail's cut", a60 + QString(10, u'b') + "\U0001F600" + c59,
            a60 + u'…' + c59);
    }

    void shownExcerptStaysOneLine() {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QCOMPARE(shownExcerpt(value), shown);
    }
};

VELMORA_TEST_MAIN(StorableTextTest)
#include "tst_storabletext.moc"
