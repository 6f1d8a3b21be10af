#include "platform/JsonCoding.h"
#include "platform/UuidText.h"
#include "support/NestedJson.h"
#include "support/TestSupport.h"

#include <QTimeZone>

using namespace velmora;
using Kind = JsonDecodingError::Kind;

Q_DECLARE_METATYPE(JsonDecodingError::Kind)
Q_DECLARE_METATYPE(velmora::JsonDateEncoding)

namespace {

QDateTime utc(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

} // namespace

class JsonCodingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void integers_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<Kind>("failure");
        QTest::newRow("largest") << QByteArray("9223372036854775807") << true
                                 << std::numeric_limits<qint64>::max() << Kind::dataCorrupted;
        QTest::newRow("smallest") << QByteArray("-9223372036854775808") << true
                                  << std::numeric_limits<qint64>::min() << Kind::dataCorrupted;
        QTest::newRow("just past 2^53") << QByteArray("9007199254740993") << true
                                        << qint64(9007199254740993) << Kind::dataCorrupted;
        QTest::newRow("too large")
            << QByteArray("9223372036854775808") << false << qint64(0) << Kind::dataCorrupted;
        QTest::newRow("fraction") << QByteArray("1.5") << false << qint64(0) << Kind::dataCorrupted;
        QTest::newRow("text") << QByteArray("\"3\"") << false << qint64(0) << Kind::typeMismatch;
        QTest::newRow("null") << QByteArray("null") << false << qint64(0) << Kind::valueNotFound;
        QTest::newRow("boolean") << QByteArray("true") << false << qint64(0) << Kind::typeMismatch;
    }

    void integers() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(qint64, value);
        QFETCH(Kind, failure);
        const QStringList path{QStringLiteral("revision")};
        if (decodes) {
            const QJsonValue parsed = parseJson(json);
            QCOMPARE(json::int64(parsed, path), value);
            QCOMPARE(writeJson(parsed), json);
            return;
        }
        const auto error =
            test::thrownBy<JsonDecodingError>([&] { json::int64(parseJson(json), path); });
        QVERIFY(error);
        QCOMPARE(error->kind(), failure);
        QCOMPARE(error->codingPath(), path);
    }

    void malformedJsonIsCorruptedData_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << QByteArray("{\"a\":");
        QTest::newRow("two values") << QByteArray("1 2");
        QTest::newRow("trailing comma") << QByteArray("[1,]");
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00", 3);
    }

    void malformedJsonIsCorruptedData() {
        QFETCH(QByteArray, bytes);
        const auto error = test::thrownBy<JsonDecodingError>([&] { parseJson(bytes); });
        QVERIFY(error);
        QCOMPARE(error->kind(), Kind::dataCorrupted);
    }

    // Arrays and objects nested up to the limit every reader keeps are read, deeper ones are
    // corrupted data, however deep.
    void nestingLimit_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readable");
        for (const test::NestingDepth &nesting : test::nestingDepths) {
            QTest::addRow("arrays %s", nesting.name)
                << test::nestedArrays(nesting.depth) << nesting.readable;
            QTest::addRow("objects %s", nesting.name)
                << QByteArray("{\"a\":").repeated(nesting.depth) + "0" +
                       QByteArray(nesting.depth, '}')
                << nesting.readable;
        }
    }

    void nestingLimit() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readable);
        const auto error = test::thrownBy<JsonDecodingError>([&] { parseJson(bytes); });
        QCOMPARE(!error, readable);
        if (error)
            QCOMPARE(error->kind(), Kind::dataCorrupted);
    }

    void writerSortsKeysAndEscapes() {
        const QJsonObject object{
            {QStringLiteral("zeta"), 1},
            {QStringLiteral("alpha"), QStringLiteral("a/b \"q\" \\ \n\t\x01")},
            {QStringLiteral("mid"), QJsonArray{16.0, 16.5, true, QJsonValue()}},
            {QStringLiteral("é"), QStringLiteral("ünïcödé ✓")}};
        QCOMPARE(writeJson(object),
                 QByteArray("{\"alpha\":\"a/b \\\"q\\\" \\\\ \\n\\t\\u0001\",\"mid\":"
                            "[16,16.5,true,null],\"zeta\":1,\"é\":\"ünïcödé ✓\"}"));
        QCOMPARE(writeJson(QJsonValue(QStringLiteral("a/b")), {.escapeSlashes = true}),
                 QByteArray("\"a\\/b\""));
    }

    // Plain text is passed over eight bytes at a time: a character that needs escaping is
    // found wherever it stands within or across those words.
    void writerEscapesAtEveryOffset_data() {
        QTest::addColumn<QString>("special");
        QTest::addColumn<bool>("escapeSlashes");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("quote") << QStringLiteral("\"") << false << QByteArray("\\\"");
        QTest::newRow("backslash") << QStringLiteral("\\") << false << QByteArray("\\\\");
        QTest::newRow("line feed") << QStringLiteral("\n") << false << QByteArray("\\n");
        QTest::newRow("control") << QStringLiteral("\x1f") << false << QByteArray("\\u001f");
        QTest::newRow("slash kept") << QStringLiteral("/") << false << QByteArray("/");
        QTest::newRow("slash escaped") << QStringLiteral("/") << true << QByteArray("\\/");
        QTest::newRow("accent") << QStringLiteral("é") << false << QByteArray("é");
        QTest::newRow("space") << QStringLiteral(" ") << false << QByteArray(" ");
    }

    void writerEscapesAtEveryOffset() {
        QFETCH(QString, special);
        QFETCH(bool, escapeSlashes);
        QFETCH(QByteArray, escaped);
        const QString plain = QStringLiteral("abcdefghijklmnopqrstuvwxyz");
        for (int at = 0; at <= int(plain.size()); ++at) {
            const QString text = plain.left(at) + special + plain.mid(at);
            const QByteArray expected =
                '"' + plain.left(at).toUtf8() + escaped + plain.mid(at).toUtf8() + '"';
            QCOMPARE(writeJson(QJsonValue(text), {.escapeSlashes = escapeSlashes}), expected);
            QByteArray appended("x");
            appendJsonString(appended, text, {.escapeSlashes = escapeSlashes});
            QCOMPARE(appended, 'x' + expected);
        }
    }

    void writerRefusesNonFiniteNumbers() {
        QVERIFY_THROWS_EXCEPTION(JsonEncodingError,
                                 writeJson(QJsonValue(std::numeric_limits<double>::quiet_NaN())));
    }

    void dateEncodings_data() {
        QTest::addColumn<JsonDateEncoding>("encoding");
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QByteArray>("json");
        const QDateTime withMs = utc(1704067200123); // 2024-01-01T00:00:00.123Z
        const QDateTime whole = utc(1704067200000);
        QTest::newRow("ms since 1970")
            << JsonDateEncoding::millisecondsSince1970 << withMs << QByteArray("1704067200123");
        QTest::newRow("s since 1970")
            << JsonDateEncoding::secondsSince1970 << withMs << QByteArray("1704067200.123");
        QTest::newRow("s since 2001")
            << JsonDateEncoding::secondsSinceReferenceDate << whole << QByteArray("725760000");
        QTest::newRow("s since 2001 with ms")
            << JsonDateEncoding::secondsSinceReferenceDate << withMs << QByteArray("725760000.123");
        QTest::newRow("iso whole seconds")
            << JsonDateEncoding::iso8601 << whole << QByteArray("\"2024-01-01T00:00:00Z\"");
        QTest::newRow("iso keeps milliseconds")
            << JsonDateEncoding::iso8601 << withMs << QByteArray("\"2024-01-01T00:00:00.123Z\"");
        QTest::newRow("before 1970")
            << JsonDateEncoding::millisecondsSince1970 << utc(-86400001) << QByteArray("-86400001");
    }

    void dateEncodings() {
        QFETCH(JsonDateEncoding, encoding);
        QFETCH(QDateTime, moment);
        QFETCH(QByteArray, json);
        QCOMPARE(writeJson(encodeDate(moment, encoding)), json);
        QCOMPARE(json::date(parseJson(json), encoding, {}), moment);
    }

    void isoDatesNeedAZone_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("msecs");
        QTest::newRow("offset") << "2024-01-01T01:00:00+01:00" << true << qint64(1704067200000);
        QTest::newRow("no zone") << "2024-01-01T00:00:00" << false << qint64(0);
        QTest::newRow("date only") << "2024-01-01" << false << qint64(0);
        QTest::newRow("impossible day") << "2024-02-30T00:00:00Z" << false << qint64(0);
        QTest::newRow("words") << "yesterday" << false << qint64(0);
    }

    void isoDatesNeedAZone() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint64, msecs);
        const auto decode = [&] { return json::date(text, JsonDateEncoding::iso8601, {}); };
        if (valid) {
            QCOMPARE(decode(), utc(msecs));
        } else {
            const auto error = test::thrownBy<JsonDecodingError>(decode);
            QVERIFY(error);
            QCOMPARE(error->kind(), Kind::dataCorrupted);
        }
    }

    void uuidText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("upper") << "E621E1F8-C36C-495A-93FC-0C247A3E6E5F" << true;
        QTest::newRow("lower") << "e621e1f8-c36c-495a-93fc-0c247a3e6e5f" << true;
        QTest::newRow("nil") << "00000000-0000-0000-0000-000000000000" << true;
        QTest::newRow("braces") << "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}" << false;
        QTest::newRow("no dashes") << "E621E1F8C36C495A93FC0C247A3E6E5F" << false;
        QTest::newRow("misplaced dash") << "E621E1F-8C36C-495A-93FC-0C247A3E6E5F" << false;
        QTest::newRow("non-hex") << "G621E1F8-C36C-495A-93FC-0C247A3E6E5F" << false;
        QTest::newRow("urn") << "urn:uuid:E621E1F8-C36C-495A-93FC-0C247A3E" << false;
    }

    void uuidText() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto uuid = uuidFromText(text);
        QCOMPARE(uuid.has_value(), valid);
        if (uuid)
            QCOMPARE(velmora::uuidText(*uuid), text.toUpper());
    }

    void base64_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << "" << true << QByteArray();
        QTest::newRow("padded") << "aGk=" << true << QByteArray("hi");
        QTest::newRow("missing padding") << "aGk" << false << QByteArray();
        QTest::newRow("stray character") << "aG!k" << false << QByteArray();
        QTest::newRow("non-ascii") << "aGkÉ" << false << QByteArray();
    }

    void base64() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QByteArray, bytes);
        const auto decode = [&] { return json::base64Data(text, {}); };
        if (valid)
            QCOMPARE(decode(), bytes);
        else
            QVERIFY(test::thrownBy<JsonDecodingError>(decode));
    }

    void objectReaderReportsMissingAndNullMembers() {
        const JsonObjectReader reader(parseJson("{\"present\":\"x\",\"nothing\":null}"),
                                      {QStringLiteral("root")});
        auto missing =
            test::thrownBy<JsonDecodingError>([&] { reader.string(QStringLiteral("absent")); });
        QVERIFY(missing);
        QCOMPARE(missing->kind(), Kind::keyNotFound);
        auto null =
            test::thrownBy<JsonDecodingError>([&] { reader.string(QStringLiteral("nothing")); });
        QVERIFY(null);
        QCOMPARE(null->kind(), Kind::valueNotFound);
        QCOMPARE(null->codingPath(),
                 (QStringList{QStringLiteral("root"), QStringLiteral("nothing")}));
        QVERIFY(!reader.optionalString(QStringLiteral("nothing")));
        QVERIFY(!reader.optionalString(QStringLiteral("absent")));
        QCOMPARE(*reader.optionalString(QStringLiteral("present")), QStringLiteral("x"));
        QVERIFY(test::thrownBy<JsonDecodingError>([] { JsonObjectReader(QJsonValue(3)); }));
    }
};

VELMORA_TEST_MAIN(JsonCodingTest)
#include "tst_jsoncoding.moc"
