#include "store/SearchSignatures.h"

#include "store/StoreLogging.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>

namespace velmora {

namespace {

const QString signatureTable = QStringLiteral("VelmoraSearchSignature");
const QString queueTable = QStringLiteral("VelmoraSearchSignatureQueue");

constexpr qsizetype runBytes = 4;
constexpr qsizetype smallestSignatureBits = 256;
constexpr qsizetype largestSignatureBits = 8192;

// The bit of a run in a signature of 2^(32 - shift) bits: the top bits of a Fibonacci hash, so
// a signature of any size takes the run's bit from the same hash.
quint32 runHash(const char *run) {
    const quint32 bytes = quint32(quint8(run[0])) | quint32(quint8(run[1])) << 8 |
                          quint32(quint8(run[2])) << 16 | quint32(quint8(run[3])) << 24;
    return bytes * 0x9E3779B1u;
}

int signatureShift(qsizetype bits) {
    return 32 - std::countr_zero(quint64(bits));
}

void signatureFunction(sqlite3_context *context, int, sqlite3_value **values) {
    if (sqlite3_value_type(values[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    // The same bytes velmora_contains reads.
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(values[0]));
    const QByteArray signature =
        searchSignature(QByteArrayView(text, sqlite3_value_bytes(values[0])));
    sqlite3_result_blob(context, signature.constData(), int(signature.size()), SQLITE_TRANSIENT);
}

void mayContainFunction(sqlite3_context *context, int, sqlite3_value **values) {
    if (sqlite3_value_type(values[0]) != SQLITE_BLOB ||
        sqlite3_value_type(values[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 1);
        return;
    }
    const auto *signature = static_cast<const char *>(sqlite3_value_blob(values[0]));
    const int signatureBytes = sqlite3_value_bytes(values[0]);
    const auto *part = reinterpret_cast<const char *>(sqlite3_value_text(values[1]));
    const int partBytes = sqlite3_value_bytes(values[1]);
    sqlite3_result_int(context, signatureMayContain(QByteArrayView(signature, signatureBytes),
                                                    QByteArrayView(part, partBytes)));
}

QString triggerStatements() {
    // Plain SQL, so that every connection keeps the signatures honest, whether or not it knows
    // how to sign. A deleted entry's signature stays behind unread (the search joins from the
    // entries): a delete trigger would make clearing the table go row by row. The next entry
    // given its row number drops it.
    return QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1Insert AFTER INSERT ON DiaryEntry BEGIN "
                          "DELETE FROM %1 WHERE entryRow = new.rowid; "
                          "INSERT OR IGNORE INTO %2 (entryRow) VALUES (new.rowid); END; "
                          "CREATE TRIGGER IF NOT EXISTS %1Update AFTER UPDATE ON DiaryEntry BEGIN "
                          "DELETE FROM %1 WHERE entryRow IN (old.rowid, new.rowid); "
                          "INSERT OR IGNORE INTO %2 (entryRow) VALUES (new.rowid); END;")
        .arg(signatureTable, queueTable);
}

// Every write transaction signs its entries, so the statements are prepared once per connection.
// The entry `leaving` (none when null) stays queued.
void signQueue(SqliteDatabase &database, std::optional<qint64> leaving) {
    // The day is kept with the signature and must match when it is read: should the rows ever be
    // numbered afresh behind the triggers' back, a signature cannot pass to another entry.
    static const QString sign =
        QStringLiteral("INSERT OR REPLACE INTO %1 (entryRow, entryDayKey, bits) "
                       "SELECT e.rowid, e.dayKey, velmora_signature(e.contentFolded) "
                       "FROM %2 AS q JOIN DiaryEntry AS e ON e.rowid = q.entryRow "
                       "WHERE q.entryRow IS NOT ?1")
            .arg(signatureTable, queueTable);
    static const QString clear =
        QStringLiteral("DELETE FROM %1 WHERE entryRow IS NOT ?1").arg(queueTable);
    database.cached(sign).bind(1, leaving).execute();
    database.cached(clear).bind(1, leaving).execute();
}

} // namespace

QByteArray searchSignature(QByteArrayView foldedText) {
    const qsizetype runs = std::max<qsizetype>(foldedText.size() - runBytes + 1, 0);
    // At least a bit a run: prose repeats most of its runs, and sets about a fifth of the bits.
    const qsizetype bits = std::clamp<qsizetype>(qsizetype(std::bit_ceil(quint64(runs))),
                                                 smallestSignatureBits, largestSignatureBits);
    QByteArray signature(bits / 8, '\0');
    const int shift = signatureShift(bits);
    auto *bytes = reinterpret_cast<quint8 *>(signature.data());
    for (qsizetype i = 0; i < runs; ++i) {
        const quint32 bit = runHash(foldedText.data() + i) >> shift;
        bytes[bit / 8] |= quint8(1u << (bit % 8));
    }
    return signature;
}

bool signatureMayContain(QByteArrayView signature, QByteArrayView foldedPart) {
    const qsizetype bits = signature.size() * 8;
    if (foldedPart.size() < runBytes || bits < smallestSignatureBits ||
        !std::has_single_bit(quint64(bits)))
        return true;
    const int shift = signatureShift(bits);
    const auto *bytes = reinterpret_cast<const quint8 *>(signature.data());
    for (qsizetype i = 0; i + runBytes <= foldedPart.size(); ++i) {
        const quint32 bit = runHash(foldedPart.data() + i) >> shift;
        if (!(bytes[bit / 8] & (1u << (bit % 8))))
            return false;
    }
    return true;
}

void registerSearchSignatureFunctions(SqliteDatabase &database) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int code = sqlite3_create_function_v2(database.handle(), "velmora_signature", 1, flags, nullptr,
                                          signatureFunction, nullptr, nullptr, nullptr);
    if (code == SQLITE_OK)
        code = sqlite3_create_function_v2(database.handle(), "velmora_may_contain", 2, flags,
                                          nullptr, mayContainFunction, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        database.throwError(code);
}

void writeSearchSignatureSchema(SqliteDatabase &database) {
    database.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (entryRow INTEGER PRIMARY KEY, "
                                 "entryDayKey TEXT, bits BLOB); "
                                 "CREATE TABLE IF NOT EXISTS %2 (entryRow INTEGER PRIMARY KEY);")
                      .arg(signatureTable, queueTable));
    database.exec(triggerStatements());
    database.exec(QStringLiteral("INSERT OR IGNORE INTO %1 (entryRow) SELECT rowid FROM DiaryEntry")
                      .arg(queueTable));
}

bool modelHasSearchSignatures(const StoreModel &model) {
    return std::any_of(model.entities.cbegin(), model.entities.cend(), [](const StoreEntity &e) {
        return e.name == QLatin1String("DiaryEntry") &&
               std::any_of(e.foldedColumns.cbegin(), e.foldedColumns.cend(),
                           [](const StoreFoldedColumn &column) {
                               return column.name == QLatin1String("contentFolded");
                           });
    });
}

void prepareSearchSignatures(SqliteDatabase &database) {
    const qint64 triggers = database.queryInt64(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
                       "('%1Insert', '%1Update')")
            .arg(signatureTable));
    if (triggers == 2 &&
        database.queryInt64(
            QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM %1 LIMIT 1)").arg(queueTable)) == 0)
        return;
    qCInfo(lcStore) << "Signing the store's entries for search";
    database.transaction(SqliteTransactionKind::immediate, [&] {
        if (triggers != 2)
            writeSearchSignatureSchema(database);
        signQueue(database, std::nullopt);
    });
}

void signQueuedEntries(SqliteDatabase &database, std::optional<qint64> leaving) noexcept {
    // Most transactions find nothing to sign: the entries written before them are signed already.
    static const QString anyQueued =
        QStringLiteral("SELECT 1 FROM %1 WHERE entryRow IS NOT ?1 LIMIT 1").arg(queueTable);
    try {
        SqliteStatement &queued = database.cached(anyQueued);
        const bool found = queued.bind(1, leaving).step();
        queued.reset();
        if (!found)
            return;
        database.cached(QStringLiteral("SAVEPOINT velmora_sign")).execute();
    } catch (const SqliteError &error) {
        qCWarning(lcStore) << "Could not sign entries for search:" << error.message();
        return;
    }
    try {
        signQueue(database, leaving);
        database.cached(QStringLiteral("RELEASE velmora_sign")).execute();
    } catch (const SqliteError &error) {
        // The entries stay queued, and a search reads them in full until they are signed.
        qCWarning(lcStore) << "Could not sign entries for search:" << error.message();
        try {
            database.exec(QStringLiteral("ROLLBACK TO velmora_sign; RELEASE velmora_sign"));
        } catch (const SqliteError &) {
        }
    }
}

QString searchEntriesSql(const char *columns) {
    // The text is read only where the signature allows a match; an entry without a signature of
    // its own day is always read.
    return QStringLiteral("SELECT %1, DiaryEntry.rowid FROM DiaryEntry LEFT JOIN %2 AS s "
                          "ON s.entryRow = DiaryEntry.rowid AND s.entryDayKey = DiaryEntry.dayKey "
                          "WHERE CASE WHEN velmora_may_contain(s.bits, ?1) "
                          "THEN velmora_contains(contentFolded, ?1) ELSE 0 END "
                          "ORDER BY dayKey DESC LIMIT ?2")
        .arg(QLatin1String(columns), signatureTable);
}

} // namespace velmora
