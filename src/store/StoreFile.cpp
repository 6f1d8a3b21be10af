#include "store/StoreFile.h"

#include "platform/SearchFolding.h"
#include "store/SearchSignatures.h"
#include "store/StoreLogging.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {

const QString identityTable = QStringLiteral("VelmoraStoreModel");
// The version of the search folding the folded columns were written with. A store without the
// table predates it and was folded the old way.
const QString foldingTable = QStringLiteral("VelmoraSearchFolding");

bool hasFoldedColumns(const StoreModel &model) {
    return std::any_of(model.entities.cbegin(), model.entities.cend(),
                       [](const StoreEntity &entity) { return !entity.foldedColumns.isEmpty(); });
}

void writeFoldingVersion(SqliteDatabase &database) {
    database.exec(
        QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (version INTEGER)").arg(foldingTable));
    database.exec(QStringLiteral("DELETE FROM ") + foldingTable);
    SqliteStatement insert(database.handle(),
                           QStringLiteral("INSERT INTO %1 VALUES (?1)").arg(foldingTable));
    insert.bind(1, searchFoldingVersion).execute();
}

// contains(text, part): whether `part` occurs in `text` as plain UTF-8 bytes. Faster than instr()
// over long texts, and nothing in `part` acts as a pattern.
void containsFunction(sqlite3_context *context, int, sqlite3_value **values) {
    if (sqlite3_value_type(values[0]) == SQLITE_NULL ||
        sqlite3_value_type(values[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const unsigned char *text = sqlite3_value_text(values[0]);
    const int textBytes = sqlite3_value_bytes(values[0]);
    const unsigned char *part = sqlite3_value_text(values[1]);
    const int partBytes = sqlite3_value_bytes(values[1]);
    sqlite3_result_int(context,
                       ::memmem(text, size_t(textBytes), part, size_t(partBytes)) != nullptr);
}

} // namespace

StoreModelMismatchError::StoreModelMismatchError(QString foundVersionName,
                                                 QString expectedVersionName)
    : m_found(std::move(foundVersionName))
    , m_expected(std::move(expectedVersionName)) {}

QString StoreModelMismatchError::message() const {
    if (m_found.isEmpty()) {
        return QCoreApplication::translate("StoreModelMismatchError",
                                           "The file is not a diary store of model %1.")
            .arg(m_expected);
    }
    return QCoreApplication::translate("StoreModelMismatchError",
                                       "The store was written by model %1, not by model %2.")
        .arg(shownExcerpt(m_found), m_expected);
}

std::optional<StoreIdentity> readStoreIdentity(SqliteDatabase &database) {
    if (database.queryInt64(QStringLiteral("PRAGMA application_id")) != storeApplicationID)
        return std::nullopt;
    SqliteStatement hasTable(
        database.handle(),
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1"));
    hasTable.bind(1, identityTable);
    if (!hasTable.step())
        return std::nullopt;
    SqliteStatement row(database.handle(), QStringLiteral("SELECT versionName, versionHash FROM ") +
                                               identityTable + QStringLiteral(" LIMIT 1"));
    if (!row.step())
        return std::nullopt;
    return StoreIdentity{row.text(0), row.text(1),
                         database.queryInt64(QStringLiteral("PRAGMA user_version"))};
}

std::optional<StoreIdentity> readStoreIdentity(const QString &path) {
    SqliteDatabase database(path, SqliteDatabase::OpenMode::readOnly);
    return readStoreIdentity(database);
}

void configureStoreConnection(SqliteDatabase &database) {
    const QString mode = database.queryText(QStringLiteral("PRAGMA journal_mode = WAL"));
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        throw SqliteError(
            SQLITE_CANTOPEN,
            QCoreApplication::translate(
                "StoreFile", "The store cannot use write-ahead logging (journal mode %1).")
                .arg(mode));
    }
    database.exec(QStringLiteral("PRAGMA synchronous = FULL"));
    // Whole-diary scans (search, snapshot) read a few tens of megabytes. They read through the
    // system's file cache and SQLite's small default page cache: a memory map of the file, or a
    // page cache as large as the diary, would make every page a scan touched this process's
    // resident memory for good.
    database.exec(QStringLiteral("PRAGMA mmap_size = 0"));
    const int code =
        sqlite3_create_function_v2(database.handle(), "velmora_contains", 2,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   containsFunction, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        database.throwError(code);
    registerSearchSignatureFunctions(database);
}

void writeStoreSchema(SqliteDatabase &database, const StoreModel &model) {
    for (const QString &statement : model.schemaStatements())
        database.exec(statement);
    if (hasFoldedColumns(model))
        writeFoldingVersion(database);
    if (modelHasSearchSignatures(model))
        writeSearchSignatureSchema(database);
    database.exec(
        QStringLiteral("CREATE TABLE %1 (versionName TEXT, versionHash TEXT)").arg(identityTable));
    SqliteStatement insert(database.handle(), QStringLiteral("INSERT INTO ") + identityTable +
                                                  QStringLiteral(" VALUES (?1, ?2)"));
    insert.bind(1, model.versionName).bind(2, model.versionHash()).execute();
    database.exec(QStringLiteral("PRAGMA application_id = %1").arg(storeApplicationID));
    database.exec(QStringLiteral("PRAGMA user_version = %1").arg(model.storeVersion));
}

qint64 storeFoldingVersion(SqliteDatabase &database) {
    SqliteStatement hasTable(
        database.handle(),
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1"));
    hasTable.bind(1, foldingTable);
    if (!hasTable.step())
        return 1;
    return database.queryInt64(QStringLiteral("SELECT max(version) FROM ") + foldingTable);
}

bool refoldStoreIfNeeded(SqliteDatabase &database, const StoreModel &model) {
    if (!hasFoldedColumns(model))
        return false;
    const qint64 found = storeFoldingVersion(database);
    if (found == searchFoldingVersion)
        return false;
    qCInfo(lcStore) << "Folding the store's texts for search again: folded by version" << found
                    << "of" << searchFoldingVersion;
    database.transaction(SqliteTransactionKind::immediate, [&] {
        for (const auto &entity : model.entities) {
            for (const auto &column : entity.foldedColumns) {
                const QString table = sqlName(entity.name);
                SqliteStatement select(database.handle(),
                                       QStringLiteral("SELECT rowid, %1 FROM %2")
                                           .arg(sqlName(column.sourceAttribute), table));
                SqliteStatement update(database.handle(),
                                       QStringLiteral("UPDATE %1 SET %2 = ?1 WHERE rowid = ?2")
                                           .arg(table, sqlName(column.name)));
                while (select.step()) {
                    if (select.isNull(1))
                        update.bindNull(1);
                    else
                        update.bind(1, foldedForSearch(select.text(1)));
                    update.bind(2, select.int64(0)).execute();
                    update.reset();
                }
            }
        }
        writeFoldingVersion(database);
    });
    return true;
}

void createStoreSchema(SqliteDatabase &database, const StoreModel &model) {
    database.transaction(SqliteTransactionKind::immediate,
                         [&] { writeStoreSchema(database, model); });
}

std::unique_ptr<SqliteDatabase> openStore(const QString &path, const StoreModel &model) {
    auto database =
        std::make_unique<SqliteDatabase>(path, SqliteDatabase::OpenMode::readWriteCreate);
    // Only read until the file is known to be ours: switching the journal mode writes to it, and
    // a refused store must stay exactly as it was for the migration.
    const auto identity = readStoreIdentity(*database);
    if (identity && !identity->matches(model))
        throw StoreModelMismatchError(identity->versionName, model.versionName);
    if (!identity &&
        database->queryInt64(QStringLiteral("SELECT count(*) FROM sqlite_master")) != 0)
        throw StoreModelMismatchError(QString(), model.versionName);
    // Before write-ahead logging starts, so a store that needs no folding or signing is only read.
    if (identity) {
        refoldStoreIfNeeded(*database, model);
        if (modelHasSearchSignatures(model)) {
            registerSearchSignatureFunctions(*database);
            prepareSearchSignatures(*database);
        }
    }
    configureStoreConnection(*database);
    if (!identity)
        createStoreSchema(*database, model);
    return database;
}

void copyStoreFile(const QString &sourcePath, const QString &destinationPath) {
    SqliteDatabase source(sourcePath, SqliteDatabase::OpenMode::readOnly);
    source.backupTo(destinationPath);
}

QStringList storeFilePaths(const QString &path) {
    return {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm"),
            path + QStringLiteral("-journal")};
}

} // namespace velmora
