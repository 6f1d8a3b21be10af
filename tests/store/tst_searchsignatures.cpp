#include "StoreFixture.h"

#include "platform/SearchFolding.h"
#include "store/SearchSignatures.h"

#include <QRandomGenerator>

using namespace velmora;
using namespace velmora::test;

namespace {

const char *const words[] = {"the",      "morning", "walk",  "café",   "Málaga", "Kraków",
                             "über",     "Zoë",     "rain",  "letter", "garden", "évite",
                             "ελληνικά", "日本語",  "naïve", "sea",    "window", "quiet"};

QString prose(QRandomGenerator &random, int wordCount) {
    QStringList chosen;
    for (int i = 0; i < wordCount; ++i)
        chosen.append(QString::fromUtf8(words[random.bounded(int(std::size(words)))]));
    return chosen.join(QLatin1Char(' '));
}

QByteArray randomLetters(QRandomGenerator &random, int length) {
    QByteArray letters(length, 'a');
    for (char &letter : letters)
        letter = char('a' + random.bounded(26));
    return letters;
}

// The entries whose folded text holds the folded query, newest first, read without signatures.
QStringList daysHolding(const StoreFixture &store, const QString &query) {
    SqliteDatabase database(store.path(), SqliteDatabase::OpenMode::readOnly);
    SqliteStatement select(database.handle(),
                           QStringLiteral("SELECT dayKey FROM DiaryEntry WHERE "
                                          "instr(contentFolded, ?1) > 0 ORDER BY dayKey DESC"));
    // The repository matches the query without its surrounding white space.
    select.bind(1, foldedForSearch(query.trimmed()));
    QStringList days;
    while (select.step())
        days.append(select.text(0));
    return days;
}

QStringList daysFound(const StoreFixture &store, const QString &query) {
    QStringList days;
    for (const auto &found : test::waitFor(store.repository->search(query, 500)))
        days.append(found.dayKey.rawValue());
    return days;
}

} // namespace

class SearchSignaturesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every part of a text passes its signature, whatever the text's size and script.
    void aSignatureNeverRulesOutAPartOfItsText_data() {
        QTest::addColumn<QByteArray>("text");
        QRandomGenerator random(7);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("shorter than a run") << QByteArray("abc");
        QTest::newRow("one run") << QByteArray("abcd");
        QTest::newRow("prose") << foldedForSearch(prose(random, 80)).toUtf8();
        QTest::newRow("several scripts")
            << foldedForSearch(QStringLiteral("日本語のテキスト ελληνικά Ångström ﬁnal")).toUtf8();
        QTest::newRow("long unbroken letters") << randomLetters(random, 12000);
        QTest::newRow("every byte value") << [] {
            QByteArray bytes;
            for (int value = 1; value < 256; ++value)
                bytes.append(char(value));
            return bytes;
        }();
    }

    void aSignatureNeverRulesOutAPartOfItsText() {
        QFETCH(QByteArray, text);
        const QByteArray signature = searchSignature(text);
        QVERIFY(signature.size() >= 32 && signature.size() <= 1024);
        QCOMPARE(signature.size() & (signature.size() - 1), 0);
        const qsizetype step = text.size() > 2000 ? 13 : 1;
        for (qsizetype from = 0; from < text.size(); from += step) {
            for (qsizetype length = 1; length <= 16 && from + length <= text.size(); ++length) {
                if (!signatureMayContain(signature, text.mid(from, length)))
                    QFAIL(qPrintable(
                        QStringLiteral("ruled out %1 bytes at %2").arg(length).arg(from)));
            }
        }
    }

    void whatASignatureRulesOut_data() {
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QByteArray>("part");
        QTest::addColumn<bool>("mayContain");
        const QByteArray ofShortText = searchSignature("abc");
        QTest::newRow("longer than a text without runs")
            << ofShortText << QByteArray("abcd") << false;
        QTest::newRow("too short to have a run") << ofShortText << QByteArray("xyz") << true;
        QTest::newRow("no signature at all") << QByteArray() << QByteArray("abcd") << true;
        QTest::newRow("too small to be one") << QByteArray(3, '\0') << QByteArray("abcd") << true;
        QTest::newRow("not a power of two") << QByteArray(48, '\0') << QByteArray("abcd") << true;
        QTest::newRow("a signature with no bits")
            << QByteArray(32, '\0') << QByteArray("abcd") << false;
    }

    void whatASignatureRulesOut() {
        QFETCH(QByteArray, signature);
        QFETCH(QByteArray, part);
        QFETCH(bool, mayContain);
        QCOMPARE(signatureMayContain(signature, part), mayContain);
    }

    // Words a long entry does not hold mostly fail its signature; were the bits spread badly,
    // most would pass and every search would read every entry.
    void aSignatureRulesOutMostWordsItsTextLacks() {
        QRandomGenerator random(11);
        const QByteArray text = foldedForSearch(prose(random, 1600)).toUtf8();
        const QByteArray signature = searchSignature(text);
        int passed = 0;
        for (int i = 0; i < 1000; ++i) {
            const QByteArray word = randomLetters(random, 8);
            QVERIFY(!text.contains(word));
            passed += signatureMayContain(signature, word) ? 1 : 0;
        }
        QVERIFY2(passed < 50, qPrintable(QString::number(passed)));
    }

    // However an entry was written, signed or not, renumbered, replaced, or changed behind the
    // repository's back, search finds exactly the entries holding the query.
    void searchFindsEveryEntryHoldingTheQuery_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("reopens");
        const QString planted =
            QStringLiteral(
                "INSERT INTO DiaryEntry (id, dayKey, content, contentFolded, revision) VALUES "
                "('%1', '2024-06-01', 'Zebra crossing', 'zebra crossing', 1)")
                .arg(uuidText(QUuid::createUuid()));
        QTest::newRow("written by the repository") << QString() << false;
        QTest::newRow("planted by a connection that cannot sign") << planted << false;
        QTest::newRow("planted, then signed at open") << planted << true;
        QTest::newRow("text changed behind the repository")
            << "UPDATE DiaryEntry SET content = 'Zebra', contentFolded = 'zebra' "
               "WHERE dayKey = '2024-03-02'"
            << false;
        QTest::newRow("signatures lost") << "DELETE FROM VelmoraSearchSignature" << false;
        QTest::newRow("signature of another day")
            << "UPDATE VelmoraSearchSignature SET entryDayKey = '1999-01-01', bits = zeroblob(32)"
            << false;
        QTest::newRow("renumbered") << "UPDATE DiaryEntry SET rowid = rowid + 1000" << false;
        QTest::newRow("replaced in place")
            << "INSERT OR REPLACE INTO DiaryEntry (rowid, id, dayKey, content, contentFolded, "
               "revision) SELECT rowid, id, dayKey, 'zebra', 'zebra', 2 FROM DiaryEntry "
               "WHERE dayKey = '2024-03-03'"
            << false;
        QTest::newRow("store from before signatures")
            << "DROP TRIGGER VelmoraSearchSignatureInsert; DROP TRIGGER "
               "VelmoraSearchSignatureUpdate; "
               "DROP TABLE VelmoraSearchSignature; DROP TABLE VelmoraSearchSignatureQueue"
            << true;
    }

    void searchFindsEveryEntryHoldingTheQuery() {
        QFETCH(QString, change);
        QFETCH(bool, reopens);
        StoreFixture store;
        QRandomGenerator random(3);
        DiarySnapshotDTO snapshot{metadata(), {}, {}};
        QDate date(2024, 3, 1);
        for (int i = 0; i < 60; ++i, date = date.addDays(1)) {
            snapshot.entries.append(entry("2024-03-01", prose(random, 5 + i * 7)));
            snapshot.entries.last().dayKey =
                DayKey::fromCivilDate(date.year(), date.month(), date.day());
        }
        test::waitFor(store.repository->replaceAll(snapshot));
        if (!change.isEmpty())
            store.sql(change);
        if (reopens)
            store.reopen();
        QStringList queries{"zebra", "malaga krakow", "Café", "GARDEN WIN", "ελλη", "日本語", "e",
                            "qu",    "nothing here"};
        for (int i = 0; i < 20; ++i) {
            const QString text = snapshot.entries.at(random.bounded(60)).content;
            const int from = random.bounded(int(text.size()));
            queries.append(text.mid(from, 1 + random.bounded(14)));
        }
        for (const QString &query : queries) {
            QVERIFY2(daysFound(store, query) == daysHolding(store, query), qPrintable(query));
        }
        if (reopens) {
            QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignatureQueue"), 0);
            QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignature"),
                     store.count("SELECT count(*) FROM DiaryEntry"));
        }
    }

    // An autosave leaves the entry it writes into queued, so the typing does not re-sign it at
    // every pause, and signs what else was queued; a search finds the new words meanwhile, and
    // the next write of another day signs the entry from what it stores.
    void anAutosaveLeavesItsOwnEntryQueued_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QStringLiteral("Evening walk by the sea");
        QTest::newRow("folded") << QString::fromUtf8("Café in MÁLAGA with naïve Zoë, 日本語");
        QTest::newRow("unpaired surrogate")
            << (QStringLiteral("Letter ") + QChar(0xd800) + QStringLiteral(" posted"));
        QTest::newRow("emptied") << QString();
        QTest::newRow("long") << QStringLiteral("garden window quiet rain ").repeated(400);
    }
    void anAutosaveLeavesItsOwnEntryQueued() {
        QFETCH(QString, text);
        StoreFixture store;
        const DiaryEntryDTO first = store.saved("2024-03-01", QStringLiteral("Zebra crossing"));
        store.sql(QStringLiteral("INSERT INTO DiaryEntry (id, dayKey, content, contentFolded, "
                                 "revision) VALUES ('%1', '2024-03-02', 'Other', 'other', 1)")
                      .arg(uuidText(QUuid::createUuid())));
        DiaryDraftDTO draft = test::draft("2024-03-01", text);
        draft.id = first.id;
        DiarySaveResult result = test::waitFor(store.repository->save(draft, first.revision, 2));
        QCOMPARE(result.disposition, DiarySaveDisposition::updated);
        draft.content += QStringLiteral(" and more");
        result = test::waitFor(store.repository->save(draft, result.entry.revision, 3));
        const auto queuedDays = [&store] {
            SqliteDatabase database(store.path(), SqliteDatabase::OpenMode::readOnly);
            return database.queryText(QStringLiteral(
                "SELECT group_concat(e.dayKey) FROM VelmoraSearchSignatureQueue AS q "
                "JOIN DiaryEntry AS e ON e.rowid = q.entryRow"));
        };
        const auto honestSignatures = [&store] {
            SqliteDatabase database(store.path(), SqliteDatabase::OpenMode::readOnly);
            registerSearchSignatureFunctions(database);
            return database.queryInt64(QStringLiteral(
                "SELECT count(*) FROM VelmoraSearchSignature AS s JOIN DiaryEntry AS e "
                "ON e.rowid = s.entryRow AND e.dayKey = s.entryDayKey "
                "WHERE s.bits = velmora_signature(e.contentFolded)"));
        };
        QCOMPARE(queuedDays(), QStringLiteral("2024-03-01"));
        QCOMPARE(honestSignatures(), 1);
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignature"), 1);
        const QStringList queries{QStringLiteral("zebra"), QStringLiteral("other"),
                                  QStringLiteral("and more"), text.left(12) + " and"};
        for (const QString &query : queries)
            QCOMPARE(daysFound(store, query), daysHolding(store, query));

        store.saved("2024-03-03", QStringLiteral("Third"));
        QCOMPARE(queuedDays(), QString());
        QCOMPARE(honestSignatures(), 3);
        for (const QString &query : queries)
            QCOMPARE(daysFound(store, query), daysHolding(store, query));
    }

    // Entries another connection wrote are signed by the next write of the repository, in its
    // own transaction.
    void theNextWriteSignsWhatOthersQueued() {
        StoreFixture store;
        store.saved("2024-03-01", "First");
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignature"), 1);
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignatureQueue"), 0);
        store.sql(QStringLiteral("INSERT INTO DiaryEntry (id, dayKey, content, contentFolded, "
                                 "revision) VALUES ('%1', '2024-03-02', 'x', 'x', 1); "
                                 "UPDATE DiaryEntry SET contentFolded = 'first!' "
                                 "WHERE dayKey = '2024-03-01'")
                      .arg(uuidText(QUuid::createUuid())));
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignatureQueue"), 2);
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignature"), 0);
        store.saved("2024-03-03", "Third");
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignatureQueue"), 0);
        QCOMPARE(store.count("SELECT count(*) FROM VelmoraSearchSignature"), 3);
        QCOMPARE(daysFound(store, "first!"), QStringList{"2024-03-01"});
    }
};

VELMORA_TEST_MAIN(SearchSignaturesTest)
#include "tst_searchsignatures.moc"
