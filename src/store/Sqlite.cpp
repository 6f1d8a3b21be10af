#include "store/Sqlite.h"

#include "platform/FileSystemError.h"
#include "platform/StorableText.h"
#include "platform/UuidText.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QTimeZone>

#include <sqlite3.h>

#include <cerrno>
#include <unistd.h>

namespace velmora {

namespace {

// SQLite calls a full disk "database or disk is full" when a write finds no room, but "disk I/O
// error" when making the shared-memory or log file does, which reads as failing hardware.
SqliteError sqliteFailure(sqlite3 *db, int code) {
    const int extended = db ? sqlite3_extended_errcode(db) : code;
    const int primary = extended & 0xff;
    // The system's error is only kept for these; after any other it is a stale one.
    const int systemError = db && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN)
                                ? sqlite3_system_errno(db)
                                : 0;
    if (primary == SQLITE_FULL || systemError == ENOSPC || systemError == EDQUOT)
        return SqliteError(extended,
                           QCoreApplication::translate("SqliteError", "The disk is full."));
    return SqliteError(extended, QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)));
}

[[noreturn]] void throwSqlite(sqlite3 *db, int code) {
    throw sqliteFailure(db, code);
}

void check(sqlite3 *db, int code) {
    if (code != SQLITE_OK)
        throwSqlite(db, code);
}

} // namespace

SqliteError::SqliteError(int code, QString description)
    : m_code(code)
    , m_description(std::move(description)) {}

SqliteStatement::SqliteStatement(sqlite3 *db, const QString &sql)
    : m_db(db) {
    const QByteArray utf8 = sql.toUtf8();
    check(m_db, sqlite3_prepare_v3(m_db, utf8.constData(), int(utf8.size()),
                                   SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr));
}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

