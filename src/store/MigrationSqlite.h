#pragma once

#include "platform/DiaryError.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// TEMPORARY: the least of SQLite the migration needs until the store layer's own connection lands.
class MigrationSqliteError : public DiaryError {
public:
    MigrationSqliteError(int code, QString text)
        : m_code(code)
        , m_text(std::move(text)) {}
    int code() const { return m_code; }
    QString message() const override { return m_text; }

private:
    int m_code;
    QString m_text;
};

class MigrationSqlite {
public:
    enum class Mode { readOnly, readWrite, create };

    MigrationSqlite(const QString &path, Mode mode);
    ~MigrationSqlite();
    MigrationSqlite(const MigrationSqlite &) = delete;
    MigrationSqlite &operator=(const MigrationSqlite &) = delete;

    sqlite3 *handle() const { return m_db; }
    void exec(const char *sql);
    qint64 scalar(const QString &sql);

    class Statement {
    public:
        Statement(MigrationSqlite &db, const QString &sql);
        ~Statement();
        Statement(const Statement &) = delete;
        Statement &operator=(const Statement &) = delete;

        void bind(int index, const QVariant &value);
        bool step();
        void reset();
        // A column's value with its SQLite storage class: null, qint64, double, QString or
        // QByteArray.
        QVariant column(int index) const;

    private:
        MigrationSqlite &m_db;
        sqlite3_stmt *m_statement = nullptr;
    };

    // Copies the whole database at `source` into this one, page by page, inside one write
    // transaction of this connection.
    void restoreFrom(MigrationSqlite &source);

    [[noreturn]] void fail(int code) const;

private:
    sqlite3 *m_db = nullptr;
};

} // namespace velmora
