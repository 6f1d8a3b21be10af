#pragma once

#include "platform/DiaryError.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>
#include <type_traits>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// A failure reported by SQLite. Its text can quote names from the file, which it shows as a
// message quotes any value from outside.
class SqliteError : public DiaryError {
public:
    SqliteError(int code, QString description);

    // The extended result code.
    int code() const { return m_code; }
    int primaryCode() const { return m_code & 0xff; }
    const QString &description() const { return m_description; }

    QString message() const override { return shownExcerpt(m_description); }

private:
    int m_code;
    QString m_description;
};

// One prepared statement. Parameters are numbered from 1, columns from 0. Moments are stored as
// milliseconds since 1970 UTC and UUIDs as their 36-character upper-case text.
class SqliteStatement {
public:
    SqliteStatement(sqlite3 *db, const QString &sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    SqliteStatement &bindNull(int index);
    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, int value) { return bind(index, qint64(value)); }
    SqliteStatement &bind(int index, bool value) { return bind(index, qint64(value ? 1 : 0)); }
    SqliteStatement &bind(int index, double value);
    SqliteStatement &bind(int index, const QString &value);
    // Text already in UTF-8 that holds no unpaired surrogate (storableText's, converted), bound
    // without a second conversion.
    SqliteStatement &bindUtf8(int index, QByteArrayView utf8);
    SqliteStatement &bind(int index, const QByteArray &blob);
    SqliteStatement &bind(int index, const QUuid &value);
    SqliteStatement &bind(int index, const QDateTime &value);
    template <typename T> SqliteStatement &bind(int index, const std::optional<T> &value) {
        return value ? bind(index, *value) : bindNull(index);
    }

    // True while a row is available.
    bool step();
    // Steps to the end, for statements that return no rows.
    void execute();
    // Ready to run again, with every parameter cleared.
    void reset();

    int columnType(int column) const;
    bool isNull(int column) const;
    qint64 int64(int column) const;
    double real(int column) const;
    QString text(int column) const;
    // The column's text as stored, valid until the statement steps or resets.
    QByteArrayView utf8(int column) const;
    QByteArray blob(int column) const;
    // None when the column is null or no valid UUID text.
    std::optional<QUuid> uuid(int column) const;
    // None when the column is null.
    std::optional<QDateTime> date(int column) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_statement = nullptr;
};

enum class SqliteTransactionKind {
    deferred,  // reads: a consistent view, no lock until needed
    immediate, // writes: takes the write lock at once, so the checks inside see the final state
};

// One connection. Not thread-safe by itself: its owner confines it to one thread at a time.
class SqliteDatabase {
public:
    enum class OpenMode { readOnly, readWrite, readWriteCreate };

    SqliteDatabase(const QString &path, OpenMode mode);
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    const QString &path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }

    // Runs one or more statements that return nothing.
    void exec(const QString &sql);
    // The first column of the first row as text, or an empty text when there is no row.
    QString queryText(const QString &sql);
    qint64 queryInt64(const QString &sql);

    // A statement prepared once per connection and reset every time it is handed out.
    SqliteStatement &cached(const QString &sql);

    // Runs body() inside BEGIN … COMMIT; when body or COMMIT throws, rolls back and rethrows.
    template <typename F>
    std::invoke_result_t<F &> transaction(SqliteTransactionKind kind, F &&body) {
        begin(kind);
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<F &>>) {
                body();
                commit();
            } else {
                auto result = body();
                commit();
                return result;
            }
        } catch (...) {
            rollback();
            throw;
        }
    }

    bool isInTransaction() const;

    // Whole-file copy through SQLite's online backup, consistent even while this connection is
    // in use; the copy replaces whatever `destinationPath` held.
    void backupTo(const QString &destinationPath);

    [[noreturn]] void throwError(int code) const;

private:
    void begin(SqliteTransactionKind kind);
    void commit();
    void rollback() noexcept;
    void resetCachedStatements() noexcept;

    QString m_path;
    sqlite3 *m_db = nullptr;
    QHash<QString, std::shared_ptr<SqliteStatement>> m_cache;
};

} // namespace velmora
