#include "store/MigrationSqlite.h"

#include <sqlite3.h>

namespace velmora {

MigrationSqlite::MigrationSqlite(const QString &path, Mode mode) {
    int flags = SQLITE_OPEN_NOMUTEX;
    switch (mode) {
    case Mode::readOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    case Mode::readWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case Mode::create:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    }
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString text =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw MigrationSqliteError(rc, text);
    }
    sqlite3_busy_timeout(m_db, 2000);
}

MigrationSqlite::~MigrationSqlite() {
    sqlite3_close(m_db);
}

void MigrationSqlite::fail(int code) const {
    throw MigrationSqliteError(code, QString::fromUtf8(sqlite3_errmsg(m_db)));
}

void MigrationSqlite::exec(const char *sql) {
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        fail(rc);
}

qint64 MigrationSqlite::scalar(const QString &sql) {
    Statement statement(*this, sql);
    return statement.step() ? statement.column(0).toLongLong() : 0;
}

void MigrationSqlite::restoreFrom(MigrationSqlite &source) {
    sqlite3_backup *backup = sqlite3_backup_init(m_db, "main", source.m_db, "main");
    if (!backup)
        fail(sqlite3_errcode(m_db));
    sqlite3_backup_step(backup, -1);
    const int rc = sqlite3_backup_finish(backup);
    if (rc != SQLITE_OK)
        fail(rc);
}

MigrationSqlite::Statement::Statement(MigrationSqlite &db, const QString &sql)
    : m_db(db) {
    const QByteArray utf8 = sql.toUtf8();
    const int rc =
        sqlite3_prepare_v2(db.m_db, utf8.constData(), int(utf8.size()), &m_statement, nullptr);
    if (rc != SQLITE_OK)
        db.fail(rc);
}

MigrationSqlite::Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

void MigrationSqlite::Statement::bind(int index, const QVariant &value) {
    int rc = SQLITE_OK;
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        rc = sqlite3_bind_null(m_statement, index);
        break;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
        rc = sqlite3_bind_int64(m_statement, index, value.toLongLong());
        break;
    case QMetaType::Double:
        rc = sqlite3_bind_double(m_statement, index, value.toDouble());
        break;
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        rc = sqlite3_bind_blob64(m_statement, index, bytes.constData(),
                                 sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
        break;
    }
    default: {
        const QByteArray text = value.toString().toUtf8();
        rc = sqlite3_bind_text64(m_statement, index, text.constData(), sqlite3_uint64(text.size()),
                                 SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    }
    if (rc != SQLITE_OK)
        m_db.fail(rc);
}

bool MigrationSqlite::Statement::step() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_db.fail(rc);
}

void MigrationSqlite::Statement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

QVariant MigrationSqlite::Statement::column(int index) const {
    switch (sqlite3_column_type(m_statement, index)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(m_statement, index));
    case SQLITE_FLOAT:
        return sqlite3_column_double(m_statement, index);
    case SQLITE_TEXT:
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(m_statement, index)),
            sqlite3_column_bytes(m_statement, index));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, index)),
                          sqlite3_column_bytes(m_statement, index));
    default:
        return {};
    }
}

} // namespace velmora