SqliteStatement &SqliteStatement::bindNull(int index) {
    check(m_db, sqlite3_bind_null(m_statement, index));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, qint64 value) {
    check(m_db, sqlite3_bind_int64(m_statement, index, value));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, double value) {
    check(m_db, sqlite3_bind_double(m_statement, index, value));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QString &value) {
    // Qt would write an unpaired surrogate as "?"; U+FFFD is what reads back as the same text.
    const QByteArray utf8 = storableText(value).toUtf8();
    check(m_db, sqlite3_bind_text64(m_statement, index, utf8.constData(),
                                    sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

SqliteStatement &SqliteStatement::bindUtf8(int index, QByteArrayView utf8) {
    check(m_db, sqlite3_bind_text64(m_statement, index, utf8.data(), sqlite3_uint64(utf8.size()),
                                    SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QByteArray &blob) {
    // A null pointer would bind NULL; an empty payload is still a (zero-length) blob.
    static const char empty = 0;
    check(m_db, sqlite3_bind_blob64(m_statement, index, blob.isEmpty() ? &empty : blob.constData(),
                                    sqlite3_uint64(blob.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QUuid &value) {
    return bind(index, uuidText(value));
}

SqliteStatement &SqliteStatement::bind(int index, const QDateTime &value) {
    return bind(index, value.toMSecsSinceEpoch());
}

bool SqliteStatement::step() {
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    throwSqlite(m_db, code);
}

void SqliteStatement::execute() {
    while (step()) {
    }
}

void SqliteStatement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

int SqliteStatement::columnType(int column) const {
    return sqlite3_column_type(m_statement, column);
}

bool SqliteStatement::isNull(int column) const {
    return columnType(column) == SQLITE_NULL;
}

qint64 SqliteStatement::int64(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

double SqliteStatement::real(int column) const {
    return sqlite3_column_double(m_statement, column);
}

QString SqliteStatement::text(int column) const {
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    // A leading U+FEFF is part of the text, not a byte-order mark to skip.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(data, sqlite3_column_bytes(m_statement, column)));
}

QByteArrayView SqliteStatement::utf8(int column) const {
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QByteArrayView(data, sqlite3_column_bytes(m_statement, column));
}

QByteArray SqliteStatement::blob(int column) const {
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    return QByteArray(data, sqlite3_column_bytes(m_statement, column));
}

std::optional<QUuid> SqliteStatement::uuid(int column) const {
    if (isNull(column))
        return std::nullopt;
    return uuidFromText(text(column));
}

std::optional<QDateTime> SqliteStatement::date(int column) const {
    if (isNull(column))
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(int64(column), QTimeZone::utc());
}

namespace {

// SQLite creates a database with the process's umask and gives its -wal and -shm the database's
// own mode. A store holds the diary's words, so it is made, or made again, for its owner only.
// Whether this call created the file, so that a failed open can take it away again.
bool prepareOwnerOnlyFile(const QString &path, SqliteDatabase::OpenMode mode) {
    if (mode == SqliteDatabase::OpenMode::readOnly)
        return false;
    bool created = false;
    if (mode == SqliteDatabase::OpenMode::readWriteCreate)
        created = makeOwnerOnlyFile(path);
    else
        restrictToOwner(path);
    for (const QString &suffix :
         {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        restrictToOwner(path + suffix);
    return created;
}

} // namespace

SqliteDatabase::SqliteDatabase(const QString &path, OpenMode mode)
    : m_path(path) {
    const bool created = prepareOwnerOnlyFile(path, mode);
    int flags = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
    switch (mode) {
    case OpenMode::readOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    case OpenMode::readWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case OpenMode::readWriteCreate:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    }
    const int code = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (code != SQLITE_OK) {
        const SqliteError error = sqliteFailure(m_db, code);
        sqlite3_close_v2(m_db);
        if (created)
            ::unlink(QFile::encodeName(path).constData());
        throw error;
    }
    sqlite3_extended_result_codes(m_db, 1);
    // Another connection's lock is waited out rather than failing the work at once.
    sqlite3_busy_timeout(m_db, 10000);
}

SqliteDatabase::~SqliteDatabase() {
    m_cache.clear();
    sqlite3_close_v2(m_db);
}

void SqliteDatabase::exec(const QString &sql) {
    check(m_db, sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, nullptr));
}

QString SqliteDatabase::queryText(const QString &sql) {
    SqliteStatement statement(m_db, sql);
    return statement.step() ? statement.text(0) : QString();
}

qint64 SqliteDatabase::queryInt64(const QString &sql) {
    SqliteStatement statement(m_db, sql);
    return statement.step() ? statement.int64(0) : 0;
}

SqliteStatement &SqliteDatabase::cached(const QString &sql) {
    auto found = m_cache.find(sql);
    if (found == m_cache.end())
        found = m_cache.insert(sql, std::make_shared<SqliteStatement>(m_db, sql));
    else
        found.value()->reset();
    return *found.value();
}

bool SqliteDatabase::isInTransaction() const {
    return sqlite3_get_autocommit(m_db) == 0;
}

void SqliteDatabase::begin(SqliteTransactionKind kind) {
    cached(kind == SqliteTransactionKind::immediate ? QStringLiteral("BEGIN IMMEDIATE")
                                                    : QStringLiteral("BEGIN"))
        .execute();
}

void SqliteDatabase::commit() {
    // A statement left mid-result would keep its read open past the transaction.
    resetCachedStatements();
    cached(QStringLiteral("COMMIT")).execute();
}

void SqliteDatabase::rollback() noexcept {
    resetCachedStatements();
    if (isInTransaction())
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteDatabase::resetCachedStatements() noexcept {
    for (const auto &statement : std::as_const(m_cache))
        statement->reset();
}

void SqliteDatabase::backupTo(const QString &destinationPath) {
    SqliteDatabase destination(destinationPath, OpenMode::readWriteCreate);
    sqlite3_backup *backup = sqlite3_backup_init(destination.m_db, "main", m_db, "main");
    if (!backup)
        throwSqlite(destination.m_db, sqlite3_errcode(destination.m_db));
    sqlite3_backup_step(backup, -1);
    check(destination.m_db, sqlite3_backup_finish(backup));
}

void SqliteDatabase::throwError(int code) const {
    throwSqlite(m_db, code);
}

} // namespace velmora
