#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/JsonCoding.h"
#include "platform/Sha256.h"
#include "support/TestSupport.h"

#include <QTimeZone>

using namespace velmora;
using Kind = JsonDecodingError::Kind;

namespace {

const QString entryId = QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

QByteArray entryJson(const QString &members) {
    QString json =
        QStringLiteral(
            R"({"id":"%1","dayKey":"2024-02-29","content":"Dear diary","fontName":"Georgia",)"
            R"("bodyPointSize":16,"status":"draft","originTimeZone":"Europe/Paris",)"
            R"("createdAt":"2024-02-29T08:00:00Z","updatedAt":"2024-02-29T09:00:00.250Z","revision":3)")
            .arg(entryId);
    if (!members.isEmpty())
        json += QLatin1Char(',') + members;
    return (json + QLatin1Char('}')).toUtf8();
}

// Replaces one member of the sample entry, or removes it when the replacement is empty.
QByteArray entryJsonWith(const QString &member, const QString &replacement) {
    QJsonObject object = parseJson(entryJson({})).toObject();
    object.remove(member);
    QByteArray json = writeJson(object);
    if (!replacement.isEmpty())
        json.insert(1, (replacement + QLatin1Char(',')).toUtf8());
    return json;
}

DiaryEntryDTO sampleEntry() {
    return DiaryEntryDTO::fromJson(parseJson(entryJson({})), JsonDateEncoding::iso8601);
}

DiaryRecoveryDTO sampleRecovery() {
    DiaryRecoveryDTO record;
    record.recoveryID = QUuid::createUuid();
    record.reason = DiaryRecoveryReason::duplicateDay;
    record.sourceKind = DiaryRecoverySourceKind::legacyEntry;
    record.preservedPayload = QByteArray("{\"content\":\"kept\"}");
    record.contentSHA256 = sha256Hex(record.preservedPayload);
    record.createdAt = QDateTime::fromMSecsSinceEpoch(1700000000123, QTimeZone::utc());
    return record;
}

} // namespace

Q_DECLARE_METATYPE(JsonDecodingError::Kind)

class RecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entryDecoding_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<Kind>("failure");
        QTest::addColumn<QString>("failingMember");
        QTest::newRow("no sealedAt") << entryJson({}) << true << Kind::keyNotFound << "";
        QTest::newRow("null sealedAt")
            << entryJson(R"("sealedAt":null)") << true << Kind::keyNotFound << "";
        QTest::newRow("sealed without sealedAt")
            << entryJsonWith("status", R"("status":"sealed")") << true << Kind::keyNotFound << "";
        QTest::newRow("extra member")
            << entryJson(R"("mood":"calm")") << true << Kind::keyNotFound << "";
        QTest::newRow("lower-case id")
            << entryJsonWith("id", R"("id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f")") << true
            << Kind::keyNotFound << "";
        QTest::newRow("any size and font")
            << entryJsonWith("bodyPointSize", R"("bodyPointSize":400.5)") << true
            << Kind::keyNotFound << "";
        QTest::newRow("missing revision")
            << entryJsonWith("revision", "") << false << Kind::keyNotFound << "";
        QTest::newRow("null content") << entryJsonWith("content", R"("content":null)") << false
                                      << Kind::valueNotFound << "content";
        QTest::newRow("negative revision") << entryJsonWith("revision", R"("revision":-1)") << false
                                           << Kind::dataCorrupted << "revision";
        QTest::newRow("fractional revision") << entryJsonWith("revision", R"("revision":1.5)")
                                             << false << Kind::dataCorrupted << "revision";
        QTest::newRow("status case") << entryJsonWith("status", R"("status":"Sealed")") << false
                                     << Kind::dataCorrupted << "status";
        QTest::newRow("invalid day") << entryJsonWith("dayKey", R"("dayKey":"2023-02-29")") << false
                                     << Kind::dataCorrupted << "dayKey";
        QTest::newRow("size as text") << entryJsonWith("bodyPointSize", R"("bodyPointSize":"16")")
                                      << false << Kind::typeMismatch << "bodyPointSize";
        QTest::newRow("bad id") << entryJsonWith("id", R"("id":"not-a-uuid")") << false
                                << Kind::dataCorrupted << "id";
        QTest::newRow("date without zone")
            << entryJsonWith("createdAt", R"("createdAt":"2024-02-29T08:00:00")") << false
            << Kind::dataCorrupted << "createdAt";
        QTest::newRow("not an object") << QByteArray("[]") << false << Kind::typeMismatch << "";
    }

    void entryDecoding() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(Kind, failure);
        QFETCH(QString, failingMember);
        const auto decode = [&] {
            return DiaryEntryDTO::fromJson(parseJson(json), JsonDateEncoding::iso8601,
                                           {QStringLiteral("entries"), QStringLiteral("Index 0")});
        };
        if (decodes) {
            const DiaryEntryDTO entry = decode();
            const QJsonObject written = entry.toJson(JsonDateEncoding::iso8601);
            QVERIFY(!written.contains(QStringLiteral("sealedAt")));
            QVERIFY(!written.contains(QStringLiteral("mood")));
            QCOMPARE(written.value(QStringLiteral("id")).toString(), entryId);
            QCOMPARE(
                DiaryEntryDTO::fromJson(parseJson(writeJson(written)), JsonDateEncoding::iso8601),
                entry);
            return;
        }
        const auto error = test::thrownBy<JsonDecodingError>(decode);
        QVERIFY(error);
        QCOMPARE(error->kind(), failure);
        QStringList path{QStringLiteral("entries"), QStringLiteral("Index 0")};
        if (!failingMember.isEmpty())
            path.append(failingMember);
        QCOMPARE(error->codingPath(), path);
    }

    void entryRoundTripsInEveryDateEncoding() {
        DiaryEntryDTO entry = sampleEntry();
        entry.status = DiaryEntryStatus::sealed;
        entry.sealedAt = entry.updatedAt.addMSecs(1);
        for (auto dates :
             {JsonDateEncoding::millisecondsSince1970, JsonDateEncoding::iso8601,
              JsonDateEncoding::secondsSince1970, JsonDateEncoding::secondsSinceReferenceDate}) {
            const QByteArray json = writeJson(entry.toJson(dates));
            QCOMPARE(DiaryEntryDTO::fromJson(parseJson(json), dates), entry);
        }
    }

    void equalityComparesEveryField() {
        const DiaryEntryDTO entry = sampleEntry();
        DiaryEntryDTO sizeAsDouble = entry;
        sizeAsDouble.bodyPointSize = 16.0;
        QCOMPARE(sizeAsDouble, entry);

        DiaryEntryDTO later = entry;
        later.updatedAt = later.updatedAt.addMSecs(1);
        QVERIFY(later != entry);
        DiaryEntryDTO nextRevision = entry;
        nextRevision.revision = DiaryRevision{4};
        QVERIFY(nextRevision != entry);

        const DiaryDraftDTO draft{entry.id,
                                  entry.dayKey,
                                  entry.content,
                                  entry.fontName,
                                  16,
                                  QStringLiteral("Europe/Paris"),
                                  entry.createdAt,
                                  entry.updatedAt,
                                  DiaryRevision{0}};
        DiaryDraftDTO elsewhere = draft;
        elsewhere.originTimeZone = QStringLiteral("Asia/Tokyo");
        QVERIFY(elsewhere != draft);

        const DiarySaveResult result{entry, 7, DiarySaveDisposition::updated};
        QCOMPARE((DiarySaveResult{entry, 7, DiarySaveDisposition::updated}), result);
        QVERIFY((DiarySaveResult{entry, 8, DiarySaveDisposition::updated}) != result);
        QVERIFY((DiarySaveResult{entry, 7, DiarySaveDisposition::unchanged}) != result);
    }

    void draftAndSaveResultDecoding() {
        QJsonObject draft = parseJson(entryJson({})).toObject();
        draft.remove(QStringLiteral("status"));
        draft.insert(QStringLiteral("revision"), 0);
        const auto decoded = DiaryDraftDTO::fromJson(draft, JsonDateEncoding::iso8601);
        QCOMPARE(decoded.revision, DiaryRevision{0});
        draft.remove(QStringLiteral("revision"));
        const auto missing = test::thrownBy<JsonDecodingError>(
            [&] { DiaryDraftDTO::fromJson(draft, JsonDateEncoding::iso8601); });
        QVERIFY(missing);
        QCOMPARE(missing->kind(), Kind::keyNotFound);

        const DiarySaveResult result{sampleEntry(), 42, DiarySaveDisposition::created};
        QCOMPARE(DiarySaveResult::fromJson(
                     parseJson(writeJson(result.toJson(JsonDateEncoding::millisecondsSince1970))),
                     JsonDateEncoding::millisecondsSince1970),
                 result);
    }

    void recoveryRecordOptionalMembers() {
        DiaryRecoveryDTO record = sampleRecovery();
        QJsonObject json = record.toJson(JsonDateEncoding::iso8601);
        QVERIFY(!json.contains(QStringLiteral("originalID")));
        QVERIFY(!json.contains(QStringLiteral("proposedDayKey")));
        QCOMPARE(DiaryRecoveryDTO::fromJson(json, JsonDateEncoding::iso8601), record);

        record.originalID = QUuid::createUuid();
        record.proposedDayKey = DayKey::fromRawValue(QStringLiteral("2024-02-29"));
        record.preservedPayload.clear();
        record.contentSHA256 = sha256Hex({});
        json = record.toJson(JsonDateEncoding::iso8601);
        QCOMPARE(json.value(QStringLiteral("preservedPayload")).toString(), QString());
        QCOMPARE(DiaryRecoveryDTO::fromJson(json, JsonDateEncoding::iso8601), record);

        json.insert(QStringLiteral("proposedDayKey"), QStringLiteral("2024-02-30"));
        QVERIFY(test::thrownBy<JsonDecodingError>(
            [&] { DiaryRecoveryDTO::fromJson(json, JsonDateEncoding::iso8601); }));
        json.insert(QStringLiteral("proposedDayKey"), QJsonValue::Null);
        json.insert(QStringLiteral("reason"), QStringLiteral("DuplicateDay"));
        QVERIFY(test::thrownBy<JsonDecodingError>(
            [&] { DiaryRecoveryDTO::fromJson(json, JsonDateEncoding::iso8601); }));
    }

    void snapshots() {
        DiarySnapshotDTO empty;
        empty.metadata = {QUuid::createUuid(), 2, QStringLiteral("run"), sampleEntry().createdAt,
                          0};
        const QJsonObject json = empty.toJson(JsonDateEncoding::millisecondsSince1970);
        QCOMPARE(json.value(QStringLiteral("entries")).toArray().size(), 0);
        QCOMPARE(json.value(QStringLiteral("recoveryRecords")).toArray().size(), 0);

        DiarySnapshotDTO full = empty;
        DiaryEntryDTO second = sampleEntry();
        second.id = QUuid::createUuid();
        second.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-03-01"));
        full.entries = {sampleEntry(), second};
        full.recoveryRecords = {sampleRecovery()};
        const QByteArray bytes = writeJson(full.toJson(JsonDateEncoding::millisecondsSince1970));
        QCOMPARE(
            DiarySnapshotDTO::fromJson(parseJson(bytes), JsonDateEncoding::millisecondsSince1970),
            full);

        DiarySnapshotDTO reordered = full;
        std::swap(reordered.entries[0], reordered.entries[1]);
        QVERIFY(reordered != full);

        // One bad record fails the whole snapshot, at its own path.
        QJsonObject broken = full.toJson(JsonDateEncoding::millisecondsSince1970);
        QJsonArray entries = broken.value(QStringLiteral("entries")).toArray();
        QJsonObject bad = entries.at(1).toObject();
        bad.insert(QStringLiteral("dayKey"), QStringLiteral("2024-3-01"));
        entries.replace(1, bad);
        broken.insert(QStringLiteral("entries"), entries);
        const auto error = test::thrownBy<JsonDecodingError>(
            [&] { DiarySnapshotDTO::fromJson(broken, JsonDateEncoding::millisecondsSince1970); });
        QVERIFY(error);
        QCOMPARE(error->codingPath(),
                 (QStringList{QStringLiteral("entries"), QStringLiteral("Index 1"),
                              QStringLiteral("dayKey")}));
    }

    void enumerationRawValues() {
        QCOMPARE(fromRawValue<DiaryExportFormat>(u"unencryptedJSON"),
                 DiaryExportFormat::unencryptedJSON);
        QVERIFY(!fromRawValue<DiaryExportFormat>(u"unencryptedJson"));
        QCOMPARE(allCases<DiaryRecoveryReason>().size(), size_t(6));
        for (auto reason : allCases<DiaryRecoveryReason>())
            QCOMPARE(fromRawValue<DiaryRecoveryReason>(rawValue(reason)), reason);
        for (auto kind : allCases<DiaryRecoverySourceKind>())
            QCOMPARE(fromRawValue<DiaryRecoverySourceKind>(rawValue(kind)), kind);
        QCOMPARE(rawValue(DiarySaveDisposition::unchanged), QStringLiteral("unchanged"));
    }
};

VELMORA_TEST_MAIN(RecordsTest)
#include "tst_records.moc"
